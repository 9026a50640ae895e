#pragma once
// Where a USB serial port sits, read from sysfs: the interface number of
// multi-port chips, the physical path (bus, hub ports, configuration and
// interface, as the kernel names the interface: "1-1.4:1.0") and an FTDI
// adapter's latency timer.  Kept apart from the discovery walk so that it
// serves any reader of the same tree.
#include <filesystem>

#include "serial/port_discovery.h"

namespace serial {

// device: the tty's device folder inside the tree (the usb-serial port,
// or the interface for an ACM device); devicesRoot: the tree's
// sys/devices, above which the walk does not go.
void describeUsbPort(const std::filesystem::path &device, const std::filesystem::path &devicesRoot,
                     SerialDevice &out);

// The path text of an interface from its USB device's folder name ("1-1.4"),
// its configuration value and interface number: "1-1.4:1.0".
std::string usbInterfacePath(const std::string &deviceName, int configuration, int interfaceNumber);

} // namespace serial
