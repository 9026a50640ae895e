// rebounce-cli: exit statuses, output shapes, and echo runs against virtual
// echo plugs (pseudo-terminals only).
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/calc_command.h"
#include "cli/cli_app.h"
#include "cli/echo_command.h"
#include "cli/ports_command.h"
#include "cli/terminal.h"
#include "serial/sysfs_ports.h"
#include "serial/virtual_echo_plug.h"

namespace {

using nlohmann::json;

std::vector<json> jsonLines(const std::string &text)
{
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(json::parse(line));
    return lines;
}

struct CalcCase {
    const char *clock;
    const char *baud;
    const char *expected; // the whole JSON line
};

class CalcJsonTest : public ::testing::TestWithParam<CalcCase> {};

TEST_P(CalcJsonTest, PrintsTheLabelsAsTheWindowShowsThem)
{
    std::ostringstream out, err;
    const int status = cli::runCalc(GetParam().clock, GetParam().baud, true, out, err);
    EXPECT_EQ(std::string(GetParam().expected) + "\n", out.str());
    EXPECT_EQ(json::parse(out.str()).contains("error") ? cli::kExitFailed : cli::kExitOk, status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalcJsonTest,
    ::testing::Values(
        CalcCase{"16000000", "9600",
                 R"({"normal":{"ubrr":"103","rate":"9615.38","error":"0.16 %","ubrrh":"0","ubrrl":"103"},)"
                 R"("double":{"ubrr":"207","rate":"9615.38","error":"0.16 %","ubrrh":"0","ubrrl":"207"},)"
                 R"("selected_line":206})"},
        CalcCase{"14745600", "115200",
                 R"({"normal":{"ubrr":"7","rate":"115200.00","error":"0.00 %","ubrrh":"0","ubrrl":"7"},)"
                 R"("double":{"ubrr":"15","rate":"115200.00","error":"0.00 %","ubrrh":"0","ubrrl":"15"},)"
                 R"("selected_line":14})"},
        CalcCase{"16000000", "2000000",
                 R"({"normal":{"ubrr":"0","rate":"1000000.00","error":"-50.00 %","ubrrh":"0","ubrrl":"0"},)"
                 R"("double":{"ubrr":"0","rate":"2000000.00","error":"0.00 %","ubrrh":"0","ubrrl":"0"},)"
                 R"("selected_line":1})"},
        CalcCase{"16000000", "9000000", R"({"error":"An unexpected error occurred! Please check entered values!"})"},
        CalcCase{"0", "9600", R"({"error":"Please enter first the AVR Oscillator frequency!"})"},
        CalcCase{"16000000", "0", R"({"error":"Please enter first the requested baud rate!"})"}));

TEST(RatesTest, PrintsEveryListLine)
{
    std::ostringstream out, err;
    ASSERT_EQ(cli::kExitOk, cli::runRates("16000000", out, err));
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(8192u, lines.size());
    EXPECT_EQ(" UBRRn value = 0          U2Xn = 0          Baud rate = 1000000.00", lines[0]);
    EXPECT_EQ(" UBRRn value = 0          U2Xn = 1          Baud rate = 2000000.00", lines[1]);
    EXPECT_EQ(" UBRRn value = 4095          U2Xn = 0          Baud rate = 244.14", lines[8190]);
    EXPECT_EQ(" UBRRn value = 4095          U2Xn = 1          Baud rate = 488.28", lines[8191]);
    EXPECT_EQ(cli::kExitFailed, cli::runRates("abc", out, err));
}

TEST(UsageTest, BadCommandLinesExitWithTwo)
{
    const auto exitOf = [](std::vector<const char *> args) {
        args.insert(args.begin(), "rebounce-cli");
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const int status = cli::run(static_cast<int>(args.size()), const_cast<char **>(args.data()));
        testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        return status;
    };
    EXPECT_EQ(cli::kExitUsage, exitOf({}));
    EXPECT_EQ(cli::kExitUsage, exitOf({"echo", "--port", "5"}));
    EXPECT_EQ(cli::kExitUsage, exitOf({"echo", "--port", "1", "--baud", "12x"}));
    EXPECT_EQ(cli::kExitUsage, exitOf({"echo", "--port", "1", "--duration", "10x"}));
    EXPECT_EQ(cli::kExitUsage, exitOf({"echo", "--port", "1", "--duration", "0s"}));
    EXPECT_EQ(cli::kExitUsage, exitOf({"calc", "--clock", "16000000"}));
    EXPECT_EQ(cli::kExitOk, exitOf({"calc", "--help"}));
}

// Inputs that could reach a device nobody meant, or run at a rate nobody
// asked for, stop at the parser: exit 2, and the reason on standard error.
struct UnsafeInputCase {
    const char *name;
    std::vector<const char *> args;
    const char *says;
    friend void PrintTo(const UnsafeInputCase &c, std::ostream *os) { *os << c.name; }
};

class UnsafeInputTest : public ::testing::TestWithParam<UnsafeInputCase> {};

TEST_P(UnsafeInputTest, IsAUsageError)
{
    std::vector<const char *> args = GetParam().args;
    args.insert(args.begin(), {"rebounce-cli", "echo"});
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int status = cli::run(static_cast<int>(args.size()), const_cast<char **>(args.data()));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(cli::kExitUsage, status);
    EXPECT_NE(std::string::npos, (err + out).find(GetParam().says)) << err << out;
}

const std::string hundredDigits(100, '9');

INSTANTIATE_TEST_SUITE_P(
    Inputs, UnsafeInputTest,
    ::testing::Values(
        UnsafeInputCase{"EmptyDevice", {"--device", ""}, "device name is empty"},
        UnsafeInputCase{"BlankDevice", {"--device", "  \t"}, "device name is empty"},
        UnsafeInputCase{"NoPortAtAll", {"--baud", "9600"}, "--port"},
        UnsafeInputCase{"HexRate", {"--device", "/dev/null", "--baud", "0x2580"}, "plain decimal"},
        UnsafeInputCase{"SignedRate", {"--device", "/dev/null", "--baud", "+9600"}, "plain decimal"},
        UnsafeInputCase{"NegativeRate", {"--device", "/dev/null", "--baud", "-9600"}, "plain decimal"},
        UnsafeInputCase{"FractionalRate", {"--device", "/dev/null", "--baud", "9600.5"}, "plain decimal"},
        UnsafeInputCase{"RateBeyond32Bits", {"--device", "/dev/null", "--baud", "4294967295"}, "too high"},
        UnsafeInputCase{"RateJustTooHigh", {"--device", "/dev/null", "--baud", "2147483648"}, "too high"},
        UnsafeInputCase{"HundredDigitRate", {"--device", "/dev/null", "--baud", hundredDigits.c_str()},
                        "too high"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(UsageTest, HighestRateTheRunCarriesIsAccepted)
{
    std::ostringstream out, err;
    const char *args[] = {"rebounce-cli", "echo", "--device", "/dev/rebounce-none", "--baud", "2147483647"};
    testing::internal::CaptureStderr();
    const int status = cli::run(6, const_cast<char **>(args));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(cli::kExitOpenFailed, status) << "the parser refused it";
}

// ports over the discovery of the fixture tree.
struct PortsRun {
    int status = -1;
    std::string out;
};

PortsRun runPorts(std::vector<const char *> args, cli::PortDiscovery discover = [] {
    return serial::listSerialDevicesUnder(REBOUNCE_PORT_FIXTURES "/linux");
})
{
    CLI::App app;
    std::ostringstream out;
    PortsRun run;
    cli::addPortsCommand(app, run.status, std::move(discover), out);
    args.insert(args.begin(), "rebounce-cli");
    app.parse(static_cast<int>(args.size()), const_cast<char **>(args.data()));
    run.out = out.str();
    return run;
}

TEST(PortsCommandTest, OneDeviceALineWithHardwareOnlyUnlessAll)
{
    const PortsRun run = runPorts({"ports"});
    EXPECT_EQ(cli::kExitOk, run.status);
    EXPECT_EQ("/dev/ttyACM0  Arduino Uno  2341:0043  driver cdc_acm  maker Arduino (www.arduino.cc)  serial "
              "85735313233351F0E1A1  /dev/serial/by-id/usb-Arduino__www.arduino.cc__Arduino_Uno_85735313233351F0E1A1-if00  "
              "usb-path:1-2:1.0\n"
              "/dev/ttyFX0  16550A UART  system console  in use by agetty  (pid 812)  driver serial\n"
              "/dev/ttyUSB0  FT232R USB UART  0403:6001  in use by minicom  (pid 4321)  driver ftdi_sio  maker FTDI  "
              "serial A50285BI  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  usb-path:1-1:1.0\n",
              run.out);
    const std::string all = runPorts({"ports", "--all"}).out;
    EXPECT_NE(std::string::npos, all.find("\n/dev/ttyFX1  no UART  driver serial8250\n/dev/ttyFX10  no UART"));
    EXPECT_EQ("No serial devices found.\n", runPorts({"ports"}, [] { return std::vector<serial::SerialDevice>{}; }).out);
}

TEST(PortsCommandTest, JsonHoldsEveryFieldOfEveryDevice)
{
    const PortsRun run = runPorts({"ports", "--json", "--all"});
    EXPECT_EQ(cli::kExitOk, run.status);
    const json list = json::parse(run.out);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(5u, list.size());
    const json adapter = list[4];
    EXPECT_EQ(json({{"path", "/dev/ttyUSB0"},
                    {"stable_path", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
                    {"driver", "ftdi_sio"},
                    {"usb_id", "0403:6001"},
                    {"vendor_id", "0403"},
                    {"product_id", "6001"},
                    {"manufacturer", "FTDI"},
                    {"product", "FT232R USB UART"},
                    {"serial_number", "A50285BI"},
                    {"interface", 0},
                    {"usb_path", "1-1:1.0"},
                    {"latency_timer_ms", nullptr},
                    {"uart_fitted", nullptr},
                    {"uart_type", nullptr},
                    {"console", false},
                    {"in_use", true},
                    {"holders", json::array({{{"pid", 4321}, {"program", "minicom"}}})}}),
              adapter);
    EXPECT_EQ(true, list[1]["uart_fitted"]);
    EXPECT_EQ("16550A", list[1]["uart_type"]);
    EXPECT_EQ(true, list[1]["console"]);
    EXPECT_EQ(false, list[2]["uart_fitted"]);
    EXPECT_EQ(json::array(), list[0]["holders"]);
    EXPECT_EQ("[]\n", runPorts({"ports", "--json"}, [] { return std::vector<serial::SerialDevice>{}; }).out);
}

TEST(PortsCommandTest, NamesEachInterfaceOfAStationHubByItsUsbPathAndLatencyTimer)
{
    const auto station = [] { return serial::listSerialDevicesUnder(REBOUNCE_PORT_FIXTURES "/station"); };
    const json list = json::parse(runPorts({"ports", "--json"}, station).out);
    ASSERT_EQ(9u, list.size());
    const json &fourth = list[5]; // the FT4232H's last interface: no serial number
    EXPECT_EQ("/dev/ttyUSB4", fourth["path"]);
    EXPECT_EQ(nullptr, fourth["serial_number"]);
    EXPECT_EQ(3, fourth["interface"]);
    EXPECT_EQ("1-1.4:1.3", fourth["usb_path"]);
    EXPECT_EQ(16, fourth["latency_timer_ms"]);
    EXPECT_EQ(nullptr, list[6]["latency_timer_ms"]); // a CP2102N has none
    const std::string text = runPorts({"ports"}, station).out;
    EXPECT_NE(std::string::npos,
              text.find("/dev/ttyUSB7  Dual RS232-HS  0403:6010  driver ftdi_sio  maker FTDI  serial FT2ABCDE  "
                        "/dev/serial/by-id/usb-FTDI_Dual_RS232-HS_FT2ABCDE-if01-port0  usb-path:1-1.5:1.1  "
                        "latency timer 1 ms\n"))
        << text;
}

TEST(PortsCommandTest, RegisteredWithTheOtherCommands)
{
    const char *args[] = {"rebounce-cli", "ports", "--json"};
    testing::internal::CaptureStdout();
    const int status = cli::run(3, const_cast<char **>(args));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(cli::kExitOk, status);
    EXPECT_TRUE(json::parse(out).is_array()); // whatever this machine has
}

TEST(BytesAsUtf8Test, EveryByteSurvivesJson)
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    const json parsed = json::parse(json(cli::bytesAsUtf8(bytes)).dump());
    const std::string back = parsed.get<std::string>();
    // Decode: each code point below 256 is one byte again.
    std::string decoded;
    for (size_t i = 0; i < back.size(); ++i) {
        const auto c = static_cast<unsigned char>(back[i]);
        if (c < 0x80)
            decoded += static_cast<char>(c);
        else
            decoded += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(back[++i]) & 0x3F));
    }
    EXPECT_EQ(bytes, decoded);
}

class EchoCommandTest : public ::testing::Test {
protected:
    void startPlug(serial::EchoPlugOptions options = {})
    {
        plug = std::make_unique<serial::VirtualEchoPlug>(options);
        ASSERT_TRUE(plug->start()) << plug->errorText();
        echo.devices = {plug->devicePath()};
        echo.baud = "115200";
        echo.json = true;
        echo.progress = false;
    }
    int run()
    {
        out.str("");
        err.str("");
        return cli::runEcho(echo, out, err);
    }
    void TearDown() override { cli::clearInterrupt(); }

    std::unique_ptr<serial::VirtualEchoPlug> plug;
    cli::EchoOptions echo;
    std::ostringstream out, err;
};

TEST_F(EchoCommandTest, RunsPassAndTheSummaryAddsUp)
{
    startPlug();
    echo.runs = 3;
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    const auto lines = jsonLines(out.str());
    ASSERT_EQ(5u, lines.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ("run", lines[i]["type"]);
        EXPECT_EQ(i + 1, lines[i]["run"]);
        EXPECT_EQ("PASS", lines[i]["verdict"]);
        EXPECT_EQ(1000, lines[i]["received"]);
        EXPECT_EQ(87, lines[i]["min_transmit_ms"]);
        EXPECT_GE(lines[i]["last_read_ms"].get<int>(), 87);
        EXPECT_EQ(std::string(1000, 'A').size(), lines[i]["received_text"].get<std::string>().size());
    }
    EXPECT_EQ((json{{"type", "summary"},
                    {"port", plug->devicePath()},
                    {"passes", 3},
                    {"failures", 0},
                    {"total_sent", 3000},
                    {"total_received", 3000}}),
              lines[3]);
    EXPECT_EQ("statistics", lines[4]["type"]);
    EXPECT_EQ(3, lines[4]["runs"]);
    EXPECT_EQ(3000, lines[4]["bytes_compared"]);
    EXPECT_EQ(0.0, lines[4]["byte_error_rate"]);
}

TEST_F(EchoCommandTest, LowerCaseBoardPassesOnlyWithTheOption)
{
    serial::EchoPlugOptions options;
    options.lowerCase = true;
    startPlug(options);
    EXPECT_EQ(cli::kExitFailed, run());
    EXPECT_EQ("FAIL", jsonLines(out.str())[0]["verdict"]);
    echo.lowerCase = true;
    EXPECT_EQ(cli::kExitOk, run());
}

TEST_F(EchoCommandTest, DroppedByteAndSilenceFail)
{
    serial::EchoPlugOptions options;
    options.dropAt = {500};
    startPlug(options);
    EXPECT_EQ(cli::kExitFailed, run());
    EXPECT_EQ(999, jsonLines(out.str())[0]["received"]);

    serial::EchoPlugOptions silent;
    silent.silent = true;
    startPlug(silent);
    EXPECT_EQ(cli::kExitFailed, run());
    const auto line = jsonLines(out.str())[0];
    EXPECT_EQ(0, line["received"]);
    EXPECT_GE(line["last_read_ms"].get<int>(), line["timeout_ms"].get<int>());
}

TEST_F(EchoCommandTest, MissingAndHeldDevicesExitWithThree)
{
    echo.devices = {"/dev/pts/does-not-exist"};
    echo.progress = false;
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_EQ("/dev/pts/does-not-exist does not exist!    \n", err.str());

    startPlug();
    const int holder = ::open(plug->devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, ::flock(holder, LOCK_EX | LOCK_NB));
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_EQ(plug->devicePath() + " already open!    \n(In use by another program).\n", err.str());
    ::close(holder);
    EXPECT_EQ(cli::kExitOk, run()); // released: the port opens again
}

// Every open failure names the device and what it really is.
TEST_F(EchoCommandTest, OpenFailuresNameTheDeviceAndTheRealCause)
{
    char dir[] = "/tmp/rebounce-cli-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(dir));
    const std::string file = std::string(dir) + "/notes.txt";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0666));
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/urandom", "/dev/urandom is not a serial port!    \n(Inappropriate ioctl for device)\n"},
        {dir, std::string(dir) + " is a directory, not a serial port!    \n"},
        {file, file + " is a regular file, not a serial port!    \n"},
    };
    echo.progress = false;
    for (const auto &[device, message] : cases) {
        echo.devices = {device};
        EXPECT_EQ(cli::kExitOpenFailed, run()) << device;
        EXPECT_EQ(message, err.str());
    }
    ::unlink(file.c_str());
    ::rmdir(dir);
}

