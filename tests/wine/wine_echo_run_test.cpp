// A whole echo test run, as the window and the command line drive it, on
// COM1 of Wine mapped to the virtual echo plug: the real serial calls and
// the real multimedia timer together.

#include "echotest/baud_selection.h"
#include "echotest/echo_engine.h"
#include "echotest/timer_clock.h"
#include "serial/modcomm.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using echotest::RunLabel;
using echotest::RunResult;

// A view without a screen: keeps the captions the run writes.
class QuietView final : public echotest::EchoTestView {
public:
    QuietView(std::string port, int baud, bool lowerCase)
        : port_(std::move(port)), baud_(baud), lowerCase_(lowerCase)
    {
        for (RunLabel counter : {RunLabel::Label18, RunLabel::Label21, RunLabel::Label23, RunLabel::Label25})
            captions[counter].assign(1, '0'); // not = "0": GCC 12 warns falsely (-Wrestrict)
    }

    std::string portText() override { return port_; }
    std::string baudText() override { return std::to_string(baud_); }
    int check1Value() override { return lowerCase_ ? 1 : 0; }
    int32_t minTransmitTime() override { return echotest::minTransmitTime(static_cast<float>(baud_)); }
    std::string caption(RunLabel label) override { return captions[label]; }
    void setCaption(RunLabel label, const std::string &text) override { captions[label] = text; }
    void setColours(RunLabel, uint32_t, uint32_t) override {}
    void setReceivedText(const std::string &) override {}
    void showMessage(const std::string &text, echotest::MessageIcon) override { messages += text; }
    void enterRunningState() override {}
    void leaveRunningState() override {}
    void disableAbortButton() override {}
    void restoreCursor() override {}
    void startLiveDisplay() override {}
    void stopLiveDisplay() override {}
    void disableMove(bool) override {}
    void yield() override {}
    void unload() override {}

    std::map<RunLabel, std::string> captions;
    std::string messages;

private:
    std::string port_;
    int baud_;
    bool lowerCase_;
};

class WineEchoRunTest : public ::testing::TestWithParam<int> {};

TEST_P(WineEchoRunTest, PassesOnTheEchoPlug)
{
    serial::modCOMM comm;
    QuietView view("1", GetParam(), false);
    echotest::EchoTestRun run(comm, view, echotest::systemTimerClock());
    const RunResult result = run.run();

    EXPECT_EQ(RunResult::Outcome::Pass, result.outcome) << result.message;
    EXPECT_EQ("PASS", view.captions[RunLabel::Label3]);
    EXPECT_EQ(1000, result.sent);
    EXPECT_EQ(1000, result.received);
    EXPECT_EQ("1", view.captions[RunLabel::Label18]);
    EXPECT_EQ("0", view.captions[RunLabel::Label21]);
    EXPECT_EQ("CLOSE", view.captions[RunLabel::Label15]);
    EXPECT_TRUE(view.messages.empty()) << view.messages;
    EXPECT_EQ(echotest::EchoTestRun::expectedText(false), result.receivedText);
    EXPECT_EQ(serial::commFalse, comm.portRecord(1).IsOpen);
}

INSTANTIATE_TEST_SUITE_P(Rates, WineEchoRunTest, ::testing::Values(9600, 115200),
                         [](const auto &info) { return std::to_string(info.param); });

TEST(WineEchoRunFailures, UnmappedPortExplainsTheFailedOpen)
{
    serial::modCOMM comm;
    QuietView view("2", 9600, false);
    echotest::EchoTestRun run(comm, view, echotest::systemTimerClock());
    const RunResult result = run.run();

    EXPECT_EQ(RunResult::Outcome::OpenFailed, result.outcome);
    EXPECT_EQ(2, result.openError);
    EXPECT_EQ("COM2 does not exist!    ", view.messages);
    EXPECT_EQ("0", view.captions[RunLabel::Label18]);
    EXPECT_EQ("0", view.captions[RunLabel::Label21]);
}

} // namespace
