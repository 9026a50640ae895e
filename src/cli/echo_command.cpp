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
#include "cli/fixture_file.h"
#include "cli/run_log.h"
#include "cli/station.h"
#include "cli/terminal.h"
#include "serial/device_selector.h"
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

// The ports of a series: those named with --port and --device, then the
// positions of a fixture; each with the unit behind it, looked up now.
struct SeriesPorts {
    std::vector<std::unique_ptr<StationPort>> stations; // one per run port, in the same order
    std::vector<echotest::RunSettings> settings;
    std::vector<std::optional<echotest::Frame>> frames; // a fixture position's own frame
    std::vector<std::unique_ptr<StationPort>> empty;    // fixture positions with nothing plugged in
};

// Fills ports; a message and an exit status when they cannot be had.
std::optional<int> seriesPorts(const EchoOptions &options, Output &output, SeriesPorts &ports)
{
    // The machine's whole list only where a port is named by its place:
    // listing looks through every process's open files.
    const bool byPlace = !options.fixture.empty()
        || std::any_of(options.devices.begin(), options.devices.end(), serial::isDeviceSelector);
    const std::vector<serial::SerialDevice> devices = byPlace && options.discover
        ? options.discover()
        : std::vector<serial::SerialDevice>{};
    const auto add = [&](int port, std::unique_ptr<StationPort> station, std::optional<echotest::Frame> frame) {
        echotest::RunSettings settings;
        settings.plan.baud = echotest::readBaudText(station->baud.empty() ? options.baud : station->baud);
        ports.frames.push_back(frame);
        settings.plan.sendPort.port = static_cast<int16_t>(port);
        settings.plan.sendPort.device = station->device;
        settings.plan.sendPort.portName = station->device; // "COM" + n unless a device is named
        settings.lowerCase = options.lowerCase;
        ports.settings.push_back(std::move(settings));
        ports.stations.push_back(std::move(station));
    };
    for (const int port : options.ports) {
        auto station = std::make_unique<StationPort>();
        station->requested = serial::comPortDevice(port);
        resolvePort(*station, devices);
        station->device.clear(); // the run opens the slot, as it always has
        add(port, std::move(station), std::nullopt);
    }
    for (const std::string &device : options.devices) {
        auto station = std::make_unique<StationPort>();
        station->requested = device;
        if (const std::string error = resolvePort(*station, devices); !error.empty()) {
            output.message(error);
            return kExitOpenFailed;
        }
        add(1, std::move(station), std::nullopt);
    }
    if (options.fixture.empty())
        return std::nullopt;
    Fixture fixture;
    try {
        fixture = readFixtureFile(options.fixture, options.baud);
    } catch (const FixtureError &error) {
        output.message(error.what());
        return kExitUsage;
    }
    for (const FixturePosition &position : fixture.positions) {
        auto station = std::make_unique<StationPort>();
        if (const std::string error = resolvePosition(*station, position, devices); !error.empty()) {
            output.message(error);
            return kExitOpenFailed;
        }
        if (station->empty)
            ports.empty.push_back(std::move(station));
        else
            add(1, std::move(station), position.frame ? echotest::parseFrame(*position.frame) : std::nullopt);
    }
    return std::nullopt;
}

// The plans of every port given, and the lane each runs in: a port's
// rates and directions run one after the other, the ports side by side.
struct Plans {
    std::vector<echotest::RunSettings> settings;
    std::vector<int> lanes;
};

// What the options ask of every port: checked before anything is opened.
struct PlanParts {
    echotest::Pattern pattern;
    echotest::Frame frame;
    std::vector<std::string> sweep; // the rates of a sweep; empty: each port's own
    std::optional<echotest::LineTestOptions> lineTest;
};

echotest::Frame withFlow(echotest::Frame frame, const std::string &flow)
{
    frame.flow = flow == "rtscts" ? echotest::Frame::Flow::RtsCts
        : flow == "xonxoff"       ? echotest::Frame::Flow::XonXoff
                                  : echotest::Frame::Flow::None;
    return frame;
}

// Empty with the reason in error for a plan that cannot run.
std::optional<PlanParts> planParts(const EchoOptions &options, std::string &error)
{
    std::string why;
    const auto pattern = echotest::makePattern({options.pattern, options.length, options.chunk}, why);
    if (!pattern) {
        error = "--pattern: " + why;
        return std::nullopt;
    }
    const auto frame = echotest::parseFrame(options.frame);
    if (!frame) {
        error = "--frame: '" + options.frame + "' is no frame (data bits 5-8, parity N/E/O/M/S, stop bits 1, 1.5 or 2)";
        return std::nullopt;
    }
    PlanParts parts{*pattern, withFlow(*frame, options.flow), {}, std::nullopt};
    // Refused before anything is opened: a frame that cannot carry the
    // pattern would fail every byte, or pass a masked pattern.
    if (const auto mismatch = echotest::patternFrameMismatch(parts.pattern, parts.frame)) {
        error = "--pattern " + parts.pattern.name + " does not fit --frame " + parts.frame.name() + ": " + *mismatch;
        return std::nullopt;
    }
    if (!options.sweep.empty()) {
        const auto swept = echotest::parseSweep(options.sweep, why);
        if (!swept) {
            error = why;
            return std::nullopt;
        }
        for (const std::uint32_t rate : *swept)
            parts.sweep.push_back(std::to_string(rate));
    }
    if (options.lines) {
        parts.lineTest = lineTestOptions(options.plug, why);
        if (!parts.lineTest) {
            error = "--wiring: " + why;
            return std::nullopt;
        }
    }
    if (options.bothWays && options.to.empty()) {
        error = "--both-ways needs --to";
        return std::nullopt;
    }
    return parts;
}

