#include "model/text_encoding.h"

#include <cstdint>
#include <cstring>

namespace model {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

/// Whether any of the eight bytes at `at` is a control code: below a space,
/// or 0x7F. Each test is exact for the word as a whole (a borrow can only
/// flag bytes above one that is truly below), which is all that is asked.
bool HasControlByte(const char *at) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHigh = 0x8080808080808080u;
  uint64_t x;
  std::memcpy(&x, at, sizeof x);
  const uint64_t del = x ^ (kOnes * 0x7F);
  return (((x - kOnes * 0x20) & ~x) | ((del - kOnes) & ~del)) & kHigh;
}

}  // namespace

void AppendUtf8(char32_t cp, std::string *out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | cp >> 6));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | cp >> 12));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | cp >> 18));
    out->push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u32string DecodeUtf16Le(const uint8_t *bytes, size_t units) {
  std::u32string out;
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    const char32_t u = bytes[2 * i] | bytes[2 * i + 1] << 8;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char32_t low = bytes[2 * i + 2] | bytes[2 * i + 3] << 8;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    out.push_back(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
  }
  return out;
}

size_t Utf8Sequence(std::string_view text, char32_t *cp) {
  if (text.empty()) return 0;
  const uint8_t b = static_cast<uint8_t>(text[0]);
  const size_t length = b < 0x80             ? 1
                        : (b & 0xE0) == 0xC0 ? 2
                        : (b & 0xF0) == 0xE0 ? 3
                        : (b & 0xF8) == 0xF0 ? 4
                                             : 0;
  if (length == 0 || length > text.size()) return 0;
  char32_t v = length == 1 ? b : b & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const uint8_t c = static_cast<uint8_t>(text[k]);
    if ((c & 0xC0) != 0x80) return 0;
    v = v << 6 | (c & 0x3F);
  }
  // Overlong forms and surrogates are as broken as a missing byte.
  static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kLeast[length] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return length;
}

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = kReplacement;
    const size_t n = Utf8Sequence(text.substr(i), &cp);
    out.push_back(n != 0 ? cp : kReplacement);
    i += n != 0 ? n : 1;
  }
  return out;
}

std::string TextFromBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp;
    const size_t n = Utf8Sequence(bytes.substr(i), &cp);
    if (n != 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      AppendUtf8(static_cast<uint8_t>(bytes[i]), &out);
      ++i;
    }
  }
  return out;
}

std::string Utf16LeToUtf8(const uint8_t *bytes, size_t units) {
  std::string out;
  for (char32_t cp : DecodeUtf16Le(bytes, units)) AppendUtf8(cp, &out);
  return out;
}

std::string OneLine(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  // Runs of plain text are copied whole, and passed over eight bytes a step:
  // a hostile resource directory gives thousands of lines with long names.
  size_t plain = 0;
  for (size_t i = 0; i < text.size();) {
    if (text.size() - i >= 8 && !HasControlByte(text.data() + i)) {
      i += 8;
      continue;
    }
    const auto u = static_cast<unsigned char>(text[i++]);
    if (u >= 0x20 && u != 0x7F) continue;
    out.append(text.substr(plain, i - 1 - plain));
    if (u == '\n') {
      out += "\\n";
    } else {
      const char escape[] = {'\\', 'x', kHex[u >> 4], kHex[u & 0xF]};
      out.append(escape, sizeof escape);
    }
    plain = i;
  }
  out.append(text.substr(plain));
  return out;
}

}  // namespace model
