#pragma once
// The rates of a sweep: a list ("9600,19200,115200") or a span
// ("300..921600": the standard rates from the first to the last, both
// included).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace echotest {

// The standard rates a span picks from: the rates PC serial ports and USB
// adapters are set to, from 50 to 4000000.
const std::vector<std::uint32_t> &standardRates();

// The rates in order as given (a list) or ascending (a span).  nullopt with
// a one-line reason in error for anything else, for a rate below 45 or a
// span without any standard rate.
std::optional<std::vector<std::uint32_t>> parseSweep(std::string_view text, std::string &error);

} // namespace echotest
