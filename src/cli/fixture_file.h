#pragma once
// --fixture FILE: the places of a test fixture, each with the USB port (or
// device) behind it and its own rate where it differs.  JSON, as in
// docs/fixture-files.md:
//   {"baud": 115200,
//    "positions": [{"name": "A1", "usb_path": "1-1.4:1.0"},
//                  {"name": "A2", "usb_serial": "FT1ABCDE:1", "baud": 9600},
//                  {"name": "B1", "device": "/dev/ttyUSB7", "frame": "8N1"}]}
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

struct FixturePosition {
    std::string name;
    std::string device; // "usb-path:...", "usb-serial:..." or a device path
    std::string baud;   // as --baud takes it
    std::optional<std::string> frame;
};

struct Fixture {
    std::vector<FixturePosition> positions;
};

class FixtureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a fixture from JSON text; source names it in messages.  A
// position without its own rate takes the file's, else defaultBaud.
// Throws FixtureError with the place of the fault.
Fixture parseFixture(const std::string &text, const std::string &source, const std::string &defaultBaud);
Fixture readFixtureFile(const std::string &path, const std::string &defaultBaud);

} // namespace cli
