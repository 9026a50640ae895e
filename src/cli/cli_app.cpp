#include "cli/cli_app.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/calc_command.h"
#include "cli/echo_command.h"
#include "cli/plug_command.h"
#include "cli/ports.h"

namespace cli {

std::string bytesAsUtf8(const std::string &bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

namespace {

int runPorts(std::ostream &out)
{
    const auto devices = listSerialDevices();
    if (devices.empty()) {
        out << "No serial devices found.\n";
        return kExitOk;
    }
    for (const SerialDevice &device : devices) {
        out << device.name;
        if (device.inUse)
            out << "  [in use]";
        if (!device.driver.empty())
            out << "  driver " << device.driver;
        if (!device.usbId.empty())
            out << "  usb " << device.usbId;
        if (!device.product.empty())
            out << "  \"" << device.product << '"';
        if (!device.alias.empty())
            out << "  " << device.alias;
        out << '\n';
    }
    return kExitOk;
}

} // namespace

int run(int argc, char **argv)
{
    CLI::App app{"Rebounce Test from the command line: the serial echo test and the AVR baud-rate calculator.",
                 "rebounce-cli"};
    app.require_subcommand(1);

    EchoOptions echo;
    auto *echoCommand = app.add_subcommand("echo", "Run the 1000-byte echo test through an echo plug or board");
    auto *portOption = echoCommand->add_option("--port", echo.port, "COM port 1..4 (REBOUNCE_COMn maps it on Linux)")
                           ->check(CLI::Range(1, 4));
    echoCommand->add_option("--device", echo.device, "Any serial device instead: /dev/ttyUSB0, a pseudo-terminal, COM7")
        ->excludes(portOption);
    echoCommand->add_option("--baud", echo.baud, "Baud rate (any integer the driver takes)")
        ->check(CLI::TypeValidator<long long>());
    echoCommand->add_flag("--lowercase", echo.lowerCase, "The far end answers in lower case");
    echoCommand->add_flag("--json", echo.json, "One JSON object per run, then a summary");
    echoCommand->add_option("--runs", echo.runs, "Number of runs, one after the other")->check(CLI::PositiveNumber);
    echoCommand->add_flag("!--no-progress", echo.progress, "No live progress on the terminal");

    std::string clock;
    std::string baud;
    bool calcJson = false;
    auto *calcCommand = app.add_subcommand("calc", "UBRRn, rate and error for both speed modes");
    calcCommand->add_option("--clock", clock, "Oscillator frequency in Hz")->required();
    calcCommand->add_option("--baud", baud, "Requested baud rate")->required();
    calcCommand->add_flag("--json", calcJson, "JSON output");

    std::string ratesClock;
    auto *ratesCommand = app.add_subcommand("rates", "Every rate a clock can make (8192 lines)");
    ratesCommand->add_option("--clock", ratesClock, "Oscillator frequency in Hz")->required();

    serial::EchoPlugOptions plug;
    std::vector<std::size_t> drops;
    std::vector<std::size_t> corrupts;
    std::vector<std::size_t> hangUp;
    auto *plugCommand = app.add_subcommand("plug", "Host a virtual echo plug; prints its device path first");
    plugCommand->add_flag("--lowercase", plug.lowerCase, "Answer A..Z in lower case");
    plugCommand->add_flag("--silent", plug.silent, "Answer nothing");
    plugCommand->add_option("--drop", drops, "Do not answer the byte at this 0-based position (repeatable)");
    plugCommand->add_option("--corrupt", corrupts, "Answer the byte at this position garbled (repeatable)");
    plugCommand->add_option("--hang-up-after", hangUp, "Hang up after this many bytes")->expected(1);
    plugCommand->add_option("--board-rate", plug.boardRate,
                            "Fixed rate of the board; bytes sent more than 5% away arrive garbled");
    plugCommand->add_option("--line-rate", plug.pacedRate,
                            "Pace the line at this rate whatever rate the program sets");
    plugCommand->add_option("--fault-period", plug.faultPeriod,
                            "Repeat the fault positions with this period (1000: in every run)");

    app.add_subcommand("ports", "List the serial devices of this machine");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (*echoCommand)
        return runEcho(echo, std::cout, std::cerr);
    if (*calcCommand)
        return runCalc(clock, baud, calcJson, std::cout, std::cerr);
    if (*ratesCommand)
        return runRates(ratesClock, std::cout, std::cerr);
    if (*plugCommand) {
        plug.dropAt.insert(drops.begin(), drops.end());
        plug.corruptAt.insert(corrupts.begin(), corrupts.end());
        if (!hangUp.empty())
            plug.hangUpAfter = hangUp.front();
        return runPlug(plug, std::cout, std::cerr);
    }
    return runPorts(std::cout);
}

} // namespace cli
