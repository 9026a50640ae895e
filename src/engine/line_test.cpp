#include "engine/line_test.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <sstream>

#include "serial/rfc2217_port.h"

namespace echotest {

namespace ml = serial::modemline;
using serial::modemLineName;

namespace {

constexpr std::array<std::uint32_t, 4> kInputs{ml::cts, ml::dsr, ml::dcd, ml::ri};
constexpr std::array<std::uint32_t, 4> kOutputs{ml::rts, ml::dtr, ml::out1, ml::out2};

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What one input did over the steps, judged against the output it should
// follow.
std::string faultOf(const Wire &wire, const std::vector<LineStep> &steps, std::uint32_t tested)
{
    const auto follows = [&](std::uint32_t output, bool inverted) {
        return std::all_of(steps.begin(), steps.end(), [&](const LineStep &s) {
            return ((s.inputs & wire.input) != 0) == (((s.outputs & output) != 0) != inverted);
        });
    };
    if (follows(wire.output, false))
        return {};
    const std::string in = modemLineName(wire.input);
    const std::string out = modemLineName(wire.output);
    const bool alwaysHigh = std::all_of(steps.begin(), steps.end(), [&](const LineStep &s) { return s.inputs & wire.input; });
    const bool alwaysLow = std::none_of(steps.begin(), steps.end(), [&](const LineStep &s) { return s.inputs & wire.input; });
    if (alwaysHigh)
        return in + " does not follow " + out + " (stuck high)";
    if (alwaysLow) {
        if (wire.input == ml::dcd)
            return "DCD not wired (try a plug without DCD: --no-dcd)";
        return in + " does not follow " + out + " (stuck low)";
    }
    for (const std::uint32_t other : kOutputs) {
        if (other != wire.output && (tested & other) && follows(other, false))
            return in + " follows " + modemLineName(other) + ": " + out + " and " + modemLineName(other) +
                " are crossed";
    }
    if (follows(wire.output, true))
        return in + " follows " + out + " inverted";
    return in + " does not follow " + out;
}

class LineTestRun {
public:
    LineTestRun(serial::PortLines &lines, const LineTestOptions &options, const std::string &portName,
                const LineClock &clock)
        : lines_(lines), options_(options), portName_(portName), clock_(clock)
    {
    }

    LineTestResult run()
    {
        result_.settleLimitMs = options_.settleLimitMs > 0 ? options_.settleLimitMs
                                : serial::isRfc2217Name(portName_) ? kRemoteSettleLimitMs
                                                                   : kLocalSettleLimitMs;
        for (const Wire &wire : options_.wiring)
            result_.checkedInputs |= wire.input;
        if (!lines_.read(result_.linesBefore))
            return failed();
        result_.linesAfter = result_.linesBefore;
        result_.restored = true;
        std::uint32_t needed = 0;
        for (const Wire &wire : options_.wiring)
            needed |= wire.output;
        const std::uint32_t available = lines_.outputs();
        if (const std::uint32_t missing = needed & ~available) {
            result_.verdict = LineVerdict::Error;
            result_.message = portName_ + " cannot drive " + modemLineName(std::bit_floor(missing)) +
                ", which the wiring names";
            return result_;
        }
        // RTS and DTR are driven even where the plug wires only one of them:
        // an input that follows the other one is a crossed wire.
        tested_ = (needed | ml::rts | ml::dtr) & available;
        bool completed = true;
        for (const std::uint32_t outputs : stepOutputs()) {
            if (!step(outputs)) {
                completed = false;
                break;
            }
        }
        restore();
        if (!completed)
            return failed();
        judge();
        return result_;
    }

private:
    // All low, each output alone, all high.
    std::vector<std::uint32_t> stepOutputs() const
    {
        std::vector<std::uint32_t> steps{0};
        for (const std::uint32_t output : kOutputs) {
            if (tested_ & output)
                steps.push_back(output);
        }
        if (std::popcount(tested_) > 1)
            steps.push_back(tested_);
        return steps;
    }

    double elapsedSince(double start) const { return clock_() - start; }

    bool step(std::uint32_t outputs)
    {
        if (!lines_.set(outputs, tested_ & ~outputs))
            return false;
        const double start = clock_();
        std::uint32_t expected = 0;
        for (const Wire &wire : options_.wiring)
            expected |= (outputs & wire.output) ? wire.input : 0;
        std::uint32_t now = 0;
        if (!lines_.read(now))
            return false;
        // When each input took its present level, from the outputs' change.
        std::array<double, kInputs.size()> stableSince{};
        stableSince.fill(elapsedSince(start));
        const double limit = result_.settleLimitMs;
        bool met = false;
        double settle = limit;
        for (;;) {
            met = (now & result_.checkedInputs) == expected;
            double end = limit;
            if (met) {
                settle = 0;
                for (std::size_t i = 0; i < kInputs.size(); ++i) {
                    if (result_.checkedInputs & kInputs[i])
                        settle = std::max(settle, stableSince[i]);
                }
                // Watch a while longer: a crossed wire may answer later
                // than the right one.
                end = std::min(limit, settle + std::max(settle, static_cast<double>(options_.quietMs)));
            }
            const double elapsed = elapsedSince(start);
            if (elapsed >= end)
                break;
            const std::uint32_t before = now;
            if (!lines_.waitForChange(now, std::max(1, static_cast<int>(std::ceil(end - elapsed)))))
                return false;
            const double changedAt = elapsedSince(start);
            for (std::size_t i = 0; i < kInputs.size(); ++i) {
                if ((before ^ now) & kInputs[i])
                    stableSince[i] = changedAt;
            }
        }
        LineStep step;
        step.outputs = outputs;
        step.inputs = now & ml::inputs;
        step.settled = met;
        step.settleMs = met ? settle : limit;
        result_.steps.push_back(step);
        stepSettle_.push_back(stableSince);
        return true;
    }

