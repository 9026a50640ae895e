#include "cli/echo_command.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/echo_inputs.h"
#include "cli/echo_session.h"
#include "cli/exit_status.h"
#include "cli/fixture_file.h"
#include "cli/html_report.h"
#include "cli/run_log.h"
#include "cli/station.h"
#include "cli/terminal.h"
#include "engine/echo_engine.h"
#include "rebounce_version.h"

namespace cli {
namespace {

using echotest::RunResult;
using echotest::Verdict;
using nlohmann::ordered_json;
using SteadyClock = std::chrono::steady_clock;

const char *verdictOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass: return "PASS";
    case Verdict::Fail: return "FAIL";
    default: return "ABORTED";
    }
}

std::string withoutCarriageReturns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

std::string fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string rateText(double rate)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3g", rate);
    return buffer;
}

// A byte as a person reads it: 'A' (0x41), or 0x1b where it has no face.
std::string byteText(unsigned char byte)
{
    char buffer[16];
    if (byte >= 0x20 && byte < 0x7F)
        std::snprintf(buffer, sizeof buffer, "'%c' (0x%02x)", byte, byte);
    else
        std::snprintf(buffer, sizeof buffer, "0x%02x", byte);
    return buffer;
}

// Standard output and the one status line on standard error, shared by the
// ports' threads: a line of results never lands inside the status line.
class Output {
public:
    Output(std::ostream &out, std::ostream &err) : out_(out), err_(err) {}

    void print(const std::string &line)
    {
        const std::lock_guard lock(mutex_);
        clearStatus();
        out_ << line << '\n' << std::flush;
    }
    void message(const std::string &line)
    {
        const std::lock_guard lock(mutex_);
        clearStatus();
        err_ << line << '\n' << std::flush;
    }
    void status(const std::string &line)
    {
        const std::lock_guard lock(mutex_);
        const size_t width = std::max(line.size(), statusWidth_);
        err_ << '\r' << line << std::string(width - line.size(), ' ') << '\r' << std::flush;
        statusWidth_ = line.size();
    }
    void endStatus()
    {
        const std::lock_guard lock(mutex_);
        clearStatus();
    }

private:
    void clearStatus()
    {
        if (statusWidth_ == 0)
            return;
        err_ << '\r' << std::string(statusWidth_, ' ') << '\r' << std::flush;
        statusWidth_ = 0;
    }

    std::mutex mutex_;
    std::ostream &out_;
    std::ostream &err_;
    size_t statusWidth_ = 0;
};

ordered_json quantilesJson(const echotest::TimeHistogram &h)
{
    if (h.count() == 0)
        return nullptr;
    return {{"min", h.min()}, {"median", h.quantile(0.5)}, {"p99", h.quantile(0.99)}, {"max", h.max()}};
}

ordered_json lineRateJson(const echotest::LineRateEstimate &rate, double requested)
{
    if (!rate.valid)
        return nullptr;
    return {{"baud", std::round(rate.baud)},
            {"uncertainty", std::round(rate.uncertainty)},
            {"differs", echotest::lineRateDiffers(rate, requested)}};
}

ordered_json lineErrorsJson(const serial::LineErrorCounts &c)
{
    return {{"framing", c.framing},
            {"overrun", c.overrun + c.bufferOverrun},
            {"parity", c.parity},
            {"break", c.breaks}};
}

