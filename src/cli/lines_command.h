#pragma once
// rebounce-cli lines: the line test of a full loopback plug.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine/line_test.h"
#include "serial/comm_platform.h"

namespace CLI {
class App;
class Option;
}

namespace cli {

// The plug's wiring and how long its inputs may take: what `lines` and
// `echo --lines` share.
struct PlugOptions {
    bool ri = false;         // check RI too
    bool dcd = true;         // --no-dcd: the plug wires no DCD
    std::string wiring;      // the plug's own wiring, if it differs
    int settleLimitMs = 0; // how long an input may take to follow; 0 for the port's default
};

struct LinesOptions {
    int port = 0;            // COM1..COM4, or ...
    std::string device;      // ... any device
    PlugOptions plug;
    bool json = false;
};

void addLinesCommand(CLI::App &app, int &exitStatus);

// Adds --ri, --no-dcd, --wiring and --settle-limit to command; returns them.
std::vector<CLI::Option *> addPlugOptions(CLI::App *command, PlugOptions &plug);

// The line test the options describe: the full loopback plug, or the
// wiring given; RI only with ri (on DTR unless the wiring names its wire),
// DCD unless dcd is off.  None, with why in error, when the wiring text
// names no plug or no wire is left.
std::optional<echotest::LineTestOptions> lineTestOptions(const PlugOptions &plug, std::string &error);

// Opens the port through the serial layer on platform, runs the line test,
// closes the port.  The verdict goes to out (JSON with options.json),
// messages to err.  Returns an ExitStatus: 0 every wire passed, 1 a wire
// failed, 2 a wrong command line, 3 the port cannot be opened or has no
// handshake lines.
int runLines(const LinesOptions &options, std::ostream &out, std::ostream &err,
             serial::CommPlatform &platform = serial::portCommPlatform(),
             const echotest::LineClock &clock = echotest::steadyLineClock());

} // namespace cli
