#include "engine/baud_selection.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace echotest {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int32_t minTransmitTime(float baud, int32_t bytes, int bitsPerByte)
{
    if (!(baud > 0.0f) || bytes <= 0 || bitsPerByte <= 0)
        return 0;
    // Each intermediate is kept in a float of its own: the published times
    // (1042 ms at 9600 baud, 12 ms at 800000) depend on this rounding.
    const float bytesPerSecond = baud / static_cast<float>(bitsPerByte);
    const float seconds = static_cast<float>(bytes) / bytesPerSecond;
    const float ms = seconds * 1000.0f;
    // 2^31 as a float; anything at or above it (or infinite) does not fit.
    if (!(ms < 2147483648.0f))
        return 0;
    // The default rounding mode sends halves to the even neighbour.
    return static_cast<int32_t>(std::nearbyint(ms));
}

std::string minTransmitTimeCaption(int32_t ms)
{
    if (ms == 0)
        return std::string(kNoTimeCaption);
    return std::to_string(ms) + " ms";
}

bool isBaudNumber(std::string_view text)
{
    text = trimBlanks(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    bool digitSeen = false;
    bool pointSeen = false;
    for (char c : text) {
        if (isDigit(c)) {
            digitSeen = true;
        } else if (c == '.' && !pointSeen) {
            pointSeen = true;
        } else {
            return false;
        }
    }
    return digitSeen;
}

BaudReading readBaudText(std::string_view text)
{
    BaudReading reading;
    reading.text = std::string(text);
    reading.isNumber = isBaudNumber(text);
    if (!reading.isNumber)
        return reading;
    text = trimBlanks(text);
    // from_chars takes a minus but no plus, and never looks at the locale.
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value))
        return reading; // a number, but none that a line can run at
    reading.value = static_cast<float>(value);
    // Halves go to the even neighbour; out-of-range rates are pinned so that
    // the thresholds of the run still apply.
    const double rounded = std::nearbyint(value);
    if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        reading.wholeRate = std::numeric_limits<int32_t>::max();
    else if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        reading.wholeRate = std::numeric_limits<int32_t>::min();
    else
        reading.wholeRate = static_cast<int32_t>(rounded);
    reading.lineTimeMs = minTransmitTime(reading.value);
    return reading;
}

float baudValue(std::string_view text)
{
    return readBaudText(text).value;
}

BaudTextCheck checkBaudText(std::string_view text)
{
    BaudTextCheck check;
    std::string corrected;
    if (!isBaudNumber(text)) {
        corrected.assign(1, '0'); // not = "0": GCC 12 warns falsely (-Wrestrict)
        check.replacedByZero = true;
    } else if (text.size() > kMaxBaudTextLength) {
        corrected = std::string(text.substr(0, kMaxBaudTextLength));
        check.truncated = true;
        // Cutting a pasted number can leave a non-number ("      -5" keeps
        // six blanks and the sign), which gets the same "0" as any other.
        if (!isBaudNumber(corrected)) {
            corrected.assign(1, '0');
            check.replacedByZero = true;
        }
    } else {
        corrected = std::string(text);
    }
    check.reading = readBaudText(corrected);
    return check;
}

} // namespace echotest
