#pragma once
// The Linux reader behind listSerialDevices, with the root of the file
// tree it reads (sys, dev and proc below it) open to tests, which point it
// at fixture trees.
#include <string>
#include <vector>

#include "serial/port_discovery.h"

namespace serial {

// Every tty that sysfs ties to a device, described from the attributes of
// the device and its USB parent, its /dev/serial/by-id link, the console
// list and the open files of the processes under root/proc.  Paths in the
// result are system paths ("/dev/ttyUSB0"), not paths under root.
std::vector<SerialDevice> listSerialDevicesUnder(const std::string &root);

} // namespace serial
