// Port discovery: the Linux reader against a fixture tree (sysfs, udev's
// by-id links, /proc), and the names and lines the window and the command
// line show.
#include <gtest/gtest.h>

#include "serial/port_discovery.h"
#include "serial/sysfs_ports.h"

namespace {

using serial::SerialDevice;
using serial::UartFitted;

const SerialDevice *find(const std::vector<SerialDevice> &devices, const std::string &path)
{
    for (const SerialDevice &device : devices) {
        if (device.path == path)
            return &device;
    }
    return nullptr;
}

std::vector<std::string> paths(const std::vector<SerialDevice> &devices)
{
    std::vector<std::string> result;
    for (const SerialDevice &device : devices)
        result.push_back(device.path);
    return result;
}

class FixtureTreeTest : public ::testing::Test {
protected:
    const std::vector<SerialDevice> devices = serial::listSerialDevicesUnder(REBOUNCE_PORT_FIXTURES "/linux");
};

TEST_F(FixtureTreeTest, ListsTheTtysTiedToADeviceInNaturalOrder)
{
    // Virtual consoles, the console alias and ptmx have no device link.
    EXPECT_EQ((std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyFX0", "/dev/ttyFX1", "/dev/ttyFX10", "/dev/ttyUSB0"}),
              paths(devices));
}

struct ExpectedDevice {
    const char *path;
    const char *stablePath;
    const char *driver;
    const char *usbId;
    const char *manufacturer;
    const char *product;
    const char *serialNumber;
    UartFitted uart;
    const char *uartType;
    bool console;
    const char *line; // as the window's drop-down shows it
};

TEST_F(FixtureTreeTest, DescribesEachDevice)
{
    const ExpectedDevice expected[] = {
        {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ftdi_sio", "0403:6001",
         "FTDI", "FT232R USB UART", "A50285BI", UartFitted::NotApplicable, "", false,
         "/dev/ttyUSB0  FT232R USB UART  0403:6001  in use by minicom"},
        {"/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino__www.arduino.cc__Arduino_Uno_85735313233351F0E1A1-if00",
         "cdc_acm", "2341:0043", "Arduino (www.arduino.cc)", "Arduino Uno", "85735313233351F0E1A1",
         UartFitted::NotApplicable, "", false, "/dev/ttyACM0  Arduino Uno  2341:0043"},
        // Current kernels put the serial core's "port" driver between the
        // tty and the hardware's driver; the hardware's driver is the one
        // that says something.
        {"/dev/ttyFX0", "", "serial", "", "", "", "", UartFitted::Yes, "16550A", true,
         "/dev/ttyFX0  16550A UART  system console  in use by agetty"},
        {"/dev/ttyFX1", "", "serial8250", "", "", "", "", UartFitted::No, "", false, "/dev/ttyFX1  no UART"},
    };
    for (const ExpectedDevice &want : expected) {
        SCOPED_TRACE(want.path);
        const SerialDevice *device = find(devices, want.path);
        ASSERT_NE(nullptr, device);
        EXPECT_EQ(want.stablePath, device->stablePath);
        EXPECT_EQ(want.driver, device->driver);
        EXPECT_EQ(want.usbId, device->usbId());
        EXPECT_EQ(want.manufacturer, device->manufacturer);
        EXPECT_EQ(want.product, device->product);
        EXPECT_EQ(want.serialNumber, device->serialNumber);
        EXPECT_EQ(want.uart, device->uartFitted);
        EXPECT_EQ(want.uartType, device->uartType);
        EXPECT_EQ(want.console, device->console);
        EXPECT_EQ(want.line, serial::deviceLine(*device));
        EXPECT_EQ(want.uart != UartFitted::No, device->hasHardware());
    }
}

TEST_F(FixtureTreeTest, NamesTheProcessesThatHoldADeviceOncePerProcess)
{
    const SerialDevice *adapter = find(devices, "/dev/ttyUSB0");
    ASSERT_NE(nullptr, adapter);
    ASSERT_EQ(1u, adapter->holders.size()); // two descriptors, one process
    EXPECT_EQ(4321, adapter->holders[0].pid);
    EXPECT_EQ("minicom", adapter->holders[0].program);
    // A process holding a path that merely starts like a device's holds
    // nothing of ours.
    const SerialDevice *board = find(devices, "/dev/ttyACM0");
    ASSERT_NE(nullptr, board);
    EXPECT_FALSE(board->inUse());
}

TEST(PortDiscoveryTest, AMissingTreeListsNothing)
{
    EXPECT_TRUE(serial::listSerialDevicesUnder(REBOUNCE_PORT_FIXTURES "/no-such-tree").empty());
}

TEST(PortDiscoveryTest, ShortNamesFitANarrowBox)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/dev/ttyUSB0", "USB0"},   {"/dev/ttyACM12", "ACM12"}, {"/dev/ttyFX0", "FX0"},
        {"/dev/ttyAMA0", "AMA0"},   {"/dev/pts/3", "pts3"},     {"/dev/rfcomm0", "rfcomm0"},
        {"COM7", "COM7"},           {"\\\\.\\COM12", "COM12"},  {"/dev/tty", "tty"},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(expected, serial::shortDeviceName(path)) << path;
}

TEST(PortDiscoveryTest, LinesSayWhatADeviceIsAndWhoHoldsIt)
{
    SerialDevice windowsAdapter;
    windowsAdapter.path = "COM7";
    windowsAdapter.product = "USB Serial Port (COM7)";
    windowsAdapter.vendorId = "0403";
    windowsAdapter.productId = "6001";
    EXPECT_EQ("COM7  USB Serial Port (COM7)  0403:6001", serial::deviceLine(windowsAdapter));

    SerialDevice platformUart;
    platformUart.path = "/dev/ttyAMA0";
    platformUart.driver = "uart-pl011";
    platformUart.holders = {{10, "screen"}, {11, ""}, {12, "screen"}};
    EXPECT_EQ("/dev/ttyAMA0  uart-pl011  in use by screen, pid 11", serial::deviceLine(platformUart));

    SerialDevice bare;
    bare.path = "COM3";
    EXPECT_EQ("COM3", serial::deviceLine(bare));
}

TEST(PortDiscoveryTest, SortsDigitRunsByValue)
{
    std::vector<SerialDevice> devices(6);
    const char *names[] = {"COM10", "/dev/ttyFX10", "COM2", "/dev/ttyFX2", "/dev/ttyFX02x", "/dev/ttyACM0"};
    for (std::size_t i = 0; i < devices.size(); ++i)
        devices[i].path = names[i];
    serial::sortDevices(devices);
    EXPECT_EQ((std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyFX2", "/dev/ttyFX02x", "/dev/ttyFX10", "COM2", "COM10"}),
              paths(devices));
}

TEST(PortDiscoveryTest, ReadsWindowsHardwareAndInstanceIds)
{
    struct Case {
        const char *hardwareId;
        bool found;
        const char *usbId;
    };
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001&REV_0600", true, "0403:6001"},
        {"FTDIBUS\\VID_0403+PID_6015+DK0HF8ZJA\\0000", true, "0403:6015"},
        {"usb\\vid_1a86&pid_7523", true, "1a86:7523"},
        {"ACPI\\PNP0501", false, ""},
        {"USB\\VID_04&PID_6001", false, ""},
    };
    for (const Case &c : cases) {
        SerialDevice device;
        EXPECT_EQ(c.found, serial::parseHardwareId(c.hardwareId, device.vendorId, device.productId)) << c.hardwareId;
        EXPECT_EQ(c.usbId, device.usbId()) << c.hardwareId;
    }
    EXPECT_EQ("A50285BI", serial::serialFromInstanceId("USB\\VID_0403&PID_6001\\A50285BI"));
    EXPECT_EQ("", serial::serialFromInstanceId("USB\\VID_1A86&PID_7523\\5&2A3B4C5D&0&2"));
    EXPECT_EQ("", serial::serialFromInstanceId("ACPI\\PNP0501\\1"));
}

TEST(PortDiscoveryTest, UartTypesByTheirKernelNames)
{
    EXPECT_EQ("", serial::uartTypeName(0));
    EXPECT_EQ("16550A", serial::uartTypeName(4));
    EXPECT_EQ("16C950", serial::uartTypeName(10));
    EXPECT_EQ("type 83", serial::uartTypeName(83));
}

} // namespace
