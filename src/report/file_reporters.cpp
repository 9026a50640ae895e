#include "report/file_reporters.h"

#include <ctime>

#include "report/html_report.h"
#include "report/line_report.h"
#include "report/record_fields.h"

namespace report {

using echotest::RunRecord;
using echotest::Verdict;

namespace {

std::string localTime(std::chrono::system_clock::time_point when, const char *format)
{
    // Called from one thread at a time (the runner serialises its reporters).
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, format, std::localtime(&t));
    return buffer;
}

// The text of a JSON scalar or list as a CSV cell holds it: strings bare,
// numbers as JSON writes them, a list as its items separated by blanks,
// nothing for null.
std::string cellText(const ordered_json &value)
{
    if (value.is_null())
        return {};
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_array()) {
        std::string text;
        for (const ordered_json &item : value)
            text += (text.empty() ? "" : " ") + cellText(item);
        return text;
    }
    return value.dump();
}

} // namespace

// ---- FileReporter ----------------------------------------------------------

FileReporter::FileReporter(std::string path, std::string what, bool openNow)
    : path_(std::move(path)), what_(std::move(what))
{
    if (openNow)
        open();
}

void FileReporter::open()
{
    file_.open(path_, std::ios::binary | std::ios::trunc);
    failed_ = failed_ || !file_;
}

void FileReporter::close()
{
    if (!file_.is_open())
        return;
    file_.close();
    failed_ = failed_ || !file_;
}

std::string FileReporter::failure() const
{
    return failed_ ? "Cannot write " + what_ + " " + path_ + "." : std::string();
}

// ---- CSV -------------------------------------------------------------------

std::string csvCell(const std::string &text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string csvHeader()
{
    std::string line;
    const auto column = [&line](const std::string &name) { line += (line.empty() ? "" : ",") + csvCell(name); };
    for (const RunField &field : runFields()) {
        if (field.keys.empty())
            column(field.name);
        for (const char *key : field.keys)
            column(std::string(field.name) + "." + key);
    }
    return line;
}

std::string csvRow(const RunRecord &record)
{
    std::string line;
    bool first = true;
    const auto cell = [&](const std::string &text) {
        line += (first ? "" : ",") + csvCell(text);
        first = false;
    };
    for (const RunField &field : runFields()) {
        const std::optional<ordered_json> value = field.value(record);
        if (field.keys.empty())
            cell(value ? cellText(*value) : std::string());
        for (const char *key : field.keys)
            cell(value && value->is_object() && value->contains(key) ? cellText((*value)[key]) : std::string());
    }
    return line;
}

CsvReporter::CsvReporter(const std::string &path) : FileReporter(path, "the CSV file") {}

void CsvReporter::begin(const echotest::SeriesInfo &, const std::vector<echotest::ReportedPort> &)
{
    out() << csvHeader() << "\r\n";
}

void CsvReporter::reportRun(const RunRecord &record)
{
    if (record.result.verdict != Verdict::OpenFailed)
        out() << csvRow(record) << "\r\n";
}

// ---- JUnit XML -------------------------------------------------------------

namespace {

// The length of the UTF-8 sequence that starts at text[at], 0 when it is
// not one.
size_t utf8Length(const std::string &text, size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    const size_t length = byte >= 0xF0 && byte < 0xF5 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 && byte < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

std::string hexByte(unsigned char byte)
{
    const char *digits = "0123456789abcdef";
    return std::string("\\x") + digits[byte >> 4] + digits[byte & 15];
}

} // namespace

std::string xmlEscaped(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += "&#10;"; break;
        case '\t': out += "&#9;"; break;
        default:
            // XML 1.0 has no other control characters, and the file is
            // UTF-8: any other byte (a received one, say) is shown as its code.
            if (byte >= 0x20 && byte < 0x80) {
                out += c;
            } else if (const size_t length = byte >= 0x80 ? utf8Length(text, i) : 0) {
                out.append(text, i, length);
                i += length - 1;
            } else {
                out += hexByte(byte);
            }
        }
    }
    return out;
}

