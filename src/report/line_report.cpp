#include "report/line_report.h"

#include <algorithm>
#include <cstdio>

#include "serial/port_lines.h"

namespace report {

namespace {

namespace ml = serial::modemline;
using echotest::LineTestResult;
using echotest::LineVerdict;
using nlohmann::ordered_json;

constexpr std::uint32_t kInputs[] = {ml::cts, ml::dsr, ml::dcd, ml::ri};

std::string ms(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

// The outputs: "RTS on, DTR off" (OUT1 and OUT2 only where set, as few
// ports have them).
std::string outputsText(std::uint32_t lines)
{
    std::string text;
    for (const std::uint32_t line : {ml::rts, ml::dtr, ml::out1, ml::out2}) {
        if ((line == ml::out1 || line == ml::out2) && !(lines & line))
            continue;
        text += (text.empty() ? "" : ", ") + serial::modemLineName(line) + ((lines & line) ? " on" : " off");
    }
    return text;
}

ordered_json linesJson(std::uint32_t lines)
{
    ordered_json object = ordered_json::object();
    for (const std::uint32_t line : {ml::rts, ml::dtr, ml::out1, ml::out2, ml::cts, ml::dsr, ml::dcd, ml::ri})
        object[serial::modemLineName(line)] = (lines & line) != 0;
    return object;
}

std::vector<std::string> uncheckedInputs(const LineTestResult &result)
{
    std::vector<std::string> names;
    for (const std::uint32_t line : kInputs) {
        if (!(result.checkedInputs & line))
            names.push_back(serial::modemLineName(line));
    }
    return names;
}

bool judged(const LineTestResult &result)
{
    return result.verdict == LineVerdict::Pass || result.verdict == LineVerdict::Fail;
}

} // namespace

std::string lineTestText(const LineTestResult &result, const std::string &port)
{
    const std::string head = "Lines on " + port + ": " + echotest::lineVerdictText(result.verdict);
    if (!judged(result))
        return head + "  " + result.message;
    std::string text = head + "  (longest settle " + ms(result.settleMs) + " ms, limit "
        + std::to_string(result.settleLimitMs) + " ms)";
    for (const echotest::WireResult &wire : result.wires) {
        const std::string output = serial::modemLineName(wire.wire.output);
        const std::string input = serial::modemLineName(wire.wire.input);
        text += "\n  " + output + std::string(4 - output.size(), ' ') + " -> " + input + std::string(3 - input.size(), ' ');
        text += std::string(wire.pass ? "  PASS" : "  FAIL") + "  ";
        text += wire.pass ? "settle " + ms(wire.settleMs) + " ms" : wire.fault;
    }
    for (const std::string &name : uncheckedInputs(result))
        text += "\n  " + name + " not checked" + (name == "RI" ? " (--ri checks it)" : "");
    if (result.restored)
        text += "\n  lines put back: " + outputsText(result.linesAfter);
    else
        text += "\n  WARNING: the lines could not be put back: found " + outputsText(result.linesBefore) + ", left "
            + outputsText(result.linesAfter);
    return text;
}

ordered_json lineTestJson(const LineTestResult &result, const std::string &port)
{
    ordered_json object = {{"type", "lines"}, {"port", port}, {"verdict", echotest::lineVerdictText(result.verdict)}};
    if (!result.message.empty())
        object["message"] = result.message;
    if (!judged(result))
        return object;
    ordered_json wires = ordered_json::array();
    for (const echotest::WireResult &wire : result.wires) {
        wires.push_back({{"output", serial::modemLineName(wire.wire.output)},
                         {"input", serial::modemLineName(wire.wire.input)},
                         {"verdict", wire.pass ? "PASS" : "FAIL"},
                         {"settle_ms", wire.settleMs},
                         {"fault", wire.pass ? ordered_json(nullptr) : ordered_json(wire.fault)}});
    }
    object["wires"] = wires;
    object["not_checked"] = uncheckedInputs(result);
    object["settle_ms"] = result.settleMs;
    object["settle_limit_ms"] = result.settleLimitMs;
    object["lines_before"] = linesJson(result.linesBefore);
    object["lines_after"] = linesJson(result.linesAfter);
    object["restored"] = result.restored;
    return object;
}

ordered_json lineFieldJson(const LineTestResult &result)
{
    ordered_json object = {{"verdict", echotest::lineVerdictText(result.verdict)}, {"settle_ms", result.settleMs}};
    for (const std::uint32_t input : kInputs) {
        ordered_json value = nullptr;
        for (const echotest::WireResult &wire : result.wires) {
            if (wire.wire.input == input)
                value = wire.pass ? std::string("PASS") : wire.fault;
        }
        std::string key = serial::modemLineName(input);
        for (char &c : key)
            c = static_cast<char>(c - 'A' + 'a');
        object[key] = value;
    }
    object["restored"] = result.restored;
    return object;
}

std::string lineFaultsText(const LineTestResult &result)
{
    std::string text;
    for (const echotest::WireResult &wire : result.wires) {
        if (!wire.pass)
            text += (text.empty() ? "" : "; ") + wire.fault;
    }
    return text;
}

void LineTally::add(const LineTestResult &result)
{
    if (!judged(result))
        return;
    ++runs;
    failedRuns += result.passed() ? 0 : 1;
    for (const echotest::WireResult &wire : result.wires) {
        const std::string name = serial::modemLineName(wire.wire.output) + " -> " + serial::modemLineName(wire.wire.input);
        auto it = std::find_if(wires.begin(), wires.end(), [&](const Wire &w) { return w.name == name; });
        if (it == wires.end()) {
            wires.push_back(Wire{name, 0, 0, 0, {}});
            it = wires.end() - 1;
        }
        if (wire.pass) {
            ++it->passes;
            it->longestSettleMs = std::max(it->longestSettleMs, wire.settleMs);
        } else {
            ++it->failures;
            it->lastFault = wire.fault;
        }
    }
}

} // namespace report
