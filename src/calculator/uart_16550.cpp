// 8250/16450/16550 UART, the PC's serial port: rate = clock / (16 x
// divisor), the 16-bit divisor latch written as DLM:DLL with DLAB set.
// The PC's clock is 1.8432 MHz, which makes 115200 divisor 1.
// Source: TI TL16C550C datasheet SLLS177, "Programmable Baud Generator"
// and its table of divisors for a 1.8432 MHz crystal.
#include "calculator/uart_family.h"

namespace calculator::uart {

namespace {

std::vector<Setting> settings16550(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    const auto divisor = detail::nearestInRange(clock / (16.0 * baud), 1, 0xFFFF);
    if (!divisor)
        return settings;
    const auto d = static_cast<unsigned long>(*divisor);
    settings.push_back(detail::makeSetting(
        "", {{"divisor", std::to_string(d)}, {"DLM", detail::hex(d >> 8, 2)}, {"DLL", detail::hex(d & 0xFF, 2)}},
        clock / (16.0 * static_cast<double>(d)), baud, 16, frame));
    return settings;
}

} // namespace

const Family &uart16550Family()
{
    static const Family family{
        "16550", "8250/16550 UART (divisor latch DLM:DLL)",
        "TI TL16C550C datasheet SLLS177, Programmable Baud Generator",
        ClockKind::Crystal, 1843200.0, 0.0, true, settings16550};
    return family;
}

} // namespace calculator::uart
