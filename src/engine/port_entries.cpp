#include "engine/port_entries.h"

#include <algorithm>
#include <filesystem>

#include "engine/baud_selection.h"

namespace echotest {

namespace {

PortEntry deviceEntry(const std::string &path, const std::string &line)
{
    return PortEntry{serial::shortDeviceName(path), path, line, " " + line + " "};
}

} // namespace

static_assert(kFixedPortEntries == kPortItems.size());

std::vector<PortEntry> portEntries(const std::vector<serial::SerialDevice> &found, const std::string &keep)
{
    const auto foundAs = [&found](const std::string &path) {
        return std::find_if(found.begin(), found.end(),
                            [&path](const serial::SerialDevice &device) { return device.path == path; });
    };
    std::vector<PortEntry> entries;
    for (int port = 1; port <= kFixedPortEntries; ++port) {
        const std::string text(kPortItems[static_cast<std::size_t>(port - 1)]);
        const std::string device = serial::comPortDevice(port);
        const auto described = foundAs(device);
        const std::string line = described == found.end() ? device : serial::deviceLine(*described);
        entries.push_back(PortEntry{text, device, text + "  " + line, " " + device + " "});
    }
    const auto isFixed = [&entries](const std::string &path) {
        return std::any_of(entries.begin(), entries.begin() + kFixedPortEntries,
                           [&path](const PortEntry &entry) { return entry.device == path; });
    };
    bool keepListed = keep.empty() || isFixed(keep);
    for (const serial::SerialDevice &device : found) {
        // A port that "1" to "4" already mean is not listed twice; one
        // without a UART only when it was asked for.
        const bool kept = !keep.empty() && (keep == device.path || keep == device.stablePath);
        if (isFixed(device.path)) {
            keepListed = keepListed || kept;
            continue;
        }
        if (!device.hasHardware() && !kept)
            continue;
        entries.push_back(deviceEntry(device.path, serial::deviceLine(device)));
        keepListed = keepListed || kept;
    }
    // A device the system does not list may still be there (a
    // pseudo-terminal, a port of a driver that sysfs does not tie to a
    // device); looking does not open it.
    std::error_code ec;
    if (!keepListed)
        entries.push_back(deviceEntry(keep, std::filesystem::exists(keep, ec) ? keep : keep + "  (not found)"));
    return entries;
}

int findPortEntry(const std::vector<PortEntry> &entries, const std::vector<serial::SerialDevice> &found,
                  const std::string &device)
{
    std::string path = device;
    for (const serial::SerialDevice &candidate : found) {
        if (!candidate.stablePath.empty() && candidate.stablePath == device)
            path = candidate.path;
    }
    for (std::size_t i = kFixedPortEntries; i < entries.size(); ++i) {
        if (entries[i].device == path)
            return static_cast<int>(i);
    }
    for (int i = 0; i < kFixedPortEntries && i < static_cast<int>(entries.size()); ++i) {
        if (entries[static_cast<std::size_t>(i)].device == path)
            return i;
    }
    return -1;
}

} // namespace echotest
