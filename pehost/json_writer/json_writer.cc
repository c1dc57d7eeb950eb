#include "pehost/json_writer/json_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "model/text_encoding.h"
#include "pehost/json_writer/byte_runs.h"

namespace json_writer {

namespace {

/// `\uXXXX`, or outside the basic plane a pair of surrogates: of a fixed
/// length each, written by hand.
template <typename Out>
void AppendEscape(char32_t cp, Out &out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto unit = [](char *at, uint32_t u) {
    at[0] = '\\';
    at[1] = 'u';
    at[2] = kHex[(u >> 12) & 0xF];
    at[3] = kHex[(u >> 8) & 0xF];
    at[4] = kHex[(u >> 4) & 0xF];
    at[5] = kHex[u & 0xF];
  };
  char code[12];
  if (cp > 0xFFFF) {
    cp -= 0x10000;
    unit(code, 0xD800 + (cp >> 10));
    unit(code + 6, 0xDC00 + (cp & 0x3FF));
    out.append(code, 12);
  } else {
    unit(code, cp);
    out.append(code, 6);
  }
}

/// Which bytes a quoted string takes as they are: printable ASCII but for
/// the quote and the backslash, and in ASCII text also but for the
/// apostrophe. One look-up per byte instead of five comparisons: some texts
/// (problem lines of hostile resources) run to megabytes.
struct PlainBytes {
  bool utf8[256] = {};
  bool ascii[256] = {};
};

constexpr PlainBytes MakePlainBytes() {
  PlainBytes p;
  for (int c = 0x20; c < 0x80; ++c) {
    p.utf8[c] = c != '"' && c != '\\';
    p.ascii[c] = p.utf8[c] && c != '\'';
  }
  return p;
}

constexpr PlainBytes kPlainBytes = MakePlainBytes();

/// The bytes that end a run a quoted string takes as they are: a byte below
/// a space or above ASCII (below 0x20 as a signed byte), a quote, a
/// backslash or (in ASCII text) an apostrophe.
struct QuoteStops {
  bool ascii;
  const bool *taken;
#ifdef __SSE2__
  __m128i Of(__m128i x) const {
    const __m128i odd = _mm_or_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)),
                                     _mm_cmpeq_epi8(x, _mm_set1_epi8('"')));
    return _mm_or_si128(
        odd, _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\\')),
                          _mm_cmpeq_epi8(x, _mm_set1_epi8(ascii ? '\'' : '"'))));
  }
#endif
  bool Of(unsigned char c) const { return !taken[c]; }
};

/// Appends `text` quoted to `out`, a std::string or a TextBuffer.
template <typename Out>
void Quote(std::string_view text, Characters characters, Out &out) {
  const bool ascii = characters == Characters::kAscii;
  const bool *const taken = ascii ? kPlainBytes.ascii : kPlainBytes.utf8;
  out += '"';
  size_t plain = 0;  // start of the run of bytes taken as they are
  const QuoteStops stops{ascii, taken};
  for (size_t i = RunEnd(text, 0, stops); i < text.size(); i = RunEnd(text, i, stops)) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp = c;
    size_t length = 1;
    if (c >= 0x80) {
      const std::string_view rest(text.data() + i, text.size() - i);
      length = model::Utf8Sequence(rest, &cp);
      if (length != 0 && !ascii) {
        // Names read from resources are whole runs of such sequences.
        for (i += length; i < text.size() && static_cast<unsigned char>(text[i]) >= 0x80;
             i += length) {
          length = model::Utf8Sequence({text.data() + i, text.size() - i}, &cp);
          if (length == 0) break;
        }
        continue;
      }
      if (length == 0) cp = c, length = 1;  // Latin-1
    }
    out.append(text.substr(plain, i - plain));
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        AppendEscape(cp, out);
    }
    i += length;
    plain = i;
  }
  out.append(text.substr(plain));
  out += '"';
}

}  // namespace

void AppendQuoted(std::string_view text, Characters characters, std::string *out) {
  Quote(text, characters, *out);
}

void AppendQuoted(std::string_view text, Characters characters, TextBuffer *out) {
  Quote(text, characters, *out);
}

namespace {

/// The number of decimal digits of `value`.
int DecimalDigits(uint64_t value) {
  static constexpr uint64_t kPowers[20] = {1,
                                           10,
                                           100,
                                           1000,
                                           10000,
                                           100000,
                                           1000000,
                                           10000000,
                                           100000000,
                                           1000000000,
                                           10000000000,
                                           100000000000,
                                           1000000000000,
                                           10000000000000,
                                           100000000000000,
                                           1000000000000000,
                                           10000000000000000,
                                           100000000000000000,
                                           1000000000000000000,
                                           10000000000000000000u};
  if (value < 10) return 1;
  // log10(2) is about 1233 / 4096: the bits give the digits or one more.
  const int guess = (64 - __builtin_clzll(value)) * 1233 >> 12;
  return guess + (value >= kPowers[guess] ? 1 : 0);
}

}  // namespace

