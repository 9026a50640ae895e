// modCOMM against the scripted platform: every failure path with its exact
// source, number and report, and the arguments the layer hands the system.

#include "serial/comm_mode.h"
#include "support/comm_platform_fake.h"
#include "serial/modcomm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace serial {
namespace {

const std::string mode9600 = "baud=9600 parity=N data=8 stop=1";

class ModCommFake : public ::testing::Test {
protected:
    ModCommFake()
    {
        comm.setYield([this] { ++yields; });
    }

    std::string report() const
    {
        std::string text;
        comm.LastErrorReport(text);
        return text;
    }

    FakeCommPlatform fake;
    modCOMM comm{fake};
    int yields = 0;
};

// --- open ------------------------------------------------------------------

struct OpenStepCase {
    const char *name;
    CommCall failing;
    std::uint32_t error;
    const char *source;
    bool leavesOpen;
};

class OpenStepFailure : public ModCommFake, public ::testing::WithParamInterface<OpenStepCase> {};

TEST_P(OpenStepFailure, StopsAtTheStepAndRecordsIt)
{
    const auto &c = GetParam();
    fake.script(c.failing, CommResult::failure(c.error));

    EXPECT_EQ(static_cast<std::int32_t>(c.error), comm.CommOpen(1, "COM1", mode9600));
    EXPECT_EQ(static_cast<std::int32_t>(c.error), comm.LastErrorNumber());
    EXPECT_EQ(c.source, comm.LastErrorSource());
    EXPECT_EQ(windowsErrorText(c.error), comm.LastErrorText());
    EXPECT_EQ(c.leavesOpen ? commTrue : commFalse, comm.portRecord(1).IsOpen);
    EXPECT_EQ(CommCall::CreateFile, fake.calls().front().call);
    EXPECT_EQ(c.failing, fake.calls().back().call) << "no step after the failing one may run";
    EXPECT_EQ("Error (" + std::to_string(c.error) + "): " + c.source + " - " + windowsErrorText(c.error), report());

    // Every failure except the refusal must be closable, and closing frees the device.
    EXPECT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(c.leavesOpen ? 1u : 0u, fake.countOf(CommCall::CloseHandle));
    EXPECT_EQ(commFalse, comm.portRecord(1).IsOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenStepFailure,
    ::testing::Values(
        OpenStepCase{"MissingDevice", CommCall::CreateFile, 2, "CommOpen (CreateFile)", false},
        OpenStepCase{"HeldElsewhere", CommCall::CreateFile, 5, "CommOpen (CreateFile)", false},
        OpenStepCase{"SetupComm", CommCall::SetupComm, 87, "CommOpen (SetupComm)", true},
        OpenStepCase{"PurgeComm", CommCall::PurgeComm, 6, "CommOpen (PurgeComm)", true},
        OpenStepCase{"SetCommTimeouts", CommCall::SetCommTimeouts, 31, "CommOpen (SetCommTimeouts)", true},
        OpenStepCase{"GetCommState", CommCall::GetCommState, 1117, "CommOpen (GetCommState)", true},
        OpenStepCase{"BuildCommDcb", CommCall::BuildCommDcb, 87, "CommOpen (BuildCommDCB)", true},
        OpenStepCase{"RateRefused", CommCall::SetCommState, 87, "CommOpen (SetCommState)", true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModCommFake, OpenHandsTheSystemTheFixedSettings)
{
    ASSERT_EQ(0, comm.CommOpen(2, "COM2", "baud=115200 parity=N data=8 stop=1"));

    const auto create = fake.callsOf(CommCall::CreateFile);
    ASSERT_EQ(1u, create.size());
    EXPECT_EQ("COM2", create[0].text);
    const auto setup = fake.callsOf(CommCall::SetupComm);
    ASSERT_EQ(1u, setup.size());
    EXPECT_EQ(1024u, setup[0].count);
    EXPECT_EQ("1024", setup[0].text);
    EXPECT_EQ(15u, fake.callsOf(CommCall::PurgeComm).at(0).count);
    EXPECT_EQ((CommTimeouts{0xFFFFFFFFu, 0, 1000, 1000, 0}), fake.lastTimeouts());

    const Dcb &dcb = comm.portRecord(2).Dcb;
    EXPECT_EQ(115200u, dcb.baudRate);
    EXPECT_EQ(8, dcb.byteSize);
    EXPECT_EQ(Dcb::NoParity, dcb.parity);
    EXPECT_EQ(Dcb::OneStopBit, dcb.stopBits);
    EXPECT_FALSE(dcb.outX || dcb.inX || dcb.outxCtsFlow || dcb.outxDsrFlow);
    EXPECT_EQ(dcb, fake.appliedDcb());
    EXPECT_EQ(commTrue, comm.portRecord(2).IsOpen);
    EXPECT_TRUE(fake.isOpenHandle(comm.portRecord(2).Handle));
}

// A frame the driver refuses, or takes and then runs otherwise, fails the
// open with 87 and says so; it never runs on as another frame.
TEST_F(ModCommFake, AFrameIsAppliedOrRefusedNeverRunOtherwise)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", "baud=9600 parity=E data=7 stop=2 octs=on rts=hs"));
    EXPECT_EQ(7, fake.appliedDcb().byteSize);
    EXPECT_EQ(Dcb::EvenParity, fake.appliedDcb().parity);
    EXPECT_EQ(Dcb::TwoStopBits, fake.appliedDcb().stopBits);
    EXPECT_TRUE(fake.appliedDcb().outxCtsFlow);
    ASSERT_EQ(0, comm.CommClose(1));

    struct Case {
        const char *mode;
        bool refuse; // else the driver runs 8N1 instead
        const char *said;
    };
    const Case cases[] = {
        {"baud=9600 parity=M data=7 stop=1", true, "asked for 7M1, the driver refused it"},
        {"baud=9600 parity=E data=7 stop=1", false, "asked for 7E1, the driver runs 8N1"},
        {"baud=9600 parity=O data=8 stop=2 xon=on", false, "asked for 8O2 xonxoff, the driver runs 8N2 xonxoff"},
    };
    for (const Case &c : cases) {
        FakeCommPlatform driver;
        modCOMM layer{driver};
        if (c.refuse)
            driver.refuseFrame(7, Dcb::MarkParity);
        else
            driver.runFrame(8, Dcb::NoParity);
        EXPECT_EQ(87, layer.CommOpen(1, "COM1", c.mode)) << c.mode;
        EXPECT_EQ("CommOpen (SetCommState)", layer.LastErrorSource()) << c.mode;
        EXPECT_EQ(SystemCause::Kind::FrameRefused, layer.LastErrorCause().kind) << c.mode;
        EXPECT_EQ(c.said, layer.LastErrorCause().systemText) << c.mode;
        EXPECT_EQ(0, layer.CommClose(1));
    }

    // A rate the driver refuses stays a refused rate, whatever the frame.
    fake.refuseFrame(0, 0);
    fake.script(CommCall::SetCommState, {CommResult::failure(87), CommResult::failure(87)});
    EXPECT_EQ(87, comm.CommOpen(1, "COM1", "baud=9600 parity=E data=7 stop=1"));
    EXPECT_EQ(SystemCause::Kind::None, comm.LastErrorCause().kind);
}

// RS-485: on where the driver has the mode, until the port closes; refused
// with 1 where it has none; never on a port that is not open.
TEST_F(ModCommFake, Rs485IsSetWhereTheDriverHasItAndGoesAtClose)
{
    const Rs485Mode mode{true, false, 2, 3};
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    EXPECT_EQ(1, comm.CommSetRs485(1, mode));
    EXPECT_EQ("CommSetRs485", comm.LastErrorSource());
    EXPECT_FALSE(fake.rs485Mode());

    fake.setRs485Support(true);
    EXPECT_EQ(0, comm.CommSetRs485(1, mode));
    EXPECT_EQ(mode, fake.rs485Mode().value_or(Rs485Mode{}));
    ASSERT_EQ(0, comm.CommClose(1));
    EXPECT_FALSE(fake.rs485Mode()) << "the driver's setting must come back at close";
    EXPECT_EQ(6, comm.CommSetRs485(1, mode));
    EXPECT_EQ(9, comm.CommSetRs485(5, mode));
}

// Parity and framing errors the driver reports during reads are counted.
TEST_F(ModCommFake, ParityAndFramingErrorsAreCounted)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", "baud=9600 parity=E data=7 stop=1"));
    std::string received;
    fake.setLineErrors(commflags::rxParity);
    comm.CommRead(1, received, 1);
    fake.setLineErrors(commflags::rxParity | commflags::frame);
    comm.CommRead(1, received, 1);
    const LineErrorCounts counts = comm.lineErrorCounts(1);
    EXPECT_EQ(2u, counts.parity);
    EXPECT_EQ(1u, counts.framing);
    EXPECT_EQ(commflags::rxParity | commflags::frame, comm.lineErrorsSeen(1));
}

TEST_F(ModCommFake, SecondOpenIsRefusedAndKeepsTheHandle)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    const CommHandle handle = comm.portRecord(1).Handle;
    fake.clearCalls();

    EXPECT_EQ(-1, comm.CommOpen(1, "COM1", mode9600));
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(handle, comm.portRecord(1).Handle);
    EXPECT_TRUE(fake.isOpenHandle(handle));
    std::string text;
    EXPECT_EQ(-1, comm.LastErrorReport(text));
    EXPECT_EQ("Error (-1): CommOpen - Port in use.", text);
}

TEST_F(ModCommFake, SuccessLeavesTheLastErrorAsItWas)
{
    fake.addMissingDevice("COM3");
    ASSERT_EQ(2, comm.CommOpen(3, "COM3", mode9600));
    const std::string before = report();

    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    ASSERT_EQ(0, comm.CommClose(1));
    ASSERT_EQ(0, comm.CommClose(4)); // never opened
    EXPECT_EQ(before, report());
    EXPECT_EQ(commFalse, comm.portRecord(3).IsOpen);
    EXPECT_EQ(invalidCommHandle, comm.portRecord(3).Handle) << "a failed create keeps the invalid handle";
}

TEST_F(ModCommFake, CloseFailureKeepsThePortOpen)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    fake.script(CommCall::CloseHandle, CommResult::failure(6));

