// PIC EUSART: the baud-rate generator SPBRGH:SPBRG = n divides Fosc by
// 64 (n + 1) with BRGH = 0 and BRG16 = 0, by 16 (n + 1) when exactly one of
// them is set and by 4 (n + 1) with both; n is 8 bits wide without BRG16.
// n is the nearest whole number to Fosc / (divider x rate) - 1, as the
// datasheets' worked example and baud tables have it.
// Source: PIC16(L)F1938/9 datasheet DS41574, "EUSART Baud Rate Generator
// (BRG)", its baud rate formulas and Table 25-5; PIC18F46J11 datasheet,
// Example 20-1.
#include "calculator/uart_family.h"

namespace calculator::uart {

namespace {

struct PicMode
{
    const char *name;
    int divider;
    bool wide; // BRG16 = 1: 16-bit n
};

constexpr PicMode kModes[] = {
    {"BRGH=0 BRG16=0", 64, false},
    {"BRGH=1 BRG16=0", 16, false},
    {"BRGH=0 BRG16=1", 16, true},
    {"BRGH=1 BRG16=1", 4, true},
};

std::vector<Setting> picSettings(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    for (const PicMode &mode : kModes) {
        const auto n = detail::nearestInRange(clock / (mode.divider * baud) - 1.0, 0, mode.wide ? 0xFFFF : 0xFF);
        if (!n)
            continue;
        const double rate = clock / (mode.divider * static_cast<double>(*n + 1));
        std::vector<Field> fields = {{"SPBRGH:SPBRG", std::to_string(*n)}};
        if (mode.wide) {
            fields.push_back({"SPBRGH", std::to_string(*n >> 8)});
            fields.push_back({"SPBRG", std::to_string(*n & 0xFF)});
        }
        // The data recovery block samples at 16 times the rate in every mode.
        settings.push_back(detail::makeSetting(mode.name, std::move(fields), rate, baud, 16, frame));
    }
    return settings;
}

} // namespace

const Family &picFamily()
{
    static const Family family{
        "pic", "PIC EUSART (SPBRGH:SPBRG, BRGH, BRG16)",
        "PIC16(L)F1938/9 datasheet DS41574, EUSART Baud Rate Generator, Table 25-5",
        ClockKind::Crystal, 0.0, 64e6, true, picSettings};
    return family;
}

} // namespace calculator::uart
