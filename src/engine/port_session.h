#pragma once
// One port under test without a window: its own serial layer, engine and
// statistics, so that ports tested side by side share nothing but the
// abort request and the reporters.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "engine/echo_engine.h"
#include "engine/run_statistics.h"
#include "serial/modcomm.h"

namespace echotest {

// The statistics' view of one run that started startSeconds after the soak.
RunSample sampleOf(const RunResult &result, double startSeconds);

// What the live status line shows of a port.
struct SessionFigures {
    int64_t runs = 0;
    int64_t failures = 0;
    int64_t bytesCompared = 0;
    int64_t errors = 0; // wrong, missing and extra bytes
    TimeHistogram lastRead;

    SessionFigures &operator+=(const SessionFigures &other);
};

// The run's view for a port without a screen: it keeps the last message and
// nothing else, so that a soak of millions of runs holds no history.
class SessionView final : public RunView {
public:
    std::function<void()> onYield;
    std::string lastMessage;

    void showCleared() override {}
    void showMessage(const std::string &text, MessageIcon) override { lastMessage = text; }
    void showStage(RunStage) override {}
    void showTimes(const RunResult &) override {}
    void showResult(const RunResult &, const RunTally &) override {}
    void showAborted(const std::string &) override {}
    void yield() override
    {
        if (onYield)
            onYield();
    }
    void closeWindow() override {}
};

class PortSession {
public:
    // abortRequested is polled at every yield of a run, from the thread
    // that runs the session.
    PortSession(RunSettings settings, std::function<bool()> abortRequested);
    PortSession(const PortSession &) = delete;
    PortSession &operator=(const PortSession &) = delete;

    // One run; an abort request stops it.  A judged run goes into the
    // statistics.
    RunResult run(double startSeconds);
    // The same run in steps (EchoTestRun::begin), for a driver that serves
    // many sessions from one thread: begin(), step() until Done with the
    // waits it asks for, end().
    bool begin(double startSeconds);
    RunWait step() { return engine_.step(); }
    RunResult end();
    // What a wait for input on slot of the run watches (invalidCommHandle
    // when that port is not open), and the platform to wait with.
    serial::CommHandle inputHandle(int16_t slot) const;
    serial::CommPlatform &platform() const { return comm_.platform(); }

    const std::string &name() const { return name_; }
    const RunSettings &settings() const { return settings_; }
    const RunTally &tally() const { return engine_.tally(); }
    // The engine's message of the last run (why it could not start, say).
    std::string lastMessage() const { return view_.lastMessage; }
    // Safe to call while the session runs in another thread.
    RunStatistics statistics() const;
    SessionFigures figures() const;
    // Called at every yield of a run (progress drawing); runs in the
    // session's thread.
    std::function<void(const RunProgress &)> onProgress;

private:
    void noteResult(const RunResult &result);

    std::string name_;
    RunSettings settings_;
    std::function<bool()> abortRequested_;
    serial::modCOMM comm_;
    SessionView view_;
    EchoTestRun engine_;
    mutable std::mutex statisticsMutex_;
    RunStatistics statistics_;
    double startSeconds_ = 0; // of the run under way
};

} // namespace echotest
