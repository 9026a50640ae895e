#include "cli/echo_command.h"

#include <chrono>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/echo_inputs.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "echotest/echo_engine.h"
#include "echotest/headless_view.h"
#include "echotest/timer_clock.h"
#include "serial/modcomm.h"

namespace cli {
namespace {

using echotest::RunResult;
using echotest::RunStage;
using echotest::Verdict;

// The echo test on a terminal: progress is drawn on standard error at the
// live display's pace, Ctrl+C aborts.
class TerminalView final : public echotest::HeadlessView {
public:
    TerminalView(bool showProgress, std::ostream &err) : err_(err), showProgress_(showProgress) {}

    void attach(echotest::EchoTestRun *engine) { engine_ = engine; }

    void showStage(RunStage stage) override
    {
        if (stage == RunStage::Transferring)
            live_ = true;
        if (stage == RunStage::Collected) {
            live_ = false;
            if (drawn_) {
                err_ << '\r' << std::string(60, ' ') << '\r' << std::flush;
                drawn_ = false;
            }
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
        const echotest::RunProgress &progress = engine_->progress();
        err_ << "\rsent " << progress.sentCount << "/1000  received " << progress.receivedText.size()
             << "/1000   " << std::flush;
    }

    std::ostream &err_;
    echotest::EchoTestRun *engine_ = nullptr;
    bool showProgress_ = false;
    bool live_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

const char *verdictOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass: return "PASS";
    case Verdict::Fail: return "FAIL";
    default: return "ABORTED";
    }
}

echotest::RunSettings settingsOf(const EchoOptions &options)
{
    echotest::RunSettings settings;
    settings.port = static_cast<int16_t>(options.port);
    settings.device = options.device;
    settings.portName = options.device; // the window's "COM" + n unless a device is named
    settings.baud = echotest::readBaudText(options.baud);
    settings.lowerCase = options.lowerCase;
    return settings;
}

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

void printRun(std::ostream &out, int run, const std::string &port, const RunResult &result,
              const std::string &message, bool json)
{
    if (json) {
        nlohmann::ordered_json line = {
            {"run", run},
            {"verdict", verdictOf(result.verdict)},
            {"port", port},
            {"baud", result.baud},
            {"sent", result.sent},
            {"received", result.received},
            {"send_ms", result.sendMs},
            {"last_read_ms", result.lastReadMs},
            {"min_transmit_ms", result.lineTimeMs},
            {"timeout_ms", result.timeoutMs},
            {"received_text", bytesAsUtf8(result.receivedText)},
        };
        if (!message.empty())
            line["message"] = message;
        out << line.dump() << '\n' << std::flush;
    } else if (result.verdict == Verdict::Aborted) {
        out << "Run " << run << ": ABORTED (" << port << ", " << result.baud << " baud)\n" << std::flush;
    } else {
        out << "Run " << run << ": " << verdictOf(result.verdict) << "  " << port << " at " << result.baud
            << " baud  sent " << result.sent << "/1000  received " << result.received << "/1000  send "
            << result.sendMs << " ms  last read " << result.lastReadMs << " ms  (line time " << result.lineTimeMs
            << " ms, time-out " << result.timeoutMs << " ms)\n"
            << std::flush;
    }
}

void printTally(std::ostream &out, const echotest::RunTally &tally, const std::string &error, bool json)
{
    if (json) {
        nlohmann::ordered_json summary = {
            {"passes", tally.passes},
            {"failures", tally.failures},
            {"total_sent", tally.bytesSent},
            {"total_received", tally.bytesReceived},
        };
        if (!error.empty())
            summary["error"] = error;
        out << summary.dump() << '\n';
    } else {
        out << "Passes: " << tally.passes << "  Failures: " << tally.failures
            << "  Total bytes sent: " << tally.bytesSent << "  Total bytes received: " << tally.bytesReceived
            << '\n';
    }
}

} // namespace

std::string bytesAsUtf8(const std::string &bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

int runEcho(const EchoOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    serial::modCOMM comm;
    TerminalView view(options.progress && !options.json && stderrIsTerminal(), err);
    echotest::EchoTestRun engine(comm, view, echotest::systemTimerClock());
    view.attach(&engine);
    comm.setYield([&view] { view.yield(); });

    const echotest::RunSettings settings = settingsOf(options);
    int status = kExitOk;
    std::string endedBy; // the message that stopped the runs early, if any
    for (int run = 1; run <= options.runs; ++run) {
        const RunResult result = engine.run(settings);
        if (result.verdict == Verdict::RateTooLow) {
            err << withoutCarriageReturns(view.lastMessage()) << '\n';
            return kExitUsage;
        }
        if (result.verdict == Verdict::OpenFailed) {
            // Runs before this one still get their summary below.
            endedBy = withoutCarriageReturns(view.lastMessage());
            err << endedBy << '\n';
            status = kExitOpenFailed;
            break;
        }
        const std::string message = withoutCarriageReturns(result.message);
        if (!message.empty())
            err << message << '\n';
        printRun(out, run, settings.shownName(), result, message, options.json);
        if (result.verdict == Verdict::Aborted) {
            status = kExitAborted;
            break;
        }
        if (result.verdict == Verdict::Fail)
            status = kExitFailed;
    }
    printTally(out, engine.tally(), endedBy, options.json);
    return status;
}

void addEchoCommand(CLI::App &app, int &exitStatus)
{
    auto options = std::make_shared<EchoOptions>();
    auto *command = app.add_subcommand("echo", "Run the 1000-byte echo test through an echo plug or board");
    // No default port: COM1 is the console on many Linux machines, and the
    // test writes 1000 bytes to whatever it opens.
    auto *where = command->add_option_group("port", "The port to test: exactly one of --port and --device");
    where->add_option("--port", options->port, "COM port 1..4 (REBOUNCE_COMn maps it on Linux)")
        ->check(CLI::Range(1, 4));
    where->add_option("--device", options->device, "Any serial device instead: /dev/ttyUSB0, a pseudo-terminal, COM7")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    where->require_option(1);
    command->add_option("--baud", options->baud, "Baud rate (any integer the driver takes)")
        ->check(CLI::Validator(checkBaudText, "RATE"));
    command->add_flag("--lowercase", options->lowerCase, "The far end answers in lower case");
    command->add_flag("--json", options->json, "One JSON object per run, then a summary");
    command->add_option("--runs", options->runs, "Number of runs, one after the other")->check(CLI::PositiveNumber);
    command->add_flag("!--no-progress", options->progress, "No live progress on the terminal");
    command->callback([options, &exitStatus] { exitStatus = runEcho(*options, std::cout, std::cerr); });
}

} // namespace cli
