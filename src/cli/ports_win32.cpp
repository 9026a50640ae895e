// Serial devices on Windows: the COM ports the system knows, from
// QueryDosDevice.  A port that cannot be opened exclusively is in use.
#include "cli/ports.h"

#include <algorithm>
#include <vector>

#include <windows.h>

namespace cli {

std::vector<SerialDevice> listSerialDevices()
{
    std::vector<SerialDevice> devices;
    std::vector<char> names(65536);
    const DWORD length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (DWORD at = 0; at < length && names[at] != '\0';) {
        const std::string name(&names[at]);
        at += static_cast<DWORD>(name.size()) + 1;
        if (name.rfind("COM", 0) != 0 || name.size() < 4)
            continue;
        SerialDevice device;
        device.name = name;
        char target[512] = {};
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0)
            device.driver = target;
        const std::string path = "\\\\.\\" + name;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            device.inUse = GetLastError() == ERROR_ACCESS_DENIED;
        else
            CloseHandle(handle);
        devices.push_back(device);
    }
    std::sort(devices.begin(), devices.end(), [](const SerialDevice &a, const SerialDevice &b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return devices;
}

} // namespace cli
