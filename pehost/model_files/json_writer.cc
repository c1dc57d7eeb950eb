#include "pehost/model_files/json_writer.h"

#include <charconv>
#include <cstdio>

#include "model/text_encoding.h"

namespace model_files {

namespace {

constexpr size_t kFlushSize = 1 << 16;

}  // namespace

bool JsonWriter::Flush() {
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  buffer_.clear();
  return static_cast<bool>(out_);
}

void JsonWriter::Gathered() {
  if (buffer_.size() >= kFlushSize) Flush();
}

void JsonWriter::NewLine() {
  buffer_ += '\n';
  buffer_.append(2 * levels_.size(), ' ');
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level &level = levels_.back();
  if (!level.empty) buffer_ += level.compact ? ", " : ",";
  if (!level.compact) NewLine();
  level.empty = false;
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
  Gathered();
}

void JsonWriter::Key(std::string_view key) {
  BeforeValue();
  Quoted(key);
  buffer_ += ": ";
  after_key_ = true;
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  Quoted(text);
}

void JsonWriter::Quoted(std::string_view text) {
  buffer_ += '"';
  size_t plain = 0;  // start of the run of characters taken as they are
  auto escape = [&](size_t i, std::string_view with) {
    buffer_.append(text.substr(plain, i - plain));
    buffer_ += with;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') continue;
    // Texts of the program may be in any single-byte code page: a byte
    // that starts no valid UTF-8 sequence is taken as Latin-1, so that the
    // document stays valid.
    if (c >= 0x80) {
      char32_t cp;
      const size_t n = model::Utf8Sequence(text.substr(i), &cp);
      if (n != 0) {
        i += n - 1;
        continue;
      }
    }
    char code[8];
    switch (c) {
      case '"':
        escape(i, "\\\"");
        break;
      case '\\':
        escape(i, "\\\\");
        break;
      case '\n':
        escape(i, "\\n");
        break;
      case '\t':
        escape(i, "\\t");
        break;
      case '\r':
        escape(i, "\\r");
        break;
      default:
        snprintf(code, sizeof code, "\\u%04X", c);
        escape(i, code);
    }
    plain = i + 1;
  }
  buffer_.append(text.substr(plain));
  buffer_ += '"';
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  buffer_.append(digits, result.ptr);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  buffer_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  buffer_ += "null";
}

}  // namespace model_files
