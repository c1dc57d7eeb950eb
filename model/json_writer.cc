#include "model/json_writer.h"

#include <cstdio>

namespace model {

void JsonWriter::NewLine() {
  out_ << '\n';
  for (size_t i = 0; i < levels_.size(); ++i) out_ << "  ";
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level &level = levels_.back();
  if (!level.empty) out_ << (level.compact ? ", " : ",");
  if (!level.compact) NewLine();
  level.empty = false;
}

void JsonWriter::Open(char bracket, bool compact) {
  BeforeValue();
  out_ << bracket;
  // Inside a compact level everything stays on its line.
  const bool inside_compact = !levels_.empty() && levels_.back().compact;
  levels_.push_back({compact || inside_compact, true});
}

void JsonWriter::Close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.empty && !level.compact) NewLine();
  out_ << bracket;
  if (levels_.empty()) out_ << '\n';
}

void JsonWriter::Key(std::string_view key) {
  BeforeValue();
  Quoted(key);
  out_ << ": ";
  after_key_ = true;
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  Quoted(text);
}

namespace {

/// Length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t ValidSequence(std::string_view text) {
  const uint8_t b = static_cast<uint8_t>(text[0]);
  const size_t n = (b & 0xE0) == 0xC0   ? 2
                   : (b & 0xF0) == 0xE0 ? 3
                   : (b & 0xF8) == 0xF0 ? 4
                                        : 0;
  if (n == 0 || text.size() < n) return 0;
  uint32_t cp = b & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3F);
  }
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

void JsonWriter::Quoted(std::string_view text) {
  out_ << '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    const unsigned char c = static_cast<unsigned char>(ch);
    // Texts of the program may be in any single-byte code page: a byte
    // that starts no valid UTF-8 sequence is taken as Latin-1, so that the
    // document stays valid.
    if (c >= 0x80) {
      const size_t n = ValidSequence(text.substr(i));
      if (n != 0) {
        out_ << text.substr(i, n);
        i += n - 1;
      } else {
        char buf[8];
        snprintf(buf, sizeof buf, "\\u%04X", c);
        out_ << buf;
      }
      continue;
    }
    switch (c) {
      case '"':
        out_ << "\\\"";
        break;
      case '\\':
        out_ << "\\\\";
        break;
      case '\n':
        out_ << "\\n";
        break;
      case '\t':
        out_ << "\\t";
        break;
      case '\r':
        out_ << "\\r";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04X", c);
          out_ << buf;
        } else {
          out_ << ch;
        }
    }
  }
  out_ << '"';
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  out_ << value;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
}

}  // namespace model