    EXPECT_EQ(6, comm.CommClose(1));
    EXPECT_EQ("CommClose (CloseHandle)", comm.LastErrorSource());
    EXPECT_EQ(commTrue, comm.portRecord(1).IsOpen);
    EXPECT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(commFalse, comm.portRecord(1).IsOpen);
}

TEST_F(ModCommFake, CloseKeepsTheStaleHandleInTheRecord)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    const CommHandle handle = comm.portRecord(1).Handle;
    ASSERT_EQ(0, comm.CommClose(1));
    EXPECT_EQ(handle, comm.portRecord(1).Handle);
}

// --- ports outside 1..4 ------------------------------------------------------

struct RangeCase {
    const char *name;
    std::int16_t port;
};

class PortOutOfRange : public ModCommFake, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(PortOutOfRange, EveryOperationReportsNumberNine)
{
    const std::int16_t port = GetParam().port;
    std::string received = "stale";

    EXPECT_EQ(9, comm.CommOpen(port, "COM1", mode9600));
    EXPECT_EQ("CommOpen", comm.LastErrorSource());
    EXPECT_EQ(9, comm.CommClose(port));
    EXPECT_EQ("CommClose", comm.LastErrorSource());
    EXPECT_EQ(-1, comm.CommRead(port, received, 64));
    EXPECT_EQ("CommRead", comm.LastErrorSource());
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(9, comm.LastErrorNumber());
    EXPECT_EQ(-1, comm.CommWrite(port, "ABCDEFGHIJ"));
    EXPECT_EQ("CommWrite", comm.LastErrorSource());
    EXPECT_EQ(9, comm.LastErrorNumber());
    EXPECT_FALSE(comm.LastErrorText().empty());
    EXPECT_TRUE(fake.calls().empty()) << "a bad port number must never reach the system";
    comm.CommWaitInput(port, 10);
}

