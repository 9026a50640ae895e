// FTDI USB serial adapters.  FT232R and FT232BM divide a 3 MHz base (48 MHz
// over 16) by n + k/8, n from 2 to 16383 and k from 0 to 7; n = 0 means
// 3 Mbaud and n = 1 means 2 Mbaud, and no other divisor below 2 exists.
// The eighths reach the chip through a code (0, 0.5, 0.25, 0.125, 0.375,
// 0.625, 0.75, 0.875 for codes 0 to 7) in bits 14 to 16.  FT2232H, FT4232H
// and FT232H divide a 12 MHz base (120 MHz over 10) the same way, with
// bit 17 set; below 1200 baud they fall back to the 3 MHz base.
// The divisor is the nearest eighth, as the Linux ftdi_sio driver rounds.
// Source: FTDI application note AN232B-05 "Configuring FT232R, FT2232 and
// FT232B Baud Rates"; FT2232H datasheet (baud rate generator); Linux
// drivers/usb/serial/ftdi_sio.c for the rounding and the H chips' bit 17.
#include "calculator/uart_family.h"

#include <array>
#include <cmath>

namespace calculator::uart {

namespace {

// The code for k eighths (AN232B-05, "sub-integer divisor").
constexpr std::array<unsigned long, 8> kEighthCode = {0, 3, 2, 4, 1, 5, 6, 7};
constexpr long long kMaxEighths = 16383LL * 8 + 7;

std::optional<Setting> ftdiSetting(double base, unsigned long clockBit, int oversampling, double baud,
                                   const echotest::Frame &frame)
{
    const double ideal = 8.0 * base / baud; // the divisor in eighths
    if (!std::isfinite(ideal) || std::round(ideal) > static_cast<double>(kMaxEighths))
        return std::nullopt;
    long long eighths = std::llround(ideal);
    if (eighths < 16) {
        // Only 1 (n = 0) and 1.5 (n = 1) exist below 2: take the one whose
        // rate comes nearest, or 2 itself.
        long long best = 16;
        for (const long long candidate : {8LL, 12LL, 16LL})
            if (std::fabs(8.0 * base / candidate - baud) < std::fabs(8.0 * base / best - baud))
                best = candidate;
        eighths = best;
    }
    unsigned long encoded = static_cast<unsigned long>(eighths >> 3) | kEighthCode[eighths & 7] << 14;
    if (eighths == 8)
        encoded = 0; // 3 Mbaud (12 Mbaud on the H chips)
    else if (eighths == 12)
        encoded = 1; // 2 Mbaud (8 Mbaud)
    encoded |= clockBit;
    return detail::makeSetting(
        "", {{"divisor", detail::trimmed(static_cast<double>(eighths) / 8.0, 3)}, {"encoded", detail::hex(encoded, 5)}},
        8.0 * base / static_cast<double>(eighths), baud, oversampling, frame);
}

std::vector<Setting> ftdiSettings(double, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    if (auto setting = ftdiSetting(3e6, 0, 16, baud, frame))
        settings.push_back(std::move(*setting));
    return settings;
}

std::vector<Setting> ftdiHSettings(double, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    auto setting = baud < 1200.0 ? ftdiSetting(3e6, 0, 16, baud, frame) : ftdiSetting(12e6, 0x20000, 10, baud, frame);
    if (setting)
        settings.push_back(std::move(*setting));
    return settings;
}

} // namespace

const Family &ftdiFamily()
{
    static const Family family{
        "ftdi", "FTDI FT232R/FT232BM (3 MHz / (n + k/8))",
        "FTDI AN232B-05 Configuring FT232R, FT2232 and FT232B Baud Rates",
        ClockKind::Internal, 3e6, 0.0, false, ftdiSettings};
    return family;
}

const Family &ftdiHFamily()
{
    static const Family family{
        "ftdi-h", "FTDI FT232H/FT2232H/FT4232H (12 MHz / (n + k/8))",
        "FTDI AN232B-05; FT2232H datasheet; Linux ftdi_sio",
        ClockKind::Internal, 12e6, 0.0, false, ftdiHSettings};
    return family;
}

} // namespace calculator::uart
