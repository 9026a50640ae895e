#pragma once
// Linux-only tty calls that need the kernel's own termios headers (see
// linux_termios2.cpp for why they live apart).

#include <cstdint>

#include "serial/comm_platform.h"

namespace serial::linuxtty {

// Sets the line rate of both directions to any integer rate (BOTHER).
// Returns 0 or the errno of the failed call.
int setLineRate(int fd, std::uint32_t baud);
// Reads the output rate the driver actually runs at.  0 or errno.
int getLineRate(int fd, std::uint32_t &baud);

// The UART's base rate (its clock / 16) as the driver reports it
// (TIOCGSERIAL); false where the driver tells none.
bool getBaudBase(int fd, std::uint32_t &baudBase);
// The rate a UART with that base rate really runs at for a request: the
// clock divided by the nearest whole divisor, as the 8250 driver sets it
// (a rate above the base rate is returned as asked: the driver either
// refuses it or has its own ways).
double divisorRate(std::uint32_t baudBase, std::uint32_t requested);

// A port's line settings (the whole termios2) and modem lines, as a terminal
// program saves them at open and puts them back at close.
struct SavedLine {
    alignas(8) unsigned char settings[64] = {};
    bool hasSettings = false;
    int modemLines = 0;
    bool hasModemLines = false;
};
// Fills saved; false when the settings cannot be read.
bool saveLine(int fd, SavedLine &saved);
// Puts back what saveLine found (best effort: a line that has gone away
// takes nothing).
void restoreLine(int fd, const SavedLine &saved);

// The driver's running line-error counters (TIOCGICOUNT), counted from the
// driver's start.  False when the driver keeps no counters
// (pseudo-terminals, many USB adapters).
bool getLineCounters(int fd, LineErrorCounts &counters);

} // namespace serial::linuxtty
