// Serial devices on Linux, as the device tree (sysfs, /dev/serial/by-id,
// /proc) describes them.
#include "serial/linux_device_tree.h"
#include "serial/low_latency.h"
#include "serial/sysfs_ports.h"

#include <utility>

namespace serial {

std::vector<SerialDevice> listSerialDevicesUnder(const std::string &root)
{
    const LinuxDeviceTree tree(root);
    const HolderSnapshot holders = tree.lookAtHolders();
    std::vector<SerialDevice> devices;
    for (const std::string &tty : tree.deviceTtys()) {
        TtyHardware hardware = tree.hardwareOf(tty);
        SerialDevice found;
        found.path = "/dev/" + tty;
        found.stablePath = std::move(hardware.stablePath);
        found.driver = std::move(hardware.driver);
        found.vendorId = std::move(hardware.usb.vendorId);
        found.productId = std::move(hardware.usb.productId);
        found.manufacturer = std::move(hardware.usb.manufacturer);
        found.product = std::move(hardware.usb.product);
        found.serialNumber = std::move(hardware.usb.serialNumber);
        if (hardware.usb.interfaceNumber >= 0)
            found.interfaceNumber = hardware.usb.interfaceNumber;
        found.usbPath = std::move(hardware.usb.usbPath);
        found.latencyTimerMs = readLatencyTimer(root + "/sys/class/tty/" + tty + "/device/latency_timer");
        found.uartFitted = hardware.uartFitted;
        found.uartType = std::move(hardware.uartType);
        found.console = hardware.console;
        // Every holder, this program too: the list shows a port its own run
        // holds as in use.
        if (const auto number = tree.deviceNumberOf(found.path))
            found.holders = holders.holdersOf(*number);
        devices.push_back(std::move(found));
    }
    sortDevices(devices);
    return devices;
}

std::vector<SerialDevice> listSerialDevices() { return listSerialDevicesUnder("/"); }

UsbIdentity usbIdentityOf(const std::string &path)
{
    const LinuxDeviceTree tree;
    return tree.hardwareOf(tree.ttyOf(path)).usb;
}

std::string comPortDevice(int port) { return LinuxDeviceTree::comDevicePath(port); }

} // namespace serial
