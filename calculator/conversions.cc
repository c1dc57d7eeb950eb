#include "calculator/conversions.h"

#include <charconv>
#include <cmath>

#include "calculator/disc_size.h"

ConversionError::ConversionError(std::string_view text)
    : std::invalid_argument("\"" + std::string(text) + "\" is not a valid number") {}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// from_chars takes a "-" but no "+"; the conversions accept either, but only one.
bool SkipPlus(std::string_view &text) {
  if (text.empty() || text.front() != '+') return true;
  text.remove_prefix(1);
  return text.empty() || text.front() != '-';
}

template <typename Int>
Int ParseInt(std::string_view text, Int fallback) {
  if (!SkipPlus(text)) return fallback;
  Int value;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return fallback;
  return value;
}

}  // namespace

std::string IntToStr(int64_t value) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
  return ParseInt<int64_t>(text, fallback);
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  return ParseInt<int32_t>(text, fallback);
}

long double StrToFloat(std::string_view text) {
  std::string_view number = text;
  if (!SkipPlus(number)) throw ConversionError(text);
  // At least one digit before the exponent: from_chars alone would also take "inf"
  // and "nan".
  size_t i = number.empty() || number.front() != '-' ? 0 : 1;
  size_t digits = 0;
  while (i < number.size() && IsDigit(number[i])) ++i, ++digits;
  if (i < number.size() && number[i] == '.') {
    ++i;
    while (i < number.size() && IsDigit(number[i])) ++i, ++digits;
  }
  if (digits == 0) throw ConversionError(text);
  long double value;
  const auto [end, error] =
      std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() ||
      !std::isfinite(value))
    throw ConversionError(text);
  return value;
}

std::string FloatToStr(long double value) { return FormatMB(value); }
