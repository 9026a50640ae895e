#pragma once

#include <span>
#include <string_view>

// The fixed choices offered by the calculator's entry boxes: oscillator
// frequencies in Hz (a standard list and an extended crystal list) and
// requested baud rates.  Entries are plain decimal integer texts, listed in
// the order they are shown; the boxes are not sorted.
namespace calculator {

std::span<const std::string_view> standardFrequencies(); // 12 entries
std::span<const std::string_view> extendedFrequencies(); // 71 entries, ascending
std::span<const std::string_view> baudRates();           // 32 entries

// Preselected entries; each names "14745600" or "9600".
inline constexpr int kStandardFrequencyDefault = 8;
inline constexpr int kExtendedFrequencyDefault = 50;
inline constexpr int kBaudRateDefault = 15;

} // namespace calculator
