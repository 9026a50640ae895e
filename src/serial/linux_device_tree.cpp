// What Linux knows about a serial device, read from sysfs, /dev and /proc
// under one root.
//
// Why sysfs and not libudev: libudev's enumeration walks the same
// /sys/class/tty and reads the same attribute files (idVendor, product,
// serial, type), and the by-id names are plain links that udev's rules
// left in /dev.  Reading them directly needs no library, works where udev
// does not run (containers, minimal boards), and lets the tests point the
// reader at a fixture tree instead of this machine.
#include "serial/linux_device_tree.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace serial {

namespace fs = std::filesystem;

namespace {

// Serial-core ports sit on this bus below the device that really drives
// them; its "port" and "ctrl" drivers say nothing about the hardware.
constexpr const char *kSerialCoreBus = "serial-base";

// How far a tty's device can be from its USB device (tty, port, interface).
constexpr int kMaxParentSteps = 6;

// How many links in a row a name may lead through.
constexpr int kMaxLinks = 16;

// /dev/ptmx, the pseudo-terminal master multiplexer.
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;
// Pseudo-terminal slaves are majors 136..143; their index is what the
// master's fdinfo calls tty-index.
constexpr unsigned kPtsFirstMajor = 136;
constexpr unsigned kPtsLastMajor = 143;

bool allDigits(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string readAttribute(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

std::string linkText(const std::string &link)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return {};
    return std::string(target, static_cast<std::size_t>(length));
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
    return (fs::path("/") / inside.lexically_relative(root)).generic_string();
}

bool isLink(const fs::path &path)
{
    std::error_code ec;
    return fs::is_symlink(path, ec);
}

bool pathExists(const fs::path &path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

// A path with its last component's links followed, inside the tree.
fs::path followLinks(const fs::path &root, fs::path path)
{
    for (int step = 0; step < kMaxLinks && isLink(path); ++step)
        path = resolveLink(root, path);
    return path;
}

// "188:0", as sysfs writes a device number.
std::optional<dev_t> parseDeviceNumber(const std::string &text)
{
    unsigned major = 0;
    unsigned minor = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u:%u%c", &major, &minor, &end) != 2)
        return std::nullopt;
    return ::makedev(major, minor);
}

int ptyIndex(dev_t device)
{
    const unsigned major = ::major(device);
    if (major < kPtsFirstMajor || major > kPtsLastMajor)
        return -1;
    return static_cast<int>((major - kPtsFirstMajor) * 256 + ::minor(device));
}

// The pseudo-terminal index of a /dev/ptmx descriptor, -1 when unknown.
int masterIndex(const std::string &processDir, const char *fd)
{
    std::ifstream info(processDir + "/fdinfo/" + fd);
    std::string line;
    while (std::getline(info, line)) {
        int value = -1;
        if (std::sscanf(line.c_str(), "tty-index: %d", &value) == 1)
            return value;
    }
    return -1;
}

// The device that carries a tty: the first one up the chain with attribute
// file, within a few steps and inside the devices folder.
std::optional<fs::path> ancestorWith(fs::path device, const fs::path &devicesRoot, const char *attribute)
{
    for (int step = 0; step < kMaxParentSteps && device.string().size() > devicesRoot.string().size(); ++step) {
        if (pathExists(device / attribute))
            return device;
        device = device.parent_path();
    }
    return std::nullopt;
}

// The driver of the hardware behind a tty: the device's own driver, or for
// a serial-core port the driver of the first parent off the core's bus.
std::string hardwareDriver(fs::path device, const fs::path &devicesRoot)
{
    for (int step = 0; step < kMaxParentSteps && device.string().size() > devicesRoot.string().size(); ++step) {
        if (isLink(device / "driver") && linkName(device / "subsystem") != kSerialCoreBus)
            return linkName(device / "driver");
        device = device.parent_path();
    }
    return {};
}

// The kernel's name of a USB interface: bus-ports:configuration.interface
// ("1-1.4:1.0"), from the attributes it is made of.
std::string usbInterfacePath(const fs::path &usbDevice, const fs::path &interface, int interfaceNumber)
{
    const std::string bus = readAttribute(usbDevice / "busnum");
    const std::string ports = readAttribute(usbDevice / "devpath");
    const std::string configuration = readAttribute(usbDevice / "bConfigurationValue");
    if (bus.empty() || ports.empty() || configuration.empty() || interfaceNumber < 0)
        return interface.filename().string();
    return bus + "-" + ports + ":" + configuration + "." + std::to_string(interfaceNumber);
}

UsbIdentity usbIdentity(const fs::path &device, const fs::path &devicesRoot)
{
    UsbIdentity usb;
    const auto usbDevice = ancestorWith(device, devicesRoot, "idVendor");
    if (!usbDevice)
        return usb;
    usb.vendorId = readAttribute(*usbDevice / "idVendor");
    usb.productId = readAttribute(*usbDevice / "idProduct");
    usb.manufacturer = readAttribute(*usbDevice / "manufacturer");
    usb.product = readAttribute(*usbDevice / "product");
    usb.serialNumber = readAttribute(*usbDevice / "serial");
    if (const auto interface = ancestorWith(device, devicesRoot, "bInterfaceNumber")) {
        // Two hexadecimal digits, as the descriptor has it.
        const std::string number = readAttribute(*interface / "bInterfaceNumber");
        char *end = nullptr;
        const long value = std::strtol(number.c_str(), &end, 16);
        if (!number.empty() && end && *end == '\0')
            usb.interfaceNumber = static_cast<int>(value);
        usb.usbPath = usbInterfacePath(*usbDevice, *interface, usb.interfaceNumber);
    }
    return usb;
}

} // namespace

// --- Names -----------------------------------------------------------------

LinuxDeviceTree::LinuxDeviceTree(std::string root)
    : root_(fs::path(root.empty() ? "/" : root).lexically_normal().string()), live_(root_ == "/")
{
}

std::string LinuxDeviceTree::comDevicePath(int port)
{
    if (const char *mapped = std::getenv(("REBOUNCE_COM" + std::to_string(port)).c_str()); mapped && *mapped)
        return mapped;
    return kLegacyPortPrefix + std::to_string(port - 1);
}

std::string LinuxDeviceTree::devicePathFor(const std::string &name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    std::string com = name;
    if (com.rfind("\\\\.\\", 0) == 0)
        com.erase(0, 4);
    if (com.size() < 4 || !std::equal(com.begin(), com.begin() + 3, "COM", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        }))
        return {};
    const std::string digits = com.substr(3);
    if (!allDigits(digits) || digits.front() == '0' || digits.size() > 3)
        return {};
    return comDevicePath(std::stoi(digits));
}

std::string LinuxDeviceTree::inTree(const std::string &path) const
{
    return live_ ? path : (fs::path(root_) / fs::path(path).relative_path()).string();
}

// --- Hardware --------------------------------------------------------------

bool driverDividesAClock(const std::string &driver) { return driver == "serial8250" || driver == "serial"; }

std::string LinuxDeviceTree::ttyDevice(const std::string &tty) const
{
    if (tty.empty())
        return {};
    const fs::path root = root_;
    return resolveLink(root, followLinks(root, root / "sys/class/tty" / tty) / "device").string();
}

std::string LinuxDeviceTree::driverOf(const std::string &tty) const
{
    const std::string device = ttyDevice(tty);
    return device.empty() ? std::string() : hardwareDriver(device, fs::path(root_) / "sys/devices");
}

std::vector<std::string> LinuxDeviceTree::deviceTtys() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(fs::path(root_) / "sys/class/tty", ec)) {
        std::error_code existsError;
        if (fs::exists(entry.path() / "device", existsError)) // not virtual consoles, ptys, the console alias
            names.push_back(entry.path().filename().string());
    }
    return names;
}

