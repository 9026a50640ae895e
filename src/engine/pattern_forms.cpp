#include "engine/pattern_forms.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace echotest {

namespace {

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

bool equalsNoCase(std::string_view text, std::string_view word)
{
    return text.size() == word.size() && startsWith(text, word);
}

// "55AA01", "55 AA 01", "55,aa:01-ff".
std::optional<std::string> hexBytes(std::string_view text, std::string &error)
{
    std::string bytes;
    int high = -1;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit >= 0) {
            if (high < 0) {
                high = digit;
            } else {
                bytes += static_cast<char>(high * 16 + digit);
                high = -1;
            }
        } else if ((c == ' ' || c == ',' || c == ':' || c == '-') && high < 0) {
            continue;
        } else {
            error = high >= 0 && (c == ' ' || c == ',' || c == ':' || c == '-')
                ? "a byte of the hex: pattern has one digit; write each byte as two (0A, not A)"
                : std::string("the hex: pattern holds '") + c + "', which is no hex digit";
            return std::nullopt;
        }
    }
    if (high >= 0) {
        error = "a byte of the hex: pattern has one digit; write each byte as two (0A, not A)";
        return std::nullopt;
    }
    if (bytes.empty()) {
        error = "the hex: pattern names no bytes";
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> fileBytes(const std::string &path, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the pattern file " + path;
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (bytes.size() > kMaxPatternLength) {
            error = "the pattern file " + path + " is longer than " + std::to_string(kMaxPatternLength) + " bytes";
            return std::nullopt;
        }
    }
    if (file.bad()) {
        error = "cannot read the pattern file " + path;
        return std::nullopt;
    }
    if (bytes.empty()) {
        error = "the pattern file " + path + " is empty";
        return std::nullopt;
    }
    return bytes;
}

std::string allBytes()
{
    std::string bytes;
    bytes.reserve(256);
    for (unsigned v = 0; v < 128; ++v) {
        bytes += static_cast<char>(v);
        bytes += static_cast<char>(0xFFu - v);
    }
    return bytes;
}

std::string randomBytes(std::uint64_t seed, std::size_t length)
{
    SplitMix64 generator(seed);
    std::string bytes;
    bytes.reserve(length + 8);
    while (bytes.size() < length) {
        const std::uint64_t word = generator.next();
        for (int i = 0; i < 8 && bytes.size() < length; ++i)
            bytes += static_cast<char>((word >> (8 * i)) & 0xFFu); // low byte first, on every platform
    }
    return bytes;
}

std::string repeatedTo(const std::string &unit, std::size_t length)
{
    std::string bytes;
    bytes.reserve(length);
    while (bytes.size() < length)
        bytes.append(unit, 0, std::min(unit.size(), length - bytes.size()));
    return bytes;
}

std::uint64_t systemSeed()
{
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

} // namespace

std::optional<Pattern> makePattern(const PatternRequest &request, std::string &error,
                                   const std::function<std::uint64_t()> &seedSource)
{
    if (request.chunkSize < 1) {
        error = "the chunk size must be at least 1";
        return std::nullopt;
    }
    if (request.length && (*request.length < 1 || *request.length > kMaxPatternLength)) {
        error = "the pattern length must be 1 to " + std::to_string(kMaxPatternLength);
        return std::nullopt;
    }
    const std::string_view form = request.form;
    const std::size_t length = request.length.value_or(kDefaultPatternLength);
    Pattern pattern;
    pattern.chunkSize = request.chunkSize;

    std::string unit; // repeated or cut to the length
    if (equalsNoCase(form, "spec")) {
        pattern.name = "spec";
        unit = "ABCDEFGHIJ";
    } else if (startsWith(form, "0x") && form.size() >= 3 && form.size() <= 4 &&
               hexDigit(form[2]) >= 0 && (form.size() == 3 || hexDigit(form[3]) >= 0)) {
        const unsigned value = form.size() == 3 ? hexDigit(form[2])
                                                : static_cast<unsigned>(hexDigit(form[2]) * 16 + hexDigit(form[3]));
        pattern.name = hexByte(value);
        unit.assign(1, static_cast<char>(value));
    } else if (equalsNoCase(form, "counting")) {
        pattern.name = "counting";
        for (unsigned v = 0; v < 256; ++v)
            unit += static_cast<char>(v);
    } else if (equalsNoCase(form, "all-bytes")) {
        pattern.name = "all-bytes";
        unit = allBytes();
        if (!request.length)
            pattern.bytes = unit;
    } else if (equalsNoCase(form, "random") || startsWith(form, "random:")) {
        std::uint64_t seed = 0;
        if (form.size() > 6) {
            const std::string_view digits = form.substr(7);
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), seed);
            if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
                error = "the seed of random:SEED must be a whole number from 0 to 18446744073709551615";
                return std::nullopt;
            }
        } else {
            seed = seedSource ? seedSource() : systemSeed();
        }
        pattern.name = "random:" + std::to_string(seed);
        pattern.bytes = randomBytes(seed, length);
        return pattern;
    } else if (startsWith(form, "hex:")) {
        auto bytes = hexBytes(form.substr(4), error);
        if (!bytes)
            return std::nullopt;
        unit = std::move(*bytes);
        pattern.name = "hex:";
        for (const char c : unit)
            pattern.name += hexByte(static_cast<unsigned char>(c)).substr(2);
        if (!request.length)
            pattern.bytes = unit;
    } else if (startsWith(form, "file:")) {
        const std::string path(form.substr(5));
        if (path.empty()) {
            error = "file: names no file";
            return std::nullopt;
        }
        auto bytes = fileBytes(path, error);
        if (!bytes)
            return std::nullopt;
        unit = std::move(*bytes);
        pattern.name = "file:" + path;
        if (!request.length)
            pattern.bytes = unit;
    } else {
        error = "unknown pattern '" + request.form +
            "' (spec, 0xNN, counting, all-bytes, random[:SEED], hex:BYTES or file:PATH)";
        return std::nullopt;
    }
    if (pattern.bytes.empty())
        pattern.bytes = repeatedTo(unit, length);
    return pattern;
}

std::optional<std::string> patternFrameMismatch(const Pattern &pattern, const Frame &frame)
{
    const unsigned limit = frame.maxByte();
    for (std::size_t i = 0; i < pattern.bytes.size(); ++i) {
        const unsigned value = static_cast<unsigned char>(pattern.bytes[i]);
        if (value > limit) {
            int needed = frame.dataBits;
            while ((value >> needed) != 0)
                ++needed;
            return "the pattern's byte " + std::to_string(i) + " (" + hexByte(value) + ") needs " +
                std::to_string(needed) + " data bits; the frame " + frame.name() + " carries " +
                std::to_string(frame.dataBits) + " (0x00 to " + hexByte(limit) + ")";
        }
    }
    return std::nullopt;
}

} // namespace echotest
