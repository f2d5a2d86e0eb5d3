#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::platform {

// The general form: the shortest text with up to 15 significant digits, no
// trailing zeros, the given decimal separator; exponent form ("1E-7",
// "1,5E20") only for very small or very large values.
std::string FormatGeneral(double value, char decimalSeparator);

// Fixed patterns "0.0", "0.00", "0.000": exactly `decimals` digits after the
// separator, rounded half away from zero on the value's 15-digit decimal
// form (so 2.675 shows as 2.68, as a user reads it).
std::string FormatFixed(double value, int decimals, char decimalSeparator);

// Nearest integer with halves to the even neighbour, computed in long double.
int64_t RoundHalfEven(long double value);

// Reading numbers typed by the user or found in a file: an optional sign and
// decimal digits only, surrounding blanks not allowed (a setting such as
// "20 " is an error, as it would be for the user's eyes too).
std::optional<int64_t> ParseInteger(const std::string& text);
// Accepts both "," and "." as the separator, so a Russian file reads the
// same under any locale.
std::optional<double> ParseDecimal(const std::string& text);
// A decimal text with "," or "." as separator (and an optional exponent) in
// the classic form strtod reads; nullopt when it is no such number.
std::optional<std::string> ClassicDecimalText(std::string_view text);

}  // namespace korvane::platform
