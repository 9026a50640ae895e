#pragma once
// The modem lines of a Windows port, on its HANDLE (passed as void *, so
// that this header needs no <windows.h>): GetCommModemStatus,
// EscapeCommFunction and a bounded WaitCommEvent.  Lines are the modemline
// bits of comm_platform.h; only RTS and DTR can be driven.  Each call
// returns 0 or the GetLastError() number of the failed call.

#include <cstdint>

namespace serial::win32lines {

std::uint32_t readModemLines(void *handle, std::uint32_t &lines);
std::uint32_t changeModemLines(void *handle, std::uint32_t raise, std::uint32_t lower);
std::uint32_t waitModemLines(void *handle, std::uint32_t &lines, int timeoutMs);

} // namespace serial::win32lines
