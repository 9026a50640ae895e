// The echo test run against the scripted serial platform and a recording
// view: verdicts, figures, counters, messages, abort and close handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <vector>

#include "echotest/echo_engine.h"
#include "echotest/timer_clock.h"
#include "serial/comm_platform_fake.h"
#include "serial/modcomm.h"

namespace {

using echotest::EchoTestRun;
using echotest::MessageIcon;
using echotest::RunLabel;
using echotest::RunResult;
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

struct Colours {
    uint32_t background;
    uint32_t text;
    friend bool operator==(const Colours &, const Colours &) = default;
};

// Records what the run shows, in order, and answers like the window would.
class RecordingView final : public echotest::EchoTestView {
public:
    std::string port = "1";
    std::string baud = "9600";
    int check1 = 0;
    int32_t minTransmit = 1042;
    std::map<RunLabel, std::string> captions{
        {RunLabel::Label18, "0"}, {RunLabel::Label21, "0"}, {RunLabel::Label23, "0"},
        {RunLabel::Label25, "0"}, {RunLabel::Label15, "CLOSE"}};
    std::map<RunLabel, Colours> colours;
    std::string text2;
    std::vector<std::pair<std::string, MessageIcon>> messages;
    std::vector<std::string> events;
    std::function<void()> onYield;
    bool gone = false;
    int callsAfterGone = 0;

    std::string portText() override { return note(), port; }
    std::string baudText() override { return note(), baud; }
    int check1Value() override { return note(), check1; }
    int32_t minTransmitTime() override { return note(), minTransmit; }
    std::string caption(RunLabel label) override { return note(), captions[label]; }
    void setCaption(RunLabel label, const std::string &text) override
    {
        note();
        captions[label] = text;
    }
    void setColours(RunLabel label, uint32_t background, uint32_t text) override
    {
        note();
        colours[label] = {background, text};
    }
    void setReceivedText(const std::string &text) override
    {
        note();
        text2 = text;
    }
    void showMessage(const std::string &text, MessageIcon icon) override
    {
        note();
        messages.emplace_back(text, icon);
    }
    void enterRunningState() override { event("enter"); }
    void leaveRunningState() override { event("leave"); }
    void disableAbortButton() override { event("abort-off"); }
    void restoreCursor() override { event("cursor"); }
    void startLiveDisplay() override { event("timer1-on"); }
    void stopLiveDisplay() override { event("timer1-off"); }
    void disableMove(bool restore) override { event(restore ? "move-restore" : "move-remove"); }
    void yield() override
    {
        if (onYield)
            onYield();
    }
    void unload() override { event("unload"); }

    bool saw(const std::string &name) const
    {
        return std::find(events.begin(), events.end(), name) != events.end();
    }

private:
    void note()
    {
        if (gone)
            ++callsAfterGone;
    }
    void event(const std::string &name)
    {
        note();
        events.push_back(name);
    }
};

std::string pattern()
{
    return EchoTestRun::expectedText(false);
}

class EchoRunTest : public ::testing::Test {
protected:
    FakeCommPlatform platform;
    serial::modCOMM comm{platform};
    RecordingView view;
    SteppingClock clock;
    EchoTestRun engine{comm, view, clock};

    // The layer yields the same way the run does, as the window wires it.
    EchoRunTest() { comm.setYield([this] { view.yield(); }); }

