// A device that goes away mid-run and a slow run aborted, on virtual echo
// plugs (pseudo-terminals): the run as a user meets it on a real line.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"
#include "serial/virtual_echo_plug.h"

namespace {

using echotest::EchoTestRun;
using echotest::HeadlessView;
using echotest::RunResult;
using echotest::RunSettings;
using echotest::Verdict;

// The far end hangs up after 100 bytes at 1200 baud: the run fails as soon
// as the line is gone, not after its 9-second time-out, and a run on a
// working line afterwards passes.
TEST(PortLossOnALine, HangUpMidRunFailsAtOnceAndTheNextRunPasses)
{
    serial::EchoPlugOptions options;
    options.hangUpAfter = 100;
    serial::VirtualEchoPlug dying(options);
    ASSERT_TRUE(dying.start()) << dying.errorText();
    serial::modCOMM comm;
    HeadlessView view;
    RunSettings settings;
    settings.plan.sendPort.device = dying.devicePath();
    settings.plan.baud = echotest::readBaudText("1200");
    EchoTestRun engine{comm, view, echotest::systemTimerClock()};

    const auto start = std::chrono::steady_clock::now();
    const RunResult result = engine.run(settings);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Verdict::Fail, result.verdict);
    EXPECT_TRUE(result.portLost);
    // 100 bytes take 0.83 s on the line; the time-out would be 9.3 s.
    EXPECT_LT(took, std::chrono::seconds(4)) << "waited out the time-out on a dead line";
    EXPECT_EQ(0u, view.lastMessage().find(dying.devicePath() + " was disconnected or hung up during the test!"))
        << view.lastMessage();
    EXPECT_NE(std::string::npos, view.lastMessage().find("Error (5): CommRead")) << view.lastMessage();
    EXPECT_EQ(0, comm.portRecord(1).IsOpen);

    serial::VirtualEchoPlug working;
    ASSERT_TRUE(working.start()) << working.errorText();
    settings.plan.sendPort.device = working.devicePath();
    settings.plan.baud = echotest::readBaudText("115200");
    EXPECT_EQ(Verdict::Pass, engine.run(settings).verdict);
}

// Aborting a slow run leaves nothing on the virtual plug's line for the
// runs after it.
TEST(PortLossOnALine, AbortedSlowRunLeavesNothingForTheNextRuns)
{
    serial::VirtualEchoPlug plug;
    ASSERT_TRUE(plug.start()) << plug.errorText();
    serial::modCOMM comm;

    class AbortingView final : public HeadlessView {
    public:
        EchoTestRun *engine = nullptr;
        int yields = 0;
        void yield() override
        {
            if (engine && ++yields == 2000)
                engine->requestAbort(echotest::kUserAbortMessage);
        }
    } view;
    RunSettings settings;
    settings.plan.sendPort.device = plug.devicePath();
    settings.plan.baud = echotest::readBaudText("300");
    EchoTestRun engine{comm, view, echotest::systemTimerClock()};
    comm.setYield([&view] { view.yield(); });
    view.engine = &engine;
    EXPECT_EQ(Verdict::Aborted, engine.run(settings).verdict);

    view.engine = nullptr;
    settings.plan.baud = echotest::readBaudText("115200");
    EXPECT_EQ(Verdict::Pass, engine.run(settings).verdict);
    EXPECT_EQ(Verdict::Pass, engine.run(settings).verdict);
}
} // namespace
