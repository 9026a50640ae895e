// ESP32 UART: the source clock (APB, 80 MHz) divided by CLKDIV +
// CLKDIV_FRAG/16, a 20-bit whole part and a 4-bit fraction.  ESP-IDF
// computes the divisor in sixteenths as (clock x 16) / rate, truncated, so
// the rate obtained is never below the request.  The receiver's sampling is
// not documented; 16x is assumed.
// Source: ESP32 Technical Reference Manual, UART chapter (baud rate
// generation, UART_CLKDIV_REG); ESP-IDF hal/esp32/include/hal/uart_ll.h
// (uart_ll_set_baudrate).
#include "calculator/uart_family.h"

#include <cmath>

namespace calculator::uart {

namespace {

std::vector<Setting> esp32Settings(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    const double ideal = std::floor(16.0 * clock / baud);
    if (!std::isfinite(ideal) || ideal < 16.0 || ideal > static_cast<double>((1ul << 24) - 1))
        return settings;
    const auto sixteenths = static_cast<unsigned long>(ideal);
    settings.push_back(detail::makeSetting(
        "", {{"CLKDIV", std::to_string(sixteenths >> 4)}, {"CLKDIV_FRAG", std::to_string(sixteenths & 0xF)}},
        16.0 * clock / ideal, baud, 16, frame));
    return settings;
}

} // namespace

const Family &esp32Family()
{
    static const Family family{
        "esp32", "ESP32 UART (APB clock / (CLKDIV + FRAG/16))",
        "ESP32 Technical Reference Manual, UART_CLKDIV_REG; ESP-IDF uart_ll_set_baudrate",
        ClockKind::Internal, 80e6, 0.0, true, esp32Settings};
    return family;
}

} // namespace calculator::uart
