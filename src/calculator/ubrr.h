#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The arithmetic of the AVR baud-rate calculator, free of any window code.
//
// An AVR UART divides the oscillator frequency f by 16 x (UBRRn + 1) in
// normal speed (U2Xn = 0) or by 8 x (UBRRn + 1) in double speed (U2Xn = 1);
// UBRRn is 12 bits wide.  Every named intermediate is held in single
// precision, as the calculator has always done, so the figures shown match
// the ones users compare against; an expression is evaluated in double and
// stored to float at each named step.
namespace calculator {

inline constexpr int kRegisterMax = 4095;           // UBRRn is 12 bits wide
inline constexpr int kRegisterCount = kRegisterMax + 1;
inline constexpr int kListLineCount = 2 * kRegisterCount; // one line per value and mode
inline constexpr int kNormalDivisor = 16;           // U2Xn = 0
inline constexpr int kDoubleDivisor = 8;            // U2Xn = 1
// Stands in for the rate of a candidate just outside the register's range.
inline constexpr float kOutsideRate = 12345678.0f;

inline constexpr const char *kPlaceholder = "---- ";
inline constexpr const char *kOutOfRange = "Out of range";

inline constexpr const char *kApplicationTitle = " Rebounce Test";
inline constexpr const char *kNoFrequencyMessage = "Please enter first the AVR Oscillator frequency!";
inline constexpr const char *kNoBaudMessage = "Please enter first the requested baud rate!";
inline constexpr const char *kUnexpectedErrorMessage = "An unexpected error occurred! Please check entered values!";

// The note behind the "Double Speed :" button, one entry per line.
inline constexpr const char *kDoubleSpeedNoteTitle = " AVR baud rate calculator ";
inline constexpr std::array<const char *, 9> kDoubleSpeedNote = {
    "Double Speed Operation    ( U2Xn = 1 )",
    "",
    "Setting U2Xn bit will reduce the divisor of the baud rate divider from 16 to 8,",
    "effectively doubling the transfer rate for asynchronous communication.",
    "Note however that the Receiver inside the AVR UART will in this case only",
    "use half the number of samples (reduced from 16 to 8) for data sampling and",
    "clock recovery, and therefore a more accurate baud rate setting and system clock",
    "are required when this mode is used. For the Transmitter inside the AVR UART",
    "there are no downsides. (See AVR datasheet).",
};

// Result of one mode (U2Xn = 0 or 1), with the captions of its five labels.
struct ModeResult
{
    int registerValue = 0; // 0..4096; 4096 means "Out of range"
    float rate = 0.0f;     // obtained baud rate
    float errorPercent = 0.0f;
    bool inRange = false;  // registerValue <= 4095

    std::string registerText; // UBRRn, or "Out of range"
    std::string rateText;     // "0.00", or "---- " when out of range
    std::string errorText;    // "0.00 %", or "---- "
    std::string highText;     // UBRRnH (bits 8..11), or "---- "
    std::string lowText;      // UBRRnL (bits 0..7), or "---- "
};

enum class CalcStatus {
    Ok,
    NoFrequency, // frequency blank, not a number or zero: kNoFrequencyMessage
    NoBaud,      // requested rate blank, not a number or zero: kNoBaudMessage
    Error,       // conversion or arithmetic failed: kUnexpectedErrorMessage
};

struct CalcResult
{
    CalcStatus status = CalcStatus::Error;
    float frequency = 0.0f; // f in single precision (valid when Ok)
    float baud = 0.0f;      // b in single precision (valid when Ok)
    ModeResult normal;      // U2Xn = 0
    ModeResult doubleSpeed; // U2Xn = 1
    int selectedLine = 0;   // list line of the better mode (valid when Ok)
};

// The whole computation of the Calculate button over the two entry texts.
// Never throws and never yields infinities or NaNs: a text beyond single
// precision, a negative value, a division by zero or an overflow gives
// CalcStatus::Error.
CalcResult calculate(std::string_view frequencyText, std::string_view baudText);

// Register value nearest to `baud` for one divisor (16 or 8): of u - 1, u and
// u + 1 around the rounded ideal value u, the nearest rate wins; on a tie
// u + 1 wins first, then u - 1.  May return -1 or 4096 when the request is
// nearer to kOutsideRate than to any real rate.  Returns nullopt when the
// arithmetic fails (overflow, not finite).
std::optional<int> chooseRegister(float frequency, float baud, int divisor);

// Rate of register value n: f / (divisor x (n + 1)), stored in single precision.
float registerRate(float frequency, int registerValue, int divisor);

// Text of list line 2 x n + doubleSpeed, for example
// " UBRRn value = 103          U2Xn = 0          Baud rate = 9615.38".
std::string listLine(float frequency, int registerValue, bool doubleSpeed);

// All 8192 list lines for f, in list order.
std::vector<std::string> listLines(float frequency);

// The register value as written in a list line: the text from the 16th
// character, at most 4 characters, without surrounding blanks.
std::string registerTextOfLine(std::string_view line);

// Caption of the frequency echo: fewer than 7 characters in kHz ("0.000"),
// from 7 characters on in MHz ("0.000000") after a trip through single
// precision.  A value that does not fit the number type used gives
// "Out of range"; a text that is not numeric counts as 0.
std::string frequencyCaption(std::string_view frequencyText);

inline int registerHigh(int value) { return (value >> 8) & 0x0F; }
inline int registerLow(int value) { return value & 0xFF; }

} // namespace calculator
