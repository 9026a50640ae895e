#include "serial/sysfs_usb_port.h"

#include <cstdlib>
#include <fstream>

namespace serial {

namespace fs = std::filesystem;

namespace {

// tty port, interface, USB device: a few steps at most.
constexpr int kMaxSteps = 4;

std::string firstLine(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// A number from an attribute file, in the given base; none when the file
// is missing or holds something else.
std::optional<int> numberIn(const fs::path &file, int base)
{
    const std::string text = firstLine(file);
    if (text.empty())
        return std::nullopt;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, base);
    if (*end != '\0' || value < 0 || value > 65535)
        return std::nullopt;
    return int(value);
}

} // namespace

std::string usbInterfacePath(const std::string &deviceName, int configuration, int interfaceNumber)
{
    return deviceName + ":" + std::to_string(configuration) + "." + std::to_string(interfaceNumber);
}

void describeUsbPort(const fs::path &device, const fs::path &devicesRoot, SerialDevice &out)
{
    // ftdi_sio keeps the latency timer on the usb-serial port itself.
    out.latencyTimerMs = numberIn(device / "latency_timer", 10);

    fs::path at = device;
    fs::path interfaceFolder;
    for (int step = 0; step < kMaxSteps && at.string().size() > devicesRoot.string().size(); ++step) {
        if (interfaceFolder.empty() && fs::exists(at / "bInterfaceNumber")) {
            interfaceFolder = at;
            out.interfaceNumber = numberIn(at / "bInterfaceNumber", 16);
        }
        if (fs::exists(at / "idVendor")) {
            if (interfaceFolder.empty() || !out.interfaceNumber)
                return;
            // The kernel names the interface "<device>:<configuration>.<interface>".
            const std::optional<int> configuration = numberIn(at / "bConfigurationValue", 10);
            out.usbPath = configuration
                ? usbInterfacePath(at.filename().string(), *configuration, *out.interfaceNumber)
                : interfaceFolder.filename().string();
            return;
        }
        at = at.parent_path();
    }
}

} // namespace serial
