// Classic AVR USART (ATmega, ATtiny with a USART): the calculator's own
// arithmetic, in single precision as the window has it (ubrr.cpp), and the
// receiver's error tolerance from the datasheet.
// Source: ATmega48A/PA/88A/PA/168A/PA/328/P datasheet (DS40002061A), the
// USART's baud rate equations and 20.8.3 "Asynchronous Operational Range",
// Tables 20-2 and 20-3.
#include "calculator/uart_family.h"

#include "calculator/ubrr.h"

#include <array>
#include <cmath>

namespace calculator::uart {

namespace {

struct RangeRow
{
    double recommended; // "Recommended Max. Receiver Error", +/- percent
    double slow;        // "Max. Total Error", the slow side, percent (magnitude)
    double fast;        // the fast side
};

// Rows for D = 5 .. 10 data and parity bits.
constexpr std::array<RangeRow, 6> kNormalSpeed = {{
    {3.0, 6.80, 6.67}, {2.5, 5.88, 5.79}, {2.0, 5.19, 5.11},
    {2.0, 4.54, 4.58}, {1.5, 4.19, 4.14}, {1.5, 3.83, 3.78},
}};
constexpr std::array<RangeRow, 6> kDoubleSpeed = {{
    {2.5, 5.88, 5.66}, {2.0, 5.08, 4.92}, {1.5, 4.48, 4.35},
    {1.5, 4.00, 3.90}, {1.5, 3.61, 3.53}, {1.0, 3.30, 3.23},
}};

} // namespace

// Shared with the 0/1-series and Dx, whose datasheets print the same tables.
Tolerance detail::avrDatasheetTolerance(bool doubleSpeed, const echotest::Frame &frame)
{
    const int d = frame.dataBits + (frame.parity == echotest::Frame::Parity::None ? 0 : 1);
    const RangeRow &row = (doubleSpeed ? kDoubleSpeed : kNormalSpeed)[static_cast<std::size_t>(d - 5)];
    Tolerance tolerance;
    tolerance.recommended = row.recommended;
    tolerance.limit = std::min(row.slow, row.fast);
    tolerance.source = std::string("datasheet, ") + (doubleSpeed ? "double speed" : "normal speed") + ", "
                       + std::to_string(d) + " data and parity bits";
    return tolerance;
}

namespace {

std::vector<Setting> avrSettings(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    const float f = static_cast<float>(clock);
    const float b = static_cast<float>(baud);
    if (!std::isfinite(f) || !std::isfinite(b) || f <= 0.0f || b <= 0.0f)
        return settings;
    for (const bool doubleSpeed : {false, true}) {
        const int divisor = doubleSpeed ? kDoubleDivisor : kNormalDivisor;
        const auto chosen = chooseRegister(f, b, divisor);
        if (!chosen || *chosen < 0 || *chosen > kRegisterMax)
            continue;
        // The error as the calculator shows it: each step stored to single.
        const float rate = registerRate(f, *chosen, divisor);
        const float q = static_cast<float>(static_cast<double>(rate) / b - 1.0);
        Setting setting;
        setting.mode = doubleSpeed ? "U2X=1" : "U2X=0";
        setting.fields = {{"UBRRn", std::to_string(*chosen)},
                          {"UBRRnH", std::to_string(registerHigh(*chosen))},
                          {"UBRRnL", std::to_string(registerLow(*chosen))}};
        setting.rate = rate;
        setting.errorPercent = static_cast<float>(static_cast<double>(q) * 100.0);
        setting.oversampling = divisor;
        setting.tolerance = detail::avrDatasheetTolerance(doubleSpeed, frame);
        settings.push_back(std::move(setting));
    }
    return settings;
}

} // namespace

const Family &avrFamily()
{
    static const Family family{
        "avr", "AVR USART (ATmega; UBRRn, U2Xn)",
        "ATmega328P datasheet DS40002061A, baud rate equations and Tables 20-2/20-3",
        ClockKind::Crystal, 0.0, 20e6, true, avrSettings};
    return family;
}

} // namespace calculator::uart
