#pragma once
// The mode text of the Windows device-control builder
// ("baud=9600 parity=N data=8 stop=1"), for platforms that have no such call.

#include "serial/comm_platform.h"

#include <string>

namespace serial {

// Edits the members of dcb that mode names and switches flow control off
// (no XON/XOFF, no CTS/DSR handshake, DTR and RTS on) unless mode asks for
// it.  Keys: baud, parity (n e o m s), data (5..8), stop (1 1.5 2), xon,
// odsr, octs, idsr, to (on off), dtr (on off hs), rts (on off hs tg); case
// does not matter.  Returns false and leaves dcb unchanged when any part of
// the text does not parse or nothing is named.
bool parseCommMode(const std::string &mode, Dcb &dcb);

// The system's English text for a Windows error number, with the "\r\n"
// Windows ends it with; empty for a number without a text here.
std::string windowsErrorText(std::uint32_t code);

// Copies a message text into a FormatMessage-style buffer of `size`
// characters, NUL-terminated when it fits; returns the characters written
// (0 for an empty text).
std::uint32_t copyMessageText(const std::string &text, char *buffer, std::uint32_t size);

} // namespace serial