INSTANTIATE_TEST_SUITE_P(Ports, PortOutOfRange,
                         ::testing::Values(RangeCase{"Zero", 0}, RangeCase{"Five", 5}, RangeCase{"Negative", -1},
                                           RangeCase{"Largest", 32767}),
                         [](const auto &info) { return std::string(info.param.name); });

// --- read ------------------------------------------------------------------

TEST_F(ModCommFake, ReadWithNothingQueuedYieldsAndSkipsReadFile)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    yields = 0;
    std::string received = "stale";

    EXPECT_EQ(0, comm.CommRead(1, received, 64));
    EXPECT_EQ("", received);
    EXPECT_EQ(1, yields);
    EXPECT_EQ(0u, fake.countOf(CommCall::ReadFile));
}

struct ReadCountCase {
    const char *name;
    std::size_t queued;
    std::int32_t wanted;
    std::uint32_t asked;
};

class ReadCount : public ModCommFake, public ::testing::WithParamInterface<ReadCountCase> {};

TEST_P(ReadCount, AsksForTheLargerOfQueuedAndWantedUpToTheBuffer)
{
    const auto &c = GetParam();
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    std::string queued(c.queued, '\0');
    for (std::size_t i = 0; i < queued.size(); ++i)
        queued[i] = static_cast<char>(i * 7); // NULs and high bytes included
    fake.feedInput(queued);
    std::string received;

    const auto expected = std::min<std::size_t>(c.queued, 1024);
    EXPECT_EQ(static_cast<std::int32_t>(expected), comm.CommRead(1, received, c.wanted));
    EXPECT_EQ(c.asked, fake.callsOf(CommCall::ReadFile).at(0).count);
    EXPECT_EQ(queued.substr(0, expected), received);
}

