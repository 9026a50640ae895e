#include "serial/uart_frame.h"

#include <gtest/gtest.h>

namespace serial {
namespace {

Dcb frame(std::uint8_t size, std::uint8_t parity, std::uint8_t stop = Dcb::OneStopBit)
{
    Dcb dcb;
    dcb.byteSize = size;
    dcb.parity = parity;
    dcb.stopBits = stop;
    return dcb;
}

// A character crossing between two frames, bit for bit.
TEST(UartFrameTest, AReceiverTakesTheBitsAsItsOwnFrameLaysThemOut)
{
    struct Case {
        unsigned byte;
        Dcb sender, receiver;
        unsigned data;
        bool parityError, framingError;
    };
    const Case cases[] = {
        {0x41, frame(8, Dcb::NoParity), frame(8, Dcb::NoParity), 0x41, false, false},
        {0xC1, frame(7, Dcb::EvenParity), frame(7, Dcb::EvenParity), 0x41, false, false}, // only 7 bits go out
        {0x43, frame(7, Dcb::OddParity), frame(7, Dcb::OddParity), 0x43, false, false},
        {0x00, frame(8, Dcb::MarkParity), frame(8, Dcb::MarkParity), 0x00, false, false},
        // 8N1 into 7E1: the 8th data bit is taken for parity.
        {0x41, frame(8, Dcb::NoParity), frame(7, Dcb::EvenParity), 0x41, false, false},
        {0x43, frame(8, Dcb::NoParity), frame(7, Dcb::EvenParity), 0x43, true, false},
        {0xC1, frame(8, Dcb::NoParity), frame(7, Dcb::EvenParity), 0x41, true, false},
        // 7E1 into 8N1: the parity bit becomes the 8th data bit, the stop bit is idle.
        {0x43, frame(7, Dcb::EvenParity), frame(8, Dcb::NoParity), 0xC3, false, false},
        // 7N1 into 8N1: the stop bit is read as data; the line idles high after it.
        {0x41, frame(7, Dcb::NoParity), frame(8, Dcb::NoParity), 0xC1, false, false},
        // 8E1 into 8N1: the parity bit stands where the stop bit should.
        {0x41, frame(8, Dcb::EvenParity), frame(8, Dcb::NoParity), 0x41, false, true},
        {0x43, frame(8, Dcb::OddParity), frame(8, Dcb::EvenParity), 0x43, true, false},
        {0x43, frame(8, Dcb::SpaceParity), frame(8, Dcb::MarkParity), 0x43, true, false},
        // Two stop bits into one and back: a receiver checks one.
        {0x5A, frame(8, Dcb::NoParity, Dcb::TwoStopBits), frame(8, Dcb::NoParity), 0x5A, false, false},
        {0x5A, frame(8, Dcb::NoParity), frame(8, Dcb::NoParity, Dcb::TwoStopBits), 0x5A, false, false},
        {0x1F, frame(5, Dcb::NoParity), frame(6, Dcb::NoParity), 0x3F, false, false},
    };
    for (const Case &c : cases) {
        const UartCharacter got = passLine(c.byte, c.sender, c.receiver);
        EXPECT_EQ(c.data, got.data) << std::hex << c.byte;
        EXPECT_EQ(c.parityError, got.parityError) << std::hex << c.byte;
        EXPECT_EQ(c.framingError, got.framingError) << std::hex << c.byte;
    }
    EXPECT_EQ(10, bitsPerCharacter(frame(8, Dcb::NoParity)));
    EXPECT_EQ(11, bitsPerCharacter(frame(8, Dcb::EvenParity)));
    EXPECT_EQ(11, bitsPerCharacter(frame(7, Dcb::OddParity, Dcb::TwoStopBits)));
}

} // namespace
} // namespace serial
