// The platform-neutral part of port discovery: names, lines and order.
#include "serial/port_discovery.h"

#include <algorithm>
#include <cctype>

namespace serial {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

bool startsWithNoCase(const std::string &text, std::size_t at, const std::string &prefix)
{
    if (text.size() < at + prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != prefix[i])
            return false;
    }
    return true;
}

// Compares digit runs by value, so that ttyS2 comes before ttyS10.
bool naturalLess(const std::string &a, const std::string &b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            std::string runA = a.substr(i, endA - i);
            std::string runB = b.substr(j, endB - j);
            runA.erase(0, std::min(runA.find_first_not_of('0'), runA.size() - 1));
            runB.erase(0, std::min(runB.find_first_not_of('0'), runB.size() - 1));
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (runA != runB)
                return runA < runB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// The hexadecimal digits after a tag such as "VID_" in a hardware id.
std::string hexAfter(const std::string &id, const std::string &tag)
{
    for (std::size_t at = 0; at + tag.size() <= id.size(); ++at) {
        if (!startsWithNoCase(id, at, tag))
            continue;
        std::string hex;
        for (std::size_t i = at + tag.size(); i < id.size() && hex.size() < 4; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(id[i])))
                break;
            hex += static_cast<char>(std::tolower(static_cast<unsigned char>(id[i])));
        }
        if (hex.size() == 4)
            return hex;
    }
    return {};
}

} // namespace

std::string SerialDevice::usbId() const
{
    if (vendorId.empty() || productId.empty())
        return {};
    return vendorId + ":" + productId;
}

std::string UsbIdentity::usbId() const
{
    if (vendorId.empty() || productId.empty())
        return {};
    return vendorId + ":" + productId;
}

std::string shortDeviceName(const std::string &path)
{
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    const auto slash = name.find_last_of('/');
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    if (last.rfind("tty", 0) == 0 && last.size() > 3)
        last.erase(0, 3);
    // A bare number such as /dev/pts/3 says little without its folder.
    if (slash != std::string::npos && !last.empty() && std::all_of(last.begin(), last.end(), isDigit)) {
        const std::string folder = name.substr(0, slash);
        const auto before = folder.find_last_of('/');
        last = folder.substr(before == std::string::npos ? 0 : before + 1) + last;
    }
    return last;
}

std::string deviceLine(const SerialDevice &device)
{
    std::string line = device.path;
    const auto add = [&line](const std::string &part) {
        if (!part.empty())
            line += "  " + part;
    };
    if (!device.product.empty())
        add(device.product);
    else if (device.uartFitted == UartFitted::Yes)
        add(device.uartType.empty() ? "UART" : device.uartType + " UART");
    else if (device.uartFitted == UartFitted::No)
        add("no UART");
    else
        add(device.driver);
    add(device.usbId());
    if (device.console)
        add("system console");
    if (device.inUse()) {
        std::string programs;
        for (const PortHolder &holder : device.holders) {
            const std::string name = holder.program.empty() ? "pid " + std::to_string(holder.pid) : holder.program;
            if (programs.find(name) != std::string::npos)
                continue;
            programs += (programs.empty() ? "" : ", ") + name;
        }
        add("in use by " + programs);
    }
    return line;
}

std::string uartTypeName(int type)
{
    // The PORT_* numbers of the kernel's serial core (linux/serial.h and
    // serial_core.h); the newer ones are rare enough to show as a number.
    static const char *const names[] = {
        "",      "8250",    "16450",  "16550", "16550A", "Cirrus", "16650",  "16650V2",
        "16750", "Startech", "16C950", "16654", "16850",  "RSA",    "NS16550A", "XScale",
    };
    if (type <= 0)
        return {};
    if (static_cast<std::size_t>(type) < std::size(names))
        return names[type];
    return "type " + std::to_string(type);
}

void sortDevices(std::vector<SerialDevice> &devices)
{
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return naturalLess(a.path, b.path); });
}

bool parseHardwareId(const std::string &hardwareId, std::string &vendorId, std::string &productId)
{
    const std::string vendor = hexAfter(hardwareId, "VID_");
    const std::string product = hexAfter(hardwareId, "PID_");
    if (vendor.empty() || product.empty())
        return false;
    vendorId = vendor;
    productId = product;
    return true;
}

std::string serialFromInstanceId(const std::string &instanceId)
{
    const auto slash = instanceId.find_last_of('\\');
    if (slash == std::string::npos || !startsWithNoCase(instanceId, 0, "USB\\"))
        return {};
    const std::string last = instanceId.substr(slash + 1);
    if (last.empty() || last.find('&') != std::string::npos)
        return {};
    return last;
}

} // namespace serial
