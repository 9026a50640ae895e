// The line test of a full loopback plug against the fake's wirings: each
// plug's verdict and fault names, the settle time on the fake's clock, and
// the outputs put back whatever happened.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/line_test.h"
#include "serial/modcomm.h"
#include "serial/port_lines.h"
#include "support/comm_platform_fake.h"

namespace {

namespace ml = serial::modemline;
using echotest::LineTestOptions;
using echotest::LineTestResult;
using echotest::LineVerdict;
using echotest::Wiring;
using serial::CommCall;
using serial::CommResult;
using serial::FakeCommPlatform;

constexpr char kFullPlug[] = "rts-cts,dtr-dsr,dtr-dcd";
constexpr char kUartLoop[] = "rts-cts,dtr-dsr,out1-ri,out2-dcd"; // a 16550 in loopback mode

Wiring wiring(const std::string &text)
{
    std::string error;
    const auto parsed = echotest::parseWiring(text, error);
    EXPECT_TRUE(parsed) << text << ": " << error;
    return parsed.value_or(Wiring{});
}

class LineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, comm_.CommOpen(1, "COM1", "baud=9600 parity=N data=8 stop=1")); }

    LineTestResult run(const LineTestOptions &options = {}, const std::string &portName = "COM1")
    {
        serial::PortLines lines(comm_, 1);
        return echotest::runLineTest(lines, options, portName, [this] { return fake_.nowMs(); });
    }

    // The fault of each wire by its input's name; "" for a pass.
    static std::map<std::string, std::string> faults(const LineTestResult &result)
    {
        std::map<std::string, std::string> found;
        for (const auto &wire : result.wires)
            found[serial::modemLineName(wire.wire.input)] = wire.fault;
        return found;
    }

    FakeCommPlatform fake_;
    serial::modCOMM comm_{fake_};
};

struct PlugCase {
    const char *name;
    const char *plug;   // the fake's wiring
    std::string wiring; // --wiring; empty: the full loopback plug
    bool ri;
    bool dcd;
    std::map<std::string, std::string> faults;

    friend void PrintTo(const PlugCase &c, std::ostream *os) { *os << c.name; }
};

class LineTestPlugs : public LineTest, public ::testing::WithParamInterface<PlugCase> {};

TEST_P(LineTestPlugs, JudgesEveryWireAndPutsTheOutputsBack)
{
    const PlugCase &c = GetParam();
    fake_.setModemOutputs(ml::outputs);
    fake_.setWiring(c.plug);
    for (const std::uint32_t before : {0u, ml::rts, ml::dtr | ml::out2, ml::outputs}) {
        SCOPED_TRACE(before);
        fake_.setOutputLines(before);
        LineTestOptions options;
        options.wiring = c.wiring.empty() ? echotest::fullLoopbackWiring(c.ri, c.dcd) : wiring(c.wiring);
        const LineTestResult result = run(options);
        bool allPass = true;
        for (const auto &[input, fault] : c.faults)
            allPass = allPass && fault.empty();
        EXPECT_EQ(allPass ? LineVerdict::Pass : LineVerdict::Fail, result.verdict) << result.message;
        EXPECT_EQ(c.faults, faults(result));
        EXPECT_EQ(before, fake_.outputLines());
        EXPECT_TRUE(result.restored);
        EXPECT_EQ(before, result.linesAfter & ml::outputs);
    }
}

const std::string kSwapped = "RTS and DTR are crossed";