// The far end hangs up in the middle of run 2, and run 3 cannot open the
// line any more: the runs that happened are still summed up, in both forms.
class EndedEarlyTest : public EchoCommandTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EndedEarlyTest, SummaryAfterALostLineAndAFailedOpen)
{
    serial::EchoPlugOptions options;
    options.lineTiming = false;
    options.hangUpAfter = 1500;
    startPlug(options);
    echo.json = GetParam();
    echo.runs = 3;
    EXPECT_EQ(cli::kExitOpenFailed, run()) << err.str();
    const std::string lost = plug->devicePath() + " was disconnected or hung up during the test!";
    EXPECT_EQ(0u, err.str().find(lost)) << err.str();
    EXPECT_NE(std::string::npos, err.str().find("Error (5): CommRead")) << err.str();
    if (GetParam()) {
        const auto lines = jsonLines(out.str());
        ASSERT_EQ(5u, lines.size()) << out.str();
        EXPECT_EQ("PASS", lines[0]["verdict"]);
        EXPECT_EQ("FAIL", lines[1]["verdict"]);
        EXPECT_EQ(0u, lines[1]["message"].get<std::string>().find(lost));
        // The time of the last read that went through, not the line time.
        EXPECT_LT(lines[1]["last_read_ms"].get<int>(), lines[1]["min_transmit_ms"].get<int>());
        // The failed open also comes as an object on standard output.
        EXPECT_EQ("error", lines[2]["type"]);
        EXPECT_EQ(cli::kExitOpenFailed, lines[2]["exit_status"]);
        EXPECT_EQ("summary", lines[3]["type"]);
        EXPECT_EQ(1, lines[3]["passes"]);
        EXPECT_EQ(1, lines[3]["failures"]);
        EXPECT_EQ(1000 + lines[1]["sent"].get<int>(), lines[3]["total_sent"]);
        EXPECT_TRUE(lines[3].contains("error"));
        EXPECT_EQ("statistics", lines[4]["type"]);
    } else {
        EXPECT_NE(std::string::npos, out.str().find("Run 2: FAIL")) << out.str();
        EXPECT_NE(std::string::npos, out.str().find("Passes: 1  Failures: 1")) << out.str();
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, EndedEarlyTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Json" : "Text"; });

TEST_F(EchoCommandTest, RateBelow45IsAUsageError)
{
    startPlug();
    echo.baud = "44";
    EXPECT_EQ(cli::kExitUsage, run());
    EXPECT_EQ("Baud rate too low !    \n\nThe minimum baud rate is 45.\n", err.str());
}

TEST_F(EchoCommandTest, InterruptAbortsThroughTheAbortPath)
{
    startPlug();
    echo.baud = "300"; // a run takes over half a minute: the interrupt lands mid-run
    std::thread interrupter([this] {
        // Once the plug has bytes of the run, however long the start took.
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             plug->bytesReceived() == 0 && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(::getpid(), SIGINT);
    });
    const int status = run();
    interrupter.join();
    EXPECT_EQ(cli::kExitAborted, status);
    const auto lines = jsonLines(out.str());
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("ABORTED", lines[0]["verdict"]);
    EXPECT_EQ(0, lines[1]["passes"]);
    EXPECT_EQ(0, lines[2]["runs"]); // an aborted run is not judged
    // The port was closed and unlocked.
    const int fd = ::open(plug->devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, ::flock(fd, LOCK_EX | LOCK_NB));
    ::close(fd);
}

} // namespace