JunitReporter::JunitReporter(const std::string &path) : FileReporter(path, "the JUnit file") {}

void JunitReporter::begin(const echotest::SeriesInfo &info, const std::vector<echotest::ReportedPort> &ports)
{
    timestamp_ = localTime(info.startedAt, "%Y-%m-%dT%H:%M:%S");
    for (const echotest::ReportedPort &port : ports) {
        suiteOf_.emplace(port.name, suites_.size());
        Suite &suite = suites_.emplace_back();
        suite.name = port.name;
        suite.properties = "    <properties>\n"
                                    "      <property name=\"baud\" value=\"" + xmlEscaped(port.plan.baud.text) + "\"/>\n"
                                    "      <property name=\"frame\" value=\"" + frameText(port.plan) + "\"/>\n"
                                    "      <property name=\"pattern\" value=\"" + xmlEscaped(port.plan.pattern.name) + "\"/>\n";
        // The unit and its place, as far as they apply.
        const echotest::PortIdentity &id = port.identity;
        const auto property = [&suite](const char *name, const std::string &value) {
            if (!value.empty())
                suite.properties += "      <property name=\"" + std::string(name) + "\" value=\"" + xmlEscaped(value)
                    + "\"/>\n";
        };
        property("position", id.position);
        property("usb_id", id.usb.usbId());
        property("serial_number", id.usb.serialNumber);
        property("interface", id.usb.interfaceNumber >= 0 ? std::to_string(id.usb.interfaceNumber) : std::string());
        property("usb_path", id.usb.usbPath);
        property("by_id", id.usb.byIdPath);
        property("driver", id.usb.driver);
        property("latency_timer_ms", id.latencyTimerMs ? std::to_string(*id.latencyTimerMs) : std::string());
        suite.properties += "    </properties>\n";
    }
}

void JunitReporter::reportRun(const RunRecord &record)
{
    Suite &suite = suites_[suiteOf_.at(record.port.name)];
    const echotest::RunResult &result = record.result;
    const std::optional<int64_t> lastRead = reportedLastReadMs(result);
    const double seconds = lastRead && *lastRead > 0 ? static_cast<double>(*lastRead) / 1000.0 : 0.0;
    ++suite.tests;
    suite.seconds += seconds;
    std::string &out = suite.cases;
    out += "    <testcase name=\"run " + std::to_string(record.run) + "\" classname=\"" + xmlEscaped(record.port.name)
        + "\" time=\"" + fixed(seconds, 3) + "\"";
    std::string body;
    const auto problem = [&](const char *element, const std::string &type, const std::string &message,
                             const std::string &text) {
        body += "      <" + std::string(element) + " type=\"" + type + "\" message=\"" + xmlEscaped(message) + "\">"
            + xmlEscaped(text) + "</" + element + ">\n";
    };
    const bool echoDiffers = result.diff.wrongBytes + result.diff.missingBytes + result.diff.extraBytes > 0 ||
        result.portLost;
    switch (result.verdict) {
    case Verdict::Fail:
        ++suite.failures;
        problem("failure", "FAIL",
                !record.message.empty()                   ? record.message
                : echoDiffers                             ? "The echo differs from the pattern"
                : !result.lineErrorPositions.empty()      ? "Bytes of the echo came with line errors"
                : !result.backOnSender.empty()            ? "Bytes came back on the sending port"
                : result.lines && !result.lines->passed() ? "The handshake lines failed"
                : result.flowLoad && result.flowLoad->failed()
                    ? "The driver did not hold the sender"
                    : "Bytes were overrun under load",
                failureText(result));
        break;
    case Verdict::Aborted:
        ++suite.errors;
        problem("error", "ABORTED", "The run was aborted", record.message);
        break;
    case Verdict::OpenFailed:
        ++suite.errors;
        problem("error", "OPEN", record.message, record.message);
        break;
    default:
        break;
    }
    // The line test of the run, passed or not, for whoever reads the case.
    // Likewise how the sender fared under load (one system-out for both).
    std::string systemOut;
    if (result.lines && result.verdict != Verdict::OpenFailed)
        systemOut = lineTestText(*result.lines, record.port.name);
    if (result.flowLoad)
        systemOut += (systemOut.empty() ? "" : "\n") + std::string("Flow control ")
            + echotest::flowName(result.flowLoad->flow) + " under load: " + echotest::flowLoadText(*result.flowLoad);
    if (!systemOut.empty())
        body += "      <system-out>" + xmlEscaped(systemOut) + "</system-out>\n";
    out += body.empty() ? "/>\n" : ">\n" + body + "    </testcase>\n";
}

