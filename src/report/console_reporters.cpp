#include "report/console_reporters.h"

#include "report/line_report.h"
#include "report/record_fields.h"

namespace report {

using echotest::PortEnd;
using echotest::RunRecord;
using echotest::Verdict;

namespace {

// The exit status of rebounce-cli for a port that could not be opened.
constexpr int kOpenFailedStatus = 3;

std::string quantilesText(const echotest::TimeHistogram &h)
{
    if (h.count() == 0)
        return "-";
    return "min " + fixed(h.min(), 1) + "  median " + fixed(h.quantile(0.5), 1) + "  99% " + fixed(h.quantile(0.99), 1)
        + "  max " + fixed(h.max(), 1) + " ms";
}

ordered_json quantilesJson(const echotest::TimeHistogram &h)
{
    if (h.count() == 0)
        return nullptr;
    return {{"min", h.min()}, {"median", h.quantile(0.5)}, {"p99", h.quantile(0.99)}, {"max", h.max()}};
}

ordered_json summaryJson(const PortEnd &end)
{
    ordered_json summary = {
        {"type", "summary"},
        {"port", end.port.name},
        {"passes", end.tally.passes},
        {"failures", end.tally.failures},
        {"total_sent", end.tally.bytesSent},
        {"total_received", end.tally.bytesReceived},
    };
    if (!end.error.empty())
        summary["error"] = end.error;
    return summary;
}

ordered_json statisticsJson(const PortEnd &end)
{
    const echotest::RunStatistics &s = end.statistics;
    ordered_json overTime = ordered_json::array();
    for (const auto &b : s.overTime())
        overTime.push_back({{"from_s", b.fromSeconds}, {"to_s", b.toSeconds}, {"runs", b.runs}, {"failures", b.failures}});
    return {
        {"type", "statistics"},
        {"port", end.port.name},
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
        {"line_rate", lineRateJson(s.lineRate(), end.port.plan.baud.wholeRate)},
        {"line_errors", lineErrorsJson(s.lineErrors())},
        {"failure_times_s", s.failureTimes()},
        {"failures_over_time", overTime},
    };
}

} // namespace

void MessageReporter::reportRun(const RunRecord &record)
{
    if (!record.message.empty())
        sink_(record.message);
}

std::string runText(const RunRecord &record)
{
    const echotest::RunResult &result = record.result;
    const std::string run = "Run " + std::to_string(record.run) + ": ";
    // A fixture's position leads the port's name.
    const std::string &position = record.port.identity.position;
    const std::string port = position.empty() ? record.port.name : position + " " + record.port.name;
    if (result.verdict == Verdict::Aborted)
        return run + "ABORTED (" + port + ", " + std::to_string(result.baud) + " baud)";
    const std::string of = std::string(1, '/').append(std::to_string(result.expected));
    const std::optional<int64_t> lastRead = reportedLastReadMs(result);
    std::string text = run + verdictText(result.verdict) + "  " + port + " at "
        + std::to_string(result.baud) + " baud  sent " + std::to_string(result.sent) + of + "  received "
        + std::to_string(result.received) + of + "  send " + std::to_string(result.sendMs) + " ms  last read "
        + (lastRead ? std::to_string(*lastRead) + " ms" : std::string("none"))
        + "  (line time " + std::to_string(result.lineTimeMs)
        + " ms, time-out " + std::to_string(result.timeoutMs) + " ms)";
    if (result.networkRoundTripMs)
        text += "  network round trip " + fixed(*result.networkRoundTripMs, 1) + " ms";
    // Beyond the classic test the line names what was run.
    const echotest::TestPlan &plan = record.port.plan;
    if (plan.listenPort)
        text += "  listening on " + plan.listenPort->shownName();
    if (plan.pattern.name != "spec" || plan.patternLength() != 1000 || plan.pattern.chunkSize != 10 ||
        !(plan.frame == echotest::Frame{}) || plan.rs485)
        text += "  pattern " + plan.pattern.name + "  frame " + frameText(plan) + (plan.rs485 ? "  RS-485" : "");
    if (result.verdict == Verdict::Fail)
        text += "\n    " + failureText(result);
    if (result.lines) {
        std::string lines = lineTestText(*result.lines, record.port.name);
        for (size_t at = 0; (at = lines.find('\n', at)) != std::string::npos; at += 5)
            lines.replace(at, 1, "\n    ");
        text += "\n    " + lines;
    }
    if (result.flowLoad)
        text += "\n    Flow control " + std::string(echotest::flowName(result.flowLoad->flow)) + " under load: "
            + echotest::flowLoadText(*result.flowLoad);
    return text;
}

std::string summaryText(const PortEnd &end, bool named)
{
    const echotest::RunTally &tally = end.tally;
    return (named ? end.port.name + ": " : std::string()) + "Passes: " + std::to_string(tally.passes)
        + "  Failures: " + std::to_string(tally.failures) + "  Total bytes sent: " + std::to_string(tally.bytesSent)
        + "  Total bytes received: " + std::to_string(tally.bytesReceived);
}

std::string statisticsText(const PortEnd &end)
{
    const echotest::RunStatistics &s = end.statistics;
    const echotest::TestPlan &plan = end.port.plan;
    std::string text = end.port.name + " at " + plan.baud.text + " baud: " + std::to_string(s.runs()) + " runs, "
        + std::to_string(s.passes()) + " passed, " + std::to_string(s.failures()) + " failed\n";
    text += "  bytes compared " + std::to_string(s.bytesCompared()) + ", wrong " + std::to_string(s.wrongBytes())
        + ", missing " + std::to_string(s.missingBytes()) + ", extra " + std::to_string(s.extraBytes())
        + ", byte error rate " + rateText(s.byteErrorRate()) + "\n";
    text += "  first byte back  " + quantilesText(s.firstByte()) + "\n";
    text += "  last read        " + quantilesText(s.lastRead()) + "  (line time " + std::to_string(plan.lineTimeMs())
        + " ms)\n";
    const echotest::LineRateEstimate rate = s.lineRate();
    if (rate.valid) {
        const std::string measured = fixed(rate.baud, 0) + " +/- " + fixed(rate.uncertainty, 0);
        text += "  line rate        " + measured + " baud\n";
        if (echotest::lineRateDiffers(rate, plan.baud.wholeRate))
            text += "  WARNING: the line runs at " + measured + " baud, not at the requested "
                + std::to_string(plan.baud.wholeRate) + "\n";
    }
    text += "  line errors      " + lineErrorsText(s.lineErrors()) + "\n";
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

void TextReporter::begin(const echotest::SeriesInfo &info, const std::vector<echotest::ReportedPort> &ports)
{
    soak_ = info.soak;
    named_ = ports.size() > 1;
}

void TextReporter::reportRun(const RunRecord &record)
{
    const Verdict verdict = record.result.verdict;
    if (verdict != Verdict::OpenFailed && (!soak_ || verdict != Verdict::Pass))
        sink_(runText(record));
}

void TextReporter::reportPortEnd(const PortEnd &end)
{
    sink_(summaryText(end, named_));
    if (end.statistics.runs() > 1)
        sink_(statisticsText(end));
}

void JsonLinesReporter::reportRun(const RunRecord &record)
{
    if (record.result.verdict == Verdict::OpenFailed)
        sink_(ordered_json{{"type", "error"},
                           {"port", record.port.name},
                           {"exit_status", kOpenFailedStatus},
                           {"message", record.message}}
                  .dump());
    else
        sink_(runJson(record).dump());
}

void JsonLinesReporter::reportPortEnd(const PortEnd &end)
{
    sink_(summaryJson(end).dump());
    sink_(statisticsJson(end).dump());
}

} // namespace report

namespace report {

namespace {

bool samePlanPort(const echotest::ReportedPort &a, const echotest::ReportedPort &b)
{
    return a.name == b.name && a.plan.baud.text == b.plan.baud.text && a.plan.sendPort == b.plan.sendPort &&
        a.plan.listenPort == b.plan.listenPort;
}

int severity(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass: return 0;
    case Verdict::Fail: return 1;
    case Verdict::RateTooLow: return 2;
    case Verdict::OpenFailed: return 3;
    case Verdict::Aborted: return 4;
    }
    return 4;
}

std::string link(const echotest::ReportedPort &port)
{
    return port.plan.listenPort ? port.plan.sendPort.shownName() + " -> " + port.plan.listenPort->shownName()
                                : port.name;
}

std::string padded(std::string text, std::size_t width, bool right = false)
{
    if (text.size() < width)
        text = right ? std::string(width - text.size(), ' ') + text : text + std::string(width - text.size(), ' ');
    return text;
}

} // namespace

void SweepTableReporter::begin(const echotest::SeriesInfo &, const std::vector<echotest::ReportedPort> &ports)
{
    rows_.clear();
    for (const echotest::ReportedPort &port : ports) {
        Row row;
        row.port = port;
        rows_.push_back(std::move(row));
    }
}

void SweepTableReporter::reportRun(const RunRecord &record)
{
    for (Row &row : rows_) {
        if (!samePlanPort(row.port, record.port))
            continue;
        ++row.runs;
        if (severity(record.result.verdict) > severity(row.verdict))
            row.verdict = record.result.verdict;
        row.overLineTimeMs.reset();
        if (record.result.lastReadMs >= 0)
            row.overLineTimeMs = record.result.lastReadMs - record.result.lineTimeMs;
        row.lineRate = record.result.lineRate;
        return;
    }
}

void SweepTableReporter::finish(const echotest::SeriesInfo &)
{
    if (json_) {
        ordered_json rows = ordered_json::array();
        for (const Row &row : rows_) {
            ordered_json line = {{"port", row.port.name}};
            if (row.port.plan.listenPort)
                line["listen_port"] = row.port.plan.listenPort->shownName();
            line["baud"] = row.port.plan.baud.wholeRate;
            line["verdict"] = row.runs ? verdictText(row.verdict) : "NOT RUN";
            line["runs"] = row.runs;
            line["last_read_minus_line_time_ms"] = row.overLineTimeMs ? ordered_json(*row.overLineTimeMs) : nullptr;
            line["line_rate"] = row.lineRate.valid ? ordered_json(row.lineRate.baud) : nullptr;
            rows.push_back(std::move(line));
        }
        sink_(ordered_json{{"type", "sweep"}, {"rows", rows}}.dump());
        return;
    }
    std::size_t width = 4;
    for (const Row &row : rows_)
        width = std::max(width, link(row.port).size());
    sink_("Sweep: " + padded("port", width) + "  " + padded("rate", 8, true) + "  " + padded("verdict", 11)
          + "  last read - line time  measured line rate");
    for (const Row &row : rows_) {
        std::string over = "-";
        if (row.overLineTimeMs)
            over = (*row.overLineTimeMs >= 0 ? "+" : "") + std::to_string(*row.overLineTimeMs) + " ms";
        const std::string rate = row.lineRate.valid ? fixed(row.lineRate.baud, 0) + " baud" : "-";
        sink_("       " + padded(link(row.port), width) + "  " + padded(row.port.plan.baud.text, 8, true) + "  "
              + padded(row.runs ? verdictText(row.verdict) : "NOT RUN", 11) + "  " + padded(over, 21, true) + "  "
              + rate);
    }
}

} // namespace report