    void restore()
    {
        const std::uint32_t before = result_.linesBefore;
        lines_.set(before & tested_, tested_ & ~before);
        std::uint32_t after = 0;
        if (lines_.read(after))
            result_.linesAfter = after;
        result_.restored = (result_.linesAfter & ml::outputs) == (before & ml::outputs);
    }

    void judge()
    {
        result_.verdict = LineVerdict::Pass;
        for (const Wire &wire : options_.wiring) {
            WireResult w;
            w.wire = wire;
            w.fault = faultOf(wire, result_.steps, tested_);
            w.pass = w.fault.empty();
            const auto index = static_cast<std::size_t>(std::countr_zero(wire.input >> 4));
            for (const auto &since : stepSettle_)
                w.settleMs = std::max(w.settleMs, since[index]);
            if (w.pass)
                result_.settleMs = std::max(result_.settleMs, w.settleMs);
            else
                result_.verdict = LineVerdict::Fail;
            result_.wires.push_back(w);
        }
    }

    LineTestResult failed()
    {
        result_.error = lines_.lastError();
        if (lines_.hasNoLines()) {
            result_.verdict = LineVerdict::NoLines;
            const std::string &what = result_.error.cause.systemText;
            result_.message = portName_ + " has no handshake lines" + (what.empty() ? "" : " (" + what + ")");
        } else {
            result_.verdict = LineVerdict::Error;
            const std::string &why = result_.error.cause.systemText;
            result_.message = "The handshake lines of " + portName_ + " failed: " + result_.error.report() +
                (why.empty() ? "" : " (" + why + ")");
        }
        return result_;
    }

    serial::PortLines &lines_;
    const LineTestOptions &options_;
    const std::string &portName_;
    const LineClock &clock_;
    LineTestResult result_;
    std::uint32_t tested_ = 0;
    std::vector<std::array<double, kInputs.size()>> stepSettle_;
};

} // namespace

Wiring fullLoopbackWiring(bool ri, bool dcd)
{
    Wiring wiring{{ml::rts, ml::cts}, {ml::dtr, ml::dsr}};
    if (dcd)
        wiring.push_back({ml::dtr, ml::dcd});
    if (ri)
        wiring.push_back({ml::dtr, ml::ri});
    return wiring;
}

std::optional<Wiring> parseWiring(const std::string &text, std::string &error)
{
    Wiring wiring;
    std::istringstream parts(text);
    std::string part;
    std::uint32_t inputsSeen = 0;
    while (std::getline(parts, part, ',')) {
        part = trimmed(part);
        const auto dash = part.find('-');
        if (dash == std::string::npos) {
            error = "'" + part + "' is not a wire: write output-input, e.g. rts-cts";
            return std::nullopt;
        }
        std::uint32_t a = serial::modemLineByName(trimmed(part.substr(0, dash)));
        std::uint32_t b = serial::modemLineByName(trimmed(part.substr(dash + 1)));
        if (a & ml::inputs)
            std::swap(a, b);
        if (!(a & ml::outputs) || !(b & ml::inputs)) {
            error = "'" + part + "' is not a wire: it joins one of RTS, DTR, OUT1, OUT2 to one of CTS, DSR, DCD, RI";
            return std::nullopt;
        }
        if (inputsSeen & b) {
            error = modemLineName(b) + " is wired twice";
            return std::nullopt;
        }
        inputsSeen |= b;
        wiring.push_back({a, b});
    }
    if (wiring.empty()) {
        error = "the wiring names no wire";
        return std::nullopt;
    }
    return wiring;
}

std::string wiringText(const Wiring &wiring)
{
    std::string text;
    for (const Wire &wire : wiring) {
        if (!text.empty())
            text += ',';
        text.append(modemLineName(wire.output)).append(1, '-').append(modemLineName(wire.input));
    }
    return text;
}

const char *lineVerdictText(LineVerdict verdict)
{
    switch (verdict) {
    case LineVerdict::Pass: return "PASS";
    case LineVerdict::Fail: return "FAIL";
    case LineVerdict::NoLines: return "NO LINES";
    case LineVerdict::Error: return "ERROR";
    }
    return "ERROR";
}

LineClock steadyLineClock()
{
    return [] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
}

LineTestResult runLineTest(serial::PortLines &lines, const LineTestOptions &options, const std::string &portName,
                           const LineClock &clock)
{
    return LineTestRun(lines, options, portName, clock).run();
}

} // namespace echotest