INSTANTIATE_TEST_SUITE_P(
    Wirings, LineTestPlugs,
    ::testing::Values(
        PlugCase{"FullLoopbackPlug", kFullPlug, "", false, true, {{"CTS", ""}, {"DSR", ""}, {"DCD", ""}}},
        PlugCase{"CtsStuckHigh", "cts=high,dtr-dsr,dtr-dcd", "", false, true,
                 {{"CTS", "CTS does not follow RTS (stuck high)"}, {"DSR", ""}, {"DCD", ""}}},
        PlugCase{"CtsStuckLow", "cts=low,dtr-dsr,dtr-dcd", "", false, true,
                 {{"CTS", "CTS does not follow RTS (stuck low)"}, {"DSR", ""}, {"DCD", ""}}},
        PlugCase{"DsrMissing", "rts-cts,dtr-dcd", "", false, true,
                 {{"CTS", ""}, {"DSR", "DSR does not follow DTR (stuck low)"}, {"DCD", ""}}},
        PlugCase{"PlugWithoutDcd", "rts-cts,dtr-dsr", "", false, true,
                 {{"CTS", ""}, {"DSR", ""}, {"DCD", "DCD not wired (try a plug without DCD: --no-dcd)"}}},
        PlugCase{"PlugWithoutDcdAndNoDcd", "rts-cts,dtr-dsr", "", false, false, {{"CTS", ""}, {"DSR", ""}}},
        PlugCase{"RtsAndDtrSwapped", "dtr-cts,rts-dsr,rts-dcd", "", false, true,
                 {{"CTS", "CTS follows DTR: RTS and DTR are crossed"},
                  {"DSR", "DSR follows RTS: DTR and RTS are crossed"},
                  {"DCD", "DCD follows RTS: DTR and RTS are crossed"}}},
        PlugCase{"CtsInverted", "!rts-cts,dtr-dsr,dtr-dcd", "", false, true,
                 {{"CTS", "CTS follows RTS inverted"}, {"DSR", ""}, {"DCD", ""}}},
        PlugCase{"RiOnDtr", "rts-cts,dtr-dsr,dtr-dcd,dtr-ri", "", true, true,
                 {{"CTS", ""}, {"DSR", ""}, {"DCD", ""}, {"RI", ""}}},
        PlugCase{"RiAskedButNotWired", kFullPlug, "", true, true,
                 {{"CTS", ""}, {"DSR", ""}, {"DCD", ""}, {"RI", "RI does not follow DTR (stuck low)"}}},
        PlugCase{"RiWiredButNotAsked", "rts-cts,dtr-dsr,dtr-dcd,ri=high", "", false, true,
                 {{"CTS", ""}, {"DSR", ""}, {"DCD", ""}}},
        PlugCase{"UartLoopbackNamedByWiring", kUartLoop, kUartLoop, false, true,
                 {{"CTS", ""}, {"DSR", ""}, {"DCD", ""}, {"RI", ""}}},
        PlugCase{"UartLoopbackWithOut1AndOut2Crossed", "rts-cts,dtr-dsr,out2-ri,out1-dcd", kUartLoop, false, true,
                 {{"CTS", ""},
                  {"DSR", ""},
                  {"DCD", "DCD follows OUT1: OUT2 and OUT1 are crossed"},
                  {"RI", "RI follows OUT2: OUT1 and OUT2 are crossed"}}},
        PlugCase{"NoPlugOnAUart", "cts=high,dsr=high,dcd=high", kUartLoop, false, true,
                 {{"CTS", "CTS does not follow RTS (stuck high)"},
                  {"DSR", "DSR does not follow DTR (stuck high)"},
                  {"DCD", "DCD does not follow OUT2 (stuck high)"},
                  {"RI", "RI does not follow OUT1 (stuck low)"}}}),
    [](const ::testing::TestParamInfo<PlugCase> &info) { return info.param.name; });

TEST_F(LineTest, SettleTimeIsMeasuredAndASlowPlugFailsPastTheLimit)
{
    // A limit of 0 is the port's default: a port server may see its lines
    // change only about once a second, so it gets longer.
    struct Case {
        double delayMs;
        int givenMs;
        const char *port;
        int limitMs;
        LineVerdict verdict;
    } cases[] = {{0, 250, "COM1", 250, LineVerdict::Pass},   {3, 250, "COM1", 250, LineVerdict::Pass},
                 {40, 250, "COM1", 250, LineVerdict::Pass},  {240, 250, "COM1", 250, LineVerdict::Pass},
                 {300, 250, "COM1", 250, LineVerdict::Fail}, {60, 50, "COM1", 50, LineVerdict::Fail},
                 {300, 0, "COM1", 250, LineVerdict::Fail},   {1000, 0, "rfc2217://rack:2001", 1500, LineVerdict::Pass},
                 {300, 250, "rfc2217://rack:2001", 250, LineVerdict::Fail}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + std::to_string(c.delayMs));
        fake_.setWiring(kFullPlug, c.delayMs);
        LineTestOptions options;
        options.settleLimitMs = c.givenMs;
        const double started = fake_.nowMs();
        const LineTestResult result = run(options, c.port);
        EXPECT_EQ(c.verdict, result.verdict);
        EXPECT_EQ(c.limitMs, result.settleLimitMs);
        if (c.verdict == LineVerdict::Pass) {
            EXPECT_DOUBLE_EQ(c.delayMs, result.settleMs);
            for (const auto &wire : result.wires)
                EXPECT_DOUBLE_EQ(c.delayMs, wire.settleMs);
        }
        // Whatever the plug did, the test ends in bounded time.
        EXPECT_LE(fake_.nowMs() - started, 8.0 * c.limitMs);
    }
}

