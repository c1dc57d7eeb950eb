#include "calculator/input_filter.h"

std::string FilterNonNumChars(std::string_view text) {
  const size_t dot = text.find('.');
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c >= '0' && c <= '9') || (c == '.' && i == dot)) result += c;
  }
  if (result.empty()) return "0";
  return result;
}
