// The serial layer on the real kernel32 calls, run under Wine with COM1
// mapped to a virtual echo plug (rebounce-wine-plug) and COM2 left unmapped.
// What Wine cannot show (error 5 for a port held elsewhere, 87 for a rate
// the driver refuses, reads that return at once) is covered by the tests
// over the scripted platform.

#include "serial/modcomm.h"
#include "support/echo_suite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

namespace {

using echosuite::EchoSuite;
using serial::modCOMM;
using Clock = std::chrono::steady_clock;

std::string modeText(int baud) { return "baud=" + std::to_string(baud) + " parity=N data=8 stop=1"; }

// Reads until `count` bytes have come or `limit` has passed.  Under Wine a
// read that asks for more than is queued waits out its whole second, so
// the limit is generous.
std::string collect(modCOMM &comm, std::size_t count, std::chrono::seconds limit = std::chrono::seconds(15))
{
    std::string all;
    const auto end = Clock::now() + limit;
    while (all.size() < count && Clock::now() < end) {
        std::string part;
        if (comm.CommRead(1, part, static_cast<std::int32_t>(count - all.size())) < 0)
            break;
        all += part;
        if (part.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return all;
}

class WineComFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        comm.CommClose(1);
        comm.CommClose(2);
    }
    std::string report()
    {
        std::string text;
        comm.LastErrorReport(text);
        return text;
    }
    modCOMM comm;
};

class WineComPortTest : public WineComFixture, public ::testing::WithParamInterface<int> {};

TEST_P(WineComPortTest, OpensAndConfiguresTheLine)
{
    const int baud = GetParam();
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", modeText(baud))) << report();
    const serial::PortRecord &record = comm.portRecord(1);
    EXPECT_EQ(serial::commTrue, record.IsOpen);
    EXPECT_EQ(static_cast<std::uint32_t>(baud), record.Dcb.baudRate);
    EXPECT_EQ(8, record.Dcb.byteSize);
    EXPECT_EQ(serial::Dcb::NoParity, record.Dcb.parity);
    EXPECT_EQ(serial::Dcb::OneStopBit, record.Dcb.stopBits);
    EXPECT_FALSE(record.Dcb.outX);
    EXPECT_FALSE(record.Dcb.inX);
    EXPECT_FALSE(record.Dcb.outxCtsFlow);
    EXPECT_FALSE(record.Dcb.outxDsrFlow);

    // What the device now runs at, read back from the system, not from the
    // record the layer wrote.
    serial::Dcb applied;
    ASSERT_TRUE(serial::systemCommPlatform().getCommState(record.Handle, applied));
    EXPECT_EQ(static_cast<std::uint32_t>(baud), applied.baudRate);
    EXPECT_EQ(8, applied.byteSize);

    EXPECT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(serial::commFalse, comm.portRecord(1).IsOpen);
}

TEST_P(WineComPortTest, ReadOfAnEmptyQueueReturnsNothingAtOnce)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", modeText(GetParam()))) << report();
    std::string received = "stale";
    const auto start = Clock::now();
    EXPECT_EQ(0, comm.CommRead(1, received, 64));
    EXPECT_TRUE(received.empty());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(950)); // not the read time-out of a second
}

INSTANTIATE_TEST_SUITE_P(Rates, WineComPortTest, ::testing::Values(9600, 115200),
                         [](const auto &info) { return std::to_string(info.param); });

// The echo suite of every far end, on COM1 of the Wine prefix.
class WineCom1 : public echosuite::EchoEnd {
public:
    std::string device() const override { return "COM1"; }
    // Under Wine a read that asks for more than is queued waits its second.
    std::chrono::milliseconds patience() const override { return std::chrono::seconds(15); }
};

INSTANTIATE_TEST_SUITE_P(
    Ends, EchoSuite,
    ::testing::Values(echosuite::EchoCase{"Com1At9600", [] { return std::make_unique<WineCom1>(); }, 9600},
                      echosuite::EchoCase{"Com1At115200", [] { return std::make_unique<WineCom1>(); }, 115200},
                      echosuite::loopbackCase()),
    echosuite::caseName);

