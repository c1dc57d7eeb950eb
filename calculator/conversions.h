// Number and text conversions of the calculator window. They read and write "." as
// the decimal point whatever the locale, since the input filter keeps no other.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

/// Raised by StrToFloat for a text that is not a number.
class ConversionError : public std::invalid_argument {
 public:
  explicit ConversionError(std::string_view text);
};

/// Decimal text, with a "-" for negative values and nothing else around the digits.
std::string IntToStr(int64_t value);
/// Decimal text with an optional sign; `fallback` for anything else or out of range.
int64_t StrToInt64Def(std::string_view text, int64_t fallback);
/// The same for signed 32-bit values.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
/// Decimal text with an optional sign, fraction and exponent; raises ConversionError
/// for anything else, a lone "." included.
long double StrToFloat(std::string_view text);
/// Megabytes for display, as FormatMB.
std::string FloatToStr(long double value);
