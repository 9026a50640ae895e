#include "engine/echo_runner.h"

#include <algorithm>
#include <thread>

namespace echotest {

namespace {

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

} // namespace

SeriesOutcome worse(SeriesOutcome a, SeriesOutcome b)
{
    return static_cast<int>(b) > static_cast<int>(a) ? b : a;
}

struct EchoRunner::Port {
    Port(RunSettings settings, std::function<bool()> abortRequested)
        : reported{settings.shownName(), settings.plan, settings.identity}, session(std::move(settings), std::move(abortRequested))
    {
    }
    ReportedPort reported;
    PortSession session;
    SeriesOutcome outcome = SeriesOutcome::Passed;
    std::string error; // why it stopped early
};

EchoRunner::EchoRunner(std::vector<RunSettings> ports, SeriesLimits limits, std::vector<int> lanes)
    : limits_(limits), lanes_(std::move(lanes))
{
    for (RunSettings &settings : ports)
        ports_.push_back(std::make_unique<Port>(std::move(settings), [this] { return aborting(); }));
    if (lanes_.size() != ports_.size()) {
        lanes_.resize(ports_.size());
        for (std::size_t i = 0; i < lanes_.size(); ++i)
            lanes_[i] = -1 - static_cast<int>(i); // each its own
    }
}

EchoRunner::~EchoRunner() = default;

bool EchoRunner::aborting() const
{
    return abort_ || (abortRequested && abortRequested());
}

bool EchoRunner::singleRun() const
{
    return ports_.size() == 1 && (limits_.runsLimited || !limits_.duration) && limits_.runs == 1;
}

bool EchoRunner::limitReached(int run) const
{
    const bool runsLimited = limits_.runsLimited || !limits_.duration;
    if (runsLimited && run > limits_.runs)
        return true;
    return limits_.duration && std::chrono::steady_clock::now() >= start_ + *limits_.duration;
}

double EchoRunner::secondsSinceStart() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

SessionFigures EchoRunner::figures() const
{
    SessionFigures all;
    for (const auto &port : ports_)
        all += port->session.figures();
    return all;
}

SeriesOutcome EchoRunner::run()
{
    if (ports_.empty())
        return SeriesOutcome::Refused;
    // A rate the run refuses is refused once, before any port is opened.
    if (ports_.front()->reported.plan.baud.wholeRate < kMinimumBaudRate) {
        ports_.front()->session.run(0);
        refusal_ = withoutCarriageReturns(ports_.front()->session.lastMessage());
        return SeriesOutcome::Refused;
    }
    info_.startedAt = std::chrono::system_clock::now();
    info_.soak = limits_.duration.has_value();
    start_ = std::chrono::steady_clock::now();
    std::vector<ReportedPort> reported;
    for (const auto &port : ports_)
        reported.push_back(port->reported);
    for (RunReporter *reporter : reporters_)
        reporter->begin(info_, reported);

    runPorts();
    endPorts();

    SeriesOutcome outcome = SeriesOutcome::Passed;
    for (const auto &port : ports_)
        outcome = worse(outcome, port->outcome);
    return outcome;
}

// One thread per port; the calling thread ticks the live display.
void EchoRunner::runPorts()
{
    if (onProgress && singleRun()) {
        const TestPlan &plan = ports_.front()->reported.plan;
        ports_.front()->session.onProgress = [this, &plan](const RunProgress &progress) { onProgress(progress, plan); };
    }
    // One thread per lane: the ports of a lane one after the other.
    std::vector<std::vector<Port *>> lanes;
    std::vector<int> laneIds;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const auto found = std::find(laneIds.begin(), laneIds.end(), lanes_[i]);
        if (found == laneIds.end()) {
            laneIds.push_back(lanes_[i]);
            lanes.push_back({ports_[i].get()});
        } else {
            lanes[static_cast<std::size_t>(found - laneIds.begin())].push_back(ports_[i].get());
        }
    }
    std::atomic<size_t> running{lanes.size()};
    std::vector<std::thread> threads;
    for (const auto &lane : lanes) {
        threads.emplace_back([this, &lane, &running] {
            for (Port *port : lane)
                testPort(*port);
            --running;
        });
    }
    if (onTick) {
        while (running > 0) {
            std::this_thread::sleep_for(tickInterval);
            if (running > 0)
                onTick();
        }
    }
    for (std::thread &thread : threads)
        thread.join();
}

void EchoRunner::testPort(Port &port)
{
    for (int run = 1; !limitReached(run); ++run) {
        if (aborting()) {
            port.outcome = worse(port.outcome, SeriesOutcome::Aborted);
            return;
        }
        const RunResult result = port.session.run(secondsSinceStart());
        if (!takeResult(port, run, result))
            return;
    }
}

// Reports a run and notes what it means for the port; false: the port
// stops here.
bool EchoRunner::takeResult(Port &port, int run, const RunResult &result)
{
    const RunRecord record{port.reported, run, result, withoutCarriageReturns(result.message)};
    {
        const std::lock_guard lock(reportMutex_);
        for (RunReporter *reporter : reporters_)
            reporter->reportRun(record);
    }
    switch (result.verdict) {
    case Verdict::OpenFailed:
        // The runs before this one still get their summary; the other
        // ports go on.
        port.error = record.message;
        port.outcome = worse(port.outcome, SeriesOutcome::OpenFailed);
        return false;
    case Verdict::Aborted:
        port.outcome = worse(port.outcome, SeriesOutcome::Aborted);
        return false;
    case Verdict::Fail:
        port.outcome = worse(port.outcome, SeriesOutcome::Failed);
        return true;
    default:
        return true;
    }
}

void EchoRunner::endPorts()
{
    for (const auto &port : ports_) {
        const RunStatistics statistics = port->session.statistics();
        const PortEnd end{port->reported, port->session.tally(), statistics, port->error};
        for (RunReporter *reporter : reporters_)
            reporter->reportPortEnd(end);
    }
    info_.seconds = secondsSinceStart();
    for (RunReporter *reporter : reporters_)
        reporter->finish(info_);
}

} // namespace echotest
