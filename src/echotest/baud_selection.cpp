#include "echotest/baud_selection.h"

#include <charconv>
#include <cmath>

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

int32_t minTransmitTime(float baud)
{
    if (!(baud > 0.0f))
        return 0;
    // Each intermediate is kept in a float of its own: the published times
    // (1042 ms at 9600 baud, 12 ms at 800000) depend on this rounding.
    const float bytesPerSecond = baud / 10.0f;
    const float seconds = 1000.0f / bytesPerSecond;
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

float baudValue(std::string_view text)
{
    if (!isBaudNumber(text))
        return 0.0f;
    text = trimBlanks(text);
    // from_chars takes a minus but no plus.
    if (text.front() == '+')
        text.remove_prefix(1);
    float value = 0.0f;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    // Out of range cannot come from seven characters; treat it as no rate.
    if (result.ec != std::errc())
        return 0.0f;
    return value;
}

BaudTextCheck checkBaudText(std::string_view text)
{
    BaudTextCheck check;
    if (!isBaudNumber(text)) {
        check.text.assign(1, '0'); // not = "0": GCC 12 warns falsely (-Wrestrict)
        check.replacedByZero = true;
    } else if (text.size() > kMaxBaudTextLength) {
        check.text = std::string(text.substr(0, kMaxBaudTextLength));
        check.truncated = true;
        // Cutting a pasted number can leave a non-number ("      -5" keeps
        // six blanks and the sign), which gets the same "0" as any other.
        if (!isBaudNumber(check.text)) {
            check.text.assign(1, '0');
            check.replacedByZero = true;
        }
    } else {
        check.text = std::string(text);
    }
    check.minTransmitTime = minTransmitTime(baudValue(check.text));
    return check;
}

} // namespace echotest
