// Ports on other machines as a user meets them: rebounce-cli and the run
// against a real ser2net of the test's own (tests/support/ser2net_server.h)
// serving virtual echo plugs over RFC 2217.  Skipped, with the reason,
// where ser2net is not installed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/echo_command.h"
#include "cli/exit_status.h"
#include "cli/lines_command.h"
#include "cli/terminal.h"
#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"
#include "serial/virtual_echo_plug.h"
#include "support/ser2net_server.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::Ser2netServer;

std::vector<json> linesOfType(const std::string &text, const std::string &type)
{
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        json object = json::parse(line);
        if (object["type"] == type)
            lines.push_back(std::move(object));
    }
    return lines;
}

class RemotePorts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = Ser2netServer::missing(); !why.empty())
            GTEST_SKIP() << why;
    }
    void TearDown() override { cli::clearInterrupt(); }

    // count plugs served by one ser2net, each on its own port.
    void serve(int count, Ser2netServer::Accepter accepter = Ser2netServer::Accepter::Rfc2217,
               serial::EchoPlugOptions options = {})
    {
        std::vector<Ser2netServer::Line> lines;
        for (int i = 0; i < count; ++i) {
            plugs.push_back(std::make_unique<serial::VirtualEchoPlug>(options));
            ASSERT_TRUE(plugs.back()->start()) << plugs.back()->errorText();
            lines.push_back({plugs.back()->devicePath(), accepter});
        }
        server = std::make_unique<Ser2netServer>(lines);
        ASSERT_TRUE(server->start()) << server->errorText();
    }
    int run()
    {
        echo.progress = false;
        echo.json = true;
        return cli::runEcho(echo, out, err);
    }

    std::vector<std::unique_ptr<serial::VirtualEchoPlug>> plugs;
    std::unique_ptr<Ser2netServer> server;
    cli::EchoOptions echo;
    std::ostringstream out, err;
};

// The rate the run asks for reaches the far end's line (the plug paces its
// echo by it), and each run passes.
TEST_F(RemotePorts, PassAtSeveralRatesWithTheRateOnTheFarLine)
{
    ASSERT_NO_FATAL_FAILURE(serve(1));
    for (const char *baud : {"9600", "57600", "115200", "1000000"}) {
        serial::modCOMM comm;
        echotest::HeadlessView view;
        std::uint32_t farRate = 0;
        view.onYield = [&] { farRate = plugs[0]->lineRate(); };
        echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());
        echotest::RunSettings settings;
        settings.plan.sendPort.device = server->url(0);
        settings.plan.baud = echotest::readBaudText(baud);
        echotest::RunResult result = engine.run(settings);
        // The plug paces the echo at the line's rate and the run allows
        // 100 ms beyond it: on a loaded machine an echo can come late.  A
        // late echo (bytes missing, none wrong) gets one more run.
        if (result.verdict == echotest::Verdict::Fail && result.diff.wrongBytes == 0 && result.diff.extraBytes == 0)
            result = engine.run(settings);
        EXPECT_EQ(echotest::Verdict::Pass, result.verdict) << baud << ": " << view.lastMessage();
        EXPECT_EQ(std::stoul(baud), farRate) << baud;
        EXPECT_TRUE(result.networkRoundTripMs.has_value()) << baud;
    }

    // The command line's record carries the round trip beside the line figures.
    echo.devices = {server->url(0)};
    echo.baud = "115200";
    run();
    const auto runs = linesOfType(out.str(), "run");
    ASSERT_EQ(1u, runs.size()) << err.str();
    ASSERT_TRUE(runs[0].contains("network_round_trip_ms")) << runs[0].dump();
    EXPECT_GE(runs[0]["network_round_trip_ms"].get<double>(), 0.0);
    EXPECT_LT(runs[0]["network_round_trip_ms"].get<double>(), 3000.0);
}

// Remote and local ports side by side in one invocation.
// The plugs answer at once: the run then has the whole line time to spare,
// and ports side by side on a loaded machine cannot come late.
TEST_F(RemotePorts, ManyRemotePortsBesideALocalOne)
{
    serial::EchoPlugOptions instant;
    instant.lineTiming = false;
    ASSERT_NO_FATAL_FAILURE(serve(4, Ser2netServer::Accepter::Rfc2217, instant));
    for (std::size_t i = 0; i < plugs.size(); ++i)
        echo.devices.push_back(server->url(i));
    serial::VirtualEchoPlug local(instant);
    ASSERT_TRUE(local.start()) << local.errorText();
    echo.devices.push_back(local.devicePath());
    echo.baud = "9600";
    echo.runs = 2;
    EXPECT_EQ(cli::kExitOk, run()) << err.str();
    const auto runs = linesOfType(out.str(), "run");
    ASSERT_EQ(10u, runs.size());
    for (const json &r : runs) {
        EXPECT_EQ("PASS", r["verdict"]) << r.dump();
        EXPECT_EQ(r["port"] != local.devicePath(), r.contains("network_round_trip_ms")) << r.dump();
    }
}

