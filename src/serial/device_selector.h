#pragma once
// Ports by what is plugged where, not by the name the kernel handed out:
//   usb-path:1-1.4:1.0     the interface at that physical USB port;
//   usb-serial:FT1ABCDE    the unit with that serial number (one interface);
//   usb-serial:FT1ABCDE:2  interface 2 of a multi-port chip.
// Resolved against a device list at run time.
#include <string>
#include <vector>

#include "serial/port_discovery.h"

namespace serial {

// Whether text is one of the forms above (and not a device path).
bool isDeviceSelector(const std::string &text);

struct SelectorMatch {
    const SerialDevice *device = nullptr; // the one device, or none
    std::string error;                    // why there is none: no match, several, malformed
};

SelectorMatch resolveDeviceSelector(const std::string &text, const std::vector<SerialDevice> &devices);

// The device a path names: its own path, its by-id name, or a link to
// either; nullptr for anything discovery does not know (a pseudo-terminal).
const SerialDevice *findDevice(const std::vector<SerialDevice> &devices, const std::string &path);

} // namespace serial