INSTANTIATE_TEST_SUITE_P(Counts, ReadCount,
                         ::testing::Values(ReadCountCase{"FewQueued", 10, 64, 64},
                                           ReadCountCase{"MoreQueued", 200, 64, 200},
                                           ReadCountCase{"OverBuffer", 2000, 64, 1024},
                                           ReadCountCase{"WantedOverBuffer", 5, 5000, 1024},
                                           ReadCountCase{"NegativeWanted", 3, -8, 3}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModCommFake, ReadWaitsThroughIncompleteResults)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    fake.feedInput("ABCDEFGHIJ");
    fake.script(CommCall::ReadFile, CommResult::failure(997));
    fake.script(CommCall::GetOverlappedResult,
                {CommResult::failure(996), CommResult::failure(996), CommResult::success(7)});
    std::string received;

    EXPECT_EQ(7, comm.CommRead(1, received, 64));
    EXPECT_EQ("ABCDEFG", received);
    EXPECT_EQ(3u, fake.countOf(CommCall::GetOverlappedResult));
    EXPECT_EQ(1u, fake.callsOf(CommCall::GetOverlappedResult).at(0).count) << "waits";
}

TEST_F(ModCommFake, ReportedCountBeyondTheRequestIsCut)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    fake.feedInput("ABC");
    fake.script(CommCall::ReadFile, CommResult::success(5000));
    std::string received;
    EXPECT_EQ(64, comm.CommRead(1, received, 64));
    EXPECT_EQ(64u, received.size());
}

struct TransferFailureCase {
    const char *name;
    bool isRead;
    std::vector<std::pair<CommCall, CommResult>> script;
    std::uint32_t lineErrors;
    std::int32_t number;
    const char *source;
    const char *flagsText; // nullptr: recorded without flags
};

class TransferFailure : public ModCommFake, public ::testing::WithParamInterface<TransferFailureCase> {};

