// Serial devices on Windows: every name under the SERIALCOMM registry key
// (the list the serial drivers themselves keep, virtual ports included) and
// every COM name in the DOS device namespace (which some drivers fill
// without the key), described by SetupAPI's Ports class where a device
// there owns the name.
// No port is opened: which program holds a port is not visible without
// opening it, so Windows reports no holders.
#include "serial/port_discovery.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX // mingw's C++ headers define it already
#define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>

#include <map>
#include <set>
#include <vector>

namespace serial {

namespace {

std::string registryString(HKEY key, const char *name)
{
    char value[256] = {};
    DWORD type = 0;
    DWORD size = sizeof value - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return std::string(value);
}

// COM names of the SERIALCOMM key: value data such as "COM3".
std::vector<std::string> serialCommNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        char valueName[256] = {};
        DWORD nameSize = sizeof valueName;
        char data[256] = {};
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG status = RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_SUCCESS && type == REG_SZ && data[0] != '\0')
            names.emplace_back(data);
    }
    RegCloseKey(key);
    return names;
}

bool isComName(const std::string &name)
{
    return name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
           name.find_first_not_of("0123456789", 3) == std::string::npos;
}

// COM names among the DOS device names ("COM3" -> \Device\Serial2).
std::vector<std::string> dosDeviceComNames()
{
    std::vector<std::string> names;
    std::vector<char> list(1 << 16);
    DWORD length = 0;
    while ((length = QueryDosDeviceA(nullptr, list.data(), static_cast<DWORD>(list.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && list.size() < (1u << 24))
        list.resize(list.size() * 2);
    for (DWORD at = 0; at < length && list[at] != '\0';) {
        const std::string name(&list[at]);
        at += static_cast<DWORD>(name.size()) + 1;
        if (isComName(name))
            names.push_back(name);
    }
    return names;
}

std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD property)
{
    char value[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, property, nullptr, reinterpret_cast<BYTE *>(value),
                                           sizeof value - 1, nullptr))
        return {};
    return std::string(value); // a multi-string keeps its first entry
}

// The devices of the Ports class, keyed by their COM name.
std::map<std::string, SerialDevice> portsClassDevices()
{
    std::map<std::string, SerialDevice> devices;
    static const GUID portsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = SetupDiGetClassDevsA(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const std::string name = registryString(key, "PortName");
        RegCloseKey(key);
        if (!isComName(name))
            continue; // LPT ports share the class
        SerialDevice device;
        device.path = name;
        device.product = deviceProperty(set, info, SPDRP_FRIENDLYNAME);
        device.manufacturer = deviceProperty(set, info, SPDRP_MFG);
        device.driver = deviceProperty(set, info, SPDRP_SERVICE);
        parseHardwareId(deviceProperty(set, info, SPDRP_HARDWAREID), device.vendorId, device.productId);
        char instance[512] = {};
        if (SetupDiGetDeviceInstanceIdA(set, &info, instance, sizeof instance, nullptr))
            device.serialNumber = serialFromInstanceId(instance);
        devices.emplace(name, device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

} // namespace

std::vector<SerialDevice> listSerialDevices()
{
    std::map<std::string, SerialDevice> described = portsClassDevices();
    std::set<std::string> names;
    for (const std::string &name : serialCommNames())
        names.insert(name);
    for (const std::string &name : dosDeviceComNames())
        names.insert(name);
    std::vector<SerialDevice> devices;
    for (const std::string &name : names) {
        const auto found = described.find(name);
        if (found != described.end()) {
            devices.push_back(found->second);
            described.erase(found);
        } else {
            SerialDevice device;
            device.path = name;
            devices.push_back(device);
        }
    }
    for (auto &entry : described) // a device whose driver has not registered its name (yet)
        devices.push_back(entry.second);
    sortDevices(devices);
    return devices;
}

std::string comPortDevice(int port) { return "COM" + std::to_string(port); }

UsbIdentity usbIdentityOf(const std::string &) { return {}; }

} // namespace serial
