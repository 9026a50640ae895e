#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/test_plan.h"

// UART families beyond the AVR calculator: for a clock and a requested rate,
// the register values each family's documentation asks for, the rate they
// really give and its error, and how much error the family's receiver takes
// for a frame.  Each family lives in its own uart_<name>.cpp and names the
// datasheet or application note its arithmetic comes from.  Nothing here
// throws; a request a family cannot serve gives no setting.
namespace calculator::uart {

// One register or bit as the family's documentation names it.
struct Field
{
    std::string name;  // "UBRRn", "BRR", "OVER8"
    std::string value; // as written into it: "103", "0x0271"
    friend bool operator==(const Field &, const Field &) = default;
};

// How far the rate of an end may be from the rate of its partner, in percent.
struct Tolerance
{
    // The end's share: what it may be off when its partner may be off as
    // much the other way.  From the datasheet where it gives one, else half
    // of `limit` (the datasheets' own convention: both ends share the budget).
    double recommended = 0.0;
    // The whole budget of the receiver against an ideal partner and clean
    // edges: from the datasheet, or half a bit over the bits up to the stop
    // bit's sample point, less one sample of uncertainty in finding the start.
    double limit = 0.0;
    std::string source; // where the figures come from, for the reader
};

// One way of programming the family's UART for a request: the nearest
// setting of one mode.
struct Setting
{
    std::string mode;          // "U2X=0", "OVER8=1", "BRGH=1 BRG16=1"; empty for one-mode families
    std::vector<Field> fields; // what to write, in the documentation's order
    double rate = 0.0;         // rate obtained, baud
    double errorPercent = 0.0; // (rate / requested - 1) x 100
    int oversampling = 16;     // samples per bit of its receiver
    Tolerance tolerance;       // of its receiver, for the frame asked
};

enum class ClockKind {
    Crystal,  // the user fits the clock (AVR, PIC, STM32, 16550): `clocks` can rank them
    Internal, // the chip's own fixed clock (USB adapters, ESP32 APB, nRF52)
};

struct Family
{
    std::string_view name;        // command-line name: "avr", "stm32", ...
    std::string_view title;       // "AVR USART (ATmega, U2Xn)"
    std::string_view source;      // datasheet or application note
    ClockKind clockKind = ClockKind::Crystal;
    double defaultClock = 0.0;    // Hz; 0 when the user must give one
    double maxClock = 0.0;        // Hz, highest clock the parts take; 0 when no limit applies
    bool clockMatters = true;     // false for table-driven parts (CP210x, nRF52)
    // Every mode's nearest setting for `baud`, in the documentation's order.
    // Empty when no mode reaches the rate.
    std::vector<Setting> (*settings)(double clock, double baud, const echotest::Frame &frame) = nullptr;
};

// Every family, in the order the help lists them.
std::span<const Family *const> families();
const Family *findFamily(std::string_view name);
std::string familyNames(); // "avr, avr-dx, ..." for messages and help

// Index of the setting nearest to the request (the smallest absolute
// error; the first listed on a tie), or nullopt when there is none.
std::optional<std::size_t> bestSetting(std::span<const Setting> settings);

// What a receiver makes of a rate `deviationPercent` away from its own.
enum class Verdict { Ok, Marginal, Out };
struct Judgement
{
    Verdict verdict = Verdict::Out;
    double marginPercent = 0.0; // tolerance - |deviation|; negative when out
};
// OK within the tolerance with at least a quarter of it to spare; marginal
// within it with less; out beyond it (exactly on the edge is still within).
Judgement judge(double deviationPercent, double tolerancePercent);
std::string_view verdictName(Verdict verdict); // "OK", "marginal", "out"

// Helpers the family files share.
namespace detail {
// The tolerance derived from sampling: `oversampling` samples a bit, the
// stop bit read in its middle.
Tolerance sampledTolerance(int oversampling, const echotest::Frame &frame, std::string_view source);
// A setting for `rate`, its error against `baud`, its tolerance from sampling.
Setting makeSetting(std::string mode, std::vector<Field> fields, double rate, double baud, int oversampling,
                    const echotest::Frame &frame);
// The classic AVR datasheets' receiver tables, also printed for the newer AVRs.
Tolerance avrDatasheetTolerance(bool doubleSpeed, const echotest::Frame &frame);
std::string hex(unsigned long value, int digits); // "0x0271"
std::string decimal(double value, int decimals);  // "115200.00", always with "."
std::string trimmed(double value, int decimals);  // "78.125", "26": trailing zeros dropped
// Nearest whole number to `value`, halves away from zero; nullopt when out of [lo, hi].
std::optional<long long> nearestInRange(double value, long long lo, long long hi);
} // namespace detail

// The families, one function each, defined in their own files.
const Family &avrFamily();
const Family &avrDxFamily();
const Family &stm32Family();
const Family &picFamily();
const Family &uart16550Family();
const Family &ftdiFamily();
const Family &ftdiHFamily();
const Family &ch340Family();
const Family &cp210xFamily();
const Family &esp32Family();
const Family &nrf52Family();

} // namespace calculator::uart