// Failures that the real system reports, and the one-line report built
// from them.
using WineComErrorTest = WineComFixture;

TEST_F(WineComErrorTest, UnmappedPortIsFileNotFound)
{
    EXPECT_EQ(2, comm.CommOpen(2, "COM2", modeText(9600)));
    EXPECT_EQ(serial::commFalse, comm.portRecord(2).IsOpen);
    const std::string text = report();
    EXPECT_EQ(0u, text.find("Error (2): CommOpen (CreateFile) - ")) << text;
    // The system's own wording follows; Wine words it differently from Windows.
    EXPECT_GT(text.size(), std::string("Error (2): CommOpen (CreateFile) - ").size()) << text;
    EXPECT_EQ(0, comm.CommClose(2));
    EXPECT_EQ(text, report()); // closing a port that never opened records nothing
}

TEST_F(WineComErrorTest, SecondOpenInThisProgramIsRefusedAndTheFirstKeepsWorking)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", modeText(115200))) << report();
    const serial::CommHandle handle = comm.portRecord(1).Handle;
    EXPECT_EQ(-1, comm.CommOpen(1, "COM1", modeText(115200)));
    EXPECT_EQ("Error (-1): CommOpen - Port in use.", report());
    EXPECT_EQ(handle, comm.portRecord(1).Handle);
    EXPECT_EQ(3, comm.CommWrite(1, "xyz"));
    EXPECT_EQ("xyz", collect(comm, 3));
}

TEST_F(WineComErrorTest, TransfersOnAClosedPortFailWithTheSystemError)
{
    std::string received;
    EXPECT_EQ(-1, comm.CommRead(1, received, 64));
    EXPECT_EQ("CommRead (ClearCommError)", comm.LastErrorSource());
    EXPECT_EQ(6, comm.LastErrorNumber()); // ERROR_INVALID_HANDLE
    EXPECT_FALSE(comm.LastErrorText().empty());

    EXPECT_EQ(-1, comm.CommWrite(1, "A"));
    EXPECT_EQ("CommWrite (WriteFile)", comm.LastErrorSource());
    EXPECT_EQ(6, comm.LastErrorNumber());
    const std::string flags = "  COMM Error Flags = 0";
    const std::string &text = comm.LastErrorText();
    ASSERT_GT(text.size(), flags.size());
    EXPECT_EQ(flags, text.substr(text.size() - flags.size())) << text;
}

TEST_F(WineComErrorTest, UnparsableModeIsRefusedAndThePortStaysOpenUntilClosed)
{
    const std::int32_t result = comm.CommOpen(1, "COM1", "baud=fast parity=N data=8 stop=1");
    EXPECT_NE(0, result);
    EXPECT_EQ("CommOpen (BuildCommDCB)", comm.LastErrorSource()) << report();
    EXPECT_EQ(serial::commTrue, comm.portRecord(1).IsOpen);
    EXPECT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(0, comm.CommOpen(1, "COM1", modeText(9600))) << report();
}

// The system's message texts as the layer receives them.
TEST(WineSystemMessages, KnownNumbersHaveTextAndUnknownOnesNone)
{
    serial::CommPlatform &platform = serial::systemCommPlatform();
    char buffer[256];
    for (std::uint32_t code : {2u, 5u, 87u}) {
        std::fill(std::begin(buffer), std::end(buffer), '\0');
        EXPECT_GT(platform.formatMessage(code, buffer, 255), 0u) << code;
        EXPECT_GT(std::strlen(buffer), 0u) << code;
    }
    std::fill(std::begin(buffer), std::end(buffer), '\0');
    EXPECT_EQ(0u, platform.formatMessage(0x2BADF00Du, buffer, 255));
    EXPECT_EQ('\0', buffer[0]);
}

} // namespace
