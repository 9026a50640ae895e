// rebounce-cli lines: the verdicts and fault names as text and JSON on the
// fake's plugs, the exit statuses, and a pseudo-terminal refused for what it
// is.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli_app.h"
#include "cli/exit_status.h"
#include "cli/lines_command.h"
#include "serial/virtual_echo_plug.h"
#include "support/comm_platform_fake.h"

namespace {

namespace ml = serial::modemline;
using nlohmann::json;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// The whole program, as a user runs it.
Outcome runProgram(std::vector<const char *> args)
{
    args.insert(args.begin(), "rebounce-cli");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    Outcome outcome;
    outcome.status = cli::run(static_cast<int>(args.size()), const_cast<char **>(args.data()));
    outcome.err = testing::internal::GetCapturedStderr();
    outcome.out = testing::internal::GetCapturedStdout();
    return outcome;
}

cli::LinesOptions onPort1(bool json = false)
{
    cli::LinesOptions options;
    options.port = 1;
    options.json = json;
    return options;
}

class LinesCommandTest : public ::testing::Test {
protected:
    Outcome run()
    {
        std::ostringstream out, err;
        Outcome outcome;
        outcome.status = cli::runLines(options, out, err, fake, [this] { return fake.nowMs(); });
        outcome.out = out.str();
        outcome.err = err.str();
        return outcome;
    }

