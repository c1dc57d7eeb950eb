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

void JsonWriter::Quoted(std::string_view text) {
  out_ << '"';
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
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