ordered_json runJson(int run, const std::string &port, const RunResult &result, const std::string &message)
{
    ordered_json line = {
        {"type", "run"},
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
    if (result.firstByteMs)
        line["first_byte_ms"] = *result.firstByteMs;
    line["line_rate"] = lineRateJson(result.lineRate, result.baud);
    line["line_errors"] = lineErrorsJson(result.lineErrorCounts);
    if (result.verdict == Verdict::Fail) {
        const echotest::EchoDiff &d = result.diff;
        line["wrong_bytes"] = d.wrongBytes;
        line["missing_bytes"] = d.missingBytes;
        line["extra_bytes"] = d.extraBytes;
        if (d.first) {
            line["first_error"] = {{"position", d.first->position},
                                   {"expected", d.first->expected},
                                   {"received", d.first->received ? ordered_json(*d.first->received) : nullptr}};
        }
        line["error_positions"] = d.errorPositions;
    }
    return line;
}

// Where a failed run went wrong, in words.
std::string failureDetail(const RunResult &result)
{
    const echotest::EchoDiff &d = result.diff;
    std::string text = "    " + std::to_string(d.wrongBytes) + " wrong, " + std::to_string(d.missingBytes)
        + " missing, " + std::to_string(d.extraBytes) + " extra";
    if (d.first) {
        text += "; first at byte " + std::to_string(d.first->position) + ": expected "
            + (d.first->position < echotest::kPatternLength ? byteText(d.first->expected) : std::string("nothing"))
            + ", got " + (d.first->received ? byteText(*d.first->received) : std::string("nothing"));
    }
    const serial::LineErrorCounts &c = result.lineErrorCounts;
    if (c.framing + c.overrun + c.bufferOverrun + c.parity + c.breaks > 0) {
        text += "; line errors: framing " + std::to_string(c.framing) + ", overrun "
            + std::to_string(c.overrun + c.bufferOverrun) + ", parity " + std::to_string(c.parity) + ", break "
            + std::to_string(c.breaks);
    }
    return text;
}

std::string runText(int run, const std::string &port, const RunResult &result)
{
    if (result.verdict == Verdict::Aborted)
        return "Run " + std::to_string(run) + ": ABORTED (" + port + ", " + std::to_string(result.baud) + " baud)";
    std::string text = "Run " + std::to_string(run) + ": " + verdictOf(result.verdict) + "  " + port + " at "
        + std::to_string(result.baud) + " baud  sent " + std::to_string(result.sent) + "/1000  received "
        + std::to_string(result.received) + "/1000  send " + std::to_string(result.sendMs) + " ms  last read "
        + std::to_string(result.lastReadMs) + " ms  (line time " + std::to_string(result.lineTimeMs)
        + " ms, time-out " + std::to_string(result.timeoutMs) + " ms)";
    if (result.verdict == Verdict::Fail)
        text += "\n" + failureDetail(result);
    return text;
}

ordered_json summaryJson(const PortSession &session, const std::string &error)
{
    const echotest::RunTally &tally = session.tally();
    ordered_json summary = {
        {"type", "summary"},
        {"port", session.settings().shownName()},
        {"passes", tally.passes},
        {"failures", tally.failures},
        {"total_sent", tally.bytesSent},
        {"total_received", tally.bytesReceived},
    };
    if (!error.empty())
        summary["error"] = error;
    return summary;
}

std::string summaryText(const PortSession &session, bool named)
{
    const echotest::RunTally &tally = session.tally();
    return (named ? session.settings().shownName() + ": " : std::string()) + "Passes: "
        + std::to_string(tally.passes) + "  Failures: " + std::to_string(tally.failures)
        + "  Total bytes sent: " + std::to_string(tally.bytesSent)
        + "  Total bytes received: " + std::to_string(tally.bytesReceived);
}

ordered_json statisticsJson(const PortSession &session, const echotest::RunStatistics &s)
{
    ordered_json overTime = ordered_json::array();
    for (const auto &b : s.overTime())
        overTime.push_back({{"from_s", b.fromSeconds}, {"to_s", b.toSeconds}, {"runs", b.runs}, {"failures", b.failures}});
    const echotest::LineErrorCounts &e = s.lineErrors();
    return {
        {"type", "statistics"},
        {"port", session.settings().shownName()},
        {"runs", s.runs()},
        {"passes", s.passes()},
        {"failures", s.failures()},
        {"bytes_compared", s.bytesCompared()},
        {"wrong_bytes", s.wrongBytes()},
        {"missing_bytes", s.missingBytes()},
        {"extra_bytes", s.extraBytes()},
        {"byte_error_rate", s.byteErrorRate()},
        {"first_byte_ms", quantilesJson(s.firstByte())},
        {"last_read_ms", quantilesJson(s.lastRead())},
        {"line_rate", lineRateJson(s.lineRate(), session.settings().baud.wholeRate)},
        {"line_errors", {{"framing", e.framing}, {"overrun", e.overrun + e.bufferOverrun}, {"parity", e.parity},
                         {"break", e.breaks}}},
        {"failure_times_s", s.failureTimes()},
        {"failures_over_time", overTime},
    };
}

std::string quantilesText(const echotest::TimeHistogram &h)
{
    if (h.count() == 0)
        return "-";
    return "min " + fixed(h.min(), 1) + "  median " + fixed(h.quantile(0.5), 1) + "  99% " + fixed(h.quantile(0.99), 1)
        + "  max " + fixed(h.max(), 1) + " ms";
}

std::string statisticsText(const PortSession &session, const echotest::RunStatistics &s)
{
    const echotest::RunSettings &settings = session.settings();
    std::string text = settings.shownName() + " at " + settings.baud.text + " baud: " + std::to_string(s.runs())
        + " runs, " + std::to_string(s.passes()) + " passed, " + std::to_string(s.failures()) + " failed\n";
    text += "  bytes compared " + std::to_string(s.bytesCompared()) + ", wrong " + std::to_string(s.wrongBytes())
        + ", missing " + std::to_string(s.missingBytes()) + ", extra " + std::to_string(s.extraBytes())
        + ", byte error rate " + rateText(s.byteErrorRate()) + "\n";
    text += "  first byte back  " + quantilesText(s.firstByte()) + "\n";
    text += "  last read        " + quantilesText(s.lastRead()) + "  (line time "
        + std::to_string(settings.baud.lineTimeMs) + " ms)\n";
    const echotest::LineRateEstimate rate = s.lineRate();
    if (rate.valid) {
        text += "  line rate        " + fixed(rate.baud, 0) + " +/- " + fixed(rate.uncertainty, 0) + " baud\n";
        if (echotest::lineRateDiffers(rate, settings.baud.wholeRate))
            text += "  WARNING: the line runs at " + fixed(rate.baud, 0) + " +/- " + fixed(rate.uncertainty, 0)
                + " baud, not at the requested " + std::to_string(settings.baud.wholeRate) + "\n";
    }
    const echotest::LineErrorCounts &e = s.lineErrors();
    text += "  line errors      framing " + std::to_string(e.framing) + ", overrun "
        + std::to_string(e.overrun + e.bufferOverrun) + ", parity " + std::to_string(e.parity) + ", break "
        + std::to_string(e.breaks) + "\n";
    if (!s.failureTimes().empty()) {
        text += "  failures at      ";
        for (size_t i = 0; i < s.failureTimes().size(); ++i)
            text += (i ? ", " : "") + fixed(s.failureTimes()[i], 1) + " s";
        if (s.failures() > static_cast<int64_t>(s.failureTimes().size()))
            text += ", ...";
        text += "\n";
    }
    text.pop_back(); // the last newline
    return text;
}

// The live status line of a soak: all ports together.
std::string statusLine(const std::vector<std::unique_ptr<PortSession>> &sessions)
{
    int64_t runs = 0, failures = 0, bytes = 0, errors = 0;
    echotest::TimeHistogram lastRead;
    for (const auto &session : sessions) {
        const SessionFigures f = session->figures();
        runs += f.runs;
        failures += f.failures;
        bytes += f.bytesCompared;
        errors += f.errors;
        lastRead.merge(f.lastRead);
    }
    std::string line = "runs " + std::to_string(runs) + "  failures " + std::to_string(failures) + "  bytes "
        + std::to_string(bytes) + "  byte errors " + rateText(bytes ? static_cast<double>(errors) / bytes : 0.0);
    if (lastRead.count() > 0)
        line += "  last read median " + fixed(lastRead.quantile(0.5), 0) + " ms, 99% "
            + fixed(lastRead.quantile(0.99), 0) + " ms";
    return line;
}

int severityOf(int status)
{
    switch (status) {
    case kExitAborted: return 4;
    case kExitOpenFailed: return 3;
    case kExitFailed: return 2;
    case kExitUsage: return 1;
    default: return 0;
    }
}

int worse(int a, int b)
{
    return severityOf(b) > severityOf(a) ? b : a;
}

std::string localTimeText(std::chrono::system_clock::time_point when)
{
    // Called once, from the main thread, after the ports' threads are done.
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    return buffer;
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
    Output output(out, err);

    std::vector<std::unique_ptr<PortSession>> sessions;
    // Beside each session: its place, the unit behind it and its latency.
    std::vector<std::unique_ptr<StationPort>> stations;
    std::vector<std::unique_ptr<StationPort>> emptyPositions;
    const echotest::BaudReading baud = echotest::readBaudText(options.baud);
    const auto addSession = [&](int port, const std::string &device, std::unique_ptr<StationPort> station) {
        echotest::RunSettings settings;
        settings.port = static_cast<int16_t>(port);
        settings.device = device;
        settings.portName = device; // "COM" + n unless a device is named
        settings.baud = station->baud.empty() ? baud : echotest::readBaudText(station->baud);
        settings.lowerCase = options.lowerCase;
        sessions.push_back(std::make_unique<PortSession>(settings.shownName(), settings));
        stations.push_back(std::move(station));
    };

    // Ports by their place are looked up now, at the start of the run.
    const std::vector<serial::SerialDevice> devices = options.discover ? options.discover()
                                                                       : std::vector<serial::SerialDevice>{};
    for (const int port : options.ports) {
        auto station = std::make_unique<StationPort>();
        station->requested = serial::comPortDevice(port);
        resolvePort(*station, devices);
        addSession(port, {}, std::move(station));
    }
    for (const std::string &device : options.devices) {
        auto station = std::make_unique<StationPort>();
        station->requested = device;
        if (const std::string error = resolvePort(*station, devices); !error.empty()) {
            output.message(error);
            return kExitOpenFailed;
        }
        const std::string path = station->device;
        addSession(1, path, std::move(station));
    }
    if (!options.fixture.empty()) {
        Fixture fixture;
        try {
            fixture = readFixtureFile(options.fixture, options.baud);
        } catch (const FixtureError &error) {
            output.message(error.what());
            return kExitUsage;
        }
        for (const FixturePosition &position : fixture.positions) {
            // This runner sends 8 data bits, no parity, 1 stop bit.
            if (position.frame && *position.frame != "8N1") {
                output.message(options.fixture + ": " + position.name + ": this version runs the frame 8N1 only, not "
                               + *position.frame + ".");
                return kExitUsage;
            }
            auto station = std::make_unique<StationPort>();
            if (const std::string error = resolvePosition(*station, position, devices); !error.empty()) {
                output.message(error);
                return kExitOpenFailed;
            }
            if (station->empty) {
                emptyPositions.push_back(std::move(station));
                continue;
            }
            const std::string path = station->device;
            addSession(1, path, std::move(station));
        }
    }
    if (sessions.empty() && emptyPositions.empty())
        return kExitUsage;

    // A rate the run refuses is refused once, before any port is opened.
    for (const auto &session : sessions) {
        if (session->settings().baud.wholeRate < echotest::kMinimumBaudRate) {
            session->run(0);
            output.message(withoutCarriageReturns(session->lastMessage()));
            return kExitUsage;
        }
    }

    std::unique_ptr<RunLog> log;
    if (!options.log.empty())
        log = std::make_unique<RunLog>(options.log, [&output](const std::string &line) { output.message(line); });
    // A position with nothing plugged in is said and kept, and fails nothing.
    for (const auto &station : emptyPositions) {
        const std::string rate = station->baud.empty() ? options.baud : station->baud;
        const store::RunRecord record = emptyRecord(*station, options.operatorName, echotest::readBaudText(rate).wholeRate);
        if (log)
            log->write(record);
        if (options.json) {
            ordered_json line = {{"type", "run"}, {"run", 1}, {"verdict", "EMPTY"}, {"port", station->requested},
                                 {"baud", record.baud}, {"message", station->emptyReason}};
            addIdentityJson(line, *station);
            output.print(line.dump());
        } else {
            output.print(station->position + ": EMPTY (" + station->emptyReason + ")");
        }
    }
    if (options.lowLatency) {
        for (const auto &station : stations) {
            if (const std::string problem = applyLowLatency(*station); !problem.empty())
                output.message(problem);
        }
    }

    const bool live = options.progress && !options.json && stderrIsTerminal();
    const bool soak = options.duration.has_value();
    const bool runsLimited = options.runsGiven || !soak;
    const bool oneRunOnOnePort = sessions.size() == 1 && runsLimited && options.runs == 1;
    const auto startedAt = std::chrono::system_clock::now();
    const auto start = SteadyClock::now();
    const std::optional<SteadyClock::time_point> deadline =
        soak ? std::optional<SteadyClock::time_point>(start + *options.duration) : std::nullopt;

    std::vector<int> statuses(sessions.size(), kExitOk);
    std::vector<std::string> endedBy(sessions.size());
    const auto test = [&](size_t index) {
        PortSession &session = *sessions[index];
        const StationPort &station = *stations[index];
        const std::string &name = session.settings().shownName();
        // Text lines of a fixture run name the position too.
        const std::string shown = station.position.empty() ? name : station.position + " " + name;
        // The record is kept before the run is shown: a run on the screen
        // is a run in the database.
        const auto keep = [&](int run, const RunResult &result) {
            if (log)
                log->write(runRecord(station, options.operatorName, run, result, "8N1"));
        };
        for (int run = 1;; ++run) {
            if ((runsLimited && run > options.runs) || (deadline && SteadyClock::now() >= *deadline))
                break;
            if (interruptRequested()) {
                statuses[index] = kExitAborted;
                break;
            }
            const std::chrono::duration<double> since = SteadyClock::now() - start;
            const RunResult result = session.run(since.count());
            if (result.verdict == Verdict::OpenFailed) {
                // The runs before this one still get their summary; the
                // other ports go on.
                keep(run, result);
                endedBy[index] = withoutCarriageReturns(result.message);
                output.message(endedBy[index]);
                if (options.json) {
                    ordered_json line{{"type", "error"}, {"port", name}, {"exit_status", kExitOpenFailed},
                                      {"message", endedBy[index]}};
                    addIdentityJson(line, station);
                    output.print(line.dump());
                }
                statuses[index] = worse(statuses[index], kExitOpenFailed);
                break;
            }
            keep(run, result);
            const std::string message = withoutCarriageReturns(result.message);
            if (!message.empty())
                output.message(message);
            if (options.json) {
                ordered_json line = runJson(run, name, result, message);
                addIdentityJson(line, station);
                output.print(line.dump());
            } else if (!soak || result.verdict != Verdict::Pass) {
                output.print(runText(run, shown, result));
            }
            if (result.verdict == Verdict::Aborted) {
                statuses[index] = worse(statuses[index], kExitAborted);
                break;
            }
            if (result.verdict == Verdict::Fail)
                statuses[index] = worse(statuses[index], kExitFailed);
        }
    };

    if (live && oneRunOnOnePort) {
        // One run: its progress, at the pace of the window's live display.
        auto lastDraw = SteadyClock::time_point{};
        sessions.front()->onProgress = [&](const echotest::RunProgress &progress) {
            const auto now = SteadyClock::now();
            if (now - lastDraw < std::chrono::milliseconds(50))
                return;
            lastDraw = now;
            output.status("sent " + std::to_string(progress.sentCount) + "/1000  received "
                          + std::to_string(progress.receivedText.size()) + "/1000");
        };
    }
    std::vector<std::thread> threads;
    std::atomic<size_t> running{sessions.size()};
    for (size_t i = 0; i < sessions.size(); ++i) {
        threads.emplace_back([&, i] {
            test(i);
            --running;
        });
    }
    while (running > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(live ? 250 : 50));
        if (live && !oneRunOnOnePort && running > 0)
            output.status(statusLine(sessions));
    }
    for (std::thread &thread : threads)
        thread.join();
    output.endStatus();
    // The adapters' latency as it was, also after Ctrl+C or an unplug.
    for (const auto &station : stations) {
        if (station->lowLatency)
            station->lowLatency->restore();
    }

    int status = kExitOk;
    std::vector<echotest::RunStatistics> statistics;
    for (size_t i = 0; i < sessions.size(); ++i) {
        const PortSession &session = *sessions[i];
        statistics.push_back(session.statistics());
        status = worse(status, statuses[i]);
        if (options.json) {
            output.print(summaryJson(session, endedBy[i]).dump());
            output.print(statisticsJson(session, statistics.back()).dump());
        } else {
            output.print(summaryText(session, sessions.size() > 1));
            if (statistics.back().runs() > 1)
                output.print(statisticsText(session, statistics.back()));
        }
    }

    if (!options.report.empty()) {
        std::vector<ReportPort> ports;
        for (size_t i = 0; i < sessions.size(); ++i) {
            const echotest::RunSettings &settings = sessions[i]->settings();
            ports.push_back({settings.shownName(), settings.baud.text, static_cast<double>(settings.baud.wholeRate),
                             static_cast<double>(settings.baud.lineTimeMs), &statistics[i]});
        }
        std::ofstream file(options.report, std::ios::binary | std::ios::trunc);
        const std::chrono::duration<double> took = SteadyClock::now() - start;
        writeHtmlReport(file, {localTimeText(startedAt), took.count(), rebounce::kVersion}, ports);
        file.close();
        if (!file) {
            output.message("Cannot write the report " + options.report + ".");
            status = worse(status, kExitUsage);
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
                      "Any serial device: /dev/ttyUSB0, a pseudo-terminal, COM7, or by its place: "
                      "usb-path:1-1.4:1.0, usb-serial:FT1ABCDE[:N]; repeat to test several at once")
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
    command->add_flag("!--no-progress", options->progress, "No live progress on the terminal");
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
