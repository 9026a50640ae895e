// The mode text as the Windows device-control builder reads it.

#include "serial/comm_mode.h"

#include <gtest/gtest.h>

namespace serial {
namespace {

// A port state with every kind of flow control on, so that the test sees
// whether a parse switches it off.
Dcb handshakingPort()
{
    Dcb dcb;
    dcb.baudRate = 1200;
    dcb.byteSize = 7;
    dcb.parity = Dcb::EvenParity;
    dcb.stopBits = Dcb::TwoStopBits;
    dcb.outxCtsFlow = dcb.outxDsrFlow = dcb.dsrSensitivity = dcb.outX = dcb.inX = true;
    dcb.dtrControl = Dcb::LineHandshake;
    dcb.rtsControl = Dcb::LineHandshake;
    return dcb;
}

struct ModeCase {
    const char *name;
    const char *mode;
    std::uint32_t baud;
    std::uint8_t data;
    std::uint8_t parity;
    std::uint8_t stop;
};

class ModeAccepted : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeAccepted, ChangesNamedMembersAndSwitchesFlowControlOff)
{
    const auto &c = GetParam();
    Dcb dcb = handshakingPort();
    ASSERT_TRUE(parseCommMode(c.mode, dcb));
    EXPECT_EQ(c.baud, dcb.baudRate);
    EXPECT_EQ(c.data, dcb.byteSize);
    EXPECT_EQ(c.parity, dcb.parity);
    EXPECT_EQ(c.stop, dcb.stopBits);
    EXPECT_FALSE(dcb.outX || dcb.inX || dcb.outxCtsFlow || dcb.outxDsrFlow || dcb.dsrSensitivity);
    EXPECT_EQ(Dcb::LineEnable, dcb.dtrControl);
    EXPECT_EQ(Dcb::LineEnable, dcb.rtsControl);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeAccepted,
    ::testing::Values(
        ModeCase{"Standard", "baud=9600 parity=N data=8 stop=1", 9600, 8, Dcb::NoParity, Dcb::OneStopBit},
        ModeCase{"OddRate", "baud=45 parity=N data=8 stop=1", 45, 8, Dcb::NoParity, Dcb::OneStopBit},
        ModeCase{"HighRate", "baud=3000000 parity=N data=8 stop=1", 3000000, 8, Dcb::NoParity, Dcb::OneStopBit},
        ModeCase{"OnlyBaudKeepsTheRest", "baud=19200", 19200, 7, Dcb::EvenParity, Dcb::TwoStopBits},
        ModeCase{"CaseAndSpacing", "  BAUD=2400   Parity=o DATA=7 STOP=2 ", 2400, 7, Dcb::OddParity,
                 Dcb::TwoStopBits},
        ModeCase{"MarkAndHalf", "parity=m data=5 stop=1.5", 1200, 5, Dcb::MarkParity, Dcb::One5StopBits},
        ModeCase{"Space", "parity=s", 1200, 7, Dcb::SpaceParity, Dcb::TwoStopBits},
        ModeCase{"TimeoutSwitch", "baud=9600 to=off", 9600, 7, Dcb::EvenParity, Dcb::TwoStopBits}),
    [](const auto &info) { return std::string(info.param.name); });

class ModeRefused : public ::testing::TestWithParam<const char *> {};

TEST_P(ModeRefused, LeavesTheStateUntouched)
{
    Dcb dcb = handshakingPort();
    EXPECT_FALSE(parseCommMode(GetParam(), dcb));
    EXPECT_EQ(handshakingPort(), dcb);
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeRefused,
                         ::testing::Values("", "   ", "baud=", "baud=96OO parity=N data=8 stop=1",
                                           "baud=-9600", "baud=9600.5", "baud=99999999999",
                                           "baud=9600 parity=X", "baud=9600 data=9", "baud=9600 data=4",
                                           "baud=9600 stop=3", "baud=9600 speed=1", "9600,n,8,1",
                                           "baud=9600 xon=maybe", "baud=9600 dtr=tg", "=9600"));

TEST(ModeFlowControl, ExplicitSwitchesWin)
{
    Dcb dcb;
    ASSERT_TRUE(parseCommMode("baud=9600 xon=on octs=on rts=hs dtr=off", dcb));
    EXPECT_TRUE(dcb.outX);
    EXPECT_TRUE(dcb.inX);
    EXPECT_TRUE(dcb.outxCtsFlow);
    EXPECT_EQ(Dcb::LineHandshake, dcb.rtsControl);
    EXPECT_EQ(Dcb::LineDisable, dcb.dtrControl);
}

TEST(WindowsErrorText, KnownNumbersEndWithTheSystemLineBreak)
{
    for (std::uint32_t code : {2u, 5u, 6u, 31u, 87u, 996u, 997u, 1117u, 1121u}) {
        const std::string text = windowsErrorText(code);
        ASSERT_GE(text.size(), 3u) << code;
        EXPECT_EQ("\r\n", text.substr(text.size() - 2)) << code;
    }
    EXPECT_EQ("The system cannot find the file specified.\r\n", windowsErrorText(2));
    EXPECT_EQ("Access is denied.\r\n", windowsErrorText(5));
    EXPECT_EQ("The parameter is incorrect.\r\n", windowsErrorText(87));
    EXPECT_EQ("", windowsErrorText(123456));
}

} // namespace
} // namespace serial
