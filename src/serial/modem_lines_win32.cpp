// The ports are opened for synchronous I/O, on which WaitCommEvent has no
// time limit and every other call on the handle queues behind it (even
// SetCommMask, which would otherwise end it).  A helper thread therefore
// cancels the wait at its deadline with CancelSynchronousIo, and keeps
// cancelling until the waiting thread says it has returned: a cancel that
// came just before the wait began would otherwise be lost.

#include "serial/modem_lines_win32.h"

#include "serial/comm_platform.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX // mingw's C++ headers define it already
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace serial::win32lines {

namespace {

// From the serial driver's interface (ntddser.h, which needs the driver
// kit's own types): the outputs as the driver has them.
constexpr DWORD kGetDtrRts = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 30, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kDtrState = 0x1;
constexpr ULONG kRtsState = 0x2;

constexpr DWORD kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr auto kCancelRetry = std::chrono::milliseconds(10);

std::uint32_t lastError()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

// The outputs as the driver has them; where it cannot say, as the state
// block was last set.
void readOutputs(HANDLE port, std::uint32_t &lines)
{
    ULONG state = 0;
    DWORD returned = 0;
    if (DeviceIoControl(port, kGetDtrRts, nullptr, 0, &state, sizeof state, &returned, nullptr)) {
        lines |= (state & kRtsState) ? modemline::rts : 0;
        lines |= (state & kDtrState) ? modemline::dtr : 0;
        return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
        lines |= dcb.fRtsControl != RTS_CONTROL_DISABLE ? modemline::rts : 0;
        lines |= dcb.fDtrControl != DTR_CONTROL_DISABLE ? modemline::dtr : 0;
    }
}

} // namespace

std::uint32_t readModemLines(void *handle, std::uint32_t &lines)
{
    const HANDLE port = static_cast<HANDLE>(handle);
    DWORD status = 0;
    if (!GetCommModemStatus(port, &status))
        return lastError();
    lines = 0;
    lines |= (status & MS_CTS_ON) ? modemline::cts : 0;
    lines |= (status & MS_DSR_ON) ? modemline::dsr : 0;
    lines |= (status & MS_RLSD_ON) ? modemline::dcd : 0;
    lines |= (status & MS_RING_ON) ? modemline::ri : 0;
    readOutputs(port, lines);
    return 0;
}

std::uint32_t changeModemLines(void *handle, std::uint32_t raise, std::uint32_t lower)
{
    const HANDLE port = static_cast<HANDLE>(handle);
    const struct {
        std::uint32_t line;
        DWORD on, off;
    } outputs[] = {{modemline::rts, SETRTS, CLRRTS}, {modemline::dtr, SETDTR, CLRDTR}};
    for (const auto &output : outputs) {
        if ((raise & output.line) && !EscapeCommFunction(port, output.on))
            return lastError();
    }
    for (const auto &output : outputs) {
        if ((lower & output.line) && !EscapeCommFunction(port, output.off))
            return lastError();
    }
    return 0;
}

std::uint32_t waitModemLines(void *handle, std::uint32_t &lines, int timeoutMs)
{
    const HANDLE port = static_cast<HANDLE>(handle);
    std::uint32_t now = 0;
    if (const std::uint32_t error = readModemLines(port, now))
        return error;
    if ((now & modemline::inputs) != (lines & modemline::inputs) || timeoutMs <= 0) {
        lines = now;
        return 0;
    }
    if (!SetCommMask(port, kLineEvents))
        return lastError();
    const HANDLE self = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
    if (!self) {
        const std::uint32_t error = lastError();
        SetCommMask(port, 0);
        return error;
    }
    std::mutex mutex;
    std::condition_variable returned;
    bool done = false;
    std::thread canceller([&] {
        std::unique_lock lock(mutex);
        if (returned.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done; }))
            return;
        while (!done) {
            CancelSynchronousIo(self);
            returned.wait_for(lock, kCancelRetry, [&] { return done; });
        }
    });
    DWORD events = 0;
    // A change just before the mask was set raised no event: look once more.
    std::uint32_t again = 0;
    const bool changed = readModemLines(port, again) == 0 && (again & modemline::inputs) != (lines & modemline::inputs);
    if (!changed)
        WaitCommEvent(port, &events, nullptr); // an event, or cancelled at the deadline
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    returned.notify_all();
    canceller.join();
    CloseHandle(self);
    SetCommMask(port, 0);
    if (const std::uint32_t error = readModemLines(port, now))
        return error;
    lines = now;
    return 0;
}

} // namespace serial::win32lines