    serial::FakeCommPlatform fake;
    cli::LinesOptions options = onPort1();
};

TEST_F(LinesCommandTest, TextNamesEveryWireAndItsFaultAndTheLinesLeft)
{
    struct Case {
        const char *plug;
        int status;
        std::vector<std::string> lines;
    } cases[] = {
        {"rts-cts,dtr-dsr,dtr-dcd",
         cli::kExitOk,
         {"Lines on COM1: PASS  (longest settle 2.0 ms, limit 250 ms)", "  RTS  -> CTS  PASS  settle 2.0 ms",
          "  DTR  -> DSR  PASS  settle 2.0 ms", "  DTR  -> DCD  PASS  settle 2.0 ms", "  RI not checked (--ri checks it)",
          "  lines put back: RTS on, DTR off"}},
        {"dtr-cts,rts-dsr",
         cli::kExitFailed,
         {"Lines on COM1: FAIL  (longest settle 0.0 ms, limit 250 ms)",
          "  RTS  -> CTS  FAIL  CTS follows DTR: RTS and DTR are crossed",
          "  DTR  -> DSR  FAIL  DSR follows RTS: DTR and RTS are crossed",
          "  DTR  -> DCD  FAIL  DCD not wired (try a plug without DCD: --no-dcd)", "  RI not checked (--ri checks it)",
          "  lines put back: RTS on, DTR off"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.plug);
        fake.setWiring(c.plug, 2);
        fake.setOutputLines(ml::rts);
        const Outcome outcome = run();
        EXPECT_EQ(c.status, outcome.status);
        std::vector<std::string> lines;
        std::istringstream text(outcome.out);
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        EXPECT_EQ(c.lines, lines);
        EXPECT_EQ("", outcome.err);
        EXPECT_EQ(ml::rts, fake.outputLines());
    }
}

TEST_F(LinesCommandTest, JsonCarriesEachWireTheSettleTimesAndTheLinesBeforeAndAfter)
{
    fake.setModemOutputs(ml::outputs);
    fake.setWiring("rts-cts,dtr-dsr,out1-ri,dcd=high", 1.5);
    fake.setOutputLines(ml::dtr | ml::out2);
    options.plug.ri = true;
    options.json = true;
    options.plug.wiring = "rts-cts,dtr-dsr,out1-ri,out2-dcd";
    const Outcome outcome = run();
    EXPECT_EQ(cli::kExitFailed, outcome.status);
    const json object = json::parse(outcome.out);
    EXPECT_EQ("lines", object["type"]);
    EXPECT_EQ("COM1", object["port"]);
    EXPECT_EQ("FAIL", object["verdict"]);
    ASSERT_EQ(4u, object["wires"].size());
    const json &cts = object["wires"][0];
    EXPECT_EQ((json{{"output", "RTS"}, {"input", "CTS"}, {"verdict", "PASS"}, {"settle_ms", 1.5}, {"fault", nullptr}}),
              cts);
    EXPECT_EQ("RI", object["wires"][2]["input"]);
    EXPECT_EQ("PASS", object["wires"][2]["verdict"]);
    EXPECT_EQ("DCD does not follow OUT2 (stuck high)", object["wires"][3]["fault"]);
    EXPECT_EQ(json::array(), object["not_checked"]);
    EXPECT_EQ(250, object["settle_limit_ms"]);
    for (const char *output : {"RTS", "DTR", "OUT1", "OUT2"})
        EXPECT_EQ(object["lines_before"][output], object["lines_after"][output]) << output;
    EXPECT_EQ(true, object["lines_after"]["DTR"]);
    EXPECT_EQ(true, object["lines_after"]["OUT2"]);
    EXPECT_EQ(false, object["lines_after"]["RTS"]);
    EXPECT_EQ(true, object["restored"]);
}

TEST_F(LinesCommandTest, PortsThatCannotBeTestedExitWithThree)
{
    struct Case {
        const char *name;
        std::function<void(serial::FakeCommPlatform &, cli::LinesOptions &)> arrange;
        std::string message;
    } cases[] = {
        {"missing", [](auto &f, auto &) { f.addMissingDevice("COM1"); }, "COM1 does not exist!    "},
        {"no lines",
         [](auto &f, auto &) {
             serial::SystemCause cause;
             cause.kind = serial::SystemCause::Kind::NoModemLines;
             cause.systemText = "a pseudo-terminal";
             f.setNoModemLines(cause);
         },
         "COM1 has no handshake lines (a pseudo-terminal)"},
        {"output it lacks", [](auto &, auto &o) { o.plug.wiring = "rts-cts,out2-dcd"; },
         "COM1 cannot drive OUT2, which the wiring names"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake = {};
        options = onPort1(true);
        c.arrange(fake, options);
        const Outcome outcome = run();
        EXPECT_EQ(cli::kExitOpenFailed, outcome.status);
        EXPECT_EQ(c.message + "\n", outcome.err);
        const json object = json::parse(outcome.out);
        EXPECT_EQ("error", object["type"]);
        EXPECT_EQ(c.message, object["message"]);
        EXPECT_EQ(0u, fake.countOf(serial::CommCall::SetModemLines));
    }
}

TEST(LinesCommand, WrongCommandLinesExitWithTwo)
{
    const std::vector<std::vector<const char *>> wrong = {
        {"lines"},
        {"lines", "--port", "1", "--device", "/dev/null"},
        {"lines", "--port", "5"},
        {"lines", "--port", "1", "--wiring", "rts-dtr"},
        {"lines", "--port", "1", "--wiring", "dtr-dcd", "--no-dcd"},
        {"lines", "--port", "1", "--settle-limit", "0"},
        {"echo", "--port", "1", "--wiring", "rts-cts"}, // the plug's options need --lines
        {"echo", "--port", "1", "--no-dcd"},
        {"echo", "--port", "1", "--lines", "--wiring", "rts"},
    };
    for (const auto &args : wrong) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(cli::kExitUsage, runProgram(args).status);
    }
}

// Both ends of a pseudo-terminal, through the system's own serial layer.
TEST(LinesCommand, APseudoTerminalIsRefusedAsHavingNoHandshakeLines)
{
    serial::VirtualEchoPlug plug(serial::EchoPlugOptions{});
    ASSERT_TRUE(plug.start()) << plug.errorText();
    for (const std::string &device : {plug.devicePath(), std::string("/dev/ptmx")}) {
        SCOPED_TRACE(device);
        const Outcome outcome = runProgram({"lines", "--device", device.c_str()});
        EXPECT_EQ(cli::kExitOpenFailed, outcome.status);
        EXPECT_EQ(device + " has no handshake lines (a pseudo-terminal)\n", outcome.err);
        EXPECT_EQ("", outcome.out);
    }
    // echo --lines: the run does not start, as on a port that cannot open.
    const Outcome echo =
        runProgram({"echo", "--lines", "--device", plug.devicePath().c_str(), "--json", "--no-progress"});
    EXPECT_EQ(cli::kExitOpenFailed, echo.status);
    EXPECT_NE(std::string::npos, echo.err.find(plug.devicePath() + " has no handshake lines (a pseudo-terminal)"))
        << echo.err;
    EXPECT_NE(std::string::npos, echo.out.find(R"("type":"error")")) << echo.out;
    EXPECT_EQ(0u, plug.bytesReceived());
}

} // namespace
