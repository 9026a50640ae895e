// A test station's hub as sysfs shows it (fixtures/station): each unit's
// identity down to the interface of a multi-port chip, and ports named by
// USB path or serial number.
#include <gtest/gtest.h>

#include "serial/device_selector.h"
#include "serial/port_discovery.h"
#include "serial/sysfs_ports.h"

namespace {

using serial::SerialDevice;

class StationTreeTest : public ::testing::Test {
protected:
    const std::vector<SerialDevice> devices = serial::listSerialDevicesUnder(REBOUNCE_PORT_FIXTURES "/station");
};

struct ExpectedUnit {
    const char *path;
    const char *usbId;
    const char *serialNumber; // "" for none
    int interfaceNumber;
    const char *usbPath;
    const char *byId;
    const char *driver;
    int latencyTimerMs; // -1 for none
};

TEST_F(StationTreeTest, GivesEachInterfaceItsOwnIdentity)
{
    const ExpectedUnit expected[] = {
        {"/dev/ttyACM0", "2341:0043", "85735313233351F0E1A1", 0, "1-1.3:1.0",
         "/dev/serial/by-id/usb-Arduino__www.arduino.cc__Arduino_Uno_85735313233351F0E1A1-if00", "cdc_acm", -1},
        {"/dev/ttyUSB0", "0403:6001", "A10K5ZQ1", 0, "1-1.1:1.0",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5ZQ1-if00-port0", "ftdi_sio", 16},
        // An FT4232H without EEPROM: only the path tells its ports apart.
        {"/dev/ttyUSB1", "0403:6011", "", 0, "1-1.4:1.0", "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if00-port0",
         "ftdi_sio", 16},
        {"/dev/ttyUSB2", "0403:6011", "", 1, "1-1.4:1.1", "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if01-port0",
         "ftdi_sio", 16},
        {"/dev/ttyUSB3", "0403:6011", "", 2, "1-1.4:1.2", "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if02-port0",
         "ftdi_sio", 16},
        {"/dev/ttyUSB4", "0403:6011", "", 3, "1-1.4:1.3", "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if03-port0",
         "ftdi_sio", 16},
        {"/dev/ttyUSB5", "10c4:ea60", "6a3e1c2b8f7ded11a1b2c3d4e5f6a7b8", 0, "1-1.2:1.0",
         "/dev/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_"
         "6a3e1c2b8f7ded11a1b2c3d4e5f6a7b8-if00-port0",
         "cp210x", -1},
        {"/dev/ttyUSB6", "0403:6010", "FT2ABCDE", 0, "1-1.5:1.0",
         "/dev/serial/by-id/usb-FTDI_Dual_RS232-HS_FT2ABCDE-if00-port0", "ftdi_sio", 16},
        {"/dev/ttyUSB7", "0403:6010", "FT2ABCDE", 1, "1-1.5:1.1",
         "/dev/serial/by-id/usb-FTDI_Dual_RS232-HS_FT2ABCDE-if01-port0", "ftdi_sio", 1},
    };
    ASSERT_EQ(std::size(expected), devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        const ExpectedUnit &e = expected[i];
        const SerialDevice &d = devices[i];
        SCOPED_TRACE(e.path);
        EXPECT_EQ(e.path, d.path);
        EXPECT_EQ(e.usbId, d.usbId());
        EXPECT_EQ(e.serialNumber, d.serialNumber);
        EXPECT_EQ(e.interfaceNumber, d.interfaceNumber.value_or(-1));
        EXPECT_EQ(e.usbPath, d.usbPath);
        EXPECT_EQ(e.byId, d.stablePath);
        EXPECT_EQ(e.driver, d.driver);
        EXPECT_EQ(e.latencyTimerMs, d.latencyTimerMs.value_or(-1));
    }
}

struct SelectorCase {
    const char *text;
    const char *device; // the device chosen, or nullptr
    const char *error;  // a part of the message when none is
};

void PrintTo(const SelectorCase &c, std::ostream *out) { *out << c.text; }

class SelectorTest : public StationTreeTest, public ::testing::WithParamInterface<SelectorCase> {};

TEST_P(SelectorTest, ResolvesToOneDeviceOrSaysWhyNot)
{
    const SelectorCase &c = GetParam();
    ASSERT_TRUE(serial::isDeviceSelector(c.text));
    const serial::SelectorMatch match = serial::resolveDeviceSelector(c.text, devices);
    if (c.device) {
        ASSERT_NE(nullptr, match.device) << match.error;
        EXPECT_EQ(c.device, match.device->path);
        EXPECT_EQ("", match.error);
    } else {
        EXPECT_EQ(nullptr, match.device);
        EXPECT_NE(std::string::npos, match.error.find(c.error)) << match.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Station, SelectorTest,
    ::testing::Values(SelectorCase{"usb-path:1-1.4:1.2", "/dev/ttyUSB3", nullptr},
                      SelectorCase{"usb-path:1-1.3:1.0", "/dev/ttyACM0", nullptr},
                      SelectorCase{"usb-path:1-1.4", nullptr, "No serial device matches usb-path:1-1.4."},
                      SelectorCase{"usb-path:9-9:1.0", nullptr, "No serial device matches"},
                      SelectorCase{"usb-path:", nullptr, "No USB path given"},
                      SelectorCase{"usb-serial:A10K5ZQ1", "/dev/ttyUSB0", nullptr},
                      SelectorCase{"usb-serial:A10K5ZQ1:0", "/dev/ttyUSB0", nullptr},
                      SelectorCase{"usb-serial:FT2ABCDE:1", "/dev/ttyUSB7", nullptr},
                      // Both interfaces of the FT2232H carry its number.
                      SelectorCase{"usb-serial:FT2ABCDE", nullptr,
                                   "2 serial devices match usb-serial:FT2ABCDE: /dev/ttyUSB6 (usb-path:1-1.5:1.0), "
                                   "/dev/ttyUSB7 (usb-path:1-1.5:1.1)"},
                      SelectorCase{"usb-serial:FT2ABCDE:2", nullptr, "No serial device matches"},
                      SelectorCase{"usb-serial:a10k5zq1", nullptr, "No serial device matches"},
                      SelectorCase{"usb-serial:", nullptr, "No serial number given"}));

TEST_F(StationTreeTest, FindsADeviceByItsPathOrByIdNameAndNothingElse)
{
    ASSERT_NE(nullptr, serial::findDevice(devices, "/dev/ttyUSB2"));
    EXPECT_EQ("1-1.4:1.1", serial::findDevice(devices, "/dev/ttyUSB2")->usbPath);
    const SerialDevice *byId = serial::findDevice(devices, "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if03-port0");
    ASSERT_NE(nullptr, byId);
    EXPECT_EQ("/dev/ttyUSB4", byId->path);
    EXPECT_EQ(nullptr, serial::findDevice(devices, "/dev/pts/7"));
    EXPECT_FALSE(serial::isDeviceSelector("/dev/ttyUSB0"));
}

} // namespace
