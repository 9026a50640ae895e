// Serial devices on Linux, read from sysfs, /dev/serial/by-id and /proc.
//
// Why sysfs and not libudev: libudev's enumeration walks the same
// /sys/class/tty and reads the same attribute files (idVendor, product,
// serial, type), and the by-id names are plain links that udev's rules
// left in /dev.  Reading them directly needs no library, works where udev
// does not run (containers, minimal boards), and lets the tests point the
// reader at a fixture tree instead of this machine.
#include "serial/sysfs_ports.h"
#include "serial/sysfs_usb_port.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace serial {

namespace fs = std::filesystem;

namespace {

// Serial-core ports sit on this bus below the device that really drives
// them; its "port" and "ctrl" drivers say nothing about the hardware.
constexpr const char *kSerialCoreBus = "serial-base";

// How far a tty's device can be from its USB device (tty, port, interface).
constexpr int kMaxParentSteps = 6;

std::string readAttribute(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

std::string linkName(const fs::path &link)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// Where a link inside the tree points, inside the same tree.
fs::path resolveLink(const fs::path &root, const fs::path &link)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (ec)
        return {};
    if (target.is_absolute())
        return (root / target.relative_path()).lexically_normal();
    return (link.parent_path() / target).lexically_normal();
}

// The system path of a path inside the tree: "/dev/ttyUSB0".
std::string systemPath(const fs::path &root, const fs::path &inside)
{
    return "/" + inside.lexically_relative(root).generic_string();
}

// The driver of the hardware behind a tty: the device's own driver, or for
// a serial-core port the driver of the first parent off the core's bus.
std::string driverOf(fs::path device, const fs::path &devicesRoot)
{
    for (int step = 0; step < kMaxParentSteps && device.string().size() > devicesRoot.string().size(); ++step) {
        if (fs::is_symlink(device / "driver") && linkName(device / "subsystem") != kSerialCoreBus)
            return linkName(device / "driver");
        device = device.parent_path();
    }
    return {};
}

// Maker, product and serial number from the USB device that carries a tty.
void describeUsb(fs::path device, const fs::path &devicesRoot, SerialDevice &out)
{
    for (int step = 0; step < kMaxParentSteps && device.string().size() > devicesRoot.string().size(); ++step) {
        if (fs::exists(device / "idVendor")) {
            out.vendorId = readAttribute(device / "idVendor");
            out.productId = readAttribute(device / "idProduct");
            out.manufacturer = readAttribute(device / "manufacturer");
            out.product = readAttribute(device / "product");
            out.serialNumber = readAttribute(device / "serial");
            return;
        }
        device = device.parent_path();
    }
}

void describeUart(const fs::path &tty, SerialDevice &out)
{
    if (!fs::exists(tty / "type"))
        return;
    const int type = std::atoi(readAttribute(tty / "type").c_str());
    out.uartFitted = type == 0 ? UartFitted::No : UartFitted::Yes;
    out.uartType = uartTypeName(type);
}

// /dev/ttyUSB0 -> its first /dev/serial/by-id name.
std::map<std::string, std::string> stablePaths(const fs::path &root)
{
    std::map<std::string, std::string> byDevice;
    std::set<fs::path> links;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(root / "dev/serial/by-id", ec))
        links.insert(entry.path());
    for (const fs::path &link : links) {
        const fs::path target = resolveLink(root, link);
        if (!target.empty())
            byDevice.emplace(systemPath(root, target), systemPath(root, link));
    }
    return byDevice;
}

std::set<std::string> consoleNames(const fs::path &root)
{
    std::istringstream active(readAttribute(root / "sys/class/tty/console/active"));
    std::set<std::string> names;
    for (std::string name; active >> name;)
        names.insert(name);
    return names;
}

// The processes that hold each of the paths, from their open files.  Only
// the processes this user may inspect show (all of them for root).
std::map<std::string, std::vector<PortHolder>> holdersOf(const fs::path &root, const std::set<std::string> &paths)
{
    std::map<std::string, std::vector<PortHolder>> holders;
    std::error_code ec;
    for (const auto &process : fs::directory_iterator(root / "proc", ec)) {
        const std::string name = process.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::set<std::string> held;
        std::error_code fdError;
        for (const auto &fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            const std::string target = fs::read_symlink(fd.path(), linkError).string();
            if (!linkError && paths.count(target) != 0)
                held.insert(target);
        }
        for (const std::string &path : held)
            holders[path].push_back(PortHolder{std::atoi(name.c_str()), readAttribute(process.path() / "comm")});
    }
    return holders;
}

} // namespace

std::vector<SerialDevice> listSerialDevicesUnder(const std::string &rootText)
{
    const fs::path root = fs::path(rootText).lexically_normal();
    const fs::path devicesRoot = root / "sys/devices";
    const std::map<std::string, std::string> stable = stablePaths(root);
    const std::set<std::string> consoles = consoleNames(root);

    std::vector<SerialDevice> devices;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(root / "sys/class/tty", ec)) {
        const fs::path tty = entry.path();
        if (!fs::exists(tty / "device"))
            continue; // virtual consoles, pseudo-terminals, the console alias
        const fs::path ttyDir = resolveLink(root, tty);
        const fs::path device = resolveLink(root, (ttyDir.empty() ? tty : ttyDir) / "device");
        const std::string name = tty.filename().string();

        SerialDevice found;
        found.path = "/dev/" + name;
        if (const auto link = stable.find(found.path); link != stable.end())
            found.stablePath = link->second;
        found.driver = driverOf(device, devicesRoot);
        describeUsb(device, devicesRoot, found);
        describeUsbPort(device, devicesRoot, found);
        describeUart(tty, found);
        found.console = consoles.count(name) != 0;
        devices.push_back(std::move(found));
    }

    std::set<std::string> paths;
    for (const SerialDevice &device : devices)
        paths.insert(device.path);
    auto holders = holdersOf(root, paths);
    for (SerialDevice &device : devices)
        device.holders = std::move(holders[device.path]);
    sortDevices(devices);
    return devices;
}

std::vector<SerialDevice> listSerialDevices() { return listSerialDevicesUnder("/"); }

std::string comPortDevice(int port)
{
    if (const char *mapped = std::getenv(("REBOUNCE_COM" + std::to_string(port)).c_str()); mapped && *mapped)
        return mapped;
    return "/dev/ttyS" + std::to_string(port - 1);
}

} // namespace serial
