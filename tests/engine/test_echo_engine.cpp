// The echo test run against the scripted serial platform and a headless
// view: verdicts, figures, the tally, messages, abort and close handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <deque>
#include <functional>
#include <set>
#include <vector>

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/timer_clock.h"
#include "report/record_fields.h"
#include "serial/modcomm.h"
#include "support/comm_platform_fake.h"

namespace {

using echotest::EchoTestRun;
using echotest::MessageIcon;
using echotest::EchoDiff;
using echotest::compareEcho;
using echotest::RunResult;
using echotest::RunSettings;
using echotest::RunStage;
using echotest::Verdict;
using serial::CommCall;
using serial::CommResult;
using serial::FakeCommPlatform;

// Advances one millisecond per read, so every loop of the run ends.
class SteppingClock final : public echotest::TimerClock {
public:
    bool getDevCaps(uint32_t &periodMin, uint32_t &periodMax) override
    {
        periodMin = 1;
        periodMax = 1000000;
        return true;
    }
    void beginPeriod(uint32_t) override { ++begins; }
    void endPeriod(uint32_t) override { ++ends; }
    uint32_t now() override { return ++ms; }
    uint32_t ms = 0;
    int begins = 0;
    int ends = 0;
};

// The headless view, noting in one list what the run did to it, so that
// tests can check the order and what came after the window went.
class WatchedView final : public echotest::HeadlessView {
public:
    std::vector<std::string> events;
    bool gone = false;
    int callsAfterGone = 0;

    void showCleared() override { note("cleared"), HeadlessView::showCleared(); }
    void showMessage(const std::string &text, MessageIcon icon) override
    {
        note("message"), HeadlessView::showMessage(text, icon);
    }
    void showStage(RunStage stage) override
    {
        static const char *const names[] = {"preparing", "transferring", "collected", "closed", "finished"};
        note(names[static_cast<int>(stage)]), HeadlessView::showStage(stage);
    }
    void showTimes(const RunResult &result) override { note("times"), HeadlessView::showTimes(result); }
    void showResult(const RunResult &result, const echotest::RunTally &tally) override
    {
        note("result"), HeadlessView::showResult(result, tally);
    }
    void showAborted(const std::string &reason) override { note("aborted"), HeadlessView::showAborted(reason); }
    // Yields are not counted: the serial layer lets events run whether or
    // not the window is still there.
    void closeWindow() override { note("close"), HeadlessView::closeWindow(); }

    bool saw(const std::string &name) const { return std::find(events.begin(), events.end(), name) != events.end(); }
    std::ptrdiff_t indexOf(const std::string &name) const
    {
        return std::find(events.begin(), events.end(), name) - events.begin();
    }

private:
    void note(const std::string &name)
    {
        if (gone)
            ++callsAfterGone;
        events.push_back(name);
    }
};

std::string pattern()
{
    return EchoTestRun::expectedText(false);
}

RunSettings settingsAt(const char *baud, const char *port = "1")
{
    RunSettings settings;
    settings.plan.sendPort.port = static_cast<int16_t>(std::atoi(port));
    settings.plan.baud = echotest::readBaudText(baud);
    return settings;
}

class EchoRunTest : public ::testing::Test {
protected:
    FakeCommPlatform platform;
    serial::modCOMM comm{platform};
    WatchedView view;
    SteppingClock clock;
    EchoTestRun engine{comm, view, clock};
    RunSettings settings = settingsAt("9600");

    // The layer yields the same way the run does, as the window wires it.
    EchoRunTest() { comm.setYield([this] { view.yield(); }); }

