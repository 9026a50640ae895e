#pragma once
// The serial devices of this machine, one file per platform.
#include <string>
#include <vector>

namespace cli {

struct SerialDevice {
    std::string name;    // what to pass to --device (or the COM name)
    std::string alias;   // a stable name such as /dev/serial/by-id/..., if any
    std::string driver;  // the kernel driver, if known
    std::string usbId;   // "vvvv:pppp" for USB adapters, if known
    std::string product; // the adapter's product text, if known
    bool inUse = false;  // held open exclusively by some program
};

std::vector<SerialDevice> listSerialDevices();

} // namespace cli
