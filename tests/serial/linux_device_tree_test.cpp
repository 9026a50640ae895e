// The Linux device tree on fixture trees: what a port name opens, which
// driver, UART and USB device is behind a tty, and who holds a device.
// fixtures/linux is a PC with an FT232R, an Arduino (CDC-ACM) and legacy
// ports; fixtures/linux-lab has an FT4232H (four ports, no serial number),
// a CP2102N, a pseudo-terminal plug and programs that hold them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "serial/linux_device_tree.h"

namespace {

namespace fs = std::filesystem;
using serial::HolderCache;
using serial::LinuxDeviceTree;
using serial::PortHolder;
using serial::UartFitted;

const std::string kPc = REBOUNCE_PORT_FIXTURES "/linux";
const std::string kLab = REBOUNCE_PORT_FIXTURES "/linux-lab";

// Sets or clears an environment variable for one test.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    std::optional<std::string> old_;
};

TEST(LinuxDeviceTreeNames, ComNamesLeadToTheLegacyPortsOrTheirVariable)
{
    const ScopedEnv com2("REBOUNCE_COM2", "/dev/ttyUSB0");
    const ScopedEnv com3("REBOUNCE_COM3", ""); // empty: as if unset
    const ScopedEnv com1("REBOUNCE_COM1", nullptr);
    // The legacy port n-1, named through the tree's prefix: a test names no
    // host serial device.
    const auto legacy = [](int index) { return LinuxDeviceTree::kLegacyPortPrefix + std::to_string(index); };
    const std::pair<const char *, std::string> cases[] = {
        {"COM1", legacy(0)},
        {"com4", legacy(3)},
        {"\\\\.\\COM1", legacy(0)},
        {"COM2", "/dev/ttyUSB0"},
        {"\\\\.\\cOm2", "/dev/ttyUSB0"},
        {"COM3", legacy(2)},
        {"COM12", legacy(11)},
        {"COM999", legacy(998)},
        {"/dev/pts/3", "/dev/pts/3"},
        {"/dev/serial/by-id/x", "/dev/serial/by-id/x"},
        {"COM0", ""},
        {"COM01", ""},
        {"COM1000", ""},
        {"COM", ""},
        {"COM1x", ""},
        {"LPT1", ""},
        {"ttyUSB0", ""},
        {"", ""},
    };
    for (const auto &[name, expected] : cases)
        EXPECT_EQ(expected, LinuxDeviceTree::devicePathFor(name)) << name;
    EXPECT_EQ("/dev/ttyUSB0", LinuxDeviceTree::comDevicePath(2));
    EXPECT_EQ(legacy(0), LinuxDeviceTree::comDevicePath(1));
}

