#include "calculator/number_text.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace calculator {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Parses the grammar of isNumeric(); on success returns the text without
// blanks and without a leading '+', ready for std::from_chars.
std::optional<std::string_view> numericBody(std::string_view text)
{
    text = trimBlanks(text);
    std::size_t i = 0;
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1); // from_chars takes no '+'
    else if (!text.empty() && text.front() == '-')
        ++i;
    std::size_t mantissaDigits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++mantissaDigits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    return text;
}

// Decimal exponent of the leading significant digit of a validated body, used
// only to tell overflow from underflow when from_chars reports out of range.
bool isHugeMagnitude(std::string_view body)
{
    long long position = 0; // power of ten of the first significant digit
    bool seenSignificant = false;
    bool afterPoint = false;
    long long integerDigits = 0;
    long long leadingFractionZeros = 0;
    std::size_t i = 0;
    if (i < body.size() && body[i] == '-')
        ++i;
    for (; i < body.size() && body[i] != 'e' && body[i] != 'E'; ++i) {
        const char c = body[i];
        if (c == '.') {
            afterPoint = true;
            continue;
        }
        if (!seenSignificant && c == '0') {
            if (afterPoint)
                ++leadingFractionZeros;
            continue;
        }
        seenSignificant = true;
        if (!afterPoint)
            ++integerDigits;
    }
    position = integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1);
    long long exponent = 0;
    if (i < body.size()) {
        ++i;
        bool negative = false;
        if (body[i] == '+' || body[i] == '-')
            negative = body[i++] == '-';
        for (; i < body.size(); ++i) {
            if (exponent < 100000000)
                exponent = exponent * 10 + (body[i] - '0');
        }
        if (negative)
            exponent = -exponent;
    }
    return position + exponent > 0;
}

} // namespace

bool isNumeric(std::string_view text)
{
    return numericBody(text).has_value();
}

std::optional<double> toDouble(std::string_view text)
{
    const auto body = numericBody(text);
    if (!body)
        return std::nullopt;
    double value = 0.0;
    const char *first = body->data();
    const char *last = first + body->size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        const bool negative = body->front() == '-';
        if (isHugeMagnitude(*body))
            return negative ? -HUGE_VAL : HUGE_VAL;
        return negative ? -0.0 : 0.0;
    }
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

std::optional<float> toSingle(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double magnitude = std::fabs(value);
    if (magnitude > static_cast<double>(FLT_MAX))
        return std::nullopt;
    if (magnitude != 0.0 && magnitude < static_cast<double>(FLT_MIN))
        return std::nullopt;
    return static_cast<float>(value);
}

namespace {

// Fast exact path for values a float can hold: 24 significant bits times
// 10^decimals (at most 10 bits) fit a double exactly, so scaling and rounding
// half away from zero are exact.  Fills 8192 list lines without printf.
bool formatFloatFixed(double value, int decimals, std::string &text)
{
    constexpr double kLimit = 1e12;
    if (decimals < 0 || decimals > 3 || std::fabs(value) >= kLimit
        || static_cast<double>(static_cast<float>(value)) != value)
        return false;
    double scale = 1.0;
    for (int i = 0; i < decimals; ++i)
        scale *= 10.0;
    const double scaled = std::round(value * scale); // halves away from zero
    // The sign is the value's own: -0.0009 shows as "-0.00", although round()
    // gives -0 for it.
    const bool negative = value < 0.0;
    auto digits = static_cast<unsigned long long>(std::fabs(scaled));
    char buffer[32];
    char *end = buffer + sizeof buffer;
    char *p = end;
    for (int i = 0; i < decimals; ++i) {
        *--p = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    if (decimals > 0)
        *--p = '.';
    do {
        *--p = static_cast<char>('0' + digits % 10);
        digits /= 10;
    } while (digits != 0);
    if (negative)
        *--p = '-';
    text.assign(p, end);
    return true;
}

} // namespace

std::string formatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return "---- ";
    if (value == 0.0)
        value = 0.0; // negative zero is no negative value
    std::string fast;
    if (formatFloatFixed(value, decimals, fast))
        return fast;
    char buffer[512];
    // Only a value with at most decimals + 1 binary fraction digits can sit
    // exactly on a half; for it, decimals + 1 printed digits are exact and we
    // round the decimal text ourselves (printf would round such a tie to
    // even).  Any other value is never a tie, and printf rounds it correctly.
    const double scaled = std::ldexp(value, decimals + 1);
    std::string text;
    if (std::isfinite(scaled) && scaled == std::trunc(scaled)) {
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals + 1, value);
        text = buffer;
        const char last = text.back();
        text.pop_back();
        if (decimals == 0)
            text.pop_back(); // the decimal point
        if (last >= '5') {
            // add one unit in the last kept place, away from zero
            std::size_t i = text.size();
            bool carry = true;
            while (carry && i > 0) {
                --i;
                char &c = text[i];
                if (c == '.' || c == '-')
                    continue;
                if (c == '9') {
                    c = '0';
                } else {
                    ++c;
                    carry = false;
                }
            }
            if (carry) {
                const std::size_t at = text.front() == '-' ? 1 : 0;
                text.insert(at, 1, '1');
            }
        }
    } else {
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        text = buffer;
    }
    return text;
}

} // namespace calculator
