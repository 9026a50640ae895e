#pragma once
// The soak report: one self-contained HTML page with the statistics of each
// port and three plots per port (last-read times, runs over time with the
// failures marked, where in the pattern the errors fell).  The plotting
// library is built into the program, so the page needs no network.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/run_statistics.h"
#include "report/flow_report.h"
#include "report/line_report.h"

namespace report {

struct ReportPort {
    std::string name;       // the device as the user named it
    std::string baud;       // the requested rate as given
    double requestedBaud = 0;
    double lineTimeMs = 0;  // the pattern's line time at that rate
    int32_t patternLength = 1000;
    const echotest::RunStatistics *statistics = nullptr;
    std::string pattern = "spec"; // the pattern's name
    std::string frame = "8N1";    // the frame's name, with its flow control
    std::string listenPort;       // two ports: where the echo was listened for
    const LineTally *lines = nullptr; // the handshake lines, where the runs tested them
    std::string unit;       // the position and the unit behind the port, in words; empty: none
    const FlowTally *flowLoad = nullptr; // flow control under load, where the runs paused the reader
};

struct ReportInfo {
    std::string startedAt;   // local time the soak began, as text
    double seconds = 0;      // how long it ran
    std::string version;     // of this program
};

void writeHtmlReport(std::ostream &out, const ReportInfo &info, const std::vector<ReportPort> &ports);

// The version of the plotting library the page embeds.
extern const char kChartJsVersion[];

} // namespace report
