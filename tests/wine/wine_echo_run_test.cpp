// A whole echo test run, as the window and the command line drive it, on
// COM1 of Wine mapped to the virtual echo plug: the real serial calls and
// the real multimedia timer together.

#include "echotest/echo_engine.h"
#include "echotest/headless_view.h"
#include "echotest/timer_clock.h"
#include "serial/modcomm.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using echotest::RunLabel;
using echotest::RunResult;

// A view without a screen that keeps the captions the run writes.
echotest::HeadlessView viewFor(const char *port, int baud)
{
    echotest::HeadlessView view;
    view.port = port;
    view.baud = std::to_string(baud);
    return view;
}

class WineEchoRunTest : public ::testing::TestWithParam<int> {};

TEST_P(WineEchoRunTest, PassesOnTheEchoPlug)
{
    serial::modCOMM comm;
    echotest::HeadlessView view = viewFor("1", GetParam());
    echotest::EchoTestRun run(comm, view, echotest::systemTimerClock());
    const RunResult result = run.run();

    EXPECT_EQ(RunResult::Outcome::Pass, result.outcome) << result.message;
    EXPECT_EQ("PASS", view.captions[RunLabel::Label3]);
    EXPECT_EQ(1000, result.sent);
    EXPECT_EQ(1000, result.received);
    EXPECT_EQ("1", view.captions[RunLabel::Label18]);
    EXPECT_EQ("0", view.captions[RunLabel::Label21]);
    EXPECT_EQ("CLOSE", view.captions[RunLabel::Label15]);
    EXPECT_TRUE(view.lastMessage.empty()) << view.lastMessage;
    EXPECT_EQ(echotest::EchoTestRun::expectedText(false), result.receivedText);
    EXPECT_EQ(serial::commFalse, comm.portRecord(1).IsOpen);
}

INSTANTIATE_TEST_SUITE_P(Rates, WineEchoRunTest, ::testing::Values(9600, 115200),
                         [](const auto &info) { return std::to_string(info.param); });

TEST(WineEchoRunFailures, UnmappedPortExplainsTheFailedOpen)
{
    serial::modCOMM comm;
    echotest::HeadlessView view = viewFor("2", 9600);
    echotest::EchoTestRun run(comm, view, echotest::systemTimerClock());
    const RunResult result = run.run();

    EXPECT_EQ(RunResult::Outcome::OpenFailed, result.outcome);
    EXPECT_EQ(2, result.openError);
    EXPECT_EQ("COM2 does not exist!    ", view.lastMessage);
    EXPECT_EQ("0", view.captions[RunLabel::Label18]);
    EXPECT_EQ("0", view.captions[RunLabel::Label21]);
}

} // namespace
