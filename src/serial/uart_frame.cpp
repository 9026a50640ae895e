#include "serial/uart_frame.h"

#include <vector>

namespace serial {

namespace {

// The parity bit a frame sends after data bits holding `ones` ones.
int parityBit(std::uint8_t parity, int ones)
{
    switch (parity) {
    case Dcb::OddParity: return (ones % 2) == 0 ? 1 : 0;
    case Dcb::EvenParity: return ones % 2;
    case Dcb::MarkParity: return 1;
    case Dcb::SpaceParity: return 0;
    default: return 1;
    }
}

int onesIn(unsigned value)
{
    int ones = 0;
    for (; value != 0; value >>= 1)
        ones += value & 1u;
    return ones;
}

} // namespace

int bitsPerCharacter(const Dcb &frame)
{
    return 1 + frame.byteSize + (frame.parity == Dcb::NoParity ? 0 : 1) + (frame.stopBits == Dcb::OneStopBit ? 1 : 2);
}

UartCharacter passLine(unsigned byte, const Dcb &sender, const Dcb &receiver)
{
    // The bits after the start bit, least significant data bit first.
    std::vector<int> line;
    const unsigned data = byte & ((1u << sender.byteSize) - 1u);
    for (int i = 0; i < sender.byteSize; ++i)
        line.push_back(static_cast<int>((data >> i) & 1u));
    if (sender.parity != Dcb::NoParity)
        line.push_back(parityBit(sender.parity, onesIn(data)));
    const auto bit = [&line](std::size_t at) { return at < line.size() ? line[at] : 1; }; // stop bits, then idle

    UartCharacter got;
    std::size_t at = 0;
    for (int i = 0; i < receiver.byteSize; ++i, ++at)
        got.data |= static_cast<unsigned>(bit(at)) << i;
    if (receiver.parity != Dcb::NoParity) {
        got.parityError = bit(at) != parityBit(receiver.parity, onesIn(got.data));
        ++at;
    }
    got.framingError = bit(at) != 1; // a receiver checks the first stop bit only
    return got;
}

} // namespace serial
