#pragma once
// What the echo command accepts on its command line.  A tool that writes
// 1000 bytes to a device must only ever reach the device the user meant:
// empty or odd values are refused before anything is opened.
#include <string>

namespace cli {

// The largest rate the run carries (its rate is a 32-bit signed number;
// the drivers' interfaces hold no more either on Windows' side).
inline constexpr long long kMaximumBaudRate = 2147483647;

// Empty when text is acceptable, else why not (CLI11 validator style).
// --device: any non-blank name.
std::string checkDeviceText(const std::string &text);
// --baud: plain decimal digits only (no sign, no point, no hex), at most
// kMaximumBaudRate.  Rates below 45 pass here; the run refuses them with
// its own message.
std::string checkBaudText(const std::string &text);

} // namespace cli
