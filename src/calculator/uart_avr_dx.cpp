// AVR 0/1-series, megaAVR 0-series and AVR Dx USART: a 16-bit BAUD register
// counting in 1/64 of a clock, f_BAUD = 64 x f_CLK_PER / (S x BAUD) with
// S = 16 (normal speed) or 8 (double speed, CLK2X), and BAUD >= 64.
// Source: ATtiny817 and AVR128DA datasheets, USART "Clock Generation"
// (Equations for Calculating Baud Rate Register Setting); the receiver's
// error tolerance tables are those of the classic AVR USART.
#include "calculator/uart_family.h"

namespace calculator::uart {

namespace {

constexpr long long kBaudMin = 64;
constexpr long long kBaudMax = 65535;

std::vector<Setting> avrDxSettings(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    for (const int samples : {16, 8}) {
        const auto value = detail::nearestInRange(64.0 * clock / (samples * baud), kBaudMin, kBaudMax);
        if (!value)
            continue;
        const double rate = 64.0 * clock / (samples * static_cast<double>(*value));
        Setting setting = detail::makeSetting(samples == 16 ? "CLK2X=0" : "CLK2X=1",
                                              {{"BAUD", std::to_string(*value)},
                                               {"BAUD (hex)", detail::hex(static_cast<unsigned long>(*value), 4)}},
                                              rate, baud, samples, frame);
        setting.tolerance = detail::avrDatasheetTolerance(samples == 8, frame);
        settings.push_back(std::move(setting));
    }
    return settings;
}

} // namespace

const Family &avrDxFamily()
{
    static const Family family{
        "avr-dx", "AVR 0/1-series, megaAVR 0-series and AVR Dx USART (BAUD in 1/64 steps)",
        "ATtiny817 / AVR128DA datasheets, USART Clock Generation",
        ClockKind::Crystal, 0.0, 24e6, true, avrDxSettings};
    return family;
}

} // namespace calculator::uart