    bool portHeld() const
    {
        return comm.portRecord(1).IsOpen != 0;
    }
};

TEST_F(EchoRunTest, EchoPlugPasses)
{
    platform.setEcho(true);
    const RunResult result = engine.run();

    EXPECT_EQ(RunResult::Outcome::Pass, result.outcome);
    EXPECT_EQ("1000/1000", view.captions[RunLabel::Label1]);
    EXPECT_EQ("1000/1000", view.captions[RunLabel::Label2]);
    EXPECT_EQ("PASS", view.captions[RunLabel::Label3]);
    EXPECT_EQ((Colours{echotest::Green, echotest::Black}), view.colours[RunLabel::Label3]);
    EXPECT_EQ("1", view.captions[RunLabel::Label18]);
    EXPECT_EQ("0", view.captions[RunLabel::Label21]);
    EXPECT_EQ("1000", view.captions[RunLabel::Label23]);
    EXPECT_EQ("1000", view.captions[RunLabel::Label25]);
    EXPECT_EQ("CLOSE", view.captions[RunLabel::Label15]);
    EXPECT_EQ((Colours{echotest::Black, echotest::White}), view.colours[RunLabel::Label15]);
    EXPECT_EQ(pattern(), view.text2);
    EXPECT_EQ(pattern(), platform.written());
    EXPECT_FALSE(portHeld());
    EXPECT_FALSE(echotest::TestRunning);
    EXPECT_EQ(clock.begins, clock.ends); // the stopwatch was released
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(EchoRunTest, OpensWithTheModeTextAndSendsTenByteChunks)
{
    platform.setEcho(true);
    view.baud = "115200";
    engine.run();

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

TEST_F(EchoRunTest, CountersAccumulateOverRuns)
{
    platform.setEcho(true);
    for (int i = 0; i < 3; ++i)
        engine.run();
    view.check1 = 1; // an upper-case echo now fails
    engine.run();
    EXPECT_EQ("3", view.captions[RunLabel::Label18]);
    EXPECT_EQ("1", view.captions[RunLabel::Label21]);
    EXPECT_EQ("4000", view.captions[RunLabel::Label23]);
    EXPECT_EQ("4000", view.captions[RunLabel::Label25]);
    EXPECT_EQ("FAIL", view.captions[RunLabel::Label3]);
    EXPECT_EQ((Colours{echotest::Red, echotest::White}), view.colours[RunLabel::Label3]);
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

TEST(EchoRunLowerCaseTest, LowerCaseAnswerPassesOnlyWithCheck1)
{
    LowerCaseBoard board;
    serial::modCOMM comm(board);
    RecordingView view;
    SteppingClock clock;
    EchoTestRun engine(comm, view, clock);

    EXPECT_EQ(RunResult::Outcome::Fail, engine.run().outcome);
    view.check1 = 1;
    EXPECT_EQ(RunResult::Outcome::Pass, engine.run().outcome);
    EXPECT_EQ("1", view.captions[RunLabel::Label18]);
    EXPECT_EQ("1", view.captions[RunLabel::Label21]);
}

TEST_F(EchoRunTest, Check1IsReadWhenJudgingNotAtTheStart)
{
    platform.setEcho(true);
    view.check1 = 1;
    view.onYield = [this] { view.check1 = 0; };
    EXPECT_EQ(RunResult::Outcome::Pass, engine.run().outcome);
}

TEST_F(EchoRunTest, SilentPortFailsAfterTheTimeOut)
{
    const RunResult result = engine.run();
    EXPECT_EQ(RunResult::Outcome::Fail, result.outcome);
    EXPECT_EQ(std::max<int64_t>(result.sendMs, 1042) + 100, result.timeoutMs);
    EXPECT_GE(result.lastReadMs, result.timeoutMs);
    EXPECT_EQ("0", view.captions[RunLabel::Label25]);
    EXPECT_EQ("1000", view.captions[RunLabel::Label23]);
    EXPECT_EQ("1", view.captions[RunLabel::Label21]);
    EXPECT_EQ("0/1000", view.captions[RunLabel::Label1]); // nothing came back
    EXPECT_EQ("1000/1000", view.captions[RunLabel::Label2]);
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
    RecordingView view;
    SteppingClock clock;
    EchoTestRun engine(comm, view, clock);
    const RunResult result = engine.run();
    EXPECT_EQ(RunResult::Outcome::Fail, result.outcome);
    EXPECT_EQ(1001, result.received);
    EXPECT_GE(result.lastReadMs, result.timeoutMs); // waited for the time-out
    EXPECT_EQ("1001/1000", view.captions[RunLabel::Label1]);
}

TEST_F(EchoRunTest, LastReadBeforeTheLineTimeShowsLineTimePlusOne)
{
    platform.setEcho(true); // the fake answers at once, long before 1042 ms
    const RunResult result = engine.run();
    EXPECT_EQ("1043 ms", view.captions[RunLabel::Label14]);
    EXPECT_EQ(1043, result.lastReadMs);
    EXPECT_EQ(std::to_string(result.sendMs) + " ms", view.captions[RunLabel::Label6]);
}

TEST_F(EchoRunTest, RateBelow45IsRefusedBeforeOpening)
{
    view.baud = "44";
    const RunResult result = engine.run();
    ASSERT_EQ(1u, view.messages.size());
    EXPECT_EQ("Baud rate too low !    \r\n\r\nThe minimum baud rate is 45.", view.messages[0].first);
    EXPECT_EQ(MessageIcon::Exclamation, view.messages[0].second);
    EXPECT_EQ(0u, platform.countOf(CommCall::CreateFile));
    EXPECT_FALSE(view.saw("enter"));
    EXPECT_EQ(RunResult::Outcome::NotStarted, result.outcome);

    view.baud = "45";
    platform.setEcho(true);
    EXPECT_EQ(RunResult::Outcome::Pass, engine.run().outcome);
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
    view.port = "3";
    view.baud = "1000000";
    platform.script(c.call, CommResult::failure(c.error));
    platform.setMessageText(31, "A device attached to the system is not functioning.\r\n");

    const RunResult result = engine.run();
    EXPECT_EQ(RunResult::Outcome::OpenFailed, result.outcome);
    ASSERT_EQ(1u, view.messages.size());
    if (c.error == 87) {
        // Sixteen lines; the first names the rate and the port.
        const std::string &m = view.messages[0].first;
        EXPECT_EQ(0u, m.find("The baud rate 1000000 is not supported by COM3!\r\n\r\n"
                             "Serial Baud Rates supported by your computer.\r\n"));
        EXPECT_EQ(15, std::count(m.begin(), m.end(), '\n'));
        EXPECT_NE(std::string::npos,
                  m.find("\r\nAt 14.7456 MHz, the maximal baud rate will be: 14745600 Hz / (1 * 16) = 921600"));
    } else {
        EXPECT_EQ(c.expectedMessage, view.messages[0].first);
    }
    EXPECT_EQ(c.icon, view.messages[0].second);
    EXPECT_EQ(0, comm.portRecord(3).IsOpen);
    EXPECT_FALSE(view.saw("enter"));
    EXPECT_EQ("CLOSE", view.captions[RunLabel::Label15]);
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

TEST(OpenFailureMessageTest, FirstMatchingErrorWins)
{
    MessageIcon icon;
    EXPECT_EQ("COM2 does not exist!    ",
              EchoTestRun::openFailureMessage("Error (2): CommOpen (CreateFile) - Error (5):", "COM2", "9600", icon));
    EXPECT_EQ("COM Error: Error (-1): CommOpen - Port in use.",
              EchoTestRun::openFailureMessage("Error (-1): CommOpen - Port in use.", "COM2", "9600", icon));
    EXPECT_EQ(MessageIcon::None, icon);
    // "Error (21):" must not be taken for "Error (2):".
    EXPECT_EQ(0u, EchoTestRun::openFailureMessage("Error (21): x - y", "COM1", "9600", icon).find("COM Error: "));
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

TEST_F(EchoRunTest, AbortClearsTheFiguresAndKeepsTheCounters)
{
    platform.setEcho(true);
    view.baud = "300";
    int yields = 0;
    view.onYield = [&] {
        if (++yields == 25)
            engine.requestAbort(echotest::kUserAbortMessage);
    };
    const RunResult result = engine.run();

    EXPECT_EQ(RunResult::Outcome::Aborted, result.outcome);
    EXPECT_LT(platform.countOf(CommCall::WriteFile), 100u); // the rest was not sent
    EXPECT_EQ("----- ms", view.captions[RunLabel::Label6]);
    EXPECT_EQ("----- ms", view.captions[RunLabel::Label14]);
    EXPECT_EQ("-----", view.captions[RunLabel::Label3]);
    EXPECT_EQ((Colours{echotest::Grey, echotest::Black}), view.colours[RunLabel::Label3]);
    EXPECT_EQ("0/1000", view.captions[RunLabel::Label1]);
    EXPECT_EQ("0/1000", view.captions[RunLabel::Label2]);
    EXPECT_EQ("\r\n\r\n\r\n    THE REBOUNCE TEST WAS ABORTED BY THE USER!", view.text2);
    EXPECT_EQ("0", view.captions[RunLabel::Label18]);
    EXPECT_EQ("0", view.captions[RunLabel::Label21]);
    EXPECT_EQ("0", view.captions[RunLabel::Label23]);
    EXPECT_EQ("0", view.captions[RunLabel::Label25]);
    EXPECT_TRUE(view.saw("cursor"));
    EXPECT_FALSE(portHeld());
    EXPECT_FALSE(view.saw("unload"));
}

TEST_F(EchoRunTest, DeferredCloseUnloadsAfterTheMenuIsRestored)
{
    view.onYield = [&] {
        engine.flags().AbortRequested = true;
        engine.flags().ClosePending = true;
    };
    engine.run();
    const auto restore = std::find(view.events.begin(), view.events.end(), "move-restore");
    const auto unload = std::find(view.events.begin(), view.events.end(), "unload");
    ASSERT_NE(view.events.end(), restore);
    ASSERT_NE(view.events.end(), unload);
    EXPECT_LT(restore, unload);
    EXPECT_FALSE(portHeld());
}

TEST_F(EchoRunTest, ViewGoneMidRunWindsUpWithoutTouchingIt)
{
    view.onYield = [&] {
        if (platform.countOf(CommCall::WriteFile) >= 100) {
            engine.flags().AbortRequested = true;
            engine.flags().ViewGone = true;
            view.gone = true;
        }
    };
    engine.run();
    EXPECT_EQ(0, view.callsAfterGone);
    EXPECT_FALSE(portHeld());
    EXPECT_FALSE(echotest::TestRunning);
    EXPECT_EQ(clock.begins, clock.ends);
}

TEST_F(EchoRunTest, RunStateFlagsAreClearedAtTheStart)
{
    engine.flags().AbortRequested = true; // left by a minimise while idle
    engine.flags().ClosePending = true;
    engine.flags().CloseAttempts = 2;
    platform.setEcho(true);
    EXPECT_EQ(RunResult::Outcome::Pass, engine.run().outcome);
    EXPECT_EQ(0, engine.flags().CloseAttempts);
    EXPECT_FALSE(view.saw("unload"));
}

TEST(ParseBaudTest, ReadsTheRateTextAsAWholeNumber)
{
    int32_t baud = 0;
    EXPECT_TRUE(EchoTestRun::parseBaud("9600", baud));
    EXPECT_EQ(9600, baud);
    EXPECT_TRUE(EchoTestRun::parseBaud("-5", baud));
    EXPECT_EQ(-5, baud);
    EXPECT_TRUE(EchoTestRun::parseBaud("44.5", baud)); // halves to even
    EXPECT_EQ(44, baud);
    EXPECT_TRUE(EchoTestRun::parseBaud("9e99", baud));
    EXPECT_EQ(INT32_MAX, baud);
    EXPECT_FALSE(EchoTestRun::parseBaud("12a", baud));
    EXPECT_FALSE(EchoTestRun::parseBaud("", baud));
}

TEST(OpenFailureMessageTest, NamesTheDeviceItWasGiven)
{
    MessageIcon icon;
    EXPECT_EQ("/dev/ttyUSB0 does not exist!    ",
              EchoTestRun::openFailureMessage("Error (2): CommOpen (CreateFile) - x", "/dev/ttyUSB0", "9600", icon));
    EXPECT_EQ("COM12 already open!    \r\n(In use by another program).",
              EchoTestRun::openFailureMessage("Error (5): CommOpen (CreateFile) - x", "COM12", "9600", icon));
    EXPECT_EQ(0u, EchoTestRun::openFailureMessage("Error (87): CommOpen (SetCommState) - x", "/dev/ttyACM0", "7", icon)
                      .find("The baud rate 7 is not supported by /dev/ttyACM0!\r\n"));
}

} // namespace
