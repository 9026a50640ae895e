#include "engine/echo_runner.h"

#include <algorithm>
#include <thread>

#include "serial/rfc2217_port.h"

namespace echotest {

namespace {

using Clock = std::chrono::steady_clock;

// Lanes one thread serves together.
constexpr std::size_t kLanesPerThread = 64;
// A lane due this soon is stepped with the others now: its waits only
// pace its reads, and one wake-up then serves many.
constexpr auto kStepAhead = std::chrono::microseconds(1000);
// The longest a lane keeps its thread for steps that need no wait.
constexpr auto kLongestTurn = std::chrono::milliseconds(5);

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

// The lanes, each with its ports in the order given.
std::vector<EchoRunner::LanePorts> EchoRunner::lanePorts() const
{
    std::vector<LanePorts> lanes;
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
    return lanes;
}

// Many lanes are served by a few threads, each stepping its share of the
// runs in turn and waiting for all of them at once: a thread of its own
// per port would wake every millisecond or two for every port.  Runs that
// wait on their own (a line test watches its handshake lines, a run under
// load watches its sender through the reader's pause, a port on another
// machine answers over the network, a system whose writes wait until the
// bytes have left) keep a thread each.
bool EchoRunner::servedTogether(std::size_t laneCount) const
{
    if (laneCount < 2 || !ports_.front()->session.platform().writesWithoutWaiting())
        return false;
    return std::none_of(ports_.begin(), ports_.end(), [](const auto &port) {
        const TestPlan &plan = port->reported.plan;
        return port->session.settings().lineTest || port->session.settings().readerPauseMs > 0
            || serial::isRfc2217Name(plan.sendPort.deviceName())
            || (plan.listenPort && serial::isRfc2217Name(plan.listenPort->deviceName()));
    });
}

std::vector<std::thread> EchoRunner::startThreads(std::vector<LanePorts> lanes, std::atomic<std::size_t> &running)
{
    std::vector<std::thread> threads;
    if (servedTogether(lanes.size())) {
        const std::size_t loops = (lanes.size() + kLanesPerThread - 1) / kLanesPerThread;
        running = loops;
        for (std::size_t loop = 0; loop < loops; ++loop) {
            std::vector<LanePorts> share;
            for (std::size_t i = loop; i < lanes.size(); i += loops)
                share.push_back(lanes[i]);
            threads.emplace_back([this, share = std::move(share), &running]() mutable {
                serveLanes(std::move(share));
                --running;
            });
        }
        return threads;
    }
    // One thread per lane: the ports of a lane one after the other.
    running = lanes.size();
    for (LanePorts &lane : lanes) {
        threads.emplace_back([this, lane = std::move(lane), &running] {
            for (Port *port : lane)
                testPort(*port);
            --running;
        });
    }
    return threads;
}

// The calling thread ticks the live display while the ports run.
void EchoRunner::runPorts()
{
    if (onProgress && singleRun()) {
        const TestPlan &plan = ports_.front()->reported.plan;
        ports_.front()->session.onProgress = [this, &plan](const RunProgress &progress) { onProgress(progress, plan); };
    }
    std::atomic<std::size_t> running{0};
    std::vector<std::thread> threads = startThreads(lanePorts(), running);
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

// A lane served with others: where its runs are and what they wait for.
struct EchoRunner::Lane {
    enum class State { Between, Running, Ended };
    LanePorts ports;
    std::size_t at = 0; // the port under test
    int run = 1;        // its run under way or next
    State state = State::Between;
    Clock::time_point due{};                              // when it steps next ...
    serial::CommHandle input = serial::invalidCommHandle; // ... or when input comes here
    bool inputReady = false;

    bool done() const { return at >= ports.size(); }
    bool readDue(Clock::time_point by) const { return state == State::Running && (due <= by || inputReady); }
    void nextPort()
    {
        ++at;
        run = 1;
    }
};

// Each turn steps the runs that are due (or nearly: their waits only pace
// the reads, and one wake-up then serves many), then ends and starts runs
// one at a time as long as no read is due (the reads are what the figures
// time; a run's clock starts at its start), then waits for the next one
// due or for input on any run waiting for it.
void EchoRunner::serveLanes(std::vector<LanePorts> ports)
{
    std::vector<Lane> lanes;
    for (LanePorts &lane : ports)
        lanes.push_back(Lane{std::move(lane)});
    serial::CommPlatform &platform = lanes.front().ports.front()->session.platform();
    const auto readDue = [&lanes] {
        const Clock::time_point now = Clock::now();
        return std::any_of(lanes.begin(), lanes.end(), [now](const Lane &lane) { return lane.readDue(now); });
    };
    std::vector<serial::CommHandle> handles;
    std::vector<Lane *> waiting;
    std::vector<bool> ready;
    for (;;) {
        const Clock::time_point soon = Clock::now() + kStepAhead;
        for (Lane &lane : lanes) {
            if (lane.readDue(soon))
                stepRun(lane);
        }
        for (Lane &lane : lanes) {
            if (!lane.done() && lane.state != Lane::State::Running && !readDue())
                startRun(lane);
        }
        Clock::time_point next = Clock::time_point::max();
        handles.clear();
        waiting.clear();
        for (Lane &lane : lanes) {
            if (lane.done())
                continue;
            next = std::min(next, lane.due);
            if (lane.input != serial::invalidCommHandle) {
                handles.push_back(lane.input);
                waiting.push_back(&lane);
            }
        }
        if (next == Clock::time_point::max())
            return;
        // Also when a lane is due at once, input that has come is noted.
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now());
        if (wait.count() > 0 || !handles.empty())
            platform.waitForAnyInput(handles, std::max(wait, std::chrono::microseconds(0)), ready);
        for (std::size_t i = 0; i < waiting.size() && i < ready.size(); ++i)
            waiting[i]->inputReady = ready[i];
    }
}

// Ends the lane's run that is over, and starts its next run (or port).
void EchoRunner::startRun(Lane &lane)
{
    Port *port = lane.ports[lane.at];
    if (lane.state == Lane::State::Ended) {
        lane.state = Lane::State::Between;
        if (takeResult(*port, lane.run, port->session.end()))
            ++lane.run;
        else
            lane.nextPort();
    }
    lane.due = Clock::now();
    if (lane.done())
        return;
    port = lane.ports[lane.at];
    if (limitReached(lane.run)) {
        lane.nextPort();
    } else if (aborting()) {
        port->outcome = worse(port->outcome, SeriesOutcome::Aborted);
        lane.nextPort();
    } else if (port->session.begin(secondsSinceStart())) {
        lane.state = Lane::State::Running;
        stepRun(lane); // the clock of the run has started: its first chunk goes now
    } else {
        lane.state = Lane::State::Ended; // it ended at the open
    }
}

// The lane's run steps on, up to its next wait.
void EchoRunner::stepRun(Lane &lane)
{
    lane.input = serial::invalidCommHandle;
    lane.inputReady = false;
    PortSession &session = lane.ports[lane.at]->session;
    // Steps that need no wait (the chunks of the pattern) follow each other
    // as in a run of its own, for a while.
    const Clock::time_point until = Clock::now() + kLongestTurn;
    RunWait wait = session.step();
    while (wait.kind == RunWait::Kind::Now && Clock::now() < until)
        wait = session.step();
    lane.due = Clock::now() + std::chrono::milliseconds(wait.timeMs);
    if (wait.kind == RunWait::Kind::Tick)
        lane.due = std::chrono::ceil<std::chrono::milliseconds>(Clock::now());
    else if (wait.kind == RunWait::Kind::Input)
        lane.input = session.inputHandle(wait.slot);
    else if (wait.kind == RunWait::Kind::Done)
        lane.state = Lane::State::Ended;
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
