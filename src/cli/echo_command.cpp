#include "cli/echo_command.h"

#include <chrono>
#include <ostream>

#include <nlohmann/json.hpp>

#include "cli/cli_app.h"
#include "cli/terminal.h"
#include "echotest/echo_engine.h"
#include "echotest/headless_view.h"
#include "echotest/timer_clock.h"
#include "serial/modcomm.h"

namespace cli {
namespace {

using echotest::MessageIcon;
using echotest::RunLabel;
using echotest::RunResult;

// The echo test on a terminal: progress is drawn on standard error at the
// live display's pace, Ctrl+C aborts.
class TerminalView final : public echotest::HeadlessView {
public:
    TerminalView(const EchoOptions &options, std::ostream &err) : err_(err)
    {
        port = std::to_string(options.port);
        baud = options.baud;
        lowerCase = options.lowerCase;
        device = options.device;
        showProgress_ = options.progress && !options.json && stderrIsTerminal();
    }

    void attach(echotest::EchoTestRun *engine) { engine_ = engine; }

    void startLiveDisplay() override { live_ = true; }
    void stopLiveDisplay() override
    {
        live_ = false;
        if (drawn_) {
            err_ << '\r' << std::string(60, ' ') << '\r' << std::flush;
            drawn_ = false;
        }
    }

    void yield() override
    {
        if (interruptRequested() && engine_ && !engine_->flags().AbortRequested)
            engine_->requestAbort(echotest::kUserAbortMessage);
        if (showProgress_ && live_ && engine_)
            drawProgress();
    }

private:
    void drawProgress()
    {
        // The window's live display ticks every 50 ms; so does this one.
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(50))
            return;
        lastDraw_ = now;
        drawn_ = true;
        err_ << "\rsent " << engine_->sentCount() << "/1000  received " << engine_->receivedText().size()
             << "/1000   " << std::flush;
    }

    std::ostream &err_;
    echotest::EchoTestRun *engine_ = nullptr;
    bool showProgress_ = false;
    bool live_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

const char *verdictOf(RunResult::Outcome outcome)
{
    switch (outcome) {
    case RunResult::Outcome::Pass: return "PASS";
    case RunResult::Outcome::Fail: return "FAIL";
    default: return "ABORTED";
    }
}

std::string portDescription(const EchoOptions &options)
{
    return options.device.empty() ? "COM" + std::to_string(options.port) : options.device;
}

// The window names the port as COMn; with --device the device is named.
std::string forDevice(std::string message, const EchoOptions &options)
{
    if (options.device.empty())
        return message;
    const std::string com = "COM" + std::to_string(options.port);
    for (auto at = message.find(com); at != std::string::npos; at = message.find(com, at + options.device.size()))
        message.replace(at, com.size(), options.device);
    return message;
}

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

} // namespace

int runEcho(const EchoOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    serial::modCOMM comm;
    TerminalView view(options, err);
    echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());
    view.attach(&engine);
    comm.setYield([&view] { view.yield(); });

    int status = kExitOk;
    std::string endedBy; // the message that stopped the runs early, if any
    for (int run = 1; run <= options.runs; ++run) {
        const RunResult result = engine.run();
        if (result.outcome == RunResult::Outcome::NotStarted) {
            err << withoutCarriageReturns(view.lastMessage) << '\n';
            return kExitUsage;
        }
        if (result.outcome == RunResult::Outcome::OpenFailed) {
            // Runs before this one still get their summary below.
            endedBy = withoutCarriageReturns(forDevice(view.lastMessage, options));
            err << endedBy << '\n';
            status = kExitOpenFailed;
            break;
        }
        const std::string message =
            result.message.empty() ? std::string() : withoutCarriageReturns(forDevice(result.message, options));
        if (!message.empty())
            err << message << '\n';
        if (options.json) {
            const nlohmann::ordered_json line = {
                {"run", run},
                {"verdict", verdictOf(result.outcome)},
                {"port", portDescription(options)},
                {"baud", result.baud},
                {"sent", result.sent},
                {"received", result.received},
                {"send_ms", result.sendMs},
                {"last_read_ms", result.lastReadMs},
                {"min_transmit_ms", result.minTransmitMs},
                {"timeout_ms", result.timeoutMs},
                {"received_text", bytesAsUtf8(result.receivedText)},
            };
            nlohmann::ordered_json withMessage = line;
            if (!message.empty())
                withMessage["message"] = message;
            out << withMessage.dump() << '\n' << std::flush;
        } else if (result.outcome == RunResult::Outcome::Aborted) {
            out << "Run " << run << ": ABORTED (" << portDescription(options) << ", " << result.baud
                << " baud)\n" << std::flush;
        } else {
            out << "Run " << run << ": " << verdictOf(result.outcome) << "  " << portDescription(options) << " at "
                << result.baud << " baud  sent " << result.sent << "/1000  received " << result.received
                << "/1000  send " << result.sendMs << " ms  last read " << result.lastReadMs
                << " ms  (line time " << result.minTransmitMs << " ms, time-out " << result.timeoutMs << " ms)\n"
                << std::flush;
        }
        if (result.outcome == RunResult::Outcome::Aborted) {
            status = kExitAborted;
            break;
        }
        if (result.outcome == RunResult::Outcome::Fail)
            status = kExitFailed;
    }

    const auto counter = [&view](RunLabel label) { return std::stoll(view.caption(label)); };
    if (options.json) {
        const nlohmann::ordered_json summary = {
            {"passes", counter(RunLabel::Label18)},
            {"failures", counter(RunLabel::Label21)},
            {"total_sent", counter(RunLabel::Label23)},
            {"total_received", counter(RunLabel::Label25)},
        };
        nlohmann::ordered_json withError = summary;
        if (!endedBy.empty())
            withError["error"] = endedBy;
        out << withError.dump() << '\n';
    } else {
        out << "Passes: " << view.caption(RunLabel::Label18) << "  Failures: " << view.caption(RunLabel::Label21)
            << "  Total bytes sent: " << view.caption(RunLabel::Label23)
            << "  Total bytes received: " << view.caption(RunLabel::Label25) << '\n';
    }
    return status;
}

} // namespace cli