    RunResult run() { return engine.run(settings); }
    bool portHeld() const { return comm.portRecord(1).IsOpen != 0; }
};

TEST_F(EchoRunTest, EchoPlugPasses)
{
    platform.setEcho(true);
    const RunResult result = run();

    EXPECT_EQ(Verdict::Pass, result.verdict);
    EXPECT_EQ(1000, result.sent);
    EXPECT_EQ(1000, result.received);
    EXPECT_EQ(pattern(), result.receivedText);
    EXPECT_EQ(0, result.diff.errors());
    EXPECT_FALSE(result.diff.first);
    EXPECT_EQ(1, engine.tally().passes);
    EXPECT_EQ(0, engine.tally().failures);
    EXPECT_EQ(1000, engine.tally().bytesSent);
    EXPECT_EQ(1000, engine.tally().bytesReceived);
    EXPECT_EQ(pattern(), platform.written());
    EXPECT_FALSE(portHeld());
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(engine.isActive());
    EXPECT_EQ(clock.begins, clock.ends); // the stopwatch was released
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ((std::vector<RunStage>{RunStage::Preparing, RunStage::Transferring, RunStage::Collected,
                                     RunStage::Closed, RunStage::Finished}),
              view.stages);
    // The verdict is shown before the port is marked closed and the window
    // menu given back.
    EXPECT_LT(view.indexOf("collected"), view.indexOf("result"));
    EXPECT_LT(view.indexOf("result"), view.indexOf("closed"));
}

TEST_F(EchoRunTest, IsRunningOnlyWhileTheTransferHoldsThePort)
{
    platform.setEcho(true);
    std::vector<bool> seen;
    view.onYield = [&] { seen.push_back(engine.isRunning()); };
    run();
    ASSERT_FALSE(seen.empty());
    EXPECT_FALSE(seen.front()); // the stale read before the first byte
    EXPECT_TRUE(seen.back());   // the last read
    EXPECT_FALSE(engine.isRunning());
}

TEST_F(EchoRunTest, OpensWithTheModeTextAndSendsTenByteChunks)
{
    platform.setEcho(true);
    settings = settingsAt("115200");
    run();

    const auto builds = platform.callsOf(CommCall::BuildCommDcb);
    ASSERT_EQ(1u, builds.size());
    EXPECT_EQ("baud=115200 parity=N data=8 stop=1", builds[0].text);
    const auto opens = platform.callsOf(CommCall::CreateFile);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ("COM1", opens[0].text);
    const auto writes = platform.callsOf(CommCall::WriteFile);
    ASSERT_EQ(100u, writes.size());
    for (const auto &w : writes)
        EXPECT_EQ("ABCDEFGHIJ", w.text);
}

TEST_F(EchoRunTest, OpensTheNamedDeviceInThePortsSlot)
{
    platform.setEcho(true);
    settings.plan.sendPort.port = 2;
    settings.plan.sendPort.device = "/dev/ttyUSB7";
    run();
    const auto opens = platform.callsOf(CommCall::CreateFile);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ("/dev/ttyUSB7", opens[0].text);
    EXPECT_EQ(0, comm.portRecord(2).IsOpen); // and released it
}

TEST_F(EchoRunTest, TallyAccumulatesOverRunsAndClears)
{
    platform.setEcho(true);
    for (int i = 0; i < 3; ++i)
        run();
    settings.lowerCase = true; // an upper-case echo now fails
    const RunResult failed = run();
    EXPECT_EQ(3, engine.tally().passes);
    EXPECT_EQ(1, engine.tally().failures);
    EXPECT_EQ(4000, engine.tally().bytesSent);
    EXPECT_EQ(4000, engine.tally().bytesReceived);
    EXPECT_EQ(Verdict::Fail, failed.verdict);
    EXPECT_EQ(1000, failed.diff.wrongBytes);
    ASSERT_TRUE(failed.diff.first);
    EXPECT_EQ(0, failed.diff.first->position);
    EXPECT_EQ('a', failed.diff.first->expected);
    EXPECT_EQ('A', failed.diff.first->received);

    engine.clearTally();
    EXPECT_EQ(0, engine.tally().passes + engine.tally().failures);
    EXPECT_EQ(0, engine.tally().bytesSent + engine.tally().bytesReceived);
}

// A board that answers in lower case.
class LowerCaseBoard final : public FakeCommPlatform {
public:
    bool writeFile(serial::CommHandle handle, const char *data, uint32_t count, uint32_t &written,
                   serial::CommOverlapped &overlapped) override
    {
        std::string answer(data, count);
        for (char &c : answer)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        feedInput(answer);
        return FakeCommPlatform::writeFile(handle, data, count, written, overlapped);
    }
};

TEST(EchoRunLowerCaseTest, LowerCaseAnswerPassesOnlyWhenAsked)
{
    LowerCaseBoard board;
    serial::modCOMM comm(board);
    echotest::HeadlessView view;
    SteppingClock clock;
    EchoTestRun engine(comm, view, clock);
    RunSettings settings = settingsAt("9600");

    EXPECT_EQ(Verdict::Fail, engine.run(settings).verdict);
    settings.lowerCase = true;
    EXPECT_EQ(Verdict::Pass, engine.run(settings).verdict);
    EXPECT_EQ(1, engine.tally().passes);
    EXPECT_EQ(1, engine.tally().failures);
}

TEST_F(EchoRunTest, LowerCaseChoiceCountsAsItIsWhenJudging)
{
    platform.setEcho(true);
    settings.lowerCase = true;
    view.onYield = [this] { engine.setLowerCase(false); };
    EXPECT_EQ(Verdict::Pass, run().verdict);
}

TEST_F(EchoRunTest, SilentPortFailsAfterTheTimeOut)
{
    const RunResult result = run();
    EXPECT_EQ(Verdict::Fail, result.verdict);
    EXPECT_EQ(std::max<int64_t>(result.sendMs, 1042) + 100, result.timeoutMs);
    EXPECT_GE(result.lastReadMs, result.timeoutMs);
    EXPECT_EQ(0, result.received);
    EXPECT_EQ(1000, result.diff.missingBytes);
    EXPECT_EQ(0, result.diff.wrongBytes);
    EXPECT_EQ(0, engine.tally().bytesReceived);
    EXPECT_EQ(1000, engine.tally().bytesSent);
    EXPECT_EQ(1, engine.tally().failures);
    // It rested between polls instead of spinning.
    EXPECT_GT(platform.countOf(CommCall::WaitForInput), 0u);
}

// A peer that echoes and adds one byte after the last chunk.
class ExtraByteBoard final : public FakeCommPlatform {
public:
    ExtraByteBoard() { setEcho(true); }
    bool writeFile(serial::CommHandle handle, const char *data, uint32_t count, uint32_t &written,
                   serial::CommOverlapped &overlapped) override
    {
        const bool ok = FakeCommPlatform::writeFile(handle, data, count, written, overlapped);
        if (++writes_ == 100)
            feedInput("J");
        return ok;
    }

private:
    int writes_ = 0;
};

TEST(EchoRunExtraByteTest, ExtraByteNeverPasses)
{
    ExtraByteBoard platform;
    serial::modCOMM comm(platform);
    echotest::HeadlessView view;
    SteppingClock clock;
    EchoTestRun engine(comm, view, clock);
    const RunResult result = engine.run(settingsAt("9600"));
    EXPECT_EQ(Verdict::Fail, result.verdict);
    EXPECT_EQ(1001, result.received);
    EXPECT_EQ(1, result.diff.extraBytes);
    EXPECT_EQ(0, result.diff.wrongBytes);
    EXPECT_GE(result.lastReadMs, result.timeoutMs); // waited for the time-out
}

TEST_F(EchoRunTest, LastReadBeforeTheLineTimeShowsLineTimePlusOne)
{
    platform.setEcho(true); // the fake answers at once, long before 1042 ms
    const RunResult result = run();
    EXPECT_EQ(1042, result.lineTimeMs);
    EXPECT_EQ(1043, result.lastReadMs);
    EXPECT_GE(result.sendMs, 0);
    EXPECT_LT(result.sendMs, 1042);
}

TEST_F(EchoRunTest, LineErrorsOfTheReadsAreReported)
{
    platform.setEcho(true);
    platform.setLineErrors(serial::commflags::frame | serial::commflags::overrun);
    const RunResult result = run();
    EXPECT_EQ(serial::commflags::frame | serial::commflags::overrun, result.lineErrors);
    // A new open starts from a clean slate.
    EXPECT_EQ(0u, run().lineErrors);
}

// A driver that marks the bytes it received in error: the run names where
// they were in the echo, and fails even where such a byte reads as the one
// expected (a NUL of an all-NUL pattern).  Where the platform marks none, the
// run has no positions.
TEST_F(EchoRunTest, BytesReceivedInErrorAreNamedAndFailTheRun)
{
    struct Case {
        const char *name;
        bool marks;
        std::set<std::uint64_t> marked;
        char patternByte;
        Verdict verdict;
        std::vector<int32_t> positions;
        int32_t wrongBytes;
    };
    const Case cases[] = {
        {"none marked", true, {}, 'A', Verdict::Pass, {}, 0},
        {"first, middle and last", true, {0, 517, 999}, 'A', Verdict::Fail, {0, 517, 999}, 3},
        {"reads as expected", true, {42}, '\0', Verdict::Fail, {42}, 0},
        {"platform without marks", false, {}, '\0', Verdict::Pass, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeCommPlatform fake;
        fake.setEcho(true);
        if (c.marks)
            fake.markErrorsAt(c.marked);
        serial::modCOMM layer{fake};
        echotest::HeadlessView headless;
        EchoTestRun run{layer, headless, clock};
        RunSettings plan = settingsAt("115200");
        plan.plan.pattern.bytes.assign(1000, c.patternByte);
        const RunResult result = run.run(plan);
        EXPECT_EQ(c.verdict, result.verdict);
        EXPECT_EQ(c.positions, result.lineErrorPositions);
        EXPECT_EQ(c.wrongBytes, result.diff.wrongBytes);
        EXPECT_EQ(1000, result.received);
    }
}

TEST_F(EchoRunTest, RateBelow45IsRefusedBeforeOpening)
{
    settings = settingsAt("44");
    const RunResult result = run();
    ASSERT_EQ(1u, view.messages.size());
    EXPECT_EQ("Baud rate too low !    \r\n\r\nThe minimum baud rate is 45.", view.messages[0].text);
    EXPECT_EQ(MessageIcon::Exclamation, view.messages[0].icon);
    EXPECT_EQ(0u, platform.countOf(CommCall::CreateFile));
    EXPECT_TRUE(view.stages.empty());
    EXPECT_EQ(Verdict::RateTooLow, result.verdict);

    settings = settingsAt("45");
    platform.setEcho(true);
    EXPECT_EQ(Verdict::Pass, run().verdict);
}

struct OpenFailureCase {
    const char *name;
    CommCall call;
    uint32_t error;
    std::string expectedMessage;
    MessageIcon icon;
};

class OpenFailureTest : public EchoRunTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ExplainsAndReleasesThePort)
{
    const OpenFailureCase &c = GetParam();
    settings = settingsAt("1000000", "3");
    platform.script(c.call, CommResult::failure(c.error));
    platform.setMessageText(31, "A device attached to the system is not functioning.\r\n");

