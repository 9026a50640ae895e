#pragma once
// The RS-485 mode of a Linux serial driver (TIOCSRS485): the driver raises
// RTS while it sends, for a transceiver that drives a half-duplex pair.

#include <cstdint>

#include "serial/comm_platform.h"

namespace serial::linuxtty {

// The driver's RS-485 setting as found, to be put back at close.
struct SavedRs485 {
    alignas(8) unsigned char settings[32] = {};
    bool valid = false;
};

// Reads the driver's setting into saved, then sets mode.  0 or the errno of
// the failed call (ENOTTY: the driver has no RS-485 mode).  When the driver
// takes the setting but reads it back without RS-485 on, EOPNOTSUPP.
int setRs485(int fd, const Rs485Mode &mode, SavedRs485 &saved);
// Puts back what setRs485 found (best effort).
void restoreRs485(int fd, const SavedRs485 &saved);

} // namespace serial::linuxtty
