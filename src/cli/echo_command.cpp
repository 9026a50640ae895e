#include "cli/echo_command.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "cli/console_output.h"
#include "cli/echo_inputs.h"
#include "cli/exit_status.h"
#include "cli/lines_command.h"
#include "cli/terminal.h"
#include "engine/echo_runner.h"
#include "engine/pattern_forms.h"
#include "engine/rate_sweep.h"
#include "report/console_reporters.h"
#include "report/file_reporters.h"
#include "report/record_fields.h"
#include "rebounce_version.h"

namespace cli {
namespace {

using echotest::SeriesOutcome;
using SteadyClock = std::chrono::steady_clock;

// The live status line of a soak: all ports together.
std::string statusLine(const echotest::SessionFigures &f)
{
    using report::fixed;
    std::string line = "runs " + std::to_string(f.runs) + "  failures " + std::to_string(f.failures) + "  bytes "
        + std::to_string(f.bytesCompared) + "  byte errors "
        + report::rateText(f.bytesCompared ? static_cast<double>(f.errors) / f.bytesCompared : 0.0);
    if (f.lastRead.count() > 0)
        line += "  last read median " + fixed(f.lastRead.quantile(0.5), 0) + " ms, 99% "
            + fixed(f.lastRead.quantile(0.99), 0) + " ms";
    return line;
}

int exitStatusOf(SeriesOutcome outcome)
{
    switch (outcome) {
    case SeriesOutcome::Passed: return kExitOk;
    case SeriesOutcome::Refused: return kExitUsage;
    case SeriesOutcome::Failed: return kExitFailed;
    case SeriesOutcome::OpenFailed: return kExitOpenFailed;
    case SeriesOutcome::Aborted: return kExitAborted;
    }
    return kExitUsage;
}

// The plans of every port given, and the lane each runs in: a port's
// rates and directions run one after the other, the ports side by side.
// Empty with the reason in error for a plan that cannot run.
struct Plans {
    std::vector<echotest::RunSettings> settings;
    std::vector<int> lanes;
};

std::optional<Plans> plansOf(const EchoOptions &options, const std::optional<echotest::LineTestOptions> &lineTest,
                            std::string &error)
{
    std::string why;
    const auto pattern = echotest::makePattern({options.pattern, options.length, options.chunk}, why);
    if (!pattern) {
        error = "--pattern: " + why;
        return std::nullopt;
    }
    auto frame = echotest::parseFrame(options.frame);
    if (!frame) {
        error = "--frame: '" + options.frame + "' is no frame (data bits 5-8, parity N/E/O/M/S, stop bits 1, 1.5 or 2)";
        return std::nullopt;
    }
    frame->flow = options.flow == "rtscts" ? echotest::Frame::Flow::RtsCts
        : options.flow == "xonxoff"        ? echotest::Frame::Flow::XonXoff
                                           : echotest::Frame::Flow::None;
    // Refused before anything is opened: a frame that cannot carry the
    // pattern would fail every byte, or pass a masked pattern.
    if (const auto mismatch = echotest::patternFrameMismatch(*pattern, *frame)) {
        error = "--pattern " + pattern->name + " does not fit --frame " + frame->name() + ": " + *mismatch;
        return std::nullopt;
    }
    std::vector<std::string> rates{options.baud};
    if (!options.sweep.empty()) {
        const auto swept = echotest::parseSweep(options.sweep, why);
        if (!swept) {
            error = why;
            return std::nullopt;
        }
        rates.clear();
        for (const std::uint32_t rate : *swept)
            rates.push_back(std::to_string(rate));
    }
    std::vector<echotest::PlanPort> senders;
    for (const int port : options.ports)
        senders.push_back({static_cast<int16_t>(port), {}, {}});
    for (const std::string &device : options.devices)
        senders.push_back({1, device, device}); // "COM" + n unless a device is named
    if (!options.to.empty() && options.to.size() != senders.size()) {
        error = "--to: give one listening port for each sending port (" + std::to_string(senders.size()) + " sending, "
            + std::to_string(options.to.size()) + " listening)";
        return std::nullopt;
    }
    if (options.bothWays && options.to.empty()) {
        error = "--both-ways needs --to";
        return std::nullopt;
    }

    Plans plans;
    for (std::size_t i = 0; i < senders.size(); ++i) {
        std::vector<std::pair<echotest::PlanPort, std::optional<echotest::PlanPort>>> directions;
        if (options.to.empty()) {
            directions.push_back({senders[i], std::nullopt});
        } else {
            // The listening port takes another slot of the session's layer.
            const echotest::PlanPort listen{static_cast<int16_t>(senders[i].port % 4 + 1), options.to[i], options.to[i]};
            directions.push_back({senders[i], listen});
            if (options.bothWays)
                directions.push_back({listen, senders[i]});
        }
        for (const std::string &rate : rates) {
            for (const auto &[send, listen] : directions) {
                echotest::RunSettings settings;
                settings.plan.pattern = *pattern;
                settings.plan.frame = *frame;
                settings.plan.baud = echotest::readBaudText(rate);
                settings.plan.sendPort = send;
                settings.plan.listenPort = listen;
                if (options.rs485)
                    settings.plan.rs485 = serial::Rs485Mode{true, false, options.rs485DelayBeforeMs,
                                                            options.rs485DelayAfterMs};
                settings.lowerCase = options.lowerCase;
                settings.lineTest = lineTest;
                plans.settings.push_back(std::move(settings));
                plans.lanes.push_back(static_cast<int>(i));
            }
        }
    }
    return plans;
}

// The live display: one run's progress at the pace of the window's live
// display, or the status line of all ports.
void showProgress(echotest::EchoRunner &runner, Output &output)
{
    if (runner.singleRun()) {
        auto lastDraw = std::make_shared<SteadyClock::time_point>();
        runner.onProgress = [&output, lastDraw](const echotest::RunProgress &progress, const echotest::TestPlan &plan) {
            const auto now = SteadyClock::now();
            if (now - *lastDraw < std::chrono::milliseconds(50))
                return;
            *lastDraw = now;
            const std::string of = std::string(1, '/').append(std::to_string(plan.patternLength()));
            output.status("sent " + std::to_string(progress.sentCount) + of + "  received "
                          + std::to_string(progress.receivedText.size()) + of);
        };
    } else {
        runner.onTick = [&runner, &output] { output.status(statusLine(runner.figures())); };
    }
}

} // namespace

std::optional<std::chrono::milliseconds> parseDuration(const std::string &text)
{
    using namespace std::chrono;
    if (text.empty())
        return std::nullopt;
    milliseconds total{0};
    size_t at = 0;
    while (at < text.size()) {
        size_t digitsEnd = at;
        while (digitsEnd < text.size() && std::isdigit(static_cast<unsigned char>(text[digitsEnd])))
            ++digitsEnd;
        if (digitsEnd == at || digitsEnd - at > 9)
            return std::nullopt;
        const long long value = std::stoll(text.substr(at, digitsEnd - at));
        size_t unitEnd = digitsEnd;
        while (unitEnd < text.size() && std::isalpha(static_cast<unsigned char>(text[unitEnd])))
            ++unitEnd;
        const std::string unit = text.substr(digitsEnd, unitEnd - digitsEnd);
        if (unit == "ms")
            total += milliseconds(value);
        else if (unit == "s" || (unit.empty() && at == 0 && unitEnd == text.size()))
            total += seconds(value);
        else if (unit == "m" || unit == "min")
            total += minutes(value);
        else if (unit == "h")
            total += hours(value);
        else
            return std::nullopt;
        at = unitEnd;
    }
    if (total <= milliseconds(0))
        return std::nullopt;
    return total;
}

std::string bytesAsUtf8(const std::string &bytes)
{
    return report::bytesAsUtf8(bytes);
}

int runEcho(const EchoOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    Output output(out, err);
    std::optional<echotest::LineTestOptions> lineTest;
    if (options.lines) {
        std::string why;
        lineTest = lineTestOptions(options.plug, why);
        if (!lineTest) {
            output.message("--wiring: " + why);
            return kExitUsage;
        }
    }
    std::string error;
    std::optional<Plans> plans = plansOf(options, lineTest, error);
    if (!plans) {
        output.message(error);
        return kExitUsage;
    }
    if (plans->settings.empty())
        return kExitUsage;
    echotest::EchoRunner runner(std::move(plans->settings), {options.runs, options.runsGiven, options.duration},
                                std::move(plans->lanes));
    runner.abortRequested = interruptRequested;

    report::MessageReporter messages([&output](const std::string &line) { output.message(line); });
    runner.addReporter(messages);
    std::unique_ptr<echotest::RunReporter> console;
    const report::LineSink print = [&output](const std::string &line) { output.print(line); };
    if (options.json)
        console = std::make_unique<report::JsonLinesReporter>(print);
    else
        console = std::make_unique<report::TextReporter>(print);
    runner.addReporter(*console);
    std::unique_ptr<report::SweepTableReporter> sweepTable;
    if (!options.sweep.empty()) {
        sweepTable = std::make_unique<report::SweepTableReporter>(print, options.json);
        runner.addReporter(*sweepTable);
    }

    std::vector<std::unique_ptr<report::FileReporter>> files;
    if (!options.junit.empty())
        files.push_back(std::make_unique<report::JunitReporter>(options.junit));
    if (!options.csv.empty())
        files.push_back(std::make_unique<report::CsvReporter>(options.csv));
    if (!options.report.empty())
        files.push_back(std::make_unique<report::HtmlReporter>(options.report, rebounce::kVersion));
    for (const auto &file : files) {
        if (!file->failure().empty()) {
            output.message(file->failure());
            return kExitUsage;
        }
        runner.addReporter(*file);
    }

    if (options.progress && !options.json && stderrIsTerminal())
        showProgress(runner, output);
    const SeriesOutcome outcome = runner.run();
    output.endStatus();
    if (outcome == SeriesOutcome::Refused) {
        output.message(runner.refusal());
        return kExitUsage;
    }
    int status = exitStatusOf(outcome);
    for (const auto &file : files) {
        if (!file->failure().empty()) {
            output.message(file->failure());
            status = exitStatusOf(echotest::worse(outcome, SeriesOutcome::Refused));
        }
    }
    return status;
}

void addEchoCommand(CLI::App &app, int &exitStatus)
{
    auto options = std::make_shared<EchoOptions>();
    auto *command = app.add_subcommand("echo", "Run the 1000-byte echo test through an echo plug or board");
    // No default port: COM1 is the console on many Linux machines, and the
    // test writes 1000 bytes to whatever it opens.
    auto *where = command->add_option_group("port", "The ports to test: --port and --device, each repeatable");
    where->add_option("--port", options->ports, "COM port 1..4 (REBOUNCE_COMn maps it on Linux); repeat to test several")
        ->check(CLI::Range(1, 4));
    where->add_option("--device", options->devices,
                      "Any serial device: /dev/ttyUSB0, a pseudo-terminal, COM7, a port served over RFC 2217 "
                      "(rfc2217://HOST:PORT, e.g. by ser2net); repeat to test several at once")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    where->require_option(1, 0);
    command->add_option("--baud", options->baud, "Baud rate (any integer the driver takes)")
        ->check(CLI::Validator(checkBaudText, "RATE"));
    command->add_flag("--lowercase", options->lowerCase, "The far end answers in lower case");
    command->add_flag("--json", options->json, "JSON Lines: one object per run, then a summary and statistics per port");
    auto *runs = command->add_option("--runs", options->runs, "Number of runs, one after the other, on each port")
                     ->check(CLI::PositiveNumber);
    auto duration = std::make_shared<std::string>();
    command->add_option("--duration", *duration, "Soak: run until this time is over (90s, 10m, 1h); with --runs, "
                                                  "whichever ends first")
        ->check(CLI::Validator(
            [](const std::string &text) {
                return parseDuration(text) ? std::string()
                                           : std::string("expected a time such as 90s, 10m, 1h or 1h30m");
            },
            "TIME"));
    command->add_option("--report", options->report, "Write an HTML report with plots to this file at the end");
    command->add_option("--junit", options->junit, "Write JUnit XML to this file: a test suite per port, a test case per run");
    command->add_option("--csv", options->csv, "Write CSV to this file: a header, then a row per run with the JSON run fields");
    command->add_flag("!--no-progress", options->progress, "No live progress on the terminal");
    command->add_option("--pattern", options->pattern,
                        "What is sent: spec (ABCDEFGHIJ repeated, the default), 0xNN, counting, all-bytes, "
                        "random[:SEED], hex:BYTES or file:PATH");
    command->add_option("--length", options->length,
                        "Bytes sent (default 1000; all-bytes 256, hex: and file: their own); the pattern repeats or is cut")
        ->check(CLI::Range(std::size_t{1}, echotest::kMaxPatternLength));
    command->add_option("--chunk", options->chunk, "Bytes handed to the system at a time (default 10)")
        ->check(CLI::Range(1, 1 << 20));
    command->add_option("--frame", options->frame, "Data bits, parity and stop bits: 8N1 (default), 7E1, 8E1, 8O1, 7O2, 5N1")
        ->check(CLI::Validator(
            [](const std::string &text) {
                return echotest::parseFrame(text) ? std::string()
                                                  : std::string("expected data bits 5-8, parity N/E/O/M/S and stop "
                                                                "bits 1, 1.5 or 2, as in 8N1 or 7E1");
            },
            "FRAME"));
    command->add_option("--flow", options->flow, "Flow control: none (default), rtscts or xonxoff")
        ->check(CLI::Validator(
            [](const std::string &text) {
                return text == "none" || text == "rtscts" || text == "xonxoff"
                    ? std::string() : std::string("expected none, rtscts or xonxoff");
            },
            "FLOW"));
    command->add_flag("--rs485", options->rs485, "Turn on the driver's RS-485 mode (RTS on while sending)");
    command->add_option("--rs485-delay-before", options->rs485DelayBeforeMs, "RS-485: ms of RTS before sending");
    command->add_option("--rs485-delay-after", options->rs485DelayAfterMs, "RS-485: ms of RTS after sending");
    command->add_option("--to", options->to,
                        "Two ports: listen on this port for what is sent on --device/--port (one --to per sender, "
                        "in order); nothing may come back on the sender")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    command->add_flag("--both-ways", options->bothWays, "With --to: also send on the --to port and listen on the sender");
    command->add_option("--sweep", options->sweep,
                        "Run the plan at each rate: a list (9600,19200,115200) or a span of the standard rates "
                        "(300..921600); ends with a table")
        ->check(CLI::Validator(
            [](const std::string &text) {
                std::string error;
                return echotest::parseSweep(text, error) ? std::string() : error;
            },
            "RATES"));
    auto *lines = command->add_flag("--lines", options->lines,
                                    "Test the handshake lines through a full loopback plug before the data of each run");
    for (CLI::Option *plugOption : addPlugOptions(command, options->plug))
        plugOption->needs(lines);
    command->callback([options, duration, runs, &exitStatus] {
        options->runsGiven = runs->count() > 0;
        if (!duration->empty())
            options->duration = parseDuration(*duration);
        exitStatus = runEcho(*options, std::cout, std::cerr);
    });
}

} // namespace cli