std::string LinuxDeviceTree::ttyOf(const std::string &devicePath) const
{
    if (devicePath.empty())
        return {};
    fs::path node;
    if (live_) {
        // Every link on the way, as the open itself follows them.
        char resolved[PATH_MAX];
        if (!::realpath(devicePath.c_str(), resolved))
            return {};
        node = resolved;
    } else {
        node = followLinks(root_, inTree(devicePath));
    }
    const std::string name = node.filename().string();
    if (name.empty() || !pathExists(fs::path(root_) / "sys/class/tty" / name))
        return {};
    return name;
}

TtyHardware LinuxDeviceTree::hardwareOf(const std::string &tty) const
{
    TtyHardware hardware;
    if (tty.empty())
        return hardware;
    const fs::path root = root_;
    const fs::path devicesRoot = root / "sys/devices";
    const fs::path ttyDir = followLinks(root, root / "sys/class/tty" / tty);
    const fs::path device = ttyDevice(tty);

    if (!device.empty())
        hardware.driver = hardwareDriver(device, devicesRoot);
    if (pathExists(ttyDir / "type")) {
        const int type = std::atoi(readAttribute(ttyDir / "type").c_str());
        hardware.uartFitted = type == 0 ? UartFitted::No : UartFitted::Yes;
        hardware.uartType = uartTypeName(type);
    }

    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(root / "dev/serial/by-id", ec)) {
        if (followLinks(root, entry.path()).filename() == tty &&
            (hardware.stablePath.empty() || systemPath(root, entry.path()) < hardware.stablePath))
            hardware.stablePath = systemPath(root, entry.path());
    }

    std::istringstream active(readAttribute(root / "sys/class/tty/console/active"));
    for (std::string name; active >> name;)
        hardware.console = hardware.console || name == tty;

    if (!device.empty())
        hardware.usb = usbIdentity(device, devicesRoot);
    if (!hardware.usb.empty()) {
        hardware.usb.byIdPath = hardware.stablePath;
        hardware.usb.driver = hardware.driver;
    }
    return hardware;
}