void JunitReporter::finish(const echotest::SeriesInfo &info)
{
    int tests = 0, failures = 0, errors = 0;
    for (const Suite &suite : suites_) {
        tests += suite.tests;
        failures += suite.failures;
        errors += suite.errors;
    }
    std::ostream &xml = out();
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<testsuites name=\"rebounce echo\" tests=\"" << tests << "\" failures=\"" << failures << "\" errors=\""
        << errors << "\" time=\"" << fixed(info.seconds, 3) << "\">\n";
    for (size_t i = 0; i < suites_.size(); ++i) {
        const Suite &suite = suites_[i];
        xml << "  <testsuite name=\"" << xmlEscaped(suite.name) << "\" id=\"" << i << "\" tests=\"" << suite.tests
            << "\" failures=\"" << suite.failures << "\" errors=\"" << suite.errors << "\" skipped=\"0\" time=\""
            << fixed(suite.seconds, 3) << "\" timestamp=\"" << timestamp_ << "\">\n"
            << suite.properties << suite.cases << "  </testsuite>\n";
    }
    xml << "</testsuites>\n";
    close();
}

// ---- HTML ------------------------------------------------------------------

HtmlReporter::HtmlReporter(const std::string &path, std::string version)
    : FileReporter(path, "the report", false), version_(std::move(version))
{
}

void HtmlReporter::reportRun(const RunRecord &record)
{
    if (record.result.lines)
        lines_[record.port.name].add(*record.result.lines);
    flows_[record.port.name].add(record.result);
}

void HtmlReporter::reportPortEnd(const echotest::PortEnd &end)
{
    ports_.push_back({end.port, end.statistics, lines_[end.port.name], flows_[end.port.name]});
}

namespace {

// "position A2, USB 0403:6011, serial FT1ABCDE, interface 1, at 1-1.4:1.1,
// ftdi_sio, latency timer 1 ms".
std::string unitText(const echotest::PortIdentity &id)
{
    std::string text;
    const auto add = [&text](const std::string &part) {
        if (!part.empty())
            text += (text.empty() ? "" : ", ") + part;
    };
    add(id.position.empty() ? "" : "position " + id.position);
    add(id.usb.usbId().empty() ? "" : "USB " + id.usb.usbId());
    add(id.usb.serialNumber.empty() ? "" : "serial " + id.usb.serialNumber);
    add(id.usb.interfaceNumber < 0 ? "" : "interface " + std::to_string(id.usb.interfaceNumber));
    add(id.usb.usbPath.empty() ? "" : "at " + id.usb.usbPath);
    add(id.usb.driver);
    add(id.latencyTimerMs ? "latency timer " + std::to_string(*id.latencyTimerMs) + " ms" : "");
    return text;
}

} // namespace

void HtmlReporter::finish(const echotest::SeriesInfo &info)
{
    std::vector<ReportPort> ports;
    for (const Port &p : ports_) {
        const echotest::TestPlan &plan = p.port.plan;
        ports.push_back({p.port.name, plan.baud.text, static_cast<double>(plan.baud.wholeRate),
                         static_cast<double>(plan.lineTimeMs()), plan.patternLength(), &p.statistics,
                         plan.pattern.name, frameText(plan), plan.listenPort ? plan.listenPort->shownName() : "",
                         &p.lines, unitText(p.port.identity), &p.flows});
    }
    open();
    writeHtmlReport(out(), {localTime(info.startedAt, "%Y-%m-%d %H:%M:%S"), info.seconds, version_}, ports);
    close();
}

} // namespace report
