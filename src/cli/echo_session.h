#pragma once
// One port under test from the command line: its own serial layer, engine
// and statistics, so that ports tested side by side share nothing but the
// interrupt flag and the output.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "engine/echo_engine.h"
#include "engine/run_statistics.h"
#include "serial/modcomm.h"

namespace cli {

// The statistics' view of one run that started startSeconds after the soak.
echotest::RunSample sampleOf(const echotest::RunResult &result, double startSeconds);

// What the live status line shows of a port.
struct SessionFigures {
    int64_t runs = 0;
    int64_t failures = 0;
    int64_t bytesCompared = 0;
    int64_t errors = 0; // wrong, missing and extra bytes
    echotest::TimeHistogram lastRead;
};

// The run's view for a port without a screen: it keeps the last message and
// nothing else, so that a soak of millions of runs holds no history.
class SessionView final : public echotest::RunView {
public:
    std::function<void()> onYield;
    std::string lastMessage;

    void showCleared() override {}
    void showMessage(const std::string &text, echotest::MessageIcon) override { lastMessage = text; }
    void showStage(echotest::RunStage) override {}
    void showTimes(const echotest::RunResult &) override {}
    void showResult(const echotest::RunResult &, const echotest::RunTally &) override {}
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
    PortSession(std::string name, echotest::RunSettings settings);
    PortSession(const PortSession &) = delete;
    PortSession &operator=(const PortSession &) = delete;

    // One run; Ctrl+C aborts it.  A judged run goes into the statistics.
    echotest::RunResult run(double startSeconds);

    const std::string &name() const { return name_; }
    const echotest::RunSettings &settings() const { return settings_; }
    const echotest::RunTally &tally() const { return engine_.tally(); }
    // The engine's message of the last run (why it could not start, say).
    std::string lastMessage() const { return view_.lastMessage; }
    // Safe to call while the session runs in another thread.
    echotest::RunStatistics statistics() const;
    SessionFigures figures() const;
    // Called at every yield of a run (progress drawing); runs in the
    // session's thread.
    std::function<void(const echotest::RunProgress &)> onProgress;

private:
    std::string name_;
    echotest::RunSettings settings_;
    serial::modCOMM comm_;
    SessionView view_;
    echotest::EchoTestRun engine_;
    mutable std::mutex statisticsMutex_;
    echotest::RunStatistics statistics_;
};

} // namespace cli
