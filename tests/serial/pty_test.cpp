// The POSIX platform on pseudo-terminals: device names, exclusive open,
// rates, time-outs and a line that goes away.  Never touches a real port.

#include "pty_helpers.h"
#include "serial/modcomm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace serial {
namespace {

using namespace std::chrono_literals;
using serial::testing::ComMapping;
using serial::testing::PtyPair;
using Clock = std::chrono::steady_clock;

const std::string mode9600 = "baud=9600 parity=N data=8 stop=1";

std::string report(const modCOMM &comm)
{
    std::string text;
    comm.LastErrorReport(text);
    return text;
}

class PtyPort : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (std::int16_t port = firstPort; port <= lastPort; ++port)
            comm.CommClose(port);
    }

    PtyPair pty;
    modCOMM comm;
};

struct NameCase {
    const char *name;
    std::string device;   // handed to CommOpen
    std::string mapping;  // value of REBOUNCE_COM2, "" for none, "pty" for the pair
    std::int32_t result;
};

class DeviceName : public PtyPort, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DeviceName, MapsToTheRightDeviceOrReportsItMissing)
{
    const auto &c = GetParam();
    // COM2 without a mapping would be this machine's real port; every case
    // that could reach it maps it somewhere harmless.
    ComMapping com2(2, c.mapping == "pty" ? pty.path() : (c.mapping.empty() ? "/dev/rebounce-none" : c.mapping));
    const std::string device = c.device == "pty" ? pty.path() : c.device;

    EXPECT_EQ(c.result, comm.CommOpen(2, device, mode9600)) << report(comm);
    if (c.result == 2) {
        EXPECT_EQ("Error (2): CommOpen (CreateFile) - The system cannot find the file specified.\r\n", report(comm));
    }
    if (c.result != 0) {
        EXPECT_EQ(0, comm.CommClose(2));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceName,
    ::testing::Values(NameCase{"MappedCom", "COM2", "pty", 0}, NameCase{"LowerCaseCom", "com2", "pty", 0},
                      NameCase{"DeviceNamespace", "\\\\.\\COM2", "pty", 0},
                      NameCase{"PathAsGiven", "pty", "", 0},
                      NameCase{"MappedToNothing", "COM2", "/dev/pts/99999", 2},
                      NameCase{"MissingPath", "/dev/rebounce-no-such-tty", "", 2},
                      NameCase{"NotAComName", "LPT1", "pty", 2}, NameCase{"ComZero", "COM0", "pty", 2},
                      NameCase{"Empty", "", "pty", 2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PtyPort, NonTerminalFailsAtSetup)
{
    EXPECT_EQ(1, comm.CommOpen(1, "/dev/null", mode9600));
    EXPECT_EQ("CommOpen (SetupComm)", comm.LastErrorSource());
    EXPECT_EQ(0, comm.CommClose(1));
}

TEST_F(PtyPort, PortHeldElsewhereIsAccessDenied)
{
    // Another program holding the port: a descriptor of its own with the lock.
    const int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(0, ::flock(other, LOCK_EX | LOCK_NB));

    EXPECT_EQ(5, comm.CommOpen(1, pty.path(), mode9600));
    EXPECT_EQ("Error (5): CommOpen (CreateFile) - Access is denied.\r\n", report(comm));
    EXPECT_EQ(commFalse, comm.portRecord(1).IsOpen);
    ::close(other);
    EXPECT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
}

TEST_F(PtyPort, OpenPortIsExclusiveUntilClosed)
{
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    modCOMM otherProgram;
    EXPECT_EQ(5, otherProgram.CommOpen(1, pty.path(), mode9600));
    EXPECT_EQ(0, otherProgram.CommClose(1));

    ASSERT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(0, otherProgram.CommOpen(1, pty.path(), mode9600)) << report(otherProgram);
    EXPECT_EQ(0, otherProgram.CommClose(1));
}

TEST_F(PtyPort, OpenAndCloseLeakNoDescriptors)
{
    const int before = serial::testing::openDescriptorCount();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
        ASSERT_EQ(0, comm.CommClose(1));
        comm.CommOpen(2, "/dev/rebounce-no-such-tty", mode9600);
        comm.CommClose(2);
    }
    EXPECT_EQ(before, serial::testing::openDescriptorCount());
}

class Rate : public PtyPort, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(Rate, AnyRateFromFortyFiveIsSetAndReadBack)
{
    const std::string mode = "baud=" + std::to_string(GetParam()) + " parity=N data=8 stop=1";
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode)) << report(comm);
    Dcb effective;
    ASSERT_TRUE(systemCommPlatform().getCommState(comm.portRecord(1).Handle, effective));
    EXPECT_EQ(GetParam(), effective.baudRate);
    EXPECT_EQ(8, effective.byteSize);
    EXPECT_EQ(Dcb::NoParity, effective.parity);
    EXPECT_EQ(Dcb::OneStopBit, effective.stopBits);
    EXPECT_FALSE(effective.outX || effective.inX || effective.outxCtsFlow);
}

INSTANTIATE_TEST_SUITE_P(Rates, Rate, ::testing::Values(45u, 110u, 9600u, 31250u, 123457u, 3000000u));

