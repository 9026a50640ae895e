// A test station's echo runs: units named by their place, their identity
// in every record, fixture runs with an empty position, and --log, also
// through kill -9 of the real program in the middle of a soak.  The ports
// are virtual echo plugs (pseudo-terminals) that the discovery stand-in
// describes as USB units; no real device is ever opened.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/echo_command.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "serial/virtual_echo_plug.h"
#include "store/results_store.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::vector<json> jsonLines(const std::string &text)
{
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.front() == '{')
            lines.push_back(json::parse(line));
    return lines;
}

// A unit on a hub as discovery would describe it, behind a virtual plug.
serial::SerialDevice unitAt(const std::string &path, const std::string &usbPath, const std::string &serialNumber,
                            int interfaceNumber)
{
    serial::SerialDevice d;
    d.path = path;
    d.driver = "ftdi_sio";
    d.vendorId = "0403";
    d.productId = "6011";
    d.serialNumber = serialNumber;
    d.interfaceNumber = interfaceNumber;
    d.usbPath = usbPath;
    d.latencyTimerMs = 16;
    return d;
}

class StationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/rebounce-station-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        for (int i = 0; i < 2; ++i) {
            plugs.push_back(std::make_unique<serial::VirtualEchoPlug>());
            ASSERT_TRUE(plugs.back()->start()) << plugs.back()->errorText();
        }
        units = {unitAt(plugs[0]->devicePath(), "1-1.4:1.0", "", 0),
                 unitAt(plugs[1]->devicePath(), "1-1.4:1.1", "", 1)};
        echo.baud = "115200";
        echo.json = true;
        echo.progress = false;
        echo.discover = [this] { return units; };
    }
    void TearDown() override
    {
        cli::clearInterrupt();
        fs::remove_all(dir);
    }
    int run()
    {
        out.str("");
        err.str("");
        return cli::runEcho(echo, out, err);
    }
    std::vector<store::RunRecord> stored()
    {
        return store::openResultsStore(dir + "/runs.db", store::Access::Read)->history({});
    }

    std::string dir;
    std::vector<std::unique_ptr<serial::VirtualEchoPlug>> plugs;
    std::vector<serial::SerialDevice> units;
    cli::EchoOptions echo;
    std::ostringstream out, err;
};

TEST_F(StationTest, APortNamedByItsUsbPathCarriesItsIdentityIntoTheLineAndTheDatabase)
{
    echo.devices = {"usb-path:1-1.4:1.1"};
    echo.log = dir + "/runs.db";
    echo.operatorName = "Ines";
    echo.runs = 2;
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    const auto lines = jsonLines(out.str());
    ASSERT_GE(lines.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(plugs[1]->devicePath(), lines[i]["port"]);
        EXPECT_EQ("0403:6011", lines[i]["usb_id"]);
        EXPECT_EQ(nullptr, lines[i]["serial_number"]);
        EXPECT_EQ(1, lines[i]["interface"]);
        EXPECT_EQ("1-1.4:1.1", lines[i]["usb_path"]);
        EXPECT_EQ(16, lines[i]["latency_timer_ms"]);
        EXPECT_EQ(nullptr, lines[i]["position"]);
    }
    const auto records = stored();
    ASSERT_EQ(2u, records.size());
    for (const store::RunRecord &r : records) {
        EXPECT_EQ("PASS", r.verdict);
        EXPECT_EQ(plugs[1]->devicePath(), r.port);
        EXPECT_EQ("1-1.4:1.1", r.identity.usbPath);
        EXPECT_EQ(1, r.identity.interfaceNumber);
        EXPECT_EQ("Ines", r.operatorName);
        EXPECT_EQ(115200, r.baud);
        EXPECT_EQ(1000, r.received);
        EXPECT_EQ(store::stationName(), r.station);
    }
    EXPECT_EQ((std::vector<std::int64_t>{records[0].run, records[1].run}), (std::vector<std::int64_t>{1, 2}));
}

