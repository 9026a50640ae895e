#include "cli/echo_command.h"

#include <algorithm>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "cli/console_output.h"
#include "cli/echo_options.h"
#include "cli/echo_plans.h"
#include "cli/exit_status.h"
#include "cli/run_log.h"
#include "cli/station.h"
#include "cli/terminal.h"
#include "engine/echo_runner.h"
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

std::string bytesAsUtf8(const std::string &bytes)
{
    return report::bytesAsUtf8(bytes);
}

int runEcho(const EchoOptions &options, std::ostream &out, std::ostream &err)
{
    installInterruptHandler();
    Output output(out, err);
    std::string error;
    const std::optional<PlanParts> parts = planParts(options, error);
    if (!parts) {
        output.message(error);
        return kExitUsage;
    }
    SeriesPorts ports;
    if (const std::optional<int> refused = seriesPorts(options, output, ports))
        return *refused;
    if (ports.settings.empty() && ports.empty.empty())
        return kExitUsage;
    for (size_t i = 0; i < ports.stations.size(); ++i)
        ports.settings[i].identity = ports.stations[i]->identity();
    std::optional<Plans> plans = plansOf(options, *parts, ports, error);
    if (!plans) {
        output.message(error);
        return kExitUsage;
    }

    std::unique_ptr<RunLog> log;
    if (!options.log.empty())
        log = std::make_unique<RunLog>(options.log, [&output](const std::string &line) { output.message(line); });
    // A position with nothing plugged in is said and kept, and fails nothing.
    for (const auto &station : ports.empty) {
        const std::int64_t rate =
            echotest::readBaudText(station->baud.empty() ? options.baud : station->baud).wholeRate;
        if (log)
            log->write(emptyRecord(*station, options.operatorName, rate));
        output.print(options.json ? emptyJson(*station, rate).dump()
                                  : station->position + ": EMPTY (" + station->emptyReason + ")");
    }
    if (plans->settings.empty())
        return kExitOk;
    // The adapters' latency for the runs, put back when they are over
    // (also after Ctrl+C, or an unplug, when there is nothing to put back).
    // (A rate the runner refuses opens nothing, not even for this.)
    const bool ratesTaken = std::all_of(plans->settings.begin(), plans->settings.end(), [](const auto &settings) {
        return settings.plan.baud.wholeRate >= echotest::kMinimumBaudRate;
    });
    if (options.lowLatency && ratesTaken) {
        for (const auto &station : ports.stations) {
            if (const std::string problem = applyLowLatency(*station); !problem.empty())
                output.message(problem);
        }
    }
    // The units as the runs find them, the latency just set included.
    for (size_t i = 0; i < plans->settings.size(); ++i)
        plans->settings[i].identity = ports.stations[static_cast<size_t>(plans->lanes[i])]->identity();
    struct Restore {
        SeriesPorts &ports;
        ~Restore()
        {
            for (const auto &station : ports.stations) {
                if (station->lowLatency)
                    station->lowLatency->restore();
            }
        }
    } restore{ports};

    echotest::EchoRunner runner(std::move(plans->settings), {options.runs, options.runsGiven, options.duration},
                                std::move(plans->lanes));
    runner.abortRequested = interruptRequested;
    // The record is kept before the run is shown: a run on the screen is a
    // run in the database.
    std::unique_ptr<LogReporter> logged;
    if (log) {
        logged = std::make_unique<LogReporter>(*log, options.operatorName);
        runner.addReporter(*logged);
    }

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
    auto duration = std::make_shared<std::string>();
    CLI::Option *runs = addEchoOptions(*command, *options, *duration);
    command->callback([options, duration, runs, &exitStatus] {
        options->runsGiven = runs->count() > 0;
        if (!duration->empty())
            options->duration = parseDuration(*duration);
        exitStatus = runEcho(*options, std::cout, std::cerr);
    });
}

} // namespace cli