// Each port's plan at each rate and in each direction.
std::optional<Plans> plansOf(const EchoOptions &options, const PlanParts &parts, const SeriesPorts &ports,
                             std::string &error)
{
    const std::vector<echotest::RunSettings> &senders = ports.settings;
    if (!options.to.empty() && options.to.size() != senders.size()) {
        error = "--to: give one listening port for each sending port (" + std::to_string(senders.size()) + " sending, "
            + std::to_string(options.to.size()) + " listening)";
        return std::nullopt;
    }
    Plans plans;
    for (std::size_t i = 0; i < senders.size(); ++i) {
        const echotest::PlanPort &send = senders[i].plan.sendPort;
        const echotest::Frame frame = ports.frames[i] ? withFlow(*ports.frames[i], options.flow) : parts.frame;
        if (const auto mismatch = echotest::patternFrameMismatch(parts.pattern, frame)) {
            error = "--pattern " + parts.pattern.name + " does not fit the frame " + frame.name() + ": " + *mismatch;
            return std::nullopt;
        }
        std::vector<std::pair<echotest::PlanPort, std::optional<echotest::PlanPort>>> directions;
        if (options.to.empty()) {
            directions.push_back({send, std::nullopt});
        } else {
            // The listening port takes another slot of the session's layer.
            const echotest::PlanPort listen{static_cast<int16_t>(send.port % 4 + 1), options.to[i], options.to[i]};
            directions.push_back({send, listen});
            if (options.bothWays)
                directions.push_back({listen, send});
        }
        const std::vector<std::string> rates = parts.sweep.empty()
            ? std::vector<std::string>{senders[i].plan.baud.text} : parts.sweep;
        for (const std::string &rate : rates) {
            for (const auto &[from, to] : directions) {
                echotest::RunSettings settings = senders[i];
                settings.plan.pattern = parts.pattern;
                settings.plan.frame = frame;
                settings.plan.baud = echotest::readBaudText(rate);
                settings.plan.sendPort = from;
                settings.plan.listenPort = to;
                if (options.rs485)
                    settings.plan.rs485 = serial::Rs485Mode{true, false, options.rs485DelayBeforeMs,
                                                            options.rs485DelayAfterMs};
                settings.lineTest = parts.lineTest;
                settings.readerPauseMs = options.readerPauseMs;
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
    // No default port: COM1 is the console on many Linux machines, and the
    // test writes 1000 bytes to whatever it opens.
    auto *where = command->add_option_group("port", "The ports to test: --port and --device, each repeatable");
    where->add_option("--port", options->ports, "COM port 1..4 (REBOUNCE_COMn maps it on Linux); repeat to test several")
        ->check(CLI::Range(1, 4));
    where->add_option("--device", options->devices,
                      "Any serial device: /dev/ttyUSB0, a pseudo-terminal, COM7, a port served over RFC 2217 "
                      "(rfc2217://HOST:PORT, e.g. by ser2net), or by its place: usb-path:1-1.4:1.0, "
                      "usb-serial:FT1ABCDE[:N]; repeat to test several at once")
        ->check(CLI::Validator(checkDeviceText, "DEVICE"));
    where->add_option("--fixture", options->fixture,
                      "A fixture file (JSON) naming each position's USB port; tests every position at once");
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
    command->add_option("--reader-pause", options->readerPauseMs,
                        "Flow control under load: read nothing for MS ms from the first byte on, so that the receive "
                        "side fills and --flow must hold the sender; reports how long it was held (e.g. --flow rtscts "
                        "--length 65536 --chunk 256 --reader-pause 2000)")
        ->check(CLI::Range(1, 600000))
        ->type_name("MS");
    command->add_option("--log", options->log,
                        "Keep every run in a results database: an SQLite file, or postgresql://...");
    command->add_option("--operator", options->operatorName, "Who runs the test, for the records");
    command->add_flag("--low-latency", options->lowLatency,
                      "Set the adapter's latency timer to 1 ms and its low-latency flag for the run, then put "
                      "them back");
    command->callback([options, duration, runs, &exitStatus] {
        options->runsGiven = runs->count() > 0;
        if (!duration->empty())
            options->duration = parseDuration(*duration);
        exitStatus = runEcho(*options, std::cout, std::cerr);
    });
}

} // namespace cli