struct BadModeCase {
    const char *name;
    const char *mode;
    const char *source;
};

class BadMode : public PtyPort, public ::testing::WithParamInterface<BadModeCase> {};

TEST_P(BadMode, IsInvalidParameterAndLeavesThePortOpen)
{
    EXPECT_EQ(87, comm.CommOpen(1, pty.path(), GetParam().mode));
    EXPECT_EQ(GetParam().source, comm.LastErrorSource());
    EXPECT_EQ("The parameter is incorrect.\r\n", comm.LastErrorText());
    EXPECT_EQ(commTrue, comm.portRecord(1).IsOpen);
    EXPECT_EQ(0, comm.CommClose(1));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BadMode,
    ::testing::Values(BadModeCase{"Unparsable", "baud=fast parity=N data=8 stop=1", "CommOpen (BuildCommDCB)"},
                      BadModeCase{"ZeroRate", "baud=0 parity=N data=8 stop=1", "CommOpen (SetCommState)"},
                      BadModeCase{"HalfStopAtEightBits", "baud=9600 data=8 stop=1.5", "CommOpen (SetCommState)"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PtyPort, ReadReturnsQueuedBytesAtOnceAndNothingWhenIdle)
{
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    std::string received;
    const auto start = Clock::now();
    EXPECT_EQ(0, comm.CommRead(1, received, 64));
    // A read that waited would take the read time-out, a second.
    EXPECT_LT(Clock::now() - start, 950ms) << "an idle read must not wait";

    ASSERT_EQ(3, ::write(pty.master(), "x\0y", 3));
    received = serial::testing::readFor(comm, 1, 3, 2s);
    EXPECT_EQ(std::string("x\0y", 3), received);
}

TEST_F(PtyPort, SystemReadWaitsUpToASecondForTheFirstByte)
{
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    CommPlatform &platform = systemCommPlatform();
    CommOverlapped overlapped;
    char buffer[64];
    std::uint32_t n = 99;

    auto start = Clock::now();
    ASSERT_TRUE(platform.readFile(comm.portRecord(1).Handle, buffer, 64, n, overlapped));
    const auto idle = Clock::now() - start;
    EXPECT_EQ(0u, n);
    EXPECT_GE(idle, 950ms);
    EXPECT_LT(idle, 3000ms);

    std::thread late([this] {
        std::this_thread::sleep_for(100ms);
        [[maybe_unused]] auto w = ::write(pty.master(), "AB", 2);
    });
    start = Clock::now();
    ASSERT_TRUE(platform.readFile(comm.portRecord(1).Handle, buffer, 64, n, overlapped));
    const auto waited = Clock::now() - start;
    late.join();
    EXPECT_GE(n, 1u) << "returns with the first bytes, not after the whole count";
    EXPECT_LT(waited, 900ms);
}

// A far end that hangs up (an adapter pulled out looks the same to us:
// EIO) ends every transfer as Windows ends it for a removed device, with
// the system's own account kept beside the number.
TEST_F(PtyPort, LineThatGoesAwayFailsEveryTransferAsAccessDenied)
{
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    pty.closeMaster();

    std::string received;
    EXPECT_EQ(-1, comm.CommWrite(1, "ABCDEFGHIJ"));
    EXPECT_EQ(0, comm.LastWriteCount());
    EXPECT_EQ("Error (5): CommWrite (WriteFile) - Access is denied.\r\n  COMM Error Flags = 0", report(comm));
    EXPECT_EQ(SystemCause::Kind::Lost, comm.LastErrorCause().kind);
    EXPECT_EQ(EIO, comm.LastErrorCause().systemError);
    EXPECT_EQ("Input/output error", comm.LastErrorSystemText());

    // Nothing queued and the line gone: a read fails instead of reporting
    // "nothing yet", so that no caller polls a dead line until its time-out.
    EXPECT_EQ(-1, comm.CommRead(1, received, 64));
    EXPECT_EQ(5, comm.LastErrorNumber()) << report(comm);
    EXPECT_EQ("CommRead (ClearCommError)", comm.LastErrorSource());
    EXPECT_EQ(SystemCause::Kind::Lost, comm.LastErrorCause().kind);
    EXPECT_EQ("", received);
    EXPECT_EQ(0, comm.CommClose(1));
}

TEST_F(PtyPort, WaitingForInputEndsAtOnceWhenTheLineHangsUp)
{
    ASSERT_EQ(0, comm.CommOpen(1, pty.path(), mode9600)) << report(comm);
    std::thread farEnd([this] {
        std::this_thread::sleep_for(100ms);
        pty.closeMaster();
    });
    const auto start = Clock::now();
    comm.CommWaitInput(1, 5000);
    const auto waited = Clock::now() - start;
    farEnd.join();
    EXPECT_LT(waited, 2000ms) << "a hung-up line must end the wait";
    std::string received;
    EXPECT_EQ(-1, comm.CommRead(1, received, 64));
    EXPECT_EQ(5, comm.LastErrorNumber());
    EXPECT_EQ(0, comm.CommClose(1));
}

} // namespace
} // namespace serial
