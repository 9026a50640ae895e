#include "serial/linux_rs485.h"

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace serial::linuxtty {

static_assert(sizeof(serial_rs485) <= sizeof(SavedRs485::settings));

int setRs485(int fd, const Rs485Mode &mode, SavedRs485 &saved)
{
    serial_rs485 found {};
    if (ioctl(fd, TIOCGRS485, &found) != 0)
        return errno;
    std::memcpy(saved.settings, &found, sizeof found);
    saved.valid = true;

    serial_rs485 wanted {};
    wanted.flags = SER_RS485_ENABLED;
    wanted.flags |= mode.rtsOnSend ? SER_RS485_RTS_ON_SEND : SER_RS485_RTS_AFTER_SEND;
    if (mode.receiveDuringSend)
        wanted.flags |= SER_RS485_RX_DURING_TX;
    wanted.delay_rts_before_send = mode.delayBeforeSendMs;
    wanted.delay_rts_after_send = mode.delayAfterSendMs;
    if (ioctl(fd, TIOCSRS485, &wanted) != 0) {
        const int error = errno;
        saved.valid = false; // nothing changed
        return error;
    }
    // Drivers without the mode may take the call and keep it off.
    serial_rs485 running {};
    if (ioctl(fd, TIOCGRS485, &running) != 0 || !(running.flags & SER_RS485_ENABLED)) {
        restoreRs485(fd, saved);
        saved.valid = false;
        return EOPNOTSUPP;
    }
    return 0;
}

void restoreRs485(int fd, const SavedRs485 &saved)
{
    if (!saved.valid)
        return;
    serial_rs485 found {};
    std::memcpy(&found, saved.settings, sizeof found);
    ioctl(fd, TIOCSRS485, &found);
}

} // namespace serial::linuxtty