TEST_F(LineTest, AFailedLineCallStopsTheTestAndStillPutsTheOutputsBack)
{
    struct Case {
        const char *name;
        CommCall call;
        int goodCallsBefore;
    } cases[] = {{"set", CommCall::SetModemLines, 2},
                 {"wait", CommCall::WaitModemChange, 1},
                 {"read", CommCall::GetModemLines, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake_.setWiring(kFullPlug, 5);
        fake_.setOutputLines(ml::rts);
        for (int i = 0; i < c.goodCallsBefore; ++i)
            fake_.script(c.call, CommResult::success());
        fake_.script(c.call, CommResult::failure(serial::winerr::genFailure));
        const LineTestResult result = run();
        EXPECT_EQ(LineVerdict::Error, result.verdict);
        EXPECT_TRUE(result.wires.empty());
        EXPECT_EQ(31, result.error.number);
        EXPECT_NE(std::string::npos, result.message.find("COM1")) << result.message;
        EXPECT_EQ(ml::rts, fake_.outputLines());
    }
}

TEST_F(LineTest, APortWithoutHandshakeLinesIsRefusedAndNothingIsSet)
{
    serial::SystemCause cause;
    cause.kind = serial::SystemCause::Kind::NoModemLines;
    cause.systemText = "a pseudo-terminal";
    fake_.setNoModemLines(cause);
    const LineTestResult result = run();
    EXPECT_EQ(LineVerdict::NoLines, result.verdict);
    EXPECT_EQ("COM1 has no handshake lines (a pseudo-terminal)", result.message);
    EXPECT_EQ(0u, fake_.countOf(CommCall::SetModemLines));
}

TEST_F(LineTest, AWiringNamingAnOutputThePortLacksIsRefusedBeforeAnyLineMoves)
{
    fake_.setWiring(kUartLoop);
    LineTestOptions options;
    options.wiring = wiring(kUartLoop);
    const LineTestResult result = run(options);
    EXPECT_EQ(LineVerdict::Error, result.verdict);
    EXPECT_EQ("COM1 cannot drive OUT2, which the wiring names", result.message);
    EXPECT_EQ(0u, fake_.countOf(CommCall::SetModemLines));
}

TEST(LineWiring, ReadsPairsEitherWayRoundAndRefusesWhatIsNoWire)
{
    struct Case {
        const char *text;
        const char *parsed; // nullptr: refused
    } cases[] = {
        {"rts-cts,dtr-dsr", "RTS-CTS,DTR-DSR"},
        {"CTS-RTS", "RTS-CTS"},
        {" rts - cts , Dtr-DCD ", "RTS-CTS,DTR-DCD"},
        {"out1-ri,out2-dcd", "OUT1-RI,OUT2-DCD"},
        {"rts-dtr", nullptr},
        {"cts-dsr", nullptr},
        {"rts", nullptr},
        {"rts-cts,dtr-cts", nullptr},
        {"", nullptr},
        {"rts-cts,,dtr-dsr", nullptr},
        {"tx-rx", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto parsed = echotest::parseWiring(c.text, error);
        if (c.parsed) {
            ASSERT_TRUE(parsed) << error;
            EXPECT_EQ(c.parsed, echotest::wiringText(*parsed));
        } else {
            EXPECT_FALSE(parsed);
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_EQ("RTS-CTS,DTR-DSR,DTR-DCD", echotest::wiringText(echotest::fullLoopbackWiring()));
    EXPECT_EQ("RTS-CTS,DTR-DSR,DTR-RI", echotest::wiringText(echotest::fullLoopbackWiring(true, false)));
}

} // namespace