// ser2net killed in the middle of a run: the run fails at once, as at an
// unplugged adapter, and says which server went.
TEST_F(RemotePorts, AServerKilledMidRunFailsAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(serve(1));
    echo.devices = {server->url(0)};
    echo.baud = "1200"; // 8.3 s of line time: waiting for the echo would show
    auto status = std::async(std::launch::async, [this] { return run(); });
    const auto deadline = Clock::now() + 30s;
    while (plugs[0]->bytesReceived() < 50 && Clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_GE(plugs[0]->bytesReceived(), 50u) << "the run never reached the plug";
    const auto killedAt = Clock::now();
    server->kill();
    ASSERT_EQ(std::future_status::ready, status.wait_for(60s));
    const double took = std::chrono::duration<double>(Clock::now() - killedAt).count();
    EXPECT_EQ(cli::kExitFailed, status.get()) << err.str();
    EXPECT_LT(took, 3.0) << "a lost server must end the run at once, not at its time-out";
    const auto runs = linesOfType(out.str(), "run");
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ("FAIL", runs[0]["verdict"]);
    const std::string message = runs[0].value("message", "");
    EXPECT_NE(std::string::npos, message.find("disconnected")) << message;
    EXPECT_NE(std::string::npos, message.find("127.0.0.1:" + std::to_string(server->port(0)))) << message;
}

// A raw TCP port of ser2net: the bytes would reach the line unframed, and
// a Telnet negotiation echoed by the plug must not pass for a server.
TEST_F(RemotePorts, ARawTcpPortIsRefusedAndNeverRun)
{
    ASSERT_NO_FATAL_FAILURE(serve(1, Ser2netServer::Accepter::RawTcp));
    echo.devices = {server->url(0)};
    echo.baud = "115200";
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_NE(std::string::npos, err.str().find("is not an RFC 2217 port server")) << err.str();
    EXPECT_TRUE(linesOfType(out.str(), "run").empty());
    EXPECT_LT(plugs[0]->bytesReceived(), 100u) << "the pattern must never be sent";
}

// ser2net serving a pseudo-terminal never answers DTR and RTS: the line
// test refuses as at a local pseudo-terminal, naming the server, and the
// data test through the same server goes on.
TEST_F(RemotePorts, TheLineTestRefusesAServedPseudoTerminalAndTheDataTestGoesOn)
{
    serial::EchoPlugOptions instant;
    instant.lineTiming = false;
    ASSERT_NO_FATAL_FAILURE(serve(1, Ser2netServer::Accepter::Rfc2217, instant));
    const std::string refusal =
        server->url(0) + " has no handshake lines (the port server at 127.0.0.1:" + std::to_string(server->port(0)) +
        " does not set DTR and RTS";
    cli::LinesOptions lines;
    lines.device = server->url(0);
    std::ostringstream linesOut, linesErr;
    EXPECT_EQ(cli::kExitOpenFailed, cli::runLines(lines, linesOut, linesErr));
    EXPECT_EQ(0u, linesErr.str().find(refusal)) << linesErr.str();

    echo.devices = {server->url(0)};
    echo.baud = "115200";
    echo.lines = true;
    EXPECT_EQ(cli::kExitOpenFailed, run());
    EXPECT_NE(std::string::npos, err.str().find(refusal)) << err.str();
    echo.lines = false;
    EXPECT_EQ(cli::kExitOk, run()) << err.str();
}

TEST(RemotePortsOpen, AnUnreachableServerEndsWithExitThreeNamingHostAndPort)
{
    // Nothing listens on port 1 of the loopback; no ser2net needed.
    cli::EchoOptions echo;
    echo.progress = false;
    echo.baud = "9600";
    echo.devices = {"rfc2217://127.0.0.1:1", "rfc2217://no-such-host.invalid:2217"};
    std::ostringstream out, err;
    EXPECT_EQ(cli::kExitOpenFailed, cli::runEcho(echo, out, err));
    EXPECT_NE(std::string::npos, err.str().find("no connection to 127.0.0.1:1!")) << err.str();
    EXPECT_NE(std::string::npos, err.str().find("the host no-such-host.invalid cannot be found")) << err.str();
}

} // namespace

namespace {

// The tests' own server serves pseudo-terminals and nothing else, also not
// a path that only starts like one; it refuses before ser2net is started.
TEST(RemotePortsServer, ServesNothingButPseudoTerminals)
{
    if (const std::string why = Ser2netServer::missing(); !why.empty())
        GTEST_SKIP() << why;
    for (const char *device : {"/dev/null", "/dev/pts/../null", "/dev/pts/./ptmx-not-there"}) {
        Ser2netServer server({{device}});
        EXPECT_FALSE(server.start()) << device;
        EXPECT_NE(std::string::npos, server.errorText().find("not a pseudo-terminal")) << server.errorText();
    }
}

} // namespace
