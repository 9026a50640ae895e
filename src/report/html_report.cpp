#include "report/html_report.h"

#include "report/record_fields.h"

#include <cstdio>
#include <ostream>

#include <nlohmann/json.hpp>

namespace report {

extern const char kChartJsSource[]; // generated from the library's minified build

namespace {

using nlohmann::ordered_json;

// Text for HTML element content.
std::string escaped(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// JSON inside a <script> element must not close it: '<' only occurs inside
// JSON strings, where its escape means the same.
std::string scriptSafe(const std::string &json)
{
    std::string out;
    out.reserve(json.size());
    for (const char c : json) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

ordered_json plotData(const ReportPort &port)
{
    const echotest::RunStatistics &s = *port.statistics;
    ordered_json histogram = ordered_json::array();
    for (const auto &bin : s.lastRead().bins(40))
        histogram.push_back({{"from", bin.fromMs}, {"to", bin.toMs}, {"count", bin.count}});
    ordered_json series = ordered_json::array();
    for (const auto &bucket : s.overTime())
        series.push_back({{"from", bucket.fromSeconds},
                          {"runs", bucket.runs},
                          {"failures", bucket.failures},
                          {"worst_last_read_ms", bucket.worstLastReadMs}});
    return {{"name", port.name},
            {"pattern_length", port.patternLength},
            {"last_read_histogram", histogram},
            {"over_time", series},
            {"errors_at_position", s.errorsAtPosition()}};
}

void writeSummary(std::ostream &out, const ReportPort &port)
{
    const echotest::RunStatistics &s = *port.statistics;
    const auto row = [&out](const std::string &what, const std::string &value) {
        out << "<tr><th>" << escaped(what) << "</th><td>" << escaped(value) << "</td></tr>\n";
    };
    const auto times = [](const echotest::TimeHistogram &h) {
        if (h.count() == 0)
            return std::string("-");
        return fixed(h.min(), 1) + " / " + fixed(h.quantile(0.5), 1) + " / " + fixed(h.quantile(0.99), 1) + " / "
            + fixed(h.max(), 1) + " ms";
    };
    out << "<table class=\"summary\">\n";
    row("Runs", std::to_string(s.runs()));
    row("Passes", std::to_string(s.passes()));
    row("Failures", std::to_string(s.failures()));
    row("Bytes compared", std::to_string(s.bytesCompared()));
    row("Wrong / missing / extra bytes", std::to_string(s.wrongBytes()) + " / " + std::to_string(s.missingBytes())
            + " / " + std::to_string(s.extraBytes()));
    row("Byte error rate", rateText(s.byteErrorRate()));
    row("First byte back (min / median / 99 % / max)", times(s.firstByte()));
    row("Last read (min / median / 99 % / max)", times(s.lastRead()));
    row("Pattern", port.pattern);
    row("Frame", port.frame);
    if (!port.listenPort.empty())
        row("Listened for on", port.listenPort);
    row("Line time of " + std::to_string(port.patternLength) + " bytes", fixed(port.lineTimeMs, 1) + " ms");
    const echotest::LineRateEstimate line = s.lineRate();
    if (line.valid) {
        std::string text = fixed(line.baud, 0) + " baud +/- " + fixed(line.uncertainty, 0);
        if (echotest::lineRateDiffers(line, port.requestedBaud))
            text += "  (NOT the requested " + port.baud + " baud)";
        row("Line rate measured", text);
    } else {
        row("Line rate measured", "-");
    }
    std::string names, counts;
    for (const LineErrorKind &kind : lineErrorKinds(s.lineErrors())) {
        names += (names.empty() ? "" : " / ") + std::string(kind.name);
        counts += (counts.empty() ? "" : " / ") + std::to_string(kind.count);
    }
    row("Line errors (" + names + ")", counts);
    if (s.markedBytes() > 0) {
        // In order of position, the first ten, each with how many runs
        // had an error there when more than one did.
        std::string where;
        int shown = 0;
        for (const auto &[position, runs] : s.markedAt()) {
            if (shown++ == 10) {
                where += ", ...";
                break;
            }
            where += (where.empty() ? "" : ", ") + std::to_string(position) + (runs > 1 ? " (" + std::to_string(runs) + "x)" : "");
        }
        row("Bytes received in error (parity or framing)", std::to_string(s.markedBytes()) + ", at bytes " + where);
    }
    out << "</table>\n";
}

// Flow control under load over the runs: how often and how long the sender
// was held, and what was lost.
void writeFlowLoad(std::ostream &out, const FlowTally &flow)
{
    const auto row = [&out](const std::string &what, const std::string &value) {
        out << "<tr><th>" << escaped(what) << "</th><td>" << escaped(value) << "</td></tr>\n";
    };
    out << "<h3>Flow control under load</h3>\n<table class=\"summary flow\">\n";
    row("Runs with a reader pause", std::to_string(flow.runs));
    row("Sender held", std::to_string(flow.held) + " runs; longest " + std::to_string(flow.longestHeldMs) + " ms, "
            + std::to_string(flow.totalHeldMs) + " ms in all");
    if (flow.notHeld > 0)
        row("The driver did not hold the sender", std::to_string(flow.notHeld) + " runs (FAIL)");
    if (flow.notFilled > 0)
        row("Pause too short to tell", std::to_string(flow.notFilled) + " runs");
    row("Overrun (bytes lost in the driver)", std::to_string(flow.overruns) + " in " + std::to_string(flow.overrunRuns)
            + " runs");
    out << "</table>\n";
}

// The handshake lines over the runs, one row per wire.
void writeLines(std::ostream &out, const LineTally &lines)
{
    const auto row = [&out](const std::string &what, const std::string &value) {
        out << "<tr><th>" << escaped(what) << "</th><td>" << escaped(value) << "</td></tr>\n";
    };
    out << "<h3>Handshake lines</h3>\n<table class=\"summary lines\">\n";
    row("Runs with the line test", std::to_string(lines.runs) + ", " + std::to_string(lines.failedRuns) + " failed");
    for (const LineTally::Wire &wire : lines.wires) {
        std::string text = std::to_string(wire.passes) + " PASS, " + std::to_string(wire.failures) + " FAIL";
        if (wire.passes > 0)
            text += "; longest settle " + fixed(wire.longestSettleMs, 1) + " ms";
        if (!wire.lastFault.empty())
            text += "; last fault: " + wire.lastFault;
        row(wire.name, text);
    }
    out << "</table>\n";
}

const char kPageScript[] = R"js(
Chart.defaults.animation = false;
Chart.defaults.responsive = false;
const rendered = [];
function chart(id, config) {
  const canvas = document.getElementById(id);
  new Chart(canvas, config);
  rendered.push(canvas);
}
report.ports.forEach((port, i) => {
  chart('lastread' + i, {
    type: 'bar',
    data: {
      labels: port.last_read_histogram.map(b => b.from.toFixed(1)),
      datasets: [{ label: 'runs', data: port.last_read_histogram.map(b => b.count),
                   backgroundColor: '#3b7dd8', barPercentage: 1.0, categoryPercentage: 1.0 }]
    },
    options: { plugins: { title: { display: true, text: 'Last read (ms)' }, legend: { display: false } },
               scales: { x: { title: { display: true, text: 'ms' } }, y: { beginAtZero: true } } }
  });
  chart('overtime' + i, {
    type: 'bar',
    data: {
      labels: port.over_time.map(b => b.from.toFixed(1)),
      datasets: [
        { label: 'passed', data: port.over_time.map(b => b.runs - b.failures), backgroundColor: '#2ca02c' },
        { label: 'failed', data: port.over_time.map(b => b.failures), backgroundColor: '#d62728' }
      ]
    },
    options: { plugins: { title: { display: true, text: 'Runs over time' } },
               scales: { x: { stacked: true, title: { display: true, text: 's since start' } },
                         y: { stacked: true, beginAtZero: true } } }
  });
  chart('positions' + i, {
    type: 'bar',
    data: {
      labels: port.errors_at_position.map((_, p) => p),
      datasets: [{ label: 'errors', data: port.errors_at_position, backgroundColor: '#d62728',
                   barPercentage: 1.0, categoryPercentage: 1.0 }]
    },
    options: { plugins: { title: { display: true, text: 'Errors by position in the ' + port.pattern_length + ' bytes' },
                          legend: { display: false } },
               scales: { x: { title: { display: true, text: 'byte position' } }, y: { beginAtZero: true } } }
  });
});
// Tell an automated reader how many plots drew something.
let drawn = 0;
rendered.forEach(canvas => {
  const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  for (let k = 3; k < pixels.length; k += 4) { if (pixels[k] !== 0) { drawn++; break; } }
});
document.body.dataset.plotsDrawn = String(drawn);
)js";

} // namespace

void writeHtmlReport(std::ostream &out, const ReportInfo &info, const std::vector<ReportPort> &ports)
{
    ordered_json data = {{"ports", ordered_json::array()}};
    for (const ReportPort &port : ports)
        data["ports"].push_back(plotData(port));

    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>Rebounce Test report</title>\n<style>\n"
        << "body{font-family:sans-serif;margin:1.5em;color:#222}h2{margin-top:1.6em}"
        << "table.summary{border-collapse:collapse}table.summary th{text-align:left;font-weight:normal;"
        << "padding:2px 1.5em 2px 0;color:#555}table.summary td{font-family:monospace}"
        << "canvas{display:block;margin:1em 0}footer{margin-top:2em;color:#777;font-size:small}\n"
        << "</style>\n"
        // Any script error is left where an automated reader finds it.
        << "<script>window.onerror = function (m) { document.documentElement.dataset.scriptError = String(m); };"
        << "</script>\n</head>\n<body data-plots-drawn=\"0\">\n";
    out << "<h1>Rebounce Test report</h1>\n<p>Started " << escaped(info.startedAt) << ", ran "
        << fixed(info.seconds, 1) << " s, " << ports.size() << (ports.size() == 1 ? " port" : " ports")
        << ".</p>\n";
    for (size_t i = 0; i < ports.size(); ++i) {
        out << "<h2>" << escaped(ports[i].name) << " at " << escaped(ports[i].baud) << " baud</h2>\n";
        if (!ports[i].unit.empty())
            out << "<p>" << escaped(ports[i].unit) << "</p>\n";
        writeSummary(out, ports[i]);
        if (ports[i].lines && ports[i].lines->runs > 0)
            writeLines(out, *ports[i].lines);
        if (ports[i].flowLoad && ports[i].flowLoad->runs > 0)
            writeFlowLoad(out, *ports[i].flowLoad);
        for (const char *plot : {"lastread", "overtime", "positions"})
            out << "<canvas id=\"" << plot << i << "\" width=\"900\" height=\"260\"></canvas>\n";
    }
    out << "<footer>Rebounce Test " << escaped(info.version) << ". Plots drawn with Chart.js " << kChartJsVersion
        << " (MIT License, copyright Chart.js Contributors), included in this page.</footer>\n";
    out << "<script>\n" << kChartJsSource << "\n</script>\n";
    out << "<script>\nconst report = " << scriptSafe(data.dump()) << ";\n" << kPageScript << "</script>\n";
    out << "</body>\n</html>\n";
}

} // namespace report
