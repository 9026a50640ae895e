#include "calculator/ubrr.h"

#include "calculator/number_text.h"

#include <cfenv>
#include <cmath>
#include <string>

namespace calculator {

namespace {

// Stores a double expression in a named single-precision intermediate.  An
// overflow of the store, or an infinity or NaN coming in, is a failure:
// C++ float arithmetic does not trap, so we check at every store.
bool store(double expression, float &target)
{
    const float value = static_cast<float>(expression);
    if (!std::isfinite(value))
        return false;
    target = value;
    return true;
}

// Half to the even neighbour, independent of the caller's rounding mode.
float roundHalfEven(float x)
{
    const float lower = std::floor(x);
    const float fraction = x - lower;
    if (fraction > 0.5f)
        return lower + 1.0f;
    if (fraction < 0.5f)
        return lower;
    return std::fmod(lower, 2.0f) == 0.0f ? lower : lower + 1.0f;
}

std::string percentText(float value)
{
    return formatFixed(value, 2) + " %";
}

// A text counts as zero (or absent) for the input tests of Calculate.
bool isBlankOrZero(std::string_view text)
{
    const auto value = toDouble(text);
    return !value || *value == 0.0;
}

bool fillMode(float f, float b, int divisor, ModeResult &mode)
{
    const auto chosen = chooseRegister(f, b, divisor);
    if (!chosen)
        return false;
    mode.registerValue = *chosen;
    // A result of -1 would divide by zero below.
    const double denominator = (static_cast<double>(*chosen) + 1.0) * divisor;
    if (denominator == 0.0)
        return false;
    float q = 0.0f;
    if (!store(f / denominator, mode.rate) || !store(static_cast<double>(mode.rate) / b - 1.0, q)
        || !store(static_cast<double>(q) * 100.0, mode.errorPercent))
        return false;
    mode.inRange = *chosen <= kRegisterMax;
    if (mode.inRange) {
        mode.registerText = std::to_string(*chosen);
        mode.rateText = formatFixed(mode.rate, 2);
        mode.errorText = percentText(mode.errorPercent);
        mode.highText = std::to_string(registerHigh(*chosen));
        mode.lowText = std::to_string(registerLow(*chosen));
    } else {
        mode.registerText = kOutOfRange;
        mode.rateText = kPlaceholder;
        mode.errorText = kPlaceholder;
        mode.highText = kPlaceholder;
        mode.lowText = kPlaceholder;
    }
    return true;
}

} // namespace

std::optional<int> chooseRegister(float f, float b, int divisor)
{
    const double d = divisor;
    float x = 0.0f;
    if (!store(f / (d * b) - 1.0, x))
        return std::nullopt;
    if (x < 0.0f)
        x = 0.0f;
    if (x > static_cast<float>(kRegisterMax))
        x = static_cast<float>(kRegisterMax);
    const float u = roundHalfEven(x);

    float rCentre = 0.0f;
    float rBelow = kOutsideRate;
    float rAbove = kOutsideRate;
    if (!store(f / (d * (static_cast<double>(u) + 1.0)), rCentre))
        return std::nullopt;
    if (u - 1.0f >= 0.0f && !store(f / (d * u), rBelow))
        return std::nullopt;
    if (u + 1.0f <= static_cast<float>(kRegisterMax)
        && !store(f / (d * (static_cast<double>(u) + 2.0)), rAbove))
        return std::nullopt;

    float eCentre = 0.0f;
    float eBelow = 0.0f;
    float eAbove = 0.0f;
    if (!store(std::fabs(static_cast<double>(rCentre) - b), eCentre)
        || !store(std::fabs(static_cast<double>(rBelow) - b), eBelow)
        || !store(std::fabs(static_cast<double>(rAbove) - b), eAbove))
        return std::nullopt;

    // Ties: u + 1 beats u - 1, and both beat u.
    const bool aboveWins = eAbove <= eBelow;
    const float neighbour = aboveWins ? u + 1.0f : u - 1.0f;
    const float neighbourDeviation = aboveWins ? eAbove : eBelow;
    const float result = neighbourDeviation <= eCentre ? neighbour : u;
    return static_cast<int>(result);
}

float registerRate(float frequency, int registerValue, int divisor)
{
    // The divisor is an exact integer; one rounding to single, like the
    // float division itself.
    return static_cast<float>(frequency / (static_cast<double>(registerValue + 1) * divisor));
}

CalcResult calculate(std::string_view frequencyText, std::string_view baudText)
{
    CalcResult result;
    if (isBlankOrZero(frequencyText)) {
        result.status = CalcStatus::NoFrequency;
        return result;
    }
    if (isBlankOrZero(baudText)) {
        result.status = CalcStatus::NoBaud;
        return result;
    }
    result.status = CalcStatus::Error;

    const auto f = toSingle(*toDouble(frequencyText));
    const auto b = toSingle(*toDouble(baudText));
    // A negative frequency or rate would otherwise produce a plausible looking
    // but meaningless register value.
    if (!f || !b || *f <= 0.0f || *b <= 0.0f)
        return result;
    result.frequency = *f;
    result.baud = *b;

    if (!fillMode(*f, *b, kNormalDivisor, result.normal)
        || !fillMode(*f, *b, kDoubleDivisor, result.doubleSpeed))
        return result;

    const int v0 = result.normal.inRange ? result.normal.registerValue : 0;
    const int v1 = result.doubleSpeed.inRange ? result.doubleSpeed.registerValue : 0;
    const double deviation0 = std::fabs(static_cast<double>(result.normal.rate) - *b);
    const double deviation1 = std::fabs(static_cast<double>(result.doubleSpeed.rate) - *b);
    result.selectedLine = deviation0 <= deviation1 ? 2 * v0 : 2 * v1 + 1;
    result.status = CalcStatus::Ok;
    return result;
}

std::string listLine(float frequency, int registerValue, bool doubleSpeed)
{
    std::string line = " UBRRn value = ";
    line += std::to_string(registerValue);
    line += doubleSpeed ? "          U2Xn = 1          Baud rate = "
                        : "          U2Xn = 0          Baud rate = ";
    line += formatFixed(registerRate(frequency, registerValue,
                                     doubleSpeed ? kDoubleDivisor : kNormalDivisor),
                        2);
    return line;
}

std::vector<std::string> listLines(float frequency)
{
    std::vector<std::string> lines;
    lines.reserve(kListLineCount);
    for (int n = 0; n < kRegisterCount; ++n) {
        lines.push_back(listLine(frequency, n, false));
        lines.push_back(listLine(frequency, n, true));
    }
    return lines;
}

std::string registerTextOfLine(std::string_view line)
{
    constexpr std::size_t kRegisterColumn = 15; // after " UBRRn value = "
    constexpr std::size_t kRegisterWidth = 4;
    if (line.size() <= kRegisterColumn)
        return {};
    std::string_view text = line.substr(kRegisterColumn, kRegisterWidth);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return std::string(text);
}

std::string frequencyCaption(std::string_view frequencyText)
{
    constexpr std::size_t kMegahertzLength = 7;
    const double value = toDouble(frequencyText).value_or(0.0);
    // Calculate refuses such a value anyway; a 300-digit caption helps nobody.
    if (value != 0.0 && !toSingle(value))
        return kOutOfRange;
    if (frequencyText.size() < kMegahertzLength)
        return formatFixed(value / 1000.0, 3) + " kHz";
    // The trip through single precision is visible on purpose: 33333333 Hz
    // shows as 33.333332 MHz, which is the frequency Calculate works with.
    const float single = static_cast<float>(value);
    return formatFixed(static_cast<double>(single) / 1000000.0, 6) + " MHz";
}

} // namespace calculator
