#pragma once
// What a UART makes of a character sent in another frame: the sender's
// start, data, parity and stop bits go down the line, and the receiver
// takes them as its own frame lays them out.  The virtual plugs use it to
// answer a line set to another frame as real hardware would.

#include <cstdint>

#include "serial/comm_platform.h"

namespace serial {

struct UartCharacter {
    unsigned data = 0;         // the receiver's data bits
    bool parityError = false;
    bool framingError = false; // no stop bit where the receiver looks for one

    bool sound() const { return !parityError && !framingError; }
};

// One character, sent with the sender's frame (byteSize, parity, stopBits
// of the Dcb) and received with the receiver's; the line idles high after
// it.  The sender sends only its data bits of byte.
UartCharacter passLine(unsigned byte, const Dcb &sender, const Dcb &receiver);

// Start, data, parity and stop bits of one character (1.5 stop bits count 2).
int bitsPerCharacter(const Dcb &frame);

} // namespace serial
