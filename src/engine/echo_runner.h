#pragma once
// Runs a series of echo tests without a window: one or many ports side by
// side, a number of runs or a soak for a time, until done or aborted, and
// tells every reporter what happened.  The command line wires options to it
// and chooses the reporters; the runner owns the sessions and their state.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/port_session.h"
#include "engine/run_reporter.h"

namespace echotest {

// How a series ended, in rising severity: the worst of its ports counts.
enum class SeriesOutcome { Passed, Refused, Failed, OpenFailed, Aborted };

SeriesOutcome worse(SeriesOutcome a, SeriesOutcome b);

// When each port stops.
struct SeriesLimits {
    int runs = 1;               // runs per port ...
    bool runsLimited = true;    // ... unless only a duration is given
    std::optional<std::chrono::milliseconds> duration; // a soak: no run starts after it
};

class EchoRunner {
public:
    // Ports run side by side, except that ports given the same lane number
    // run one after the other, in the order given (the rates of a sweep,
    // the two directions of a link: the same devices in turn).  No lanes:
    // every port its own.
    EchoRunner(std::vector<RunSettings> ports, SeriesLimits limits, std::vector<int> lanes = {});
    ~EchoRunner();
    EchoRunner(const EchoRunner &) = delete;
    EchoRunner &operator=(const EchoRunner &) = delete;

    // Reporters are told in the order they were added.
    void addReporter(RunReporter &reporter) { reporters_.push_back(&reporter); }

    // Polled between runs and at every yield of a run, from any thread
    // (Ctrl+C); true stops every port through the run's abort.
    std::function<bool()> abortRequested;
    // The same from code: safe from any thread, also a signal handler's.
    void requestAbort() { abort_ = true; }

    // Live display.  onProgress follows the one run of a series of one run
    // on one port; onTick is called every tickInterval while the ports run.
    std::function<void(const RunProgress &, const TestPlan &)> onProgress;
    std::function<void()> onTick;
    std::chrono::milliseconds tickInterval{250};

    // Runs the series; every reporter has been finished when it returns.
    // Refused: the rate is below the minimum, nothing was opened, no
    // reporter was called, and refusal() says why.
    SeriesOutcome run();
    const std::string &refusal() const { return refusal_; }

    // All ports together so far; safe while the series runs.
    SessionFigures figures() const;
    // A single run on a single port (where a progress line makes sense).
    bool singleRun() const;

private:
    struct Port;
    struct Lane;
    using LanePorts = std::vector<Port *>;

    bool aborting() const;
    bool limitReached(int run) const;
    double secondsSinceStart() const;
    void testPort(Port &port);
    bool takeResult(Port &port, int run, const RunResult &result);
    void runPorts();
    std::vector<LanePorts> lanePorts() const;
    bool servedTogether(std::size_t laneCount) const;
    std::vector<std::thread> startThreads(std::vector<LanePorts> lanes, std::atomic<std::size_t> &running);
    void serveLanes(std::vector<LanePorts> lanes);
    void startRun(Lane &lane);
    void stepRun(Lane &lane);
    void endPorts();

    std::vector<std::unique_ptr<Port>> ports_;
    SeriesLimits limits_;
    std::vector<int> lanes_;
    std::vector<RunReporter *> reporters_;
    std::mutex reportMutex_; // one reporter call at a time
    std::atomic<bool> abort_{false};
    SeriesInfo info_;
    std::chrono::steady_clock::time_point start_;
    std::string refusal_;
};

} // namespace echotest
