#pragma once
// The modem lines of a Linux tty, on a plain file descriptor: TIOCMGET,
// TIOCMBIS and TIOCMBIC, and a bounded wait for an input to change.  Lines
// are the modemline bits of comm_platform.h.

#include <cstdint>

namespace serial::linuxtty {

// Reads the inputs and the outputs as set.  0 or the errno of the failed
// call (ENOTTY: the device has no modem lines, as a pseudo-terminal).
int readModemLines(int fd, std::uint32_t &lines);
// Raises the outputs in raise, then lowers those in lower.  0 or errno.
int changeModemLines(int fd, std::uint32_t raise, std::uint32_t lower);
// Waits up to timeoutMs for an input to differ from the inputs in lines;
// lines then holds the lines as they are.  0 or errno.
int waitModemLines(int fd, std::uint32_t &lines, int timeoutMs);

} // namespace serial::linuxtty
