// TIOCMIWAIT is not used for the wait: it has no time limit (only a signal
// ends it, and a library cannot send its caller's thread signals), and not
// every driver implements it.  The wait polls TIOCMGET instead, every
// millisecond at first and every 8 ms after a while, and asks the driver's
// transition counters (TIOCGICOUNT) too, so that a pulse shorter than the
// interval (a ring) is not missed.

#include "serial/modem_lines_linux.h"

#include "serial/comm_platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <thread>

namespace serial::linuxtty {

namespace {

// The UART's spare outputs; their names live in <asm/termios.h>, whose
// structures clash with glibc's.
constexpr int tiocmOut1 = 0x2000;
constexpr int tiocmOut2 = 0x4000;

struct BitPair {
    std::uint32_t line;
    int tiocm;
};
constexpr BitPair kBits[] = {
    {modemline::rts, TIOCM_RTS}, {modemline::dtr, TIOCM_DTR}, {modemline::out1, tiocmOut1},
    {modemline::out2, tiocmOut2}, {modemline::cts, TIOCM_CTS}, {modemline::dsr, TIOCM_DSR},
    {modemline::dcd, TIOCM_CAR}, {modemline::ri, TIOCM_RNG},
};

std::uint32_t fromTiocm(int bits)
{
    std::uint32_t lines = 0;
    for (const BitPair &pair : kBits)
        lines |= (bits & pair.tiocm) ? pair.line : 0;
    return lines;
}

int toTiocm(std::uint32_t lines)
{
    int bits = 0;
    for (const BitPair &pair : kBits)
        bits |= (lines & pair.line) ? pair.tiocm : 0;
    return bits;
}

// The driver's count of input transitions, where it keeps one.
bool transitions(int fd, long &count)
{
    serial_icounter_struct icount{};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return false;
    count = static_cast<long>(icount.cts) + icount.dsr + icount.rng + icount.dcd;
    return true;
}

} // namespace

int readModemLines(int fd, std::uint32_t &lines)
{
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0)
        return errno;
    lines = fromTiocm(bits);
    return 0;
}

int changeModemLines(int fd, std::uint32_t raise, std::uint32_t lower)
{
    int set = toTiocm(raise & modemline::outputs);
    int clear = toTiocm(lower & modemline::outputs);
    if (set != 0 && ::ioctl(fd, TIOCMBIS, &set) != 0)
        return errno;
    if (clear != 0 && ::ioctl(fd, TIOCMBIC, &clear) != 0)
        return errno;
    return 0;
}

int waitModemLines(int fd, std::uint32_t &lines, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    long countAtStart = 0;
    const bool counted = transitions(fd, countAtStart);
    auto step = std::chrono::milliseconds(1);
    for (;;) {
        std::uint32_t now = 0;
        if (const int error = readModemLines(fd, now))
            return error;
        long count = 0;
        const bool pulsed = counted && transitions(fd, count) && count != countAtStart;
        if ((now & modemline::inputs) != (lines & modemline::inputs) || pulsed || Clock::now() >= deadline) {
            lines = now;
            return 0;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        std::this_thread::sleep_for(std::min<std::chrono::microseconds>(step, left));
        step = std::min(step * 2, std::chrono::milliseconds(8));
    }
}

} // namespace serial::linuxtty
