#include "serial/device_selector.h"

#include <algorithm>
#include <filesystem>

namespace serial {

namespace {

constexpr const char kUsbPath[] = "usb-path:";
constexpr const char kUsbSerial[] = "usb-serial:";

bool startsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

std::string listOf(const std::vector<const SerialDevice *> &devices)
{
    std::string text;
    for (const SerialDevice *d : devices) {
        text += (text.empty() ? "" : ", ") + d->path;
        if (!d->usbPath.empty())
            text += " (usb-path:" + d->usbPath + ")";
    }
    return text;
}

} // namespace

bool isDeviceSelector(const std::string &text)
{
    return startsWith(text, kUsbPath) || startsWith(text, kUsbSerial);
}

SelectorMatch resolveDeviceSelector(const std::string &text, const std::vector<SerialDevice> &devices)
{
    std::vector<const SerialDevice *> matches;
    if (startsWith(text, kUsbPath)) {
        const std::string path = text.substr(sizeof kUsbPath - 1);
        if (path.empty())
            return {nullptr, "No USB path given in " + text + " (usb-path:1-1.4:1.0)."};
        for (const SerialDevice &d : devices) {
            if (d.usbPath == path)
                matches.push_back(&d);
        }
    } else if (startsWith(text, kUsbSerial)) {
        std::string serial = text.substr(sizeof kUsbSerial - 1);
        std::optional<int> interfaceNumber;
        // A serial number may hold ':' itself; a trailing ":N" is the interface.
        if (const auto colon = serial.find_last_of(':'); colon != std::string::npos) {
            const std::string tail = serial.substr(colon + 1);
            if (!tail.empty() && tail.size() <= 3 && std::all_of(tail.begin(), tail.end(), [](char c) {
                    return c >= '0' && c <= '9';
                })) {
                interfaceNumber = std::stoi(tail);
                serial.erase(colon);
            }
        }
        if (serial.empty())
            return {nullptr, "No serial number given in " + text + " (usb-serial:FT1ABCDE or usb-serial:FT1ABCDE:0)."};
        for (const SerialDevice &d : devices) {
            if (d.serialNumber == serial && (!interfaceNumber || d.interfaceNumber == interfaceNumber))
                matches.push_back(&d);
        }
    } else {
        return {nullptr, text + " is not a USB selector (usb-path:... or usb-serial:...)."};
    }
    if (matches.empty())
        return {nullptr, "No serial device matches " + text + "."};
    if (matches.size() > 1)
        return {nullptr, std::to_string(matches.size()) + " serial devices match " + text + ": " + listOf(matches)
                             + ". Name one of them."};
    return {matches.front(), {}};
}

const SerialDevice *findDevice(const std::vector<SerialDevice> &devices, const std::string &path)
{
    for (const SerialDevice &d : devices) {
        if (d.path == path || (!d.stablePath.empty() && d.stablePath == path))
            return &d;
    }
    // A link of the user's own (or a by-id name) to one of them.
    std::error_code ec;
    const std::string real = std::filesystem::weakly_canonical(path, ec).string();
    if (ec || real == path)
        return nullptr;
    for (const SerialDevice &d : devices) {
        if (d.path == real)
            return &d;
    }
    return nullptr;
}

} // namespace serial
