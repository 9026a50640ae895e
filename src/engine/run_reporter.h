#pragma once
// What a series of runs reports, and the interface every output format
// implements: one begin, one call per run, one per port at its end, one
// finish.  The runner calls a reporter from one thread at a time, in that
// order; runs of different ports may interleave.
#include <chrono>
#include <string>
#include <vector>

#include "engine/echo_engine.h"
#include "engine/run_statistics.h"

namespace echotest {

// A port as the reports name it, with the plan it runs.
struct ReportedPort {
    std::string name;
    TestPlan plan;
    PortIdentity identity; // the unit behind it and its place
};

// One run on a port.
struct RunRecord {
    const ReportedPort &port;
    int run = 0;                // 1, 2, ... on this port
    const RunResult &result;
    std::string message;        // the run's message with its line breaks as "\n"; empty: none
};

// How a port ended, with what its runs add up to.
struct PortEnd {
    const ReportedPort &port;
    const RunTally &tally;
    const RunStatistics &statistics;
    std::string error;          // why the port stopped early (it could not be opened); empty: it did not
};

// The series as a whole.
struct SeriesInfo {
    std::chrono::system_clock::time_point startedAt;
    double seconds = 0;         // from the first run to the end (at finish)
    bool soak = false;          // runs for a time rather than a number of runs
};

class RunReporter {
public:
    virtual ~RunReporter() = default;

    virtual void begin(const SeriesInfo &, const std::vector<ReportedPort> &) {}
    // Every run that started, judged or not.  A port that could not be
    // opened has one run with the verdict OpenFailed and no more.
    virtual void reportRun(const RunRecord &record) = 0;
    virtual void reportPortEnd(const PortEnd &end) = 0;
    virtual void finish(const SeriesInfo &) {}
};

} // namespace echotest
