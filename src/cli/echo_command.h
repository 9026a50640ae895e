#pragma once
#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/lines_command.h"
#include "serial/port_discovery.h"

namespace CLI {
class App;
}

namespace cli {

struct EchoOptions {
    // The ports to test, side by side: COM1..COM4 through the serial layer's
    // mapping, and any devices (a tty path, or COM7 on Windows).
    std::vector<int> ports;
    std::vector<std::string> devices;
    std::string baud = "9600";
    bool lowerCase = false;  // a lower-case echo passes (the window's check box)
    bool json = false;
    int runs = 1;            // as a held Enter key would start them ...
    bool runsGiven = false;  // ... unless only a duration is given
    std::optional<std::chrono::milliseconds> duration; // a soak: runs until it is over
    std::string report;      // an HTML report to write at the end, if any
    std::string junit;       // JUnit XML to write, if any
    std::string csv;         // CSV to write, if any
    bool progress = true;    // live progress on standard error when it is a terminal
    // The plan beyond the classic test.
    std::string pattern = "spec";         // spec, 0xNN, counting, all-bytes, random[:SEED], hex:, file:
    std::optional<std::size_t> length;    // none: the pattern's own length
    int chunk = 10;
    std::string frame = "8N1";
    std::string flow = "none";            // none, rtscts, xonxoff
    bool rs485 = false;
    unsigned rs485DelayBeforeMs = 0;
    unsigned rs485DelayAfterMs = 0;
    std::vector<std::string> to;          // two ports: where each sender's bytes are listened for
    bool bothWays = false;                // ... and the reverse direction too
    std::string sweep;                    // rates to run the plan at, one after the other
    bool lines = false;      // the line test before the data of every run ...
    PlugOptions plug;        // ... of this plug
    int readerPauseMs = 0;   // flow control under load: the reader stops this long; 0: off
    // A test station's additions (docs/results-db.md, docs/fixture-files.md).
    std::string log;          // the results database: a file or postgresql://...
    std::string operatorName; // who runs the station
    std::string fixture;      // a fixture file: every position at once
    bool lowLatency = false;  // a 1 ms latency timer and the low-latency flag for the run
    // The machine's serial devices, for the units' identities and for
    // usb-path: and usb-serial: names; tests give a fixture tree's.
    std::function<std::vector<serial::SerialDevice>()> discover = serial::listSerialDevices;
};

// "90s", "10m", "1h", "1h30m", "250ms" or plain seconds; none for anything else.
std::optional<std::chrono::milliseconds> parseDuration(const std::string &text);

// rebounce-cli echo.
void addEchoCommand(CLI::App &app, int &exitStatus);

// Runs the echo test on every port given, each options.runs times or for
// options.duration, on the window's engine.  Verdicts, statistics and JSON
// go to out, messages and the live status to err.  Returns an ExitStatus.
int runEcho(const EchoOptions &options, std::ostream &out, std::ostream &err);

// Bytes as JSON-safe UTF-8 (report::bytesAsUtf8).
std::string bytesAsUtf8(const std::string &bytes);

} // namespace cli