TEST(LinuxDeviceTreeNames, PathsLeadToTheirTtyThroughLinks)
{
    struct Case {
        const std::string *root;
        const char *path;
        const char *tty;
    };
    const Case cases[] = {
        {&kLab, "/dev/ttyUSB4", "ttyUSB4"},
        {&kLab, "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if02-port0", "ttyUSB2"},
        {&kPc, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0"},
        {&kPc, "/dev/ttyFX10", "ttyFX10"},
        {&kLab, "/dev/pts/7", ""}, // no sysfs entry: not a device tty
        {&kLab, "/dev/ttyUSB9", ""},
        {&kLab, "", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.tty, LinuxDeviceTree(*c.root).ttyOf(c.path)) << c.path;
}

TEST(LinuxDeviceTreeNames, ListsOnlyTheTtysTiedToADevice)
{
    std::vector<std::string> ttys = LinuxDeviceTree(kLab).deviceTtys();
    std::sort(ttys.begin(), ttys.end());
    EXPECT_EQ((std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3", "ttyUSB4"}), ttys);
    EXPECT_TRUE(LinuxDeviceTree(REBOUNCE_PORT_FIXTURES "/no-such-tree").deviceTtys().empty());
}

struct ExpectedHardware {
    const std::string *root;
    const char *tty;
    const char *driver;
    UartFitted uart;
    const char *uartType;
    bool divider; // rates from a clock divider: judged as the 8250 runs them
    bool console;
    const char *usbId;
    const char *product;
    const char *serialNumber;
    int interfaceNumber;
    const char *usbPath;
    const char *byId; // under /dev/serial/by-id/
};

TEST(LinuxDeviceTreeHardware, DescribesTheDriverUartAndUsbDeviceOfEachTty)
{
    const ExpectedHardware cases[] = {
        {&kPc, "ttyUSB0", "ftdi_sio", UartFitted::NotApplicable, "", false, false, "0403:6001", "FT232R USB UART",
         "A50285BI", 0, "1-1:1.0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        // CDC-ACM: the tty's device is the USB interface itself.
        {&kPc, "ttyACM0", "cdc_acm", UartFitted::NotApplicable, "", false, false, "2341:0043", "Arduino Uno",
         "85735313233351F0E1A1", 0, "1-2:1.0", "usb-Arduino__www.arduino.cc__Arduino_Uno_85735313233351F0E1A1-if00"},
        // Serial-core ports: the hardware's driver beyond the core's port and ctrl.
        {&kPc, "ttyFX0", "serial", UartFitted::Yes, "16550A", true, true, "", "", "", -1, "", ""},
        {&kPc, "ttyFX1", "serial8250", UartFitted::No, "", true, false, "", "", "", -1, "", ""},
        // FT4232H: four interfaces of one device without a serial number.
        {&kLab, "ttyUSB0", "ftdi_sio", UartFitted::NotApplicable, "", false, false, "0403:6011", "Quad RS232-HS", "",
         0, "1-1.4:1.0", "usb-FTDI_Quad_RS232-HS-if00-port0"},
        {&kLab, "ttyUSB3", "ftdi_sio", UartFitted::NotApplicable, "", false, false, "0403:6011", "Quad RS232-HS", "",
         3, "1-1.4:1.3", "usb-FTDI_Quad_RS232-HS-if03-port0"},
        {&kLab, "ttyUSB4", "cp210x", UartFitted::NotApplicable, "", false, false, "10c4:ea60",
         "CP2102N USB to UART Bridge Controller", "a4b1c2d3e4f5e911a1b2c3d4e5f6a7b8", 0, "1-1.3:1.0",
         "usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_a4b1c2d3e4f5e911a1b2c3d4e5f6a7b8-if00-port0"},
        {&kLab, "ttyUSB9", "", UartFitted::NotApplicable, "", false, false, "", "", "", -1, "", ""},
    };
    for (const ExpectedHardware &want : cases) {
        SCOPED_TRACE(want.tty);
        const LinuxDeviceTree tree(*want.root);
        const serial::TtyHardware hardware = tree.hardwareOf(want.tty);
        EXPECT_EQ(want.driver, hardware.driver);
        EXPECT_EQ(want.driver, tree.driverOf(want.tty));
        EXPECT_EQ(want.uart, hardware.uartFitted);
        EXPECT_EQ(want.uartType, hardware.uartType);
        EXPECT_EQ(want.divider, hardware.rateFromDivider());
        EXPECT_EQ(want.console, hardware.console);
        const std::string byId = *want.byId ? std::string("/dev/serial/by-id/") + want.byId : "";
        EXPECT_EQ(byId, hardware.stablePath);

        const serial::UsbIdentity &usb = hardware.usb;
        EXPECT_EQ(want.usbId, usb.usbId());
        EXPECT_EQ(want.product, usb.product);
        EXPECT_EQ(want.serialNumber, usb.serialNumber);
        EXPECT_EQ(want.interfaceNumber, usb.interfaceNumber);
        EXPECT_EQ(want.usbPath, usb.usbPath);
        EXPECT_EQ(usb.empty() ? "" : byId, usb.byIdPath);
        EXPECT_EQ(usb.empty() ? "" : want.driver, usb.driver);
    }
}

TEST(LinuxDeviceTreeHolders, DeviceNumbersComeFromSysfsOrThePtyIndex)
{
    const LinuxDeviceTree lab(kLab);
    const std::pair<const char *, std::optional<dev_t>> cases[] = {
        {"/dev/ttyUSB1", ::makedev(188, 1)},
        {"/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if02-port0", ::makedev(188, 2)},
        {"/dev/ptmx", ::makedev(5, 2)},
        {"/dev/pts/7", ::makedev(136, 7)},
        {"/dev/pts/300", ::makedev(137, 44)},
        {"/dev/pts/x", std::nullopt},
        {"/dev/ttyUSB9", std::nullopt},
    };
    for (const auto &[path, number] : cases)
        EXPECT_EQ(number, lab.deviceNumberOf(path)) << path;
}

struct HolderCase {
    const char *path;
    pid_t ignorePid;
    std::vector<std::pair<int, std::string>> holders;
};

std::vector<std::pair<int, std::string>> holdersOf(const LinuxDeviceTree &tree, const serial::HolderSnapshot &snapshot,
                                                   const char *path, pid_t ignorePid = 0)
{
    std::vector<std::pair<int, std::string>> result;
    const std::optional<dev_t> number = tree.deviceNumberOf(path);
    if (!number)
        return result;
    for (const PortHolder &holder : snapshot.holdersOf(*number, ignorePid))
        result.emplace_back(holder.pid, holder.program);
    return result;
}

TEST(LinuxDeviceTreeHolders, NamesEachProcessThatHoldsADeviceOnce)
{
    const LinuxDeviceTree lab(kLab);
    const serial::HolderSnapshot snapshot = lab.lookAtHolders();
    const HolderCase cases[] = {
        {"/dev/ttyUSB1", 0, {{500, "screen"}}}, // two descriptors, one process
        {"/dev/ttyUSB1", 500, {}},              // the caller's own descriptor is not a competitor
        // The plug holds the master of pts/7 as well: the far end of the line.
        // term holds the master of another pty: a competitor.
        {"/dev/pts/7", 0, {{601, "minicom"}, {602, "term"}}},
        {"/dev/ttyUSB4", 0, {{700, ""}}}, // its name unknown
        {"/dev/ttyUSB2", 0, {}},          // held only in a folder that is not a process
        {"/dev/ttyUSB0", 0, {}},
    };
    for (const HolderCase &c : cases)
        EXPECT_EQ(c.holders, holdersOf(lab, snapshot, c.path, c.ignorePid)) << c.path << " ignoring " << c.ignorePid;
}

// A copy of the lab tree the test may change, and a clock it moves.
class HolderCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("rebounce-tree-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::copy(kLab, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    void TearDown() override { fs::remove_all(root_); }

    void hold(int pid, const std::string &device)
    {
        fs::create_directories(root_ / "proc" / std::to_string(pid) / "fd");
        std::ofstream(root_ / "proc" / std::to_string(pid) / "comm") << "picocom\n";
        fs::create_symlink(device, root_ / "proc" / std::to_string(pid) / "fd" / "3");
    }
    void letGo(int pid) { fs::remove_all(root_ / "proc" / std::to_string(pid)); }

    std::optional<int> holderPid(HolderCache &cache, bool fresh)
    {
        const auto holder = cache.holderOf(::makedev(188, 2), 0, fresh);
        return holder ? std::optional<int>(holder->pid) : std::nullopt;
    }

    fs::path root_;
    HolderCache::Clock::time_point now_{};
};

TEST_F(HolderCacheTest, OneLookServesForTwoSecondsAndARefusalLooksAgain)
{
    HolderCache cache(LinuxDeviceTree(root_.string()), [this] { return now_; });
    EXPECT_EQ(std::nullopt, holderPid(cache, false));

    // A holder that came after the look is seen once the look has served.
    hold(510, "/dev/ttyUSB2");
    now_ += std::chrono::milliseconds(1900);
    EXPECT_EQ(std::nullopt, holderPid(cache, false));
    now_ += std::chrono::milliseconds(100);
    EXPECT_EQ(510, holderPid(cache, false));

    // A holder an older look saw is confirmed by a look of this moment.
    letGo(510);
    now_ += std::chrono::milliseconds(500);
    EXPECT_EQ(std::nullopt, holderPid(cache, false));

    // A fresh look never trusts the last one.
    hold(511, "/dev/ttyUSB2");
    EXPECT_EQ(std::nullopt, holderPid(cache, false));
    EXPECT_EQ(511, holderPid(cache, true));
}

} // namespace
