#include "report/record_fields.h"

#include "report/flow_report.h"
#include "report/line_report.h"

#include <cmath>
#include <cstdio>

namespace report {

using echotest::RunRecord;
using echotest::Verdict;

namespace {

using Value = std::optional<ordered_json>;

bool failed(const RunRecord &r)
{
    return r.result.verdict == Verdict::Fail;
}

Value firstError(const RunRecord &r)
{
    if (!failed(r) || !r.result.diff.first)
        return std::nullopt;
    const echotest::EchoDiff::FirstError &f = *r.result.diff.first;
    return ordered_json{{"position", f.position},
                        {"expected", f.expected},
                        {"received", f.received ? ordered_json(*f.received) : nullptr}};
}

ordered_json textOrNull(const std::string &text)
{
    return text.empty() ? ordered_json(nullptr) : ordered_json(text);
}

template <class T>
ordered_json orNull(const std::optional<T> &value)
{
    return value ? ordered_json(*value) : ordered_json(nullptr);
}

} // namespace

std::optional<int64_t> reportedLastReadMs(const echotest::RunResult &result)
{
    if (result.lastReadAtMs)
        return result.lastReadAtMs;
    if (result.portLost)
        return std::nullopt;
    return result.lastReadMs;
}

const std::vector<RunField> &runFields()
{
    static const std::vector<RunField> fields = {
        {"run", {}, [](const RunRecord &r) -> Value { return r.run; }},
        {"verdict", {}, [](const RunRecord &r) -> Value { return verdictText(r.result.verdict); }},
        {"port", {}, [](const RunRecord &r) -> Value { return r.port.name; }},
        {"baud", {}, [](const RunRecord &r) -> Value { return r.result.baud; }},
        {"sent", {}, [](const RunRecord &r) -> Value { return r.result.sent; }},
        {"received", {}, [](const RunRecord &r) -> Value { return r.result.received; }},
        {"send_ms", {}, [](const RunRecord &r) -> Value { return r.result.sendMs; }},
        // The last read that went through; null when the port went before
        // any did (an aborted run keeps its -1, as its send_ms does).
        {"last_read_ms", {}, [](const RunRecord &r) -> Value {
             const std::optional<int64_t> ms = reportedLastReadMs(r.result);
             return ms ? Value(*ms) : Value(ordered_json(nullptr));
         }},
        {"min_transmit_ms", {}, [](const RunRecord &r) -> Value { return r.result.lineTimeMs; }},
        {"timeout_ms", {}, [](const RunRecord &r) -> Value { return r.result.timeoutMs; }},
        {"received_text", {}, [](const RunRecord &r) -> Value { return bytesAsUtf8(r.result.receivedText); }},
        {"message", {}, [](const RunRecord &r) -> Value {
             return r.message.empty() ? Value() : Value(r.message);
         }},
        {"first_byte_ms", {}, [](const RunRecord &r) -> Value {
             return r.result.firstByteMs ? Value(*r.result.firstByteMs) : Value();
         }},
        // A port on another machine: the network round trip measured at
        // open, beside the line figures, so a slow link is not read as a
        // slow port.
        {"network_round_trip_ms", {}, [](const RunRecord &r) -> Value {
             return r.result.networkRoundTripMs ? Value(std::round(*r.result.networkRoundTripMs * 1000.0) / 1000.0)
                                                : Value();
         }},
        {"line_rate", {"baud", "uncertainty", "differs"}, [](const RunRecord &r) -> Value {
             return lineRateJson(r.result.lineRate, r.result.baud);
         }},
        {"line_errors", {"framing", "overrun", "parity", "break"}, [](const RunRecord &r) -> Value {
             return lineErrorsJson(r.result.lineErrorCounts);
         }},
        {"wrong_bytes", {}, [](const RunRecord &r) -> Value { return failed(r) ? Value(r.result.diff.wrongBytes) : Value(); }},
        {"missing_bytes", {}, [](const RunRecord &r) -> Value {
             return failed(r) ? Value(r.result.diff.missingBytes) : Value();
         }},
        {"extra_bytes", {}, [](const RunRecord &r) -> Value { return failed(r) ? Value(r.result.diff.extraBytes) : Value(); }},
        {"first_error", {"position", "expected", "received"}, firstError},
        {"error_positions", {}, [](const RunRecord &r) -> Value {
             return failed(r) ? Value(r.result.diff.errorPositions) : Value();
         }},
        {"pattern", {}, [](const RunRecord &r) -> Value { return r.port.plan.pattern.name; }},
        {"pattern_length", {}, [](const RunRecord &r) -> Value { return r.port.plan.patternLength(); }},
        {"chunk", {}, [](const RunRecord &r) -> Value { return r.port.plan.pattern.chunkSize; }},
        {"frame", {}, [](const RunRecord &r) -> Value { return frameText(r.port.plan); }},
        {"listen_port", {}, [](const RunRecord &r) -> Value {
             return r.port.plan.listenPort ? Value(r.port.plan.listenPort->shownName()) : Value();
         }},
        {"back_on_sender", {}, [](const RunRecord &r) -> Value {
             return r.port.plan.listenPort && r.result.verdict != Verdict::OpenFailed
                 ? Value(r.result.backOnSender.size()) : Value();
         }},
        {"rs485", {}, [](const RunRecord &r) -> Value { return r.port.plan.rs485 ? Value(true) : Value(); }},
        {"lines", std::vector<const char *>(std::begin(kLineFieldKeys), std::end(kLineFieldKeys)),
         [](const RunRecord &r) -> Value { return r.result.lines ? Value(lineFieldJson(*r.result.lines)) : Value(); }},
        // Which unit it was and where: null where it does not apply (a
        // pseudo-terminal has none of it), so that every line has them.
        {"position", {}, [](const RunRecord &r) -> Value { return textOrNull(r.port.identity.position); }},
        {"usb_id", {}, [](const RunRecord &r) -> Value { return textOrNull(r.port.identity.usb.usbId()); }},
        {"serial_number", {}, [](const RunRecord &r) -> Value {
             return textOrNull(r.port.identity.usb.serialNumber);
         }},
        {"interface", {}, [](const RunRecord &r) -> Value {
             const int number = r.port.identity.usb.interfaceNumber;
             return number >= 0 ? ordered_json(number) : ordered_json(nullptr);
         }},
        {"usb_path", {}, [](const RunRecord &r) -> Value { return textOrNull(r.port.identity.usb.usbPath); }},
        {"by_id", {}, [](const RunRecord &r) -> Value { return textOrNull(r.port.identity.usb.byIdPath); }},
        {"driver", {}, [](const RunRecord &r) -> Value { return textOrNull(r.port.identity.usb.driver); }},
        {"latency_timer_ms", {}, [](const RunRecord &r) -> Value { return orNull(r.port.identity.latencyTimerMs); }},
        {"low_latency", {}, [](const RunRecord &r) -> Value { return orNull(r.port.identity.lowLatency); }},
        // Flow control under load (a run with a reader pause).
        {"flow_load", std::vector<const char *>(std::begin(kFlowFieldKeys), std::end(kFlowFieldKeys)),
         [](const RunRecord &r) -> Value {
             return r.result.flowLoad ? Value(flowFieldJson(*r.result.flowLoad)) : Value();
         }},
        // Where the driver marked the bytes it received in error (only
        // platforms that mark them; the counts are in line_errors).
        {"line_error_positions", {}, [](const RunRecord &r) -> Value {
             return failed(r) && !r.result.lineErrorPositions.empty() ? Value(r.result.lineErrorPositions) : Value();
         }},
    };
    return fields;
}

ordered_json runJson(const RunRecord &record)
{
    ordered_json line = {{"type", "run"}};
    for (const RunField &field : runFields()) {
        if (Value value = field.value(record))
            line[field.name] = std::move(*value);
    }
    return line;
}

const char *verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass: return "PASS";
    case Verdict::Fail: return "FAIL";
    default: return "ABORTED";
    }
}

