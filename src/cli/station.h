#pragma once
// What a test station adds to the echo command: ports named by their place
// on USB or in a fixture, the identity of the unit behind each port in
// every record, the adapter's latency timer, and the results database.
// Kept apart from the runner so that the runner only asks for records.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/echo_engine.h"
#include "engine/run_reporter.h"
#include "serial/low_latency.h"
#include "serial/port_discovery.h"
#include "store/results_store.h"

namespace cli {

struct FixturePosition;

// One port as the station sees it.
struct StationPort {
    std::string position;  // the fixture's name for it; empty without a fixture
    std::string requested; // what was named: a device, usb-path:..., usb-serial:...
    std::string device;    // what a run opens; empty for an empty position
    std::string baud;      // a fixture position's own rate; empty: --baud
    std::optional<serial::SerialDevice> unit; // what discovery knows of it; none for a pseudo-terminal
    bool empty = false;    // a fixture position with nothing plugged in
    std::string emptyReason;
    std::unique_ptr<serial::LowLatency> lowLatency; // while --low-latency is in force

    // The latency as the records give it: the timer discovery read (or the
    // one set for the run) and the flag where it was set.
    serial::LatencyState latency() const;
    // All the records say of it.
    echotest::PortIdentity identity() const;
};

// A port named on the command line: a selector is resolved against
// devices; anything else is taken as a device path.  Empty error when
// resolved; else why not (nothing, or several, match).
std::string resolvePort(StationPort &port, const std::vector<serial::SerialDevice> &devices);

// A fixture position: a place with nothing there (or a device path that
// does not exist) is empty rather than an error; several matches are an
// error, as the fixture is then wrong.
std::string resolvePosition(StationPort &port, const FixturePosition &position,
                            const std::vector<serial::SerialDevice> &devices);

// Sets the latency for the run when asked; the problem, once, when it
// cannot be set (empty when it was, or nothing was asked).
std::string applyLowLatency(StationPort &port);

// A run's record for the database.
store::RunRecord runRecord(const echotest::RunRecord &run, const std::string &operatorName);

// The record of an empty position.
store::RunRecord emptyRecord(const StationPort &port, const std::string &operatorName, std::int64_t baud);

// An empty position's line in JSON Lines: the run fields it has, and its
// place and identity (null).
nlohmann::ordered_json emptyJson(const StationPort &port, std::int64_t baud);

// The verdict as records name it.
const char *recordVerdict(echotest::Verdict verdict);

} // namespace cli