// --- Holders ---------------------------------------------------------------

std::optional<dev_t> LinuxDeviceTree::deviceNumberOf(const std::string &devicePath) const
{
    // sysfs first: it is the kernel's own number for the tty whatever is
    // mounted on /dev in this namespace.
    if (const std::string tty = ttyOf(devicePath); !tty.empty()) {
        if (auto number = parseDeviceNumber(readAttribute(fs::path(root_) / "sys/class/tty" / tty / "dev")))
            return number;
    }
    struct stat st {};
    if (::stat(inTree(devicePath).c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        return st.st_rdev;
    // Pseudo-terminal slaves have no sysfs entry; their number is their index.
    constexpr const char *kPts = "/dev/pts/";
    if (devicePath.rfind(kPts, 0) == 0 && allDigits(devicePath.substr(std::char_traits<char>::length(kPts)))) {
        const int index = std::atoi(devicePath.c_str() + std::char_traits<char>::length(kPts));
        return ::makedev(kPtsFirstMajor + static_cast<unsigned>(index) / 256, static_cast<unsigned>(index) % 256);
    }
    return std::nullopt;
}

std::optional<dev_t> LinuxDeviceTree::openFileNumber(const std::string &fdLink, const std::string &target) const
{
    if (live_) {
        // The kernel follows the link to the open file itself, also when
        // its name means something else in this namespace.
        struct stat st {};
        if (::stat(fdLink.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
            return std::nullopt;
        return st.st_rdev;
    }
    return deviceNumberOf(target);
}

HolderSnapshot LinuxDeviceTree::lookAtHolders() const
{
    HolderSnapshot snapshot;
    const std::string procDir = inTree("/proc");
    DIR *proc = ::opendir(procDir.c_str());
    if (!proc)
        return snapshot;
    while (const dirent *entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (!allDigits(name))
            continue;
        const std::string processDir = procDir + "/" + name;
        const std::string fdDir = processDir + "/fd";
        DIR *fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue; // gone, or another user's
        HolderSnapshot::Process process;
        process.pid = static_cast<pid_t>(std::atoll(name.c_str()));
        while (const dirent *fdEntry = ::readdir(fds)) {
            if (fdEntry->d_name[0] == '.')
                continue;
            const std::string link = fdDir + "/" + fdEntry->d_name;
            // Only device nodes can be a port; the link's text says which
            // descriptors are worth a stat (most are pipes, sockets, files).
            const std::string target = linkText(link);
            if (target.rfind("/dev/", 0) != 0)
                continue;
            const std::optional<dev_t> number = openFileNumber(link, target);
            if (!number)
                continue;
            if (::major(*number) == kPtmxMajor && ::minor(*number) == kPtmxMinor)
                process.ptyMasters.push_back(masterIndex(processDir, fdEntry->d_name));
            else
                process.devices.push_back(*number);
        }
        ::closedir(fds);
        if (!process.devices.empty()) {
            process.commFile = processDir + "/comm"; // most processes here hold only /dev/null
            snapshot.processes_.push_back(std::move(process));
        }
    }
    ::closedir(proc);
    std::sort(snapshot.processes_.begin(), snapshot.processes_.end(),
              [](const HolderSnapshot::Process &a, const HolderSnapshot::Process &b) { return a.pid < b.pid; });
    return snapshot;
}

std::vector<PortHolder> HolderSnapshot::holdersOf(dev_t device, pid_t ignorePid) const
{
    const int index = ptyIndex(device);
    std::vector<PortHolder> holders;
    for (const Process &process : processes_) {
        if (process.pid == ignorePid)
            continue;
        const bool holds = std::find(process.devices.begin(), process.devices.end(), device) != process.devices.end();
        const bool farEnd = index >= 0 &&
            std::find(process.ptyMasters.begin(), process.ptyMasters.end(), index) != process.ptyMasters.end();
        if (holds && !farEnd)
            holders.push_back(PortHolder{static_cast<int>(process.pid), readAttribute(process.commFile)});
    }
    return holders;
}

HolderCache::HolderCache(LinuxDeviceTree tree, std::function<Clock::time_point()> now)
    : tree_(std::move(tree)), now_(std::move(now))
{
}

std::optional<PortHolder> HolderCache::holderOf(dev_t device, pid_t ignorePid, bool fresh)
{
    const std::lock_guard lock(mutex_);
    const auto look = [this] {
        snapshot_ = tree_.lookAtHolders();
        takenAt_ = now_();
    };
    bool looked = false;
    if (fresh || !takenAt_ || now_() - *takenAt_ >= kServesFor) {
        look();
        looked = true;
    }
    std::vector<PortHolder> holders = snapshot_.holdersOf(device, ignorePid);
    if (!holders.empty() && !looked) {
        look();
        holders = snapshot_.holdersOf(device, ignorePid);
    }
    if (holders.empty())
        return std::nullopt;
    return holders.front();
}

} // namespace serial
