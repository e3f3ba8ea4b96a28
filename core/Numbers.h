#pragma once
// Reading and writing the numbers that appear in texts: the octave line of
// the settings file, and the frequencies shown in the display labels.
// Standard library only; never depends on the C library's locale.

#include <string>
#include <string_view>

namespace harmolune {

// The leading decimal number of text. Blanks, tabs and line feeds are skipped
// wherever they stand ("1 2" reads 12). An optional sign, digits, at most one
// decimal separator and an optional exponent (e or E, optional sign, digits)
// are taken up to the first character that cannot continue the number; any
// other character, a comma included when it is not the separator, ends it.
// A text without a leading number reads 0. A number too large for a double
// reads as plus or minus infinity.
double ReadLeadingNumber(std::string_view text, std::string_view decimalSeparator = ".");

// The nearest integer to x as a double, an exact half going to the even one
// (2.5 gives 2, 3.5 gives 4), whatever the floating-point rounding mode.
double RoundToEven(double x);

// x with exactly `decimals` digits after the separator and at least one
// before it, rounded, ASCII digits, no grouping: the pattern "0.00".
std::string FormatFixed(double x, int decimals, std::string_view decimalSeparator);

}  // namespace harmolune
