#pragma once
// The entries of the port selector (Combo1): "1" to "4" for COM1 to COM4
// first, then the serial devices this machine has.
#include <string>
#include <vector>

#include "serial/port_discovery.h"

namespace echotest {

struct PortEntry {
    std::string text;   // what the closed box shows: "1".."4", "USB0"
    std::string device; // what a run opens: "COM1", "/dev/ttyS0", "/dev/ttyUSB0"
    std::string line;   // what the open list shows: "1  /dev/ttyS0", "/dev/ttyUSB0  FT232R USB UART  0403:6001"
    std::string tip;    // the entry's tooltip, one blank at each end
};

// Number of the fixed entries "1" to "4" (kPortItems).
inline constexpr int kFixedPortEntries = 4;

// "1" to "4" (their devices as comPortDevice gives them, described when
// found), then each other found device that has hardware behind it.  keep,
// when not empty, is a device that stays listed even when it was not found
// or has no UART (the one chosen, or named at start): a device that went
// away still gets its own "does not exist" when a run tries it.
std::vector<PortEntry> portEntries(const std::vector<serial::SerialDevice> &found, const std::string &keep);

// Index of the entry for device: a found device by its path or stable
// path first, then "1".."4" by the device they mean; -1 when none.
int findPortEntry(const std::vector<PortEntry> &entries, const std::vector<serial::SerialDevice> &found,
                  const std::string &device);

} // namespace echotest