TEST_P(TransferFailure, RecordsSourceTextAndFlags)
{
    const auto &c = GetParam();
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    fake.feedInput("ABCDEFGHIJ");
    for (const auto &[call, result] : c.script)
        fake.script(call, result);
    fake.setTransferLineErrors(c.lineErrors);

    std::string received = "stale";
    const auto result = c.isRead ? comm.CommRead(1, received, 64) : comm.CommWrite(1, "ABCDEFGHIJ");

    EXPECT_EQ(-1, result);
    if (c.isRead) {
        EXPECT_EQ("", received);
    }
    EXPECT_EQ(c.number, comm.LastErrorNumber());
    EXPECT_EQ(c.source, comm.LastErrorSource());
    const std::string text = windowsErrorText(static_cast<std::uint32_t>(c.number)) +
        (c.flagsText ? std::string("  COMM Error Flags = ") + c.flagsText : "");
    EXPECT_EQ(text, comm.LastErrorText());
    EXPECT_EQ("Error (" + std::to_string(c.number) + "): " + c.source + " - " + text, report());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TransferFailure,
    ::testing::Values(
        TransferFailureCase{"ReadClearCommError", true, {{CommCall::ClearCommError, CommResult::failure(6)}},
                            0, 6, "CommRead (ClearCommError)", nullptr},
        TransferFailureCase{"ReadFile", true, {{CommCall::ReadFile, CommResult::failure(31)}},
                            0x1A, 31, "CommRead (ReadFile)", "1A"},
        TransferFailureCase{"ReadOverlapped", true,
                            {{CommCall::ReadFile, CommResult::failure(997)},
                             {CommCall::GetOverlappedResult, CommResult::failure(996)},
                             {CommCall::GetOverlappedResult, CommResult::failure(995)}},
                            0x2, 995, "CommRead (GetOverlappedResult)", "2"},
        TransferFailureCase{"ReadFlagsUnreadable", true,
                            {{CommCall::ReadFile, CommResult::failure(1117)},
                             {CommCall::ClearCommError, CommResult::success()},
                             {CommCall::ClearCommError, CommResult::failure(6)}},
                            0x8, 1117, "CommRead (ReadFile)", "0"},
        TransferFailureCase{"WriteFile", false, {{CommCall::WriteFile, CommResult::failure(1121)}},
                            0x10, 1121, "CommWrite (WriteFile)", "10"},
        TransferFailureCase{"WriteOverlapped", false,
                            {{CommCall::WriteFile, CommResult::failure(997)},
                             {CommCall::GetOverlappedResult, CommResult::failure(996)},
                             {CommCall::GetOverlappedResult, CommResult::failure(22)}},
                            0x1F, 22, "CommWrite (GetOverlappedResult)", "1F"},
        TransferFailureCase{"UnknownNumber", false, {{CommCall::WriteFile, CommResult::failure(424242)}},
                            0, 424242, "CommWrite (WriteFile)", "0"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModCommFake, TransfersOnAClosedPortFailAsInvalidHandle)
{
    std::string received;
    EXPECT_EQ(-1, comm.CommRead(1, received, 64));
    EXPECT_EQ("Error (6): CommRead (ClearCommError) - The handle is invalid.\r\n", report());
    EXPECT_EQ(-1, comm.CommWrite(1, "A"));
    EXPECT_EQ("Error (6): CommWrite (WriteFile) - The handle is invalid.\r\n  COMM Error Flags = 0", report());
}

TEST_F(ModCommFake, TransfersAfterCloseNeverReachTheOldHandle)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    const CommHandle old = comm.portRecord(1).Handle;
    ASSERT_EQ(0, comm.CommClose(1));
    fake.clearCalls();

    std::string received;
    EXPECT_EQ(-1, comm.CommRead(1, received, 64));
    EXPECT_EQ(-1, comm.CommWrite(1, "A"));
    for (const auto &call : fake.calls())
        EXPECT_NE(old, call.handle) << commCallName(call.call);
}

// --- write -----------------------------------------------------------------

TEST_F(ModCommFake, WriteYieldsElevenTimesAndReturnsTheCount)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    yields = 0;
    EXPECT_EQ(10, comm.CommWrite(1, "ABCDEFGHIJ"));
    EXPECT_EQ(11, yields);
    EXPECT_EQ("ABCDEFGHIJ", fake.written());
}

