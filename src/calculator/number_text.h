#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace calculator {

// Numeric text, as the calculator's entry boxes understand it.
//
// Typing only ever produces unsigned decimal integers, but a pasted text
// reaches the boxes unfiltered.  We accept what a careful user would expect
// to be a number and nothing else:
//   [blanks] [+|-] digits [. [digits]] [(e|E) [+|-] digits] [blanks]
//   [blanks] [+|-] . digits [(e|E) [+|-] digits] [blanks]
// Blanks are spaces and tabs.  The decimal separator is always "." (we ship
// no locale dependence).  Hexadecimal, "inf", "nan", thousands separators and
// currency signs are not numbers.  The empty text is not a number.
bool isNumeric(std::string_view text);

// Converts a numeric text to double.  Returns nullopt when the text is not
// numeric.  A value beyond the double range gives +/-infinity; a nonzero
// value below it gives +/-0.  Never throws.
std::optional<double> toDouble(std::string_view text);

// Narrows to single precision.  Returns nullopt when the value does not fit:
// not finite, larger than the largest float, or nonzero but smaller than the
// smallest normal float (it would silently lose all or most of its digits).
std::optional<float> toSingle(double value);

// Fixed-point text with exactly `decimals` decimals and at least one integer
// digit, "." as separator, rounded half away from zero.  Rounding works on the
// exact binary value held (every digit of it), so a float is formatted from
// the value it really stores, not from a 7-digit decimal approximation of it.
// Every negative value keeps its minus sign, also one that rounds to zero:
// an error of -0.0009 % shows as "-0.00", so the user still sees that the
// rate obtained lies below the one requested.  Zero and negative zero give
// "0.00".  Non-finite values give "---- " (they never reach the screen as
// "inf" or "nan").
std::string formatFixed(double value, int decimals);

} // namespace calculator
