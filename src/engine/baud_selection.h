#pragma once
// The rules behind the port and baud-rate selectors of the main window:
// the item lists, the minimum transmission time of one test pattern, the
// check of a typed or pasted baud text.  Qt-free, so the arithmetic and the
// text rules are tested without a screen.  The key filter of the baud text
// is the one the calculator's entries share (winsvc/entry_keys.h).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace echotest {

// Port selector items, "1" to "4" for COM1 to COM4.
inline constexpr std::array<std::string_view, 4> kPortItems{"1", "2", "3", "4"};
inline constexpr int kDefaultPortIndex = 0; // "1"

// Baud-rate selector items, in list order.
inline constexpr std::array<std::string_view, 23> kBaudRateItems{
    "50",   "75",   "110",  "134",  "150",   "200",   "300",   "600",
    "1200", "1800", "2000", "2400", "3600",  "4800",  "7200",  "9600",
    "19200", "38400", "57600", "115200", "230400", "460800", "921600"};
inline constexpr int kDefaultBaudIndex = 15; // "9600"

// A longer baud text is cut to this many characters.
inline constexpr std::size_t kMaxBaudTextLength = 7;

// Shown by Label12 when there is no minimum transmission time.
inline constexpr std::string_view kNoTimeCaption = "----- ms";

// Milliseconds that `bytes` bytes need on the line at `baud`, `bitsPerByte`
// bit times each (the classic test: 1000 bytes of 10 bits).  Every step is
// rounded to single precision on purpose, and the result to the nearest
// integer with halves to even: 800000 baud gives exactly 12.5 and thus 12.
// Returns 0 when `baud` is not positive, and also when the result does not
// fit 32 bits (fractional rates such as 0.0001 that a pasted text can
// carry), so callers never see a wrapped-around time.
int32_t minTransmitTime(float baud, int32_t bytes = 1000, int bitsPerByte = 10);

// Label12's caption for a time from minTransmitTime: "1042 ms", or
// "----- ms" for 0.
std::string minTransmitTimeCaption(int32_t ms);

// Whether a baud text counts as a number.  Typing admits digits only; a
// pasted text may also carry blanks around the number, one leading sign and
// one decimal point ("-5", " 12.5 ", "+.5").  No exponent, no thousands
// separator, no letters ("12a" is not a number); the empty text is not one.
bool isBaudNumber(std::string_view text);

// A baud-rate text read once, in the form every user of it needs: Label12's
// time, the run's rate checks and time-out, the abort's hourglass and the
// command line.  The decimal separator is always "." whatever the locale, so
// the window's time and the run can never disagree about a pasted "9600.5".
struct BaudReading {
    std::string text;          // as given; the mode text hands it to the driver
    bool isNumber = false;     // isBaudNumber(text)
    float value = 0.0f;        // single precision, as the line time is computed
    int32_t wholeRate = 0;     // nearest whole rate (halves to even), pinned to 32 bits; 0 for no number
    int32_t lineTimeMs = 0;    // minTransmitTime(value): MinTransmitTime, 0 for none
};

BaudReading readBaudText(std::string_view text);

// The single-precision value of a text for which isBaudNumber holds; 0 for
// any other text.
float baudValue(std::string_view text);

// The outcome of an edit of the baud text.
struct BaudTextCheck {
    BaudReading reading;         // the corrected text to show, read
    bool replacedByZero = false; // not a number: now "0", to be selected
    bool truncated = false;      // cut to kMaxBaudTextLength: caret to the end, beep
};

// Applies the edit rules to `text`: a non-number becomes "0", a longer text
// is cut to its first seven characters (and becomes "0" too when the cut
// leaves no number), and the time is computed from what is left.
BaudTextCheck checkBaudText(std::string_view text);

} // namespace echotest