    const RunResult result = run();
    EXPECT_EQ(Verdict::OpenFailed, result.verdict);
    EXPECT_EQ(static_cast<int32_t>(c.error), result.openError.number);
    ASSERT_EQ(1u, view.messages.size());
    if (c.error == 87) {
        // Sixteen lines; the first names the rate and the port.
        const std::string &m = view.messages[0].text;
        EXPECT_EQ(0u, m.find("The baud rate 1000000 is not supported by COM3!\r\n\r\n"
                             "Serial Baud Rates supported by your computer.\r\n"));
        EXPECT_EQ(15, std::count(m.begin(), m.end(), '\n'));
        EXPECT_NE(std::string::npos,
                  m.find("\r\nAt 14.7456 MHz, the maximal baud rate will be: 14745600 Hz / (1 * 16) = 921600"));
    } else {
        EXPECT_EQ(c.expectedMessage, view.messages[0].text);
    }
    EXPECT_EQ(c.icon, view.messages[0].icon);
    EXPECT_EQ(0, comm.portRecord(3).IsOpen);
    EXPECT_TRUE(view.stages.empty());
    EXPECT_FALSE(engine.isRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenFailureTest,
    ::testing::Values(
        OpenFailureCase{"Missing", CommCall::CreateFile, 2, "COM3 does not exist!    ", MessageIcon::Exclamation},
        OpenFailureCase{"Held", CommCall::CreateFile, 5,
                        "COM3 already open!    \r\n(In use by another program).", MessageIcon::Exclamation},
        OpenFailureCase{"RateRefused", CommCall::SetCommState, 87, "", MessageIcon::Exclamation},
        OpenFailureCase{"Other", CommCall::SetupComm, 31,
                        "COM Error: Error (31): CommOpen (SetupComm) - A device attached to the system is not "
                        "functioning.\r\n",
                        MessageIcon::None}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(EchoRunTest, MessagesNameTheDeviceWhenTheSettingsNameIt)
{
    settings.plan.sendPort.device = "/dev/ttyUSB0";
    settings.plan.sendPort.portName = "/dev/ttyUSB0";
    platform.addMissingDevice("/dev/ttyUSB0");
    run();
    ASSERT_EQ(1u, view.messages.size());
    EXPECT_EQ("/dev/ttyUSB0 does not exist!    ", view.messages[0].text);
}

TEST(OpenFailureMessageTest, ChosenByTheNumberNotByTheReportText)
{
    MessageIcon icon;
    // A system text that happens to quote another error does not mislead it.
    EXPECT_EQ("COM2 does not exist!    ",
              EchoTestRun::openFailureMessage({2, "CommOpen (CreateFile)", "Error (5):", {}}, "COM2", "9600", icon));
    EXPECT_EQ(MessageIcon::Exclamation, icon);
    EXPECT_EQ("COM Error: Error (-1): CommOpen - Port in use.",
              EchoTestRun::openFailureMessage({-1, "CommOpen", "Port in use.", {}}, "COM2", "9600", icon));
    EXPECT_EQ(MessageIcon::None, icon);
    EXPECT_EQ(0u, EchoTestRun::openFailureMessage({21, "x", "Error (2): y", {}}, "COM1", "9600", icon)
                      .find("COM Error: Error (21): x - "));
}

struct TimeoutCase {
    int32_t baud;
    int64_t extra;
};

class TimeoutExtraTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(TimeoutExtraTest, ExtraDependsOnTheRate)
{
    EXPECT_EQ(GetParam().extra, EchoTestRun::timeoutExtraMs(GetParam().baud));
}

INSTANTIATE_TEST_SUITE_P(Thresholds, TimeoutExtraTest,
                         ::testing::Values(TimeoutCase{45, 3000}, TimeoutCase{300, 3000}, TimeoutCase{301, 1000},
                                           TimeoutCase{1200, 1000}, TimeoutCase{1201, 1000},
                                           TimeoutCase{1202, 100}, TimeoutCase{921600, 100}));

struct CompareCase {
    const char *name;
    std::string received;
    int32_t wrong;
    int32_t firstPosition; // -1: none
    char expectedByte;
    int receivedByte;      // -1: the byte never came
    int32_t missing;
    int32_t extra;
};

class CompareEchoTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareEchoTest, CountsHowTheEchoDiffers)
{
    const CompareCase &c = GetParam();
    const EchoDiff diff = compareEcho("ABCDEFGHIJ", c.received);
    EXPECT_EQ(c.wrong, diff.wrongBytes);
    ASSERT_EQ(c.firstPosition >= 0, diff.first.has_value());
    if (diff.first) {
        EXPECT_EQ(c.firstPosition, diff.first->position);
        EXPECT_EQ(static_cast<uint8_t>(c.expectedByte), diff.first->expected);
        EXPECT_EQ(c.receivedByte, diff.first->received ? int{*diff.first->received} : -1);
    }
    EXPECT_EQ(c.missing, diff.missingBytes);
    EXPECT_EQ(c.extra, diff.extraBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Echoes, CompareEchoTest,
    ::testing::Values(CompareCase{"Same", "ABCDEFGHIJ", 0, -1, 0, 0, 0, 0},
                      CompareCase{"TwoGarbled", "ABxDEFGHIy", 2, 2, 'C', 'x', 0, 0},
                      CompareCase{"Short", "ABCD", 0, 4, 'E', -1, 6, 0},
                      CompareCase{"DroppedByteIsOneFaultNotAShiftedTail", "ABDEFGHIJ", 0, 2, 'C', -1, 1, 0},
                      CompareCase{"Long", "ABCDEFGHIJKL", 0, 10, 0, 'K', 0, 2},
                      CompareCase{"HighByte", std::string("\xC1") + "BCDEFGHIJ", 1, 0, 'A', 0xC1, 0, 0},
                      CompareCase{"Nothing", "", 0, 0, 'A', -1, 10, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(EchoRunTest, AbortClearsTheFiguresAndKeepsTheTally)
{
    platform.setEcho(true);
    settings = settingsAt("300");
    int yields = 0;
    view.onYield = [&] {
        if (++yields == 25)
            engine.requestAbort(echotest::kUserAbortMessage);
    };
    const RunResult result = run();

    EXPECT_EQ(Verdict::Aborted, result.verdict);
    EXPECT_LT(platform.countOf(CommCall::WriteFile), 100u); // the rest was not sent
    EXPECT_EQ(-1, result.sendMs);
    EXPECT_EQ(-1, result.lastReadMs);
    EXPECT_EQ(echotest::kUserAbortMessage, view.abortReason);
    EXPECT_FALSE(view.saw("result")); // no verdict shown
    EXPECT_LT(view.indexOf("closed"), view.indexOf("aborted"));
    EXPECT_EQ(0, engine.tally().passes + engine.tally().failures);
    EXPECT_EQ(0, engine.tally().bytesSent + engine.tally().bytesReceived);
    EXPECT_FALSE(portHeld());
    EXPECT_EQ(0, view.windowCloses);
}

TEST_F(EchoRunTest, FirstAndSecondCloseDuringARunAbortAndCloseAfterTheMenuIsBack)
{
    int requests = 0;
    view.onYield = [&] {
        if (engine.isRunning() && requests < 2) {
            ++requests;
            EXPECT_FALSE(engine.requestClose()); // not now: when the run has ended
        }
    };
    const RunResult result = run();
    EXPECT_EQ(Verdict::Aborted, result.verdict);
    EXPECT_EQ(2, engine.flags().CloseAttempts);
    EXPECT_EQ(1, view.windowCloses);
    EXPECT_LT(view.indexOf("finished"), view.indexOf("close"));
    EXPECT_FALSE(portHeld());
}

TEST_F(EchoRunTest, CloseWhileIdleClosesAtOnce)
{
    EXPECT_TRUE(engine.requestClose());
    EXPECT_EQ(0, view.windowCloses); // the window closes itself
}

// The window closes at once on the third request; the run goes on to its
// end without touching the window, releases the port and its stopwatch.
class ThirdCloseTest : public EchoRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ThirdCloseTest, RunWindsUpWithoutTheWindow)
{
    const bool inTheLastRead = GetParam();
    platform.setEcho(true);
    // Which yield is the single one of the last read after the receive loop.
    int totalYields = 0;
    view.onYield = [&] { ++totalYields; };
    run();
    ASSERT_GT(totalYields, 100);
    view.events.clear();
    platform.clearCalls();

    int yields = 0;
    view.onYield = [&] {
        ++yields;
        const bool now = inTheLastRead ? yields == totalYields : platform.countOf(CommCall::WriteFile) == 50;
        if (!now || view.gone)
            return;
        EXPECT_FALSE(engine.requestClose());
        EXPECT_FALSE(engine.requestClose());
        EXPECT_TRUE(engine.requestClose());
        view.gone = true;
    };
    const RunResult result = run();
    ASSERT_TRUE(view.gone);
    EXPECT_EQ(Verdict::Aborted, result.verdict);
    EXPECT_EQ(0, view.callsAfterGone);
    EXPECT_EQ(0, view.windowCloses); // not closed a second time
    EXPECT_FALSE(portHeld());
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(clock.begins, clock.ends);
    EXPECT_EQ(1, engine.tally().passes); // the first run only

    // The next run shows itself again.
    view.gone = false;
    view.onYield = nullptr;
    EXPECT_EQ(Verdict::Pass, run().verdict);
    EXPECT_TRUE(view.saw("result"));
}

INSTANTIATE_TEST_SUITE_P(When, ThirdCloseTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "InTheLastRead" : "WhileSending"; });

TEST_F(EchoRunTest, RunStateFlagsAreClearedAtTheStart)
{
    engine.flags().AbortRequested = true; // left by a minimise while idle
    engine.flags().ClosePending = true;
    engine.flags().CloseAttempts = 2;
    platform.setEcho(true);
    EXPECT_EQ(Verdict::Pass, run().verdict);
    EXPECT_EQ(0, engine.flags().CloseAttempts);
    EXPECT_EQ(0, view.windowCloses);
}

TEST_F(EchoRunTest, RunStartedFromInsideARunDoesNothing)
{
    platform.setEcho(true);
    bool nested = false;
    view.onYield = [&] {
        if (!nested && engine.isRunning()) {
            nested = true;
            engine.run(settings);
        }
    };
    EXPECT_EQ(Verdict::Pass, run().verdict);
    EXPECT_EQ(1u, platform.countOf(CommCall::CreateFile));
    EXPECT_EQ(1, engine.tally().passes);
}

// A device that goes away in the middle: Windows fails the transfer with 5
// (some drivers 22 or 1167).  Other failures are not acted on.
struct TransferFailureCase {
    const char *name;
    CommCall call;
    uint32_t error;
    bool lost;
    unsigned afterWrites = 30; // the failure comes once this many chunks went out
};

class TransferFailureTest : public EchoRunTest, public ::testing::WithParamInterface<TransferFailureCase> {};

TEST_P(TransferFailureTest, OnlyALostPortEndsTheTransfer)
{
    const TransferFailureCase &c = GetParam();
    platform.setEcho(true);
    int writes = 0;
    view.onYield = [&] {
        if (platform.countOf(CommCall::WriteFile) == c.afterWrites && writes++ == 0)
            platform.script(c.call, CommResult::failure(c.error));
    };
    const RunResult result = run();
    EXPECT_EQ(Verdict::Fail, result.verdict);
    EXPECT_EQ(c.lost, result.portLost);
    if (c.lost) {
        EXPECT_EQ(static_cast<int32_t>(c.error), result.transferError.number);
        EXPECT_LE(platform.countOf(CommCall::WriteFile), c.afterWrites + 2); // no more writes
        EXPECT_EQ(-1, result.lastReadMs < result.timeoutMs ? -1 : 0); // did not wait out the time-out
        // The window keeps its rule (line time + 1); the reports get the
        // last read that went through, or none.
        EXPECT_EQ(result.lineTimeMs + 1, result.lastReadMs);
        if (c.afterWrites == 0) {
            EXPECT_FALSE(result.lastReadAtMs);
        } else {
            ASSERT_TRUE(result.lastReadAtMs);
            EXPECT_GT(*result.lastReadAtMs, 0);
            EXPECT_LT(*result.lastReadAtMs, result.lineTimeMs);
        }
        // The message comes once the window is whole again.
        EXPECT_GT(view.indexOf("message"), view.indexOf("finished"));
        EXPECT_LT(view.indexOf("message"), static_cast<std::ptrdiff_t>(view.events.size()));
    } else {
        EXPECT_EQ(100u, platform.countOf(CommCall::WriteFile));
    }
    EXPECT_FALSE(portHeld());
    EXPECT_EQ(1, engine.tally().failures);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TransferFailureTest,
    ::testing::Values(TransferFailureCase{"WriteDenied", CommCall::WriteFile, 5, true},
                      TransferFailureCase{"WriteBadCommand", CommCall::WriteFile, 22, true},
                      TransferFailureCase{"ReadDeviceNotConnected", CommCall::ClearCommError, 1167, true},
                      TransferFailureCase{"FirstWriteDenied", CommCall::WriteFile, 5, true, 0},
                      TransferFailureCase{"WriteGeneralFailure", CommCall::WriteFile, 31, false}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- The line test before the data (echo --lines) ------------------------

struct LinesCase {
    const char *name;
    const char *plug;  // the fake's wiring; nullptr: a port without handshake lines
    Verdict verdict;
    int64_t passes, failures;
    size_t written;    // bytes sent
    friend void PrintTo(const LinesCase &c, std::ostream *os) { *os << c.name; }
};

class EchoRunWithLines : public EchoRunTest, public ::testing::WithParamInterface<LinesCase> {};

TEST_P(EchoRunWithLines, RunsBeforeTheDataAndJoinsTheVerdict)
{
    const LinesCase &c = GetParam();
    platform.setEcho(true);
    if (c.plug) {
        platform.setWiring(c.plug);
    } else {
        serial::SystemCause cause;
        cause.kind = serial::SystemCause::Kind::NoModemLines;
        cause.systemText = "a pseudo-terminal";
        platform.setNoModemLines(cause);
    }
    settings.lineTest = echotest::LineTestOptions{};
    const RunResult result = run();
    EXPECT_EQ(c.verdict, result.verdict);
    ASSERT_TRUE(result.lines);
    EXPECT_EQ(c.passes, engine.tally().passes);
    EXPECT_EQ(c.failures, engine.tally().failures);
    EXPECT_EQ(c.written, platform.written().size());
    EXPECT_FALSE(portHeld());
    EXPECT_EQ(0, result.diff.errors()) << "the echo itself came back whole";
    // The lines are tested before the first byte goes out.
    const auto &calls = platform.calls();
    const auto firstLine = std::find_if(calls.begin(), calls.end(),
                                        [](const auto &call) { return call.call == CommCall::GetModemLines; });
    const auto firstWrite = std::find_if(calls.begin(), calls.end(),
                                         [](const auto &call) { return call.call == CommCall::WriteFile; });
    EXPECT_LT(firstLine - calls.begin(), firstWrite - calls.begin());
    if (!c.plug) {
        EXPECT_EQ("COM1 has no handshake lines (a pseudo-terminal)", result.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plugs, EchoRunWithLines,
    ::testing::Values(LinesCase{"FullLoopbackPlug", "rts-cts,dtr-dsr,dtr-dcd", Verdict::Pass, 1, 0, 1000},
                      LinesCase{"CrossedPlugFailsAGoodEcho", "dtr-cts,rts-dsr,rts-dcd", Verdict::Fail, 0, 1, 1000},
                      LinesCase{"NoHandshakeLinesIsRefused", nullptr, Verdict::OpenFailed, 0, 0, 0}),
    [](const ::testing::TestParamInfo<LinesCase> &info) { return info.param.name; });

// ---- Flow control under load (echo --reader-pause) ------------------------

using Flow = echotest::Frame::Flow;
using Outcome = echotest::FlowLoadResult::Outcome;

struct FlowLoadCase {
    const char *name;
    Flow flow;
    bool driverHolds;          // the fake stops the line while the input is full
    uint32_t receiveCapacity;  // bytes the input takes before it is full
    int32_t pauseMs;
    Verdict verdict;
    Outcome outcome;
    bool held;                 // some hold time was measured
    bool bytesLost;            // overruns counted and bytes missing
    const char *failure;       // in the failure text; nullptr: a PASS
    friend void PrintTo(const FlowLoadCase &c, std::ostream *os) { *os << c.name; }
};

class EchoRunUnderLoad : public EchoRunTest, public ::testing::WithParamInterface<FlowLoadCase> {
protected:
    EchoRunUnderLoad()
    {
        settings = settingsAt("115200");
        settings.plan.pattern.bytes.assign(65536, 'U');
        settings.plan.pattern.chunkSize = 256;
    }
};

TEST_P(EchoRunUnderLoad, TheSenderIsHeldOrTheRunSaysWhyNot)
{
    const FlowLoadCase &c = GetParam();
    platform.setLoadedLine({4096, 64, c.receiveCapacity, c.driverHolds});
    settings.plan.frame.flow = c.flow;
    settings.readerPauseMs = c.pauseMs;
    const RunResult result = run();

    EXPECT_EQ(c.verdict, result.verdict);
    ASSERT_TRUE(result.flowLoad);
    const echotest::FlowLoadResult &flow = *result.flowLoad;
    EXPECT_EQ(c.outcome, flow.outcome) << echotest::flowLoadText(flow);
    EXPECT_EQ(c.held, flow.heldMs > 0) << echotest::flowLoadText(flow);
    EXPECT_EQ(c.held, flow.holds > 0);
    EXPECT_EQ(c.bytesLost, result.lineErrorCounts.overruns() > 0);
    // Each byte lost is one the driver counted, and the long echo is
    // aligned as a whole: nothing else is wrong.
    EXPECT_EQ(static_cast<uint64_t>(result.diff.missingBytes), result.lineErrorCounts.overruns());
    EXPECT_EQ(0, result.diff.wrongBytes + result.diff.extraBytes);
    EXPECT_EQ(65536, result.sent);
    // Nothing was read while the reader paused: every read came after it.
    EXPECT_GE(result.firstByteMs.value_or(0), 0.0);
    EXPECT_GE(result.timeoutMs, c.pauseMs + result.lineTimeMs);
    if (c.failure) {
        EXPECT_NE(std::string::npos, report::failureText(result).find(c.failure)) << report::failureText(result);
    }
    EXPECT_FALSE(portHeld());
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, EchoRunUnderLoad,
    ::testing::Values(
        FlowLoadCase{"RtsCtsHoldsTheSender", Flow::RtsCts, true, 4096, 300, Verdict::Pass, Outcome::Held, true, false,
                     nullptr},
        FlowLoadCase{"NoFlowControlLosesBytes", Flow::None, false, 4096, 300, Verdict::Fail, Outcome::NoFlow, false,
                     true, "overrun 15104"},
        FlowLoadCase{"DriverThatCannotHoldIsNamed", Flow::RtsCts, false, 1u << 20, 300, Verdict::Fail,
                     Outcome::NotHeld, false, false, "the driver did not hold the sender"},
        FlowLoadCase{"RtsCtsThatLosesBytesFails", Flow::RtsCts, false, 4096, 300, Verdict::Fail, Outcome::NotHeld,
                     false, true, "overrun"},
        FlowLoadCase{"PauseTooShortToTell", Flow::RtsCts, false, 1u << 20, 20, Verdict::Pass, Outcome::NotFilled,
                     false, false, nullptr}),
    [](const ::testing::TestParamInfo<FlowLoadCase> &info) { return info.param.name; });

// CTS stuck low: the sender never gets going again.  The run gives up long
// after the pause and drops what still waits, so that the close is not held
// as well; only what left counts as sent.
TEST_F(EchoRunTest, UnderLoadASenderHeldForGoodHasItsQueueDropped)
{
    platform.setLoadedLine({4096, 0, 4096, true});
    settings = settingsAt("115200");
    settings.plan.pattern.bytes.assign(65536, 'U');
    settings.plan.pattern.chunkSize = 256;
    settings.plan.frame.flow = Flow::RtsCts;
    settings.readerPauseMs = 100;
    const RunResult result = run();
    EXPECT_EQ(Verdict::Fail, result.verdict);
    EXPECT_EQ(0, result.sent);
    EXPECT_EQ(4096u, platform.written().size());
    const auto purges = platform.callsOf(CommCall::PurgeComm);
    ASSERT_FALSE(purges.empty());
    EXPECT_EQ(serial::purgeflags::txAbort | serial::purgeflags::txClear, purges.back().count);
    ASSERT_TRUE(result.flowLoad);
    EXPECT_EQ(Outcome::Held, result.flowLoad->outcome);
    EXPECT_GT(result.flowLoad->heldMs, 2 * result.lineTimeMs);
    EXPECT_FALSE(portHeld());
}

TEST_F(EchoRunTest, UnderLoadAPortThatCannotBeWatchedIsRefused)
{
    serial::SystemCause pty;
    pty.kind = serial::SystemCause::Kind::NoModemLines;
    pty.systemText = "a pseudo-terminal";
    const struct {
        bool reportsQueue;
        Flow flow;
        const char *message;
    } cases[] = {
        {false, Flow::None, "COM1 does not report its output queue: how long the sender is held cannot be measured"},
        {true, Flow::RtsCts, "COM1 has no handshake lines (a pseudo-terminal): RTS/CTS cannot hold its sender"},
    };
    for (const auto &c : cases) {
        FakeCommPlatform fake;
        serial::modCOMM layer{fake};
        WatchedView shown;
        EchoTestRun runner{layer, shown, clock};
        if (c.reportsQueue)
            fake.setLoadedLine({});
        fake.setNoModemLines(pty);
        settings.plan.frame.flow = c.flow;
        settings.readerPauseMs = 100;
        const RunResult result = runner.run(settings);
        EXPECT_EQ(Verdict::OpenFailed, result.verdict);
        EXPECT_EQ(c.message, result.message);
        EXPECT_TRUE(fake.written().empty());
        EXPECT_EQ(0, layer.portRecord(1).IsOpen);
    }
}

// A stall counts as a hold only once it outlasts what a FIFO or a USB
// packet takes to drain at the rate.
TEST(SenderHoldMeter, CountsOnlyStallsLongerThanTheThreshold)
{
    EXPECT_EQ(20, echotest::holdThresholdMs(115200, 10));
    EXPECT_EQ(2134, echotest::holdThresholdMs(300, 10));
    const struct {
        const char *name;
        std::vector<std::array<int64_t, 3>> samples; // ms, bytes gone, bytes queued
        int64_t heldMs;
        int32_t holds;
    } cases[] = {
        {"DrainingNeverHeld", {{0, 0, 100}, {10, 16, 84}, {20, 32, 68}, {30, 100, 0}}, 0, 0},
        {"ShortStallIsAFifo", {{0, 0, 100}, {5, 16, 84}, {20, 16, 84}, {22, 32, 68}}, 0, 0},
        {"LongStallIsAHold", {{0, 0, 100}, {5, 16, 84}, {50, 16, 84}, {80, 16, 84}, {90, 32, 68}}, 85, 1},
        {"EmptyQueueIsNoStall", {{0, 16, 0}, {100, 16, 0}, {200, 16, 0}}, 0, 0},
        {"StallOpenAtTheEnd", {{0, 0, 100}, {10, 16, 84}, {60, 16, 84}}, 50, 1},
        {"TwoHolds", {{0, 0, 9}, {30, 0, 9}, {31, 5, 4}, {70, 5, 4}, {71, 9, 0}}, 71, 2},
    };
    for (const auto &c : cases) {
        echotest::SenderHoldMeter meter(20);
        for (const auto &[ms, gone, queued] : c.samples)
            meter.sample(ms, gone, queued);
        meter.finish(c.samples.back()[0]);
        EXPECT_EQ(c.heldMs, meter.heldMs()) << c.name;
        EXPECT_EQ(c.holds, meter.holds()) << c.name;
    }
}

TEST_F(EchoRunTest, TheWindowsRunsTouchNoHandshakeLine)
{
    platform.setEcho(true);
    EXPECT_EQ(Verdict::Pass, run().verdict);
    EXPECT_EQ(0u, platform.countOf(CommCall::GetModemLines));
    EXPECT_EQ(0u, platform.countOf(CommCall::SetModemLines));
}

// A system whose writes do not wait: its output queue holds what the test
// says, one answer per look, then nothing.
class QueueingPlatform final : public FakeCommPlatform {
public:
    std::deque<std::uint32_t> queued;

    bool writesWithoutWaiting() const override { return true; }
    bool outputQueued(serial::CommHandle, std::uint32_t &bytes) override
    {
        bytes = queued.empty() ? 0 : queued.front();
        if (!queued.empty())
            queued.pop_front();
        return true;
    }
};

TEST(EchoRunInStepsTest, WritesThatDoNotWaitPauseWhileTheLineStillCarriesMoreThanTwoMilliseconds)
{
    QueueingPlatform platform;
    platform.setEcho(true);
    serial::modCOMM comm{platform};
    WatchedView view;
    SteppingClock clock;
    EchoTestRun engine{comm, view, clock};
    // At 115200 the line carries 23 bytes in 2 ms: more waits, that many goes.
    platform.queued = {0, 24, 40, 23};
    engine.setWaitsItself(false);
    ASSERT_TRUE(engine.begin(settingsAt("115200")));
    std::vector<int32_t> pauses;
    for (echotest::RunWait wait = engine.step(); wait.kind != echotest::RunWait::Kind::Done; wait = engine.step()) {
        if (wait.kind == echotest::RunWait::Kind::Pause)
            pauses.push_back(wait.timeMs);
    }
    const RunResult result = engine.end();

    EXPECT_EQ((std::vector<int32_t>{1, 1}), pauses);
    EXPECT_EQ(Verdict::Pass, result.verdict);
    EXPECT_EQ(pattern(), platform.written());
    EXPECT_EQ(100u, platform.countOf(CommCall::WriteFile));
    EXPECT_FALSE(comm.portRecord(1).IsOpen);
    EXPECT_FALSE(engine.isActive());
}

} // namespace