std::array<LineErrorKind, 4> lineErrorKinds(const serial::LineErrorCounts &c)
{
    return {{{"framing", c.framing}, {"overrun", c.overruns()}, {"parity", c.parity}, {"break", c.breaks}}};
}

ordered_json lineErrorsJson(const serial::LineErrorCounts &counts)
{
    ordered_json json = ordered_json::object();
    for (const LineErrorKind &kind : lineErrorKinds(counts))
        json[kind.name] = kind.count;
    return json;
}

std::string lineErrorsText(const serial::LineErrorCounts &counts)
{
    std::string text;
    for (const LineErrorKind &kind : lineErrorKinds(counts))
        text += (text.empty() ? "" : ", ") + std::string(kind.name) + " " + std::to_string(kind.count);
    return text;
}

std::string lineErrorPositionsText(const std::vector<int32_t> &positions)
{
    constexpr std::size_t shown = 10;
    std::string text = "received in error (parity or framing) at byte";
    text += positions.size() > 1 ? "s " : " ";
    for (std::size_t i = 0; i < positions.size() && i < shown; ++i)
        text += (i ? ", " : "") + std::to_string(positions[i]);
    if (positions.size() > shown)
        text += ", ... (" + std::to_string(positions.size()) + " in all)";
    return text;
}

