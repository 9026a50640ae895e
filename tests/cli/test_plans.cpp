// rebounce-cli echo with plans beyond the classic test: pattern forms,
// frames, sweeps and two-port links, against virtual plugs and links.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/echo_command.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "serial/virtual_echo_plug.h"
#include "serial/virtual_link_pair.h"

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

class PlanTest : public ::testing::Test {
protected:
    void startPlug(serial::EchoPlugOptions options = {})
    {
        options.lineTiming = false;
        plug = std::make_unique<serial::VirtualEchoPlug>(options);
        ASSERT_TRUE(plug->start()) << plug->errorText();
        echo.devices = {plug->devicePath()};
    }
    void startLink(serial::LinkPairOptions options = {})
    {
        link = std::make_unique<serial::VirtualLinkPair>(options);
        ASSERT_TRUE(link->start()) << link->errorText();
        echo.devices = {link->pathA()};
        echo.to = {link->pathB()};
    }
    void SetUp() override
    {
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
    std::vector<json> runs()
    {
        std::vector<json> found;
        for (const json &line : jsonLines(out.str()))
            if (line["type"] == "run")
                found.push_back(line);
        return found;
    }
    void TearDown() override { cli::clearInterrupt(); }

    std::unique_ptr<serial::VirtualEchoPlug> plug;
    std::unique_ptr<serial::VirtualLinkPair> link;
    cli::EchoOptions echo;
    std::ostringstream out, err;
};

// Every form comes back intact, and its record names the pattern and frame.
TEST_F(PlanTest, EveryPatternFormComesBackIntactAndIsNamed)
{
    startPlug();
    struct Case {
        const char *pattern;
        const char *frame;
        std::optional<std::size_t> length;
        const char *name;
        int bytes;
    };
    const Case cases[] = {
        {"spec", "8N1", {}, "spec", 1000},        {"0x55", "8E1", 300, "0x55", 300},
        {"counting", "8O2", {}, "counting", 1000}, {"all-bytes", "8N1", {}, "all-bytes", 256},
        {"random:7", "8N1", 500, "random:7", 500}, {"hex:00FF7F80", "8M1", {}, "hex:00FF7F80", 4},
        {"0x41", "7E1", 100, "0x41", 100}, {"all-bytes", "8E1", {}, "all-bytes", 256},
        {"0xFF", "8O1", 64, "0xFF", 64},
    };
    for (const Case &c : cases) {
        echo.pattern = c.pattern;
        echo.frame = c.frame;
        echo.length = c.length;
        EXPECT_EQ(cli::kExitOk, run()) << c.pattern << '\n' << out.str() << err.str();
        const auto records = runs();
        ASSERT_EQ(1u, records.size()) << c.pattern;
        EXPECT_EQ(c.name, records[0]["pattern"]) << c.pattern;
        EXPECT_EQ(c.frame, records[0]["frame"]) << c.pattern;
        EXPECT_EQ(c.bytes, records[0]["received"]) << c.pattern;
    }
    // Without a seed one is chosen, and the record names it.
    echo.pattern = "random";
    echo.frame = "8N1";
    ASSERT_EQ(cli::kExitOk, run());
    EXPECT_EQ(0u, runs()[0]["pattern"].get<std::string>().rfind("random:", 0));
}

TEST_F(PlanTest, AFrameThatCannotCarryThePatternIsRefusedBeforeAnythingIsSent)
{
    startPlug();
    echo.frame = "7E1";
    echo.pattern = "0xC1";
    EXPECT_EQ(cli::kExitUsage, run());
    EXPECT_NE(std::string::npos, err.str().find("byte 0 (0xC1) needs 8 data bits")) << err.str();
    EXPECT_EQ("", out.str());
    EXPECT_EQ(0u, plug->bytesReceived());
}

// The plug's board runs 7E1: a line set to it passes, one set to 8N1 does not.
TEST_F(PlanTest, ABoardInAnotherFrameFailsTheRun)
{
    serial::EchoPlugOptions options;
    serial::Dcb board;
    board.byteSize = 7;
    board.parity = serial::Dcb::EvenParity;
    board.stopBits = serial::Dcb::OneStopBit;
    options.boardFrame = board;
    startPlug(options);
    echo.frame = "7E1";
    EXPECT_EQ(cli::kExitOk, run()) << out.str();
    echo.frame = "8N1";
    EXPECT_EQ(cli::kExitFailed, run());
    // A pseudo-terminal marks no byte as received in error: the run says
    // nothing of positions it does not have.
    echo.frame = "7O1";
    EXPECT_EQ(cli::kExitFailed, run());
    ASSERT_EQ(1u, runs().size());
    EXPECT_FALSE(runs()[0].contains("line_error_positions")) << out.str();
}

TEST_F(PlanTest, ASweepGivesOneVerdictPerRate)
{
    serial::EchoPlugOptions options;
    options.boardRate = 19200;
    startPlug(options);
    echo.sweep = "9600,19200,38400";
    echo.length = 100;
    EXPECT_EQ(cli::kExitFailed, run());
    const auto lines = jsonLines(out.str());
    ASSERT_FALSE(lines.empty());
    const json &sweep = lines.back();
    ASSERT_EQ("sweep", sweep["type"]);
    ASSERT_EQ(3u, sweep["rows"].size());
    const char *verdicts[] = {"FAIL", "PASS", "FAIL"};
    const int rates[] = {9600, 19200, 38400};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rates[i], sweep["rows"][i]["baud"]);
        EXPECT_EQ(verdicts[i], sweep["rows"][i]["verdict"]);
    }
    EXPECT_EQ(3u, runs().size());
}

