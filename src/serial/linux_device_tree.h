#pragma once
// What a Linux system knows about its serial devices, read from one file
// tree: sysfs (which driver, which UART, which USB device), udev's
// /dev/serial/by-id links, the console list, and /proc (who holds a
// device).  The tree's root is "/" for this machine; tests point it at
// fixture trees (tests/serial/fixtures) and get the same answers the
// port layer and port discovery get from the machine.
//
// Nothing here opens a device: reading the tree never raises DTR or
// disturbs a line.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "serial/port_discovery.h"

namespace serial {

// An 8250-family UART driver ("serial8250", "serial" on PNP and PCI): its
// rates come from one clock divider, and it reports an asked rate as set
// although it runs at the nearest divisor's rate.
bool driverDividesAClock(const std::string &driver);

// The hardware behind a tty as sysfs describes it.
struct TtyHardware {
    // The driver of the hardware: ftdi_sio, cdc_acm, serial8250, or "serial"
    // for an 8250 on PNP or PCI; the serial core's own "port" and "ctrl"
    // devices in between are passed over.
    std::string driver;
    UartFitted uartFitted = UartFitted::NotApplicable;
    std::string uartType; // "16550A" for a fitted serial-core port
    std::string stablePath; // its /dev/serial/by-id link, where udev made one
    UsbIdentity usb;        // empty for a tty that is not on USB
    bool console = false;   // the kernel writes its console to it

    bool rateFromDivider() const { return driverDividesAClock(driver); }
};

// The processes that held character devices at one moment, as their open
// files in /proc showed them.  Only the processes this user may look into
// show (all of them for root); a process that cannot be read is not there.
class HolderSnapshot {
public:
    HolderSnapshot() = default;

    // The processes that hold the device with that number, each once, in
    // order of pid, without the process ignorePid (the caller itself: its
    // own descriptor is the one being checked).  A process that holds the
    // master of a pseudo-terminal as well as its slave is the far end of
    // that line, not a competitor, and is left out.
    std::vector<PortHolder> holdersOf(dev_t device, pid_t ignorePid = 0) const;
    bool empty() const { return processes_.empty(); }

private:
    friend class LinuxDeviceTree;
    struct Process {
        pid_t pid = 0;
        std::string commFile; // proc/<pid>/comm: its command name, read when asked
        std::vector<dev_t> devices;
        std::vector<int> ptyMasters; // tty-index of each /dev/ptmx it holds
    };
    std::vector<Process> processes_;
};

class LinuxDeviceTree {
public:
    // root: the directory that holds sys, dev and proc ("/" for this machine).
    explicit LinuxDeviceTree(std::string root = "/");

    // --- What a port name means ------------------------------------------

    // Where the legacy ports live: COMn is this followed by n-1.
    static constexpr const char *kLegacyPortPrefix = "/dev/ttyS";
    // The device port n (1..999) opens: the path in REBOUNCE_COMn where that
    // is set and not empty, else the legacy port n-1.
    static std::string comDevicePath(int port);
    // The device a name opens: a name starting with '/' as it is; COMn and
    // \\.\COMn in any case (n from 1 to 999, no leading zero) as
    // comDevicePath says; empty for anything else.
    static std::string devicePathFor(const std::string &name);

    // --- The hardware behind a tty ---------------------------------------

    // The names of the ttys that sysfs ties to a device ("ttyUSB0"), in no
    // particular order; virtual consoles and pseudo-terminals have none.
    std::vector<std::string> deviceTtys() const;
    // The tty a device path leads to, its links followed inside the tree:
    // "ttyUSB0" for /dev/serial/by-id/usb-FTDI_...; empty when it leads to
    // no tty that sysfs knows.
    std::string ttyOf(const std::string &devicePath) const;
    // Driver, UART, USB identity and console flag of a tty ("ttyUSB0").
    TtyHardware hardwareOf(const std::string &tty) const;
    // Only the driver (TtyHardware::driver), for callers that need no more.
    std::string driverOf(const std::string &tty) const;

    // --- Who holds a device ----------------------------------------------

    // The device number of a system path ("/dev/ttyUSB0"): the kernel's own
    // in sysfs for a tty, else the node's; nullopt when neither is known.
    std::optional<dev_t> deviceNumberOf(const std::string &devicePath) const;
    // One look through proc/<pid>/fd of every process.
    HolderSnapshot lookAtHolders() const;

private:
    std::string inTree(const std::string &systemPath) const;
    std::string ttyDevice(const std::string &tty) const;
    std::optional<dev_t> openFileNumber(const std::string &fdLink, const std::string &target) const;

    std::string root_;
    bool live_; // the tree is this machine's own (root "/")
};

// One look through /proc costs 10 to 30 ms on a busy machine, and a soak of
// many ports reopens each of them several times a second: a look serves
// every port of this process for a while (2 s).  A port is only ever
// refused on a look of this moment, because the holder an older look saw
// may have let go since.
class HolderCache {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kServesFor = std::chrono::seconds(2);

    explicit HolderCache(LinuxDeviceTree tree, std::function<Clock::time_point()> now = Clock::now);

    // The first holder of the device other than ignorePid.  fresh: look
    // again whatever the last look saw.
    std::optional<PortHolder> holderOf(dev_t device, pid_t ignorePid, bool fresh);

private:
    LinuxDeviceTree tree_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    HolderSnapshot snapshot_;
    std::optional<Clock::time_point> takenAt_;
};

} // namespace serial
