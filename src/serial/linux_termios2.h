#pragma once
// Linux-only tty calls that need the kernel's own termios headers (see
// linux_termios2.cpp for why they live apart).

#include <cstdint>

namespace serial::linuxtty {

// Sets the line rate of both directions to any integer rate (BOTHER).
// Returns 0 or the errno of the failed call.
int setLineRate(int fd, std::uint32_t baud);
// Reads the output rate the driver actually runs at.  0 or errno.
int getLineRate(int fd, std::uint32_t &baud);

// The driver's running line-error counters (TIOCGICOUNT).
struct LineCounters {
    std::uint32_t frame = 0;
    std::uint32_t overrun = 0;
    std::uint32_t parity = 0;
    std::uint32_t breaks = 0;
    std::uint32_t bufferOverrun = 0;
};
// False when the driver keeps no counters (pseudo-terminals, many USB adapters).
bool getLineCounters(int fd, LineCounters &counters);

} // namespace serial::linuxtty
