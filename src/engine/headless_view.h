#pragma once
// The test run without a screen: it keeps what a window would have shown
// (the messages, the stages passed, the reason of an abort) and lets a hook
// run at every yield.  The command line builds its terminal view on it;
// benchmarks and tests use it as it is.
#include <functional>
#include <string>
#include <vector>

#include "engine/echo_engine.h"

namespace echotest {

class HeadlessView : public RunView {
public:
    struct Message {
        std::string text;
        MessageIcon icon;
    };

    std::function<void()> onYield; // runs at every yield of the run and of the serial layer
    std::vector<Message> messages;
    std::vector<RunStage> stages;
    std::string abortReason;        // empty unless the last run was aborted
    int clears = 0;
    int windowCloses = 0;

    void showCleared() override
    {
        ++clears;
        abortReason.clear();
    }
    void showMessage(const std::string &text, MessageIcon icon) override { messages.push_back({text, icon}); }
    void showStage(RunStage stage) override { stages.push_back(stage); }
    void showTimes(const RunResult &) override {}
    void showResult(const RunResult &, const RunTally &) override {}
    void showAborted(const std::string &reason) override { abortReason = reason; }
    void yield() override
    {
        if (onYield)
            onYield();
    }
    void closeWindow() override { ++windowCloses; }

    std::string lastMessage() const { return messages.empty() ? std::string() : messages.back().text; }
};

} // namespace echotest
