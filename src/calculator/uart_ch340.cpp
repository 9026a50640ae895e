// WCH CH340/CH341 USB serial adapters: rate = 12 MHz / prescaler / divisor,
// the prescaler one of 1, 2, 8, 16, 64, 128, 512, 1024 and the divisor 2 to
// 256 (at least 9 with the prescalers 1, 8, 64 and 512).  WCH documents no
// divisor; the figures are those of the Linux ch341 driver, which writes
// them as 48 MHz / 2^(12 - 3 ps - fact) / div.  WCH's stated maximum is
// 2 Mbaud.  The receiver's sampling is not documented; 16x is assumed.
// Source: Linux drivers/usb/serial/ch341.c (ch341_get_divisor), WCH CH340
// datasheet (rates).
#include "calculator/uart_family.h"

#include <array>
#include <cmath>

namespace calculator::uart {

namespace {

struct Prescaler
{
    int factor;     // 12 MHz / factor
    int minDivisor; // the "fact = 1" settings need at least 9
};

constexpr std::array<Prescaler, 8> kPrescalers = {{
    {1, 9}, {2, 2}, {8, 9}, {16, 2}, {64, 9}, {128, 2}, {512, 9}, {1024, 2},
}};

std::vector<Setting> ch340Settings(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    bool found = false;
    int bestFactor = 0;
    long long bestDivisor = 0;
    double bestRate = 0.0;
    for (const Prescaler &prescaler : kPrescalers) {
        const double ideal = clock / prescaler.factor / baud;
        if (!std::isfinite(ideal))
            return settings;
        for (const double candidate : {std::floor(ideal), std::ceil(ideal)}) {
            if (candidate < prescaler.minDivisor || candidate > 256.0)
                continue;
            const double rate = clock / prescaler.factor / candidate;
            // Nearest rate wins; on a tie the faster prescaler clock, listed first.
            if (!found || std::fabs(rate - baud) < std::fabs(bestRate - baud)) {
                found = true;
                bestFactor = prescaler.factor;
                bestDivisor = static_cast<long long>(candidate);
                bestRate = rate;
            }
        }
    }
    if (found)
        settings.push_back(detail::makeSetting(
            "", {{"prescaler", std::to_string(bestFactor)}, {"divisor", std::to_string(bestDivisor)}}, bestRate, baud,
            16, frame));
    return settings;
}

} // namespace

const Family &ch340Family()
{
    static const Family family{
        "ch340", "WCH CH340/CH341 (12 MHz / prescaler / divisor)",
        "Linux drivers/usb/serial/ch341.c; WCH CH340 datasheet",
        ClockKind::Internal, 12e6, 0.0, false, ch340Settings};
    return family;
}

} // namespace calculator::uart
