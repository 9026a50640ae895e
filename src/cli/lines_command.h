#pragma once
// rebounce-cli lines: the line test of a full loopback plug.
#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/line_test.h"
#include "serial/comm_platform.h"

namespace CLI {
class App;
}

namespace cli {

struct LinesOptions {
    int port = 0;            // COM1..COM4, or ...
    std::string device;      // ... any device
    bool ri = false;         // check RI too
    bool dcd = true;         // --no-dcd: the plug wires no DCD
    std::string wiring;      // the plug's own wiring, if it differs
    int settleLimitMs = 250; // how long an input may take to follow
    bool json = false;
};

void addLinesCommand(CLI::App &app, int &exitStatus);

// The wiring the options describe; none, with why in error, for a wiring
// text that names no plug.
std::optional<echotest::Wiring> linesWiring(const LinesOptions &options, std::string &error);

// Opens the port through the serial layer on platform, runs the line test,
// closes the port.  The verdict goes to out (JSON with options.json),
// messages to err.  Returns an ExitStatus: 0 every wire passed, 1 a wire
// failed, 2 a wrong command line, 3 the port cannot be opened or has no
// handshake lines.
int runLines(const LinesOptions &options, std::ostream &out, std::ostream &err,
             serial::CommPlatform &platform = serial::systemCommPlatform(),
             const echotest::LineClock &clock = echotest::steadyLineClock());

// The line test's result as the text report shows it (several lines, no
// final newline) and as one JSON object (type "lines").
std::string lineTestText(const echotest::LineTestResult &result, const std::string &port);
nlohmann::ordered_json lineTestJson(const echotest::LineTestResult &result, const std::string &port);

} // namespace cli