char *FormatUnsigned(uint64_t value, char *out) {
  // Two digits a step, from the end, written in place.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  if constexpr (std::endian::native == std::endian::little) {
    // Below 10^8, as addresses and sizes are: the eight digits, zero-padded,
    // put together in one word without a loop, shifted past the leading
    // zeros (the lowest bytes that are '0') and stored whole: the room asked
    // for takes the zeros behind the end.
    if (value < 100000000) {
      const uint32_t v = static_cast<uint32_t>(value);
      const uint32_t high = v / 10000, low = v - 10000 * high;
      const uint32_t h1 = high / 100, l1 = low / 100;
      const auto pair = [](uint32_t n) {
        uint16_t p;
        std::memcpy(&p, kPairs + 2 * n, 2);
        return uint64_t{p};
      };
      uint64_t word = pair(h1) | pair(high - 100 * h1) << 16 | pair(l1) << 32 |
                      pair(low - 100 * l1) << 48;
      const int zeros = __builtin_ctzll(word - 0x3030303030303030u) >> 3;
      word >>= 8 * zeros;
      std::memcpy(out, &word, 8);
      return out + 8 - zeros;
    }
  }
  const int digits = DecimalDigits(value);
  char *const end = out + digits;
  char *at = end;
  for (; value > UINT32_MAX; value /= 10) *--at = static_cast<char>('0' + value % 10);
  uint32_t v = static_cast<uint32_t>(value);
  // A pair is one load and one store of two bytes.
  while (v >= 100) {
    const uint32_t rest = v / 100;
    at -= 2;
    std::memcpy(at, kPairs + 2 * (v - 100 * rest), 2);
    v = rest;
  }
  if (v >= 10) {
    at -= 2;
    std::memcpy(at, kPairs + 2 * v, 2);
  } else {
    *--at = static_cast<char>('0' + v);
  }
  return end;
}

void AppendUnsigned(uint64_t value, std::string *out) {
  char digits[24];
  out->append(digits, static_cast<size_t>(FormatUnsigned(value, digits) - digits));
}

void AppendInt(int64_t value, std::string *out) {
  if (value >= 0) return AppendUnsigned(static_cast<uint64_t>(value), out);
  *out += '-';
  AppendUnsigned(0 - static_cast<uint64_t>(value), out);
}

void AppendUnsigned(uint64_t value, TextBuffer *out) {
  out->Advance(FormatUnsigned(value, out->Room(20)));
}

void AppendInt(int64_t value, TextBuffer *out) {
  char *at = out->Room(21);
  if (value < 0) {
    *at++ = '-';
    out->Advance(FormatUnsigned(0 - static_cast<uint64_t>(value), at));
  } else {
    out->Advance(FormatUnsigned(static_cast<uint64_t>(value), at));
  }
}

namespace {

/// Writes "0x" and the hex digits at `out` (room for 18 characters) and
/// returns the end. By hand, not by snprintf: the report writes one for
/// every class, method and event, and the format took more than the rest.
char *FormatHex(uint64_t value, int width, char *out) {
  int digits = 1;
  while (digits < 16 && (value >> (4 * digits)) != 0) ++digits;
  digits = std::max(digits, std::min(width, 16));
  *out++ = '0';
  *out++ = 'x';
  for (int i = digits - 1; i >= 0; --i)
    *out++ = "0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  return out;
}

}  // namespace

void AppendHex(uint64_t value, int width, std::string *out) {
  char text[18];
  out->append(text, static_cast<size_t>(FormatHex(value, width, text) - text));
}

void AppendHex(uint64_t value, int width, TextBuffer *out) {
  out->Advance(FormatHex(value, width, out->Room(18)));
}

std::string Quoted(std::string_view text, Characters characters) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendQuoted(text, characters, &out);
  return out;
}

bool JsonWriter::Flush() { return buffer_.Flush(); }

namespace {

// A comma, a line break and the spaces of up to 64 levels: what goes before
// a member is one copy.
constexpr size_t kMaxIndent = 128;
const std::string kBreak = ",\n" + std::string(kMaxIndent, ' ');

}  // namespace

void JsonWriter::NewLine(bool comma) {
  const size_t indent = 2 * levels_.size();
  if (indent <= kMaxIndent) {
    const size_t n = (comma ? 2 : 1) + indent;
    char *at = buffer_.Room(n);
    const char *from = kBreak.data() + (comma ? 0 : 1);
    if (n <= 16) {
      CopyBytes(at, from, n);
    } else {
      // Copied from the front in steps of 16: no call for the depths a
      // document has.
      for (size_t i = 0; i < n; i += 16)
        CopyBytes(at + i, from + i, std::min<size_t>(16, n - i));
    }
    buffer_.Advance(at + n);
    return;
  }
  if (comma) buffer_ += ',';
  buffer_ += '\n';
  char *at = buffer_.Room(indent);
  std::memset(at, ' ', indent);
  buffer_.Advance(at + indent);
}

void JsonWriter::Separate() {
  Level &level = levels_.back();
  const bool comma = !level.empty;
  level.empty = false;
  if (!level.compact) {
    NewLine(comma);
  } else if (comma) {
    char *at = buffer_.Room(2);
    at[0] = ',';
    at[1] = ' ';
    buffer_.Advance(at + 2);
  }
}

void JsonWriter::Open(char bracket, bool compact) {
  BeforeValue();
  buffer_ += bracket;
  // Inside a compact level everything stays on its line.
  const bool inside_compact = !levels_.empty() && levels_.back().compact;
  levels_.push_back({compact || inside_compact, true});
}

void JsonWriter::Close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.empty && !level.compact) NewLine();
  buffer_ += bracket;
  if (levels_.empty()) buffer_ += '\n';
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  AppendQuoted(text, Characters::kUtf8, &buffer_);
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  AppendInt(value, &buffer_);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  buffer_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  buffer_ += "null";
}

}  // namespace json_writer
