#pragma once
// The serial devices of this machine with their names, one file per
// platform (port_discovery_linux.cpp, port_discovery_win32.cpp).  Listing
// never opens a port: opening one raises DTR on most drivers, which resets
// many microcontroller boards.
#include <optional>
#include <string>
#include <vector>

namespace serial {

// A process that holds a device open.
struct PortHolder {
    int pid = 0;
    std::string program; // its command name ("minicom")
};

// Whether a UART answers behind a port that the kernel's serial core set up.
// Legacy 8250 ports exist whether or not a chip is fitted; the core probes
// them and records the chip type, PORT_UNKNOWN (0) when none answered.
enum class UartFitted {
    NotApplicable, // not a serial-core port (USB adapters, ACM boards, Windows)
    Yes,
    No,
};

// Who a USB serial device is, as the system names it: enough to tell two
// adapters of one kind apart in a run's record and to find the same one
// again.  All empty for a device that is not on USB.
struct UsbIdentity {
    std::string vendorId;     // "0403"
    std::string productId;    // "6001"
    std::string manufacturer; // "FTDI"
    std::string product;      // "FT232R USB UART"
    std::string serialNumber; // empty where the device has none (FT4232H)
    int interfaceNumber = -1; // the USB interface the tty belongs to (0 to 3 on an FT4232H)
    std::string usbPath;      // "1-1.4:1.0": bus-ports:configuration.interface, the kernel's name of the interface
    std::string byIdPath;     // /dev/serial/by-id/..., where udev made one
    std::string driver;       // ftdi_sio, cp210x, cdc_acm, ...

    // "0403:6001", or empty.
    std::string usbId() const;
    bool empty() const { return vendorId.empty(); }

    friend bool operator==(const UsbIdentity &, const UsbIdentity &) = default;
};

struct SerialDevice {
    std::string path;         // /dev/ttyUSB0, or COM7 on Windows: what a run opens
    std::string stablePath;   // /dev/serial/by-id/... where there is one
    std::string driver;       // ftdi_sio, cdc_acm, serial (an 8250 on PNP), FTDIBUS, ...
    std::string vendorId;     // USB vendor "0403", empty for other buses
    std::string productId;    // USB product "6001"
    std::string manufacturer; // as the device names its maker ("FTDI")
    std::string product;      // as the device names itself ("FT232R USB UART")
    std::string serialNumber;
    // Where the unit sits on USB, which tells apart the interfaces of one
    // multi-port chip and chips without a serial number.  Linux only.
    std::optional<int> interfaceNumber; // 0..3 on an FT4232H
    std::string usbPath;                // "1-1.4:1.0": bus-ports:configuration.interface
    std::optional<int> latencyTimerMs;  // an FTDI adapter's latency timer (ftdi_sio's latency_timer)
    UartFitted uartFitted = UartFitted::NotApplicable;
    std::string uartType;     // "16550A" for a fitted serial-core port
    bool console = false;     // the kernel writes its console to this port
    std::vector<PortHolder> holders; // processes that hold it, where visible

    // "0403:6001", or empty for a device that is not on USB.
    std::string usbId() const;
    bool inUse() const { return !holders.empty(); }
    // A port without a UART behind it can only fail a test.
    bool hasHardware() const { return uartFitted != UartFitted::No; }
};

// Every serial device the system reports, sorted by path in natural order
// (ttyS2 before ttyS10, COM2 before COM10).  Which processes hold a device
// is known on Linux (from /proc, for the processes this user may inspect)
// and not on Windows.
std::vector<SerialDevice> listSerialDevices();

// The USB identity of the device a port path leads to (links followed);
// empty for a device that is not on USB, and on Windows, where it is not
// read yet.
UsbIdentity usbIdentityOf(const std::string &path);

// The device a port number 1..4 means: COMn on Windows; on Linux the device
// that REBOUNCE_COMn names, else /dev/ttyS(n-1).
std::string comPortDevice(int port);

// A name short enough for a narrow box: "USB0" for /dev/ttyUSB0, "ACM0",
// "S0" for /dev/ttyS0, "pts3" for /dev/pts/3, "COM7" for COM7.
std::string shortDeviceName(const std::string &path);

// One line that tells the device apart: the path, then what it is, its USB
// vendor:product, and whether it is the console or held by a program:
// "/dev/ttyUSB0  FT232R USB UART  0403:6001  in use by minicom".
std::string deviceLine(const SerialDevice &device);

// Name of a serial-core port type number ("16550A" for 4); empty for 0.
std::string uartTypeName(int type);

// Puts devices in natural order of their paths.
void sortDevices(std::vector<SerialDevice> &devices);

// The vendor and product of a Windows hardware id such as
// "USB\VID_0403&PID_6001&REV_0600" or "FTDIBUS\VID_0403+PID_6001+A50285BIA";
// false when it names none.
bool parseHardwareId(const std::string &hardwareId, std::string &vendorId, std::string &productId);

// The serial number in a Windows USB instance id
// ("USB\VID_0403&PID_6001\A50285BI"); empty when the last part is one the
// system made up (it holds '&').
std::string serialFromInstanceId(const std::string &instanceId);

} // namespace serial
