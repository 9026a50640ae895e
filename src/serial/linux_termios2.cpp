// Arbitrary line rates need struct termios2 and TCGETS2/TCSETS2 from the
// kernel's <asm/termbits.h>, which redefines struct termios and the flag
// macros of glibc's <termios.h>; the two cannot meet in one translation
// unit.  So this file includes only the kernel headers and offers plain
// functions to the rest of the Linux code.

#include "serial/linux_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace serial::linuxtty {

int setLineRate(int fd, std::uint32_t baud)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return errno;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0)
        return errno;
    return 0;
}

int getLineRate(int fd, std::uint32_t &baud)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return errno;
    baud = tio.c_ospeed;
    return 0;
}

bool getBaudBase(int fd, std::uint32_t &baudBase)
{
    struct serial_struct info {};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0 || info.baud_base <= 0)
        return false;
    baudBase = static_cast<std::uint32_t>(info.baud_base);
    return true;
}

double divisorRate(std::uint32_t baudBase, std::uint32_t requested)
{
    if (baudBase == 0 || requested == 0 || requested > baudBase)
        return requested;
    const std::uint64_t divisor = (std::uint64_t{baudBase} + requested / 2) / requested;
    return static_cast<double>(baudBase) / static_cast<double>(divisor);
}

bool saveLine(int fd, SavedLine &saved)
{
    static_assert(sizeof(struct termios2) <= sizeof saved.settings);
    struct termios2 tio {};
    saved = {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    std::memcpy(saved.settings, &tio, sizeof tio);
    saved.hasSettings = true;
    saved.hasModemLines = ioctl(fd, TIOCMGET, &saved.modemLines) == 0;
    return true;
}

void restoreLine(int fd, const SavedLine &saved)
{
    if (saved.hasSettings) {
        struct termios2 tio {};
        std::memcpy(&tio, saved.settings, sizeof tio);
        ioctl(fd, TCSETS2, &tio);
    }
    if (saved.hasModemLines)
        ioctl(fd, TIOCMSET, &saved.modemLines);
}

bool getLineCounters(int fd, LineErrorCounts &counters)
{
    struct serial_icounter_struct icount {};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return false;
    counters.framing = static_cast<std::uint32_t>(icount.frame);
    counters.overrun = static_cast<std::uint32_t>(icount.overrun);
    counters.parity = static_cast<std::uint32_t>(icount.parity);
    counters.breaks = static_cast<std::uint32_t>(icount.brk);
    counters.bufferOverrun = static_cast<std::uint32_t>(icount.buf_overrun);
    return true;
}

} // namespace serial::linuxtty
