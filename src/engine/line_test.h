#pragma once
// The line test of a full loopback plug: each output level against each
// input.  A DB-9 full loopback plug wires RTS to CTS and DTR to DSR and DCD
// (pins 7-8 and 4-6-1); some add RI.  The test drives the outputs one at a
// time, waits for the inputs to settle, and judges every wire on its own,
// with a name for what is wrong with it.  The outputs are put back as they
// were, also when the test fails half-way.

#include "serial/comm_error.h"
#include "serial/port_lines.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace echotest {

// One wire of the plug: the input follows the output.
struct Wire {
    std::uint32_t output = 0; // serial::modemline bit
    std::uint32_t input = 0;

    friend bool operator==(const Wire &, const Wire &) = default;
};

// The wires of a plug, at most one per input.
using Wiring = std::vector<Wire>;

// The full loopback plug: RTS-CTS, DTR-DSR, DTR-DCD; with ri also DTR-RI,
// without dcd no DCD.
Wiring fullLoopbackWiring(bool ri = false, bool dcd = true);
// A plug described as "rts-cts,dtr-dsr": pairs of an output (RTS, DTR,
// OUT1, OUT2) and an input (CTS, DSR, DCD, RI), either way round, in any
// case.  None, and why in error, for anything else.
std::optional<Wiring> parseWiring(const std::string &text, std::string &error);
// "RTS-CTS,DTR-DSR,DTR-DCD".
std::string wiringText(const Wiring &wiring);

inline constexpr int kLocalSettleLimitMs = 250;
inline constexpr int kRemoteSettleLimitMs = 1500;

struct LineTestOptions {
    Wiring wiring = fullLoopbackWiring();
    // How long an input may take to follow its output; 0 for the port's
    // own default (kLocalSettleLimitMs, or kRemoteSettleLimitMs on a port
    // server, which may look at its device's lines only about once a second).
    int settleLimitMs = 0;
    // How long the inputs are watched for a late change once they look
    // right (at least; longer when they took longer than this to settle).
    int quietMs = 20;
};

// One wire's verdict.
struct WireResult {
    Wire wire;
    bool pass = false;
    std::string fault;     // what is wrong, in words; empty on a pass
    double settleMs = 0;   // the longest the input took to follow, over all steps
};

enum class LineVerdict {
    Pass,    // every wire follows its output
    Fail,    // at least one does not
    NoLines, // the device has no handshake lines (a pseudo-terminal)
    Error,   // a line call failed, or the wiring asks for an output the port lacks
};

// One step: the outputs set, the inputs seen once they had settled.
struct LineStep {
    std::uint32_t outputs = 0; // raised outputs (the others among those tested are low)
    std::uint32_t inputs = 0;
    double settleMs = 0;       // until the inputs looked as the wiring says; the limit if never
    bool settled = false;
};

struct LineTestResult {
    LineVerdict verdict = LineVerdict::Error;
    std::vector<WireResult> wires;
    std::vector<LineStep> steps;
    std::uint32_t checkedInputs = 0; // the inputs the wiring names
    double settleMs = 0;             // the longest settle of a passing wire
    int settleLimitMs = 0;
    std::uint32_t linesBefore = 0;   // all lines as found
    std::uint32_t linesAfter = 0;    // all lines as left
    bool restored = false;           // the outputs are back as found
    serial::CommError error;         // NoLines and Error: the failed call
    std::string message;             // NoLines and Error: in words

    bool passed() const { return verdict == LineVerdict::Pass; }
};

// "PASS", "FAIL", "NO LINES", "ERROR".
const char *lineVerdictText(LineVerdict verdict);

// Milliseconds from any fixed start.
using LineClock = std::function<double()>;
// The steady clock of the machine.
LineClock steadyLineClock();

// Runs the line test on lines; portName names the port in messages.
LineTestResult runLineTest(serial::PortLines &lines, const LineTestOptions &options, const std::string &portName,
                           const LineClock &clock = steadyLineClock());

} // namespace echotest