// A sound pair passes both ways; a dead direction and a crossed pair fail
// with what went wrong.
TEST_F(PlanTest, TwoPortLinks)
{
    struct Case {
        const char *name;
        std::function<void(serial::LinkPairOptions &)> fault;
        int status;
        std::vector<std::string> verdicts;    // forward, reverse
        std::vector<int> backOnSender;
    };
    const Case cases[] = {
        {"Sound", [](auto &) {}, cli::kExitOk, {"PASS", "PASS"}, {0, 0}},
        {"DeadAToB", [](auto &o) { o.deadAToB = true; }, cli::kExitFailed, {"FAIL", "PASS"}, {0, 0}},
        {"Crossed", [](auto &o) { o.crossed = true; }, cli::kExitFailed, {"FAIL", "FAIL"}, {100, 100}},
        {"LostByte", [](auto &o) { o.dropAt = {5}; }, cli::kExitFailed, {"FAIL", "FAIL"}, {0, 0}},
    };
    for (const Case &c : cases) {
        serial::LinkPairOptions options;
        options.lineTiming = false;
        c.fault(options);
        startLink(options);
        echo.bothWays = true;
        echo.length = 100;
        echo.json = true;
        EXPECT_EQ(c.status, run()) << c.name << '\n' << out.str();
        const auto records = runs();
        ASSERT_EQ(2u, records.size()) << c.name;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(c.verdicts[i], records[i]["verdict"]) << c.name << " " << i;
            EXPECT_EQ(c.backOnSender[i], records[i]["back_on_sender"]) << c.name << " " << i;
        }
        EXPECT_EQ(link->pathB(), records[0]["listen_port"]) << c.name;
        EXPECT_EQ(link->pathA(), records[1]["listen_port"]) << c.name;
        if (c.backOnSender[0] > 0) {
            echo.json = false;
            run();
            EXPECT_NE(std::string::npos, out.str().find("100 bytes came back on the sending port")) << out.str();
        }
    }
}

TEST_F(PlanTest, Rs485IsRefusedWhereTheDriverHasNone)
{
    startLink();
    echo.rs485 = true;
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_NE(std::string::npos, err.str().find("has no RS-485 mode")) << err.str();
    EXPECT_EQ(0u, link->bytesTaken());
}

// Flow control under load on a pseudo-terminal: RTS/CTS means nothing there
// (its buffers hold the sender whatever the flow control), so it is refused;
// without flow control the run goes through the pause and reports it in
// every record.
TEST_F(PlanTest, UnderLoadAPseudoTerminalIsRefusedRtsCtsAndRunsWithout)
{
    startPlug();
    echo.length = 20000;
    echo.chunk = 256;
    echo.readerPauseMs = 300;
    echo.flow = "rtscts";
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_EQ(plug->devicePath() + " has no handshake lines (a pseudo-terminal): RTS/CTS cannot hold its sender\n",
              err.str());
    EXPECT_EQ(0u, plug->bytesReceived());

    echo.flow = "none";
    ASSERT_EQ(cli::kExitOk, run()) << out.str() << err.str();
    const std::vector<json> found = runs();
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(20000, found[0]["received"]);
    const json &flow = found[0]["flow_load"];
    EXPECT_EQ(300, flow["reader_pause_ms"]);
    EXPECT_EQ("no flow control", flow["outcome"]);
    EXPECT_GE(found[0]["timeout_ms"].get<int>(), 300 + found[0]["min_transmit_ms"].get<int>());
}

} // namespace