ordered_json lineRateJson(const echotest::LineRateEstimate &rate, double requested)
{
    if (!rate.valid)
        return nullptr;
    return {{"baud", std::round(rate.baud)},
            {"uncertainty", std::round(rate.uncertainty)},
            {"differs", echotest::lineRateDiffers(rate, requested)}};
}

std::string failureText(const echotest::RunResult &result)
{
    const echotest::EchoDiff &d = result.diff;
    std::string text = std::to_string(d.wrongBytes) + " wrong, " + std::to_string(d.missingBytes) + " missing, "
        + std::to_string(d.extraBytes) + " extra";
    if (d.first) {
        text += "; first at byte " + std::to_string(d.first->position) + ": expected "
            + (d.first->position < result.expected ? byteText(d.first->expected) : std::string("nothing"))
            + ", got " + (d.first->received ? byteText(*d.first->received) : std::string("nothing"));
    }
    if (result.lineErrorCounts.total() > 0)
        text += "; line errors: " + lineErrorsText(result.lineErrorCounts);
    if (!result.lineErrorPositions.empty())
        text += "; " + lineErrorPositionsText(result.lineErrorPositions);
    if (!result.backOnSender.empty())
        text += "; " + std::to_string(result.backOnSender.size()) + " bytes came back on the sending port, first "
            + byteText(static_cast<unsigned char>(result.backOnSender.front())) + " (a crossed or shorted pair?)";
    if (result.lines && !result.lines->passed())
        text += "; handshake lines: " + lineFaultsText(*result.lines);
    if (result.flowLoad && result.flowLoad->failed())
        text += "; the driver did not hold the sender (" + std::string(echotest::flowName(result.flowLoad->flow))
            + ", " + std::to_string(result.flowLoad->sentDuringPause) + " bytes sent during the reader's pause)";
    return text;
}

std::string frameText(const echotest::TestPlan &plan)
{
    using Flow = echotest::Frame::Flow;
    const Flow flow = plan.frame.flow;
    return plan.frame.name() + (flow == Flow::RtsCts ? " rtscts" : flow == Flow::XonXoff ? " xonxoff" : "");
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

std::string byteText(unsigned char byte)
{
    char buffer[16];
    if (byte >= 0x20 && byte < 0x7F)
        std::snprintf(buffer, sizeof buffer, "'%c' (0x%02x)", byte, byte);
    else
        std::snprintf(buffer, sizeof buffer, "0x%02x", byte);
    return buffer;
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

} // namespace report
