#pragma once
// Port discovery over a Linux file tree (sys, dev and proc below its root),
// which tests point at fixture trees.
#include <string>
#include <vector>

#include "serial/port_discovery.h"

namespace serial {

// Every tty that sysfs ties to a device, described by LinuxDeviceTree:
// the attributes of the device and its USB parent, its /dev/serial/by-id
// link, the console list and the processes under root/proc that hold it.
// Paths in the result are system paths ("/dev/ttyUSB0"), not paths under
// root.
std::vector<SerialDevice> listSerialDevicesUnder(const std::string &root);

} // namespace serial