TEST_F(StationTest, JunitAndCsvCarryThePositionAndTheUnit)
{
    echo.fixture = dir + "/fixture.json";
    std::ofstream(echo.fixture) << R"({"positions": [{"name": "B7", "usb_path": "1-1.4:1.1"}]})";
    echo.junit = dir + "/runs.xml";
    echo.csv = dir + "/runs.csv";
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    std::ifstream xmlFile(echo.junit), csvFile(echo.csv);
    const std::string xml((std::istreambuf_iterator<char>(xmlFile)), std::istreambuf_iterator<char>());
    for (const char *property : {"<property name=\"position\" value=\"B7\"/>",
                                 "<property name=\"usb_id\" value=\"0403:6011\"/>",
                                 "<property name=\"interface\" value=\"1\"/>",
                                 "<property name=\"usb_path\" value=\"1-1.4:1.1\"/>",
                                 "<property name=\"latency_timer_ms\" value=\"16\"/>"})
        EXPECT_NE(std::string::npos, xml.find(property)) << property << "\n" << xml;
    std::string header, row;
    std::getline(csvFile, header);
    std::getline(csvFile, row);
    EXPECT_NE(std::string::npos, header.find(",position,usb_id,serial_number,interface,usb_path,")) << header;
    EXPECT_NE(std::string::npos, row.find(",B7,0403:6011,,1,1-1.4:1.1,")) << row;
}

TEST_F(StationTest, APseudoTerminalHasNoIdentity)
{
    echo.discover = [] { return std::vector<serial::SerialDevice>{}; };
    echo.devices = {plugs[0]->devicePath()};
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    const json line = jsonLines(out.str()).front();
    for (const char *key : {"position", "usb_id", "serial_number", "interface", "usb_path", "by_id", "driver",
                            "latency_timer_ms", "low_latency"})
        EXPECT_EQ(nullptr, line[key]) << key;
}

struct UnresolvedCase {
    const char *device;
    const char *message;
};

class UnresolvedTest : public StationTest, public ::testing::WithParamInterface<UnresolvedCase> {};

TEST_P(UnresolvedTest, NothingOrSeveralMatchingEndsBeforeAnyRun)
{
    units[1].serialNumber = units[0].serialNumber = "FT4ABCDE";
    echo.devices = {plugs[0]->devicePath(), GetParam().device};
    echo.log = dir + "/runs.db";
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_NE(std::string::npos, err.str().find(GetParam().message)) << err.str();
    EXPECT_EQ("", out.str());
    EXPECT_FALSE(fs::exists(dir + "/runs.db")) << "nothing ran, nothing to keep";
}

INSTANTIATE_TEST_SUITE_P(Selectors, UnresolvedTest,
                         ::testing::Values(UnresolvedCase{"usb-path:1-1.9:1.0", "No serial device matches usb-path:1-1.9:1.0."},
                                           UnresolvedCase{"usb-serial:FT4ABCDE", "2 serial devices match usb-serial:FT4ABCDE"},
                                           UnresolvedCase{"usb-serial:FT4ABCDE:7", "No serial device matches"}));

