// Serial devices on Linux: the ttys that sysfs ties to a real device
// (platform UARTs with a port behind them, USB adapters, CDC-ACM boards).
// Whether a device is in use is read from /proc: a device that some process
// holds open is in use.  Listing never opens a port: opening one raises DTR
// on most drivers, which resets many microcontroller boards.
#include "cli/ports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace cli {
namespace fs = std::filesystem;
namespace {

std::string readLine(const fs::path &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Walks up from the tty's device to the USB device that carries it.
void describeUsb(fs::path device, SerialDevice &out)
{
    std::error_code ec;
    device = fs::canonical(device, ec);
    for (int depth = 0; !ec && depth < 6 && !device.empty(); ++depth, device = device.parent_path()) {
        if (fs::exists(device / "idVendor")) {
            out.usbId = readLine(device / "idVendor") + ":" + readLine(device / "idProduct");
            out.product = readLine(device / "product");
            return;
        }
    }
}

// Every device some process has open, as /proc shows it (only the
// processes this user may inspect).
std::set<std::string> openDevices()
{
    std::set<std::string> open;
    std::error_code ec;
    for (const auto &process : fs::directory_iterator("/proc", ec)) {
        std::error_code fdError;
        for (const auto &fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            const auto target = fs::read_symlink(fd.path(), linkError);
            if (!linkError && target.string().rfind("/dev/tty", 0) == 0)
                open.insert(target.string());
        }
    }
    return open;
}

} // namespace

std::vector<SerialDevice> listSerialDevices()
{
    std::vector<SerialDevice> devices;
    std::map<std::string, std::string> aliases; // /dev/ttyUSB0 -> by-id name
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
        const auto target = fs::canonical(entry.path(), ec);
        if (!ec)
            aliases[target.string()] = entry.path().string();
    }
    for (const auto &entry : fs::directory_iterator("/sys/class/tty", ec)) {
        const fs::path sys = entry.path();
        if (!fs::exists(sys / "device"))
            continue; // virtual consoles and pseudo-terminals
        const std::string name = sys.filename().string();
        const std::string driver = fs::read_symlink(sys / "device" / "driver", ec).filename().string();
        // Legacy 8250 ports exist whether or not a UART is fitted; a port
        // without one reports type 0.
        if (driver == "serial8250" && readLine(sys / "type") == "0")
            continue;
        SerialDevice device;
        device.name = "/dev/" + name;
        device.driver = driver;
        if (const auto alias = aliases.find(device.name); alias != aliases.end())
            device.alias = alias->second;
        describeUsb(sys / "device", device);
        devices.push_back(device);
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return a.name < b.name; });
    const std::set<std::string> open = openDevices();
    for (SerialDevice &device : devices)
        device.inUse = open.count(device.name) != 0;
    return devices;
}

} // namespace cli