TEST_F(ModCommFake, WritePendingThenComplete)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    fake.script(CommCall::WriteFile, CommResult::failure(997));
    fake.script(CommCall::GetOverlappedResult, {CommResult::failure(996), CommResult::success(8)});
    yields = 0;
    EXPECT_EQ(8, comm.CommWrite(1, "ABCDEFGHIJ"));
    EXPECT_EQ(11, yields);
    EXPECT_EQ("ABCDEFGH", fake.written());
}

TEST_F(ModCommFake, WriteFailingWithoutCodeReturnsItsCountUnrecorded)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    const std::string before = report();
    fake.script(CommCall::WriteFile, CommResult::failure(0, 4));
    yields = 0;
    EXPECT_EQ(4, comm.CommWrite(1, "ABCDEFGHIJ"));
    EXPECT_EQ(1, yields);
    EXPECT_EQ(before, report());
}

TEST_F(ModCommFake, EmptyWriteSendsZeroBytes)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    EXPECT_EQ(0, comm.CommWrite(1, ""));
    EXPECT_EQ(0u, fake.callsOf(CommCall::WriteFile).at(0).count);
}

TEST_F(ModCommFake, WriteErrorIsTheOneOfTheCallNotOfTheYield)
{
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    fake.script(CommCall::WriteFile, CommResult::failure(31));
    // The event loop makes system calls of its own that change the last error.
    comm.setYield([this] { fake.script(CommCall::SetupComm, CommResult::failure(87)); fake.setupComm(0, 0, 0); });
    EXPECT_EQ(-1, comm.CommWrite(1, "A"));
    EXPECT_EQ(31, comm.LastErrorNumber());
}

// --- error texts -------------------------------------------------------------

struct TextCase {
    const char *name;
    std::string system;
    std::string expected;
};

class SystemText : public ModCommFake, public ::testing::WithParamInterface<TextCase> {};

TEST_P(SystemText, IsCutAtNulAndTrimmedOfBlanksOnly)
{
    fake.setMessageText(5, GetParam().system);
    fake.script(CommCall::CreateFile, CommResult::failure(5));
    ASSERT_EQ(5, comm.CommOpen(1, "COM1", mode9600));
    EXPECT_EQ(GetParam().expected, comm.LastErrorText());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SystemText,
    ::testing::Values(TextCase{"KeepsLineBreak", "Access is denied.\r\n", "Access is denied.\r\n"},
                      TextCase{"TrimsBlanks", "  Access is denied.  ", "Access is denied."},
                      TextCase{"BlanksBeforeBreakStay", "Denied. \r\n ", "Denied. \r\n"},
                      TextCase{"CutAtNul", std::string("Denied.\0junk", 12), "Denied."},
                      TextCase{"Empty", "", ""},
                      TextCase{"OnlyBlanks", "   ", ""},
                      TextCase{"LongerThanBuffer", std::string(400, 'x'), std::string(255, 'x')}),
    [](const auto &info) { return std::string(info.param.name); });

// --- wait ------------------------------------------------------------------

TEST_F(ModCommFake, WaitInputReachesTheSystemOnlyForAnOpenPort)
{
    comm.CommWaitInput(1, 50);
    EXPECT_EQ(0u, fake.countOf(CommCall::WaitForInput));
    ASSERT_EQ(0, comm.CommOpen(1, "COM1", mode9600));
    comm.CommWaitInput(1, 50);
    ASSERT_EQ(1u, fake.countOf(CommCall::WaitForInput));
    EXPECT_EQ(50u, fake.callsOf(CommCall::WaitForInput).at(0).count);
}

} // namespace
} // namespace serial