TEST_F(StationTest, AFixtureRunTestsEveryPositionAndAnEmptyOneFailsNothing)
{
    echo.fixture = dir + "/fixture.json";
    std::ofstream(echo.fixture) << R"({"positions": [
        {"name": "A1", "usb_path": "1-1.4:1.0"},
        {"name": "A2", "usb_path": "1-1.4:1.1", "baud": 57600},
        {"name": "A3", "usb_path": "1-1.4:1.2"}]})";
    echo.log = dir + "/runs.db";
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    std::map<std::string, json> runs;
    for (const json &line : jsonLines(out.str())) {
        if (line["type"] == "run")
            runs[line["position"].get<std::string>()] = line;
    }
    ASSERT_EQ(3u, runs.size()) << out.str();
    EXPECT_EQ("PASS", runs["A1"]["verdict"]);
    EXPECT_EQ(115200, runs["A1"]["baud"]);
    EXPECT_EQ("PASS", runs["A2"]["verdict"]);
    EXPECT_EQ(57600, runs["A2"]["baud"]);
    EXPECT_EQ("EMPTY", runs["A3"]["verdict"]);
    EXPECT_EQ("usb-path:1-1.4:1.2", runs["A3"]["port"]);

    std::map<std::string, std::string> verdicts;
    for (const store::RunRecord &r : stored())
        verdicts[r.position.value_or("?")] = r.verdict;
    EXPECT_EQ((std::map<std::string, std::string>{{"A1", "PASS"}, {"A2", "PASS"}, {"A3", "EMPTY"}}), verdicts);

    // In text the position leads each run's line.
    echo.json = false;
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    EXPECT_NE(std::string::npos, out.str().find("A3: EMPTY (nothing at usb-path:1-1.4:1.2)")) << out.str();
    EXPECT_NE(std::string::npos, out.str().find("Run 1: PASS  A2 " + plugs[1]->devicePath() + " at 57600 baud"))
        << out.str();
}

TEST_F(StationTest, ABrokenFixtureIsAUsageError)
{
    echo.fixture = dir + "/fixture.json";
    std::ofstream(echo.fixture) << R"({"positions": [{"name": "A1"}]})";
    EXPECT_EQ(cli::kExitUsage, run());
    EXPECT_NE(std::string::npos, err.str().find("position 1 (A1): name exactly one of")) << err.str();
}

TEST_F(StationTest, ADatabaseThatWillNotTakeTheRunGetsItOnStandardError)
{
    echo.devices = {"usb-path:1-1.4:1.0"};
    echo.log = dir + "/runs.db";
    std::ofstream(echo.log) << "these are not the runs you are looking for";
    echo.runs = 2;
    ASSERT_EQ(cli::kExitOk, run()) << err.str();
    int records = 0;
    std::istringstream lines(err.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("{\"type\":\"run_record\"", 0) != 0)
            continue;
        const json record = json::parse(line);
        EXPECT_EQ("1-1.4:1.0", record["usb_path"]);
        EXPECT_EQ("PASS", record["verdict"]);
        ++records;
    }
    EXPECT_EQ(2, records) << err.str();
    EXPECT_NE(std::string::npos, err.str().find("not a database")) << err.str();
}

// The real program, killed with SIGKILL in the middle of a soak: every run
// it printed (it prints a run after its record is committed) is in the
// file, and the file is whole.
TEST_F(StationTest, ASoakKilledWithSigkillKeepsEveryRunItShowed)
{
    const std::string db = dir + "/soak.db";
    int output[2];
    ASSERT_EQ(0, pipe(output));
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], 1);
        close(output[0]);
        close(output[1]);
        execl(REBOUNCE_CLI_PATH, REBOUNCE_CLI_PATH, "echo", "--device", plugs[0]->devicePath().c_str(), "--baud",
              "115200", "--duration", "1h", "--json", "--no-progress", "--log", db.c_str(), nullptr);
        _exit(127);
    }
    close(output[1]);
    std::set<std::int64_t> shown;
    std::string pending;
    char buffer[4096];
    while (shown.size() < 15) {
        const ssize_t n = read(output[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0) << "the soak ended early";
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const json line = json::parse(pending.substr(0, end));
            if (line["type"] == "run")
                shown.insert(line["run"].get<std::int64_t>());
        }
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(output[0]);

    std::set<std::int64_t> kept;
    for (const store::RunRecord &r : store::openResultsStore(db, store::Access::Read)->history({}))
        kept.insert(r.run);
    for (const std::int64_t run : shown)
        EXPECT_EQ(1u, kept.count(run)) << "run " << run << " was shown and is not in the database";
}

} // namespace
