// JSON as pehost writes it, in every file: the saved database and the
// export, the class model, and the records inside the tool scripts.
//
// One quoting rule for every string. Texts of the program may be UTF-8 or
// in any single-byte code page: a valid UTF-8 sequence is taken as it is,
// and any other byte as Latin-1 (the byte 0xE9 as U+00E9), so that the
// document stays valid and a text of a single-byte code page keeps its bytes
// apart (a replacement character would make "caf\xE9" and "caf\xFC" one).
// Control characters are escaped (\n, \r, \t by name, the others as
// \u00XX), as are the quotation mark and the backslash.
//
// The writer streams: the model of a large program is written class by
// class, the database item by item, without holding the document. Objects
// and arrays are laid out one member a line, or, when opened as compact, on
// a single line. Text is gathered in a buffer and handed to the stream in
// large pieces.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "pehost/json_writer/text_buffer.h"

namespace json_writer {

enum class Characters {
  kUtf8,   // characters above ASCII as UTF-8
  kAscii,  // only ASCII: every other character, and the apostrophe, as \uXXXX
           // (a Python raw string in quotes of three apostrophes takes it)
};

/// Appends `text` as a JSON string to *out.
void AppendQuoted(std::string_view text, Characters characters, std::string *out);
void AppendQuoted(std::string_view text, Characters characters, TextBuffer *out);
/// `text` as a JSON string.
std::string Quoted(std::string_view text, Characters characters = Characters::kUtf8);

/// Appends `value` in decimal to *out; every writer's numbers go through
/// these, a few million in a large program's files.
void AppendUnsigned(uint64_t value, std::string *out);
void AppendInt(int64_t value, std::string *out);
void AppendUnsigned(uint64_t value, TextBuffer *out);
void AppendInt(int64_t value, TextBuffer *out);
/// Writes `value` in decimal at `out` (room for 20 characters) and returns
/// the end, for a record put together before it is appended.
char *FormatUnsigned(uint64_t value, char *out);
/// Appends "0x" and `value` in upper-case hex, at least `width` digits (up
/// to 16): the report's and the header's addresses and offsets.
void AppendHex(uint64_t value, int width, std::string *out);
void AppendHex(uint64_t value, int width, TextBuffer *out);

/// A member's name, written in the program: checked to be plain when the
/// program is built (a name with a quote, a backslash or a control
/// character does not compile) and quoted then, so that writing it is one
/// copy. A file of a large program has millions of them.
class MemberName {
 public:
  template <size_t N>
  consteval MemberName(const char (&name)[N]) : size_(N + 3) {
    static_assert(N + 3 <= sizeof text_, "a member name this long needs more room");
    text_[0] = '"';
    for (size_t i = 0; i + 1 < N; ++i) {
      const char c = name[i];
      if (c < 0x20 || c == '"' || c == '\\' || c == 0x7F)
        throw "a member name is plain ASCII";
      text_[i + 1] = c;
    }
    text_[N] = '"';
    text_[N + 1] = ':';
    text_[N + 2] = ' ';
  }
  /// `"name": `
  std::string_view Text() const { return std::string_view(text_, size_); }

 private:
  char text_[40] = {};
  size_t size_;
};

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream &out) : buffer_(&out) {}
  ~JsonWriter() { Flush(); }

  void BeginObject(bool compact = false) { Open('{', compact); }
  void EndObject() { Close('}'); }
  void BeginArray(bool compact = false) { Open('[', compact); }
  void EndArray() { Close(']'); }
  /// The next member's name; its value follows.
  void Key(const MemberName &key) {
    BeforeValue();
    after_key_ = true;
    buffer_.append(key.Text());
  }

  void String(std::string_view text);
  void Int(int64_t value);
  void Bool(bool value);
  void Null();

  // Shorthands for a member.
  void Member(const MemberName &key, std::string_view text) { Key(key), String(text); }
  void Member(const MemberName &key, const char *text) { Key(key), String(text); }
  void Member(const MemberName &key, int64_t value) { Key(key), Int(value); }
  void Member(const MemberName &key, uint32_t value) { Key(key), Int(value); }
  void Member(const MemberName &key, int value) { Key(key), Int(value); }
  void MemberBool(const MemberName &key, bool value) { Key(key), Bool(value); }
  void MemberNull(const MemberName &key) { Key(key), Null(); }

  /// The member `key`: an array of `items`, each written by `write(item)`.
  template <typename Items, typename Write>
  void Array(const MemberName &key, const Items &items, Write write,
             bool compact = false) {
    Key(key);
    BeginArray(compact);
    for (const auto &item : items) write(item);
    EndArray();
  }
  /// The member `key`: an array of `items`, each a compact object whose
  /// members `write(item)` writes.
  template <typename Items, typename Write>
  void ObjectArray(const MemberName &key, const Items &items, Write write) {
    Array(key, items, [&](const auto &item) {
      BeginObject(true);
      write(item);
      EndObject();
    });
  }

  /// Hands what is gathered to the stream; true while the stream is good.
  bool Flush();

 private:
  struct Level {
    bool compact;
    bool empty;
  };
  void Open(char bracket, bool compact);
  void Close(char bracket);
  /// Separator and line break before a value (not after a key). Inline:
  /// a large program's files have millions of values.
  void BeforeValue() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (!levels_.empty()) Separate();
  }
  /// The separator and line break of a value inside an array or object.
  void Separate();
  /// A line break and the indentation of the current level, after a comma
  /// when `comma`.
  void NewLine(bool comma = false);

  TextBuffer buffer_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

}  // namespace json_writer
