// STM32 USART: USARTDIV = f_CK / rate with oversampling by 16 (OVER8 = 0)
// and 2 x f_CK / rate by 8 (OVER8 = 1), rounded to the nearest whole
// number and at least 16.  With OVER8 = 1 the low nibble is shifted right
// by one into BRR[2:0] and BRR[3] stays clear.  The older parts (F1, F4)
// write the same register as a mantissa and a 4- or 3-bit fraction.
// Source: STM32 reference manuals RM0440 (37.5.7, "How to derive USARTDIV
// from USART_BRR register values", examples 1 and 2), RM0390 (error
// calculation tables for programmed baud rates) and RM0008 (the 72 MHz
// table); the receiver's tolerance from RM0351 36.5.5, Table 194
// (BRR[3:0] = 0000, ONEBIT = 0).
#include "calculator/uart_family.h"

namespace calculator::uart {

namespace {

// RM0351 Table 194, ONEBIT = 0: the whole tolerance by word length (data
// and parity bits: M = 10, 00, 01) for OVER8 = 0 and 1.  A fractional
// divider (BRR[3:0] != 0) lowers it somewhat.
std::optional<double> manualTolerance(int wordBits, bool over8)
{
    switch (wordBits) {
    case 7: return over8 ? 2.77 : 4.16;
    case 8: return over8 ? 2.50 : 3.75;
    case 9: return over8 ? 2.27 : 3.41;
    default: return std::nullopt;
    }
}

std::vector<Setting> stm32Settings(double clock, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    const int wordBits = frame.dataBits + (frame.parity == echotest::Frame::Parity::None ? 0 : 1);
    for (const bool over8 : {false, true}) {
        const int factor = over8 ? 2 : 1;
        // By 8, the nearest even divider: twice the nearest whole half.
        const auto half = over8 ? detail::nearestInRange(clock / baud, 8, 0x7FFF) : std::nullopt;
        const auto div = over8 ? (half ? std::optional<long long>(*half * 2) : std::nullopt)
                               : detail::nearestInRange(clock / baud, 16, 0xFFFF);
        if (!div)
            continue;
        const auto u = static_cast<unsigned long>(*div);
        const unsigned long brr = over8 ? (u & 0xFFF0ul) | ((u & 0xFul) >> 1) : u;
        const double rate = factor * clock / static_cast<double>(*div);
        Setting setting = detail::makeSetting(over8 ? "OVER8=1" : "OVER8=0",
                                              {{"USARTDIV", std::to_string(*div)}, {"BRR", detail::hex(brr, 4)}},
                                              rate, baud, over8 ? 8 : 16, frame);
        if (const auto limit = manualTolerance(wordBits, over8)) {
            setting.tolerance.limit = *limit;
            setting.tolerance.recommended = *limit / 2.0;
            setting.tolerance.source = "reference manual, half for each end";
        }
        settings.push_back(std::move(setting));
    }
    return settings;
}

} // namespace

const Family &stm32Family()
{
    static const Family family{
        "stm32", "STM32 USART (USARTDIV, BRR, OVER8)",
        "STM32 reference manuals RM0440 37.5.7, RM0390, RM0008; tolerance RM0351 36.5.5 Table 194",
        ClockKind::Crystal, 0.0, 0.0, true, stm32Settings};
    return family;
}

} // namespace calculator::uart
