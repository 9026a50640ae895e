// A whole echo test run, as the window and the command line drive it, on
// COM1 of Wine mapped to the virtual echo plug: the real serial calls and
// the real multimedia timer together.

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using echotest::RunResult;
using echotest::Verdict;

echotest::RunSettings settingsFor(int16_t port, int baud)
{
    echotest::RunSettings settings;
    settings.plan.sendPort.port = port;
    settings.plan.baud = echotest::readBaudText(std::to_string(baud));
    return settings;
}

class WineEchoRunTest : public ::testing::TestWithParam<int> {};

TEST_P(WineEchoRunTest, PassesOnTheEchoPlug)
{
    serial::modCOMM comm;
    echotest::HeadlessView view;
    echotest::EchoTestRun run(comm, view, echotest::systemTimerClock());
    const RunResult result = run.run(settingsFor(1, GetParam()));

    EXPECT_EQ(Verdict::Pass, result.verdict) << result.message;
    EXPECT_EQ(1000, result.sent);
    EXPECT_EQ(1000, result.received);
    EXPECT_EQ(1, run.tally().passes);
    EXPECT_EQ(0, run.tally().failures);
    EXPECT_FALSE(run.isRunning());
    EXPECT_TRUE(view.messages.empty()) << view.lastMessage();
    EXPECT_EQ(echotest::EchoTestRun::expectedText(false), result.receivedText);
    EXPECT_EQ(serial::commFalse, comm.portRecord(1).IsOpen);
}

INSTANTIATE_TEST_SUITE_P(Rates, WineEchoRunTest, ::testing::Values(9600, 115200),
                         [](const auto &info) { return std::to_string(info.param); });

TEST(WineEchoRunFailures, UnmappedPortExplainsTheFailedOpen)
{
    serial::modCOMM comm;
    echotest::HeadlessView view;
    echotest::EchoTestRun run(comm, view, echotest::systemTimerClock());
    const RunResult result = run.run(settingsFor(2, 9600));

    EXPECT_EQ(Verdict::OpenFailed, result.verdict);
    EXPECT_EQ(2, result.openError.number);
    EXPECT_EQ("COM2 does not exist!    ", view.lastMessage());
    EXPECT_EQ(0, run.tally().passes);
    EXPECT_EQ(0, run.tally().failures);
}

} // namespace
