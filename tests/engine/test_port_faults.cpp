// Port faults as the run reports them: a device that goes away mid-run, and
// open failures whose real cause the serial layer knows (on Linux).  Driven
// through the engine's public face with the headless view on the fake
// platform; test_port_faults_pty.cpp does the same on virtual echo plugs.

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "engine/echo_engine.h"
#include "engine/headless_view.h"
#include "engine/port_fault_messages.h"
#include "engine/timer_clock.h"
#include "serial/modcomm.h"
#include "support/comm_platform_fake.h"

namespace {

using echotest::EchoTestRun;
using echotest::HeadlessView;
using echotest::RunSettings;
using echotest::RunStage;
using echotest::Verdict;
using echotest::RunResult;
using serial::CommCall;
using serial::CommResult;
using serial::FakeCommPlatform;
using serial::SystemCause;

serial::SystemCause lostCause(const std::string &path, const std::string &text)
{
    SystemCause cause;
    cause.kind = SystemCause::Kind::Lost;
    cause.systemError = 5;
    cause.systemText = text;
    cause.devicePath = path;
    return cause;
}

struct LossCase {
    const char *name;
    CommCall failing;
    int successesBefore;   // calls of that kind that succeed first
    std::uint32_t error;
    std::uint32_t acceptedByFailingWrite;
    bool lost;             // the run ends at once with the message
    int expectedSent;
    const char *reportTail; // after "Error (n): "
    friend void PrintTo(const LossCase &c, std::ostream *os) { *os << c.name; }
};

class PortLossTest : public ::testing::TestWithParam<LossCase> {
protected:
    PortLossTest() { settings.plan.baud = echotest::readBaudText("115200"); }
    RunSettings settings;
    FakeCommPlatform platform;
    serial::modCOMM comm{platform};
    HeadlessView view;
    EchoTestRun engine{comm, view, echotest::systemTimerClock()};
};

TEST_P(PortLossTest, EndsTheRunAtOnceAsAFailNamingTheFault)
{
    const LossCase &c = GetParam();
    platform.setEcho(c.failing != CommCall::ClearCommError);
    for (int i = 0; i < c.successesBefore; ++i)
        platform.script(c.failing, CommResult::success());
    platform.script(c.failing, CommResult::failure(c.error, c.acceptedByFailingWrite));
    platform.setFailureCause(lostCause("/dev/ttyUSB0", "Input/output error"));

    const auto start = std::chrono::steady_clock::now();
    const RunResult result = engine.run(settings);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(Verdict::Fail, result.verdict);
    EXPECT_EQ(1, engine.tally().failures);
    EXPECT_EQ(RunStage::Closed, view.stages.at(view.stages.size() - 2));
    EXPECT_EQ(0, comm.portRecord(1).IsOpen) << "the port must be closed";
    EXPECT_EQ(c.expectedSent, result.sent) << "only bytes the system accepted count as sent";
    EXPECT_EQ(c.expectedSent, engine.tally().bytesSent);
    EXPECT_EQ(c.lost, result.portLost);
    if (c.lost) {
        EXPECT_EQ(std::string("COM1 (/dev/ttyUSB0) was disconnected or hung up during the test!    \r\n") +
                      "Error (" + std::to_string(c.error) + "): " + c.reportTail + "\r\n(Input/output error)",
                  view.lastMessage());
        EXPECT_LT(took, std::chrono::milliseconds(150)) << "waited for the time-out on a dead line";
        if (c.failing == CommCall::WriteFile) {
            EXPECT_EQ(static_cast<std::size_t>(c.successesBefore + 1), platform.countOf(CommCall::WriteFile))
                << "sent on after the device was gone";
        }
    } else {
        EXPECT_EQ("", view.lastMessage());
    }

    // The next run, with the device back, works.
    platform.setEcho(true);
    platform.setFailureCause({});
    EXPECT_EQ(Verdict::Pass, engine.run(settings).verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PortLossTest,
    ::testing::Values(
        LossCase{"UnpluggedWhileWriting", CommCall::WriteFile, 9, 5, 4, true, 94,
                 "CommWrite (WriteFile) - Access is denied.\r\n  COMM Error Flags = 0"},
        LossCase{"UnpluggedWhileWaitingForTheEcho", CommCall::ClearCommError, 101, 22, 0, true, 1000,
                 "CommRead (ClearCommError) - The device does not recognize the command."},
        // The fourth pass's read finds the line gone: no more is sent.
        LossCase{"NotConnectedWhileReading", CommCall::ReadFile, 3, 1167, 0, true, 40,
                 "CommRead (ReadFile) - The device is not connected.\r\n  COMM Error Flags = 0"},
        // A write time-out is no loss: the run goes on and judges what came.
        LossCase{"WriteTimedOut", CommCall::WriteFile, 9, 1121, 4, false, 994, ""}),
    [](const auto &info) { return std::string(info.param.name); });

struct CauseCase {
    const char *name;
    SystemCause cause;
    std::string deviceName; // as the run opened it
    std::string expected;
    friend void PrintTo(const CauseCase &c, std::ostream *os) { *os << c.name; }
};

SystemCause causeOf(SystemCause::Kind kind, const std::string &path, const std::string &text = {})
{
    SystemCause cause;
    cause.kind = kind;
    cause.devicePath = path;
    cause.systemText = text;
    return cause;
}

SystemCause permission(const std::string &group, bool root)
{
    SystemCause cause = causeOf(SystemCause::Kind::Permission, "/dev/ttyUSB0", "Permission denied");
    cause.ownerGroup = group;
    cause.ownerGroupIsRoot = root;
    return cause;
}

SystemCause heldBy(const std::string &program, std::int64_t pid)
{
    SystemCause cause = causeOf(SystemCause::Kind::Held, "/dev/ttyUSB0");
    cause.holderProgram = program;
    cause.holderPid = pid;
    return cause;
}

class OpenCauseTest : public ::testing::TestWithParam<CauseCase> {};

TEST_P(OpenCauseTest, NamesTheDeviceAndTheRealCause)
{
    const CauseCase &c = GetParam();
    EXPECT_EQ(c.expected, echotest::openCauseMessage(c.cause, {"COM1", c.deviceName}));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenCauseTest,
    ::testing::Values(
        CauseCase{"PermissionWithGroup", permission("dialout", false), "COM1",
                  "No permission to open COM1 (/dev/ttyUSB0)!    \r\n(Permission denied.)\r\n\r\n"
                  "The device belongs to the group dialout. Add your user to it:\r\n"
                  "    sudo usermod -aG dialout $USER\r\nthen log out and log in again."},
        CauseCase{"PermissionRootOnly", permission("root", true), "/dev/ttyUSB0",
                  "No permission to open /dev/ttyUSB0!    \r\n(Permission denied.)\r\n\r\n"
                  "Only root may open this device as it is set up; ask the administrator for access."},
        CauseCase{"HeldByANamedProgram", heldBy("minicom", 4321), "COM1",
                  "COM1 already open!    \r\n(In use by another program: minicom, pid 4321)."},
        // Nothing known of the holder: the window's own message stands.
        CauseCase{"HeldBySomeone", heldBy("", 0), "COM1", ""},
        CauseCase{"NotATerminal", causeOf(SystemCause::Kind::NotSerial, "/dev/urandom", "Inappropriate ioctl for device"),
                  "/dev/urandom", "/dev/urandom is not a serial port!    \r\n(Inappropriate ioctl for device)"},
        CauseCase{"RegularFile", causeOf(SystemCause::Kind::RegularFile, "/home/u/notes.txt"), "COM1",
                  "COM1 (/home/u/notes.txt) is a regular file, not a serial port!    "},
        CauseCase{"Directory", causeOf(SystemCause::Kind::Directory, "/dev"), "COM1",
                  "COM1 (/dev) is a directory, not a serial port!    "},
        CauseCase{"NothingMore", causeOf(SystemCause::Kind::None, "/dev/ttyFX0", "Input/output error"), "COM1", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// The run shows the cause's message instead of the number's, and adds the
// system's words to a bare error report.
TEST(OpenCauseRunTest, TheRunChoosesTheCauseOverTheNumber)
{
    FakeCommPlatform platform;
    serial::modCOMM comm{platform};
    HeadlessView view;
    EchoTestRun engine{comm, view, echotest::systemTimerClock()};
    const RunSettings settings;

    platform.script(CommCall::CreateFile, CommResult::failure(5));
    platform.setFailureCause(permission("dialout", false));
    EXPECT_EQ(Verdict::OpenFailed, engine.run(settings).verdict);
    EXPECT_EQ(0u, view.lastMessage().find("No permission to open COM1 (/dev/ttyUSB0)!")) << view.lastMessage();

    platform.script(CommCall::CreateFile, CommResult::failure(31));
    platform.setFailureCause(causeOf(SystemCause::Kind::None, "", "Input/output error"));
    EXPECT_EQ(Verdict::OpenFailed, engine.run(settings).verdict);
    EXPECT_EQ("COM Error: Error (31): CommOpen (CreateFile) - A device attached to the system is not "
              "functioning.\r\n(Input/output error)",
              view.lastMessage());

    platform.script(CommCall::CreateFile, CommResult::failure(5));
    platform.setFailureCause({});
    EXPECT_EQ(Verdict::OpenFailed, engine.run(settings).verdict);
    EXPECT_EQ("COM1 already open!    \r\n(In use by another program).", view.lastMessage());
}

} // namespace
