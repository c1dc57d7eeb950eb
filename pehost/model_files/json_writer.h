// A streaming JSON writer: the model of a large program is written class by
// class without holding the document. Objects and arrays are laid out one
// member a line, or, when opened as compact, on a single line. Text is
// gathered in a buffer and handed to the stream in large pieces.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace model_files {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream &out) : out_(out) {}
  ~JsonWriter() { Flush(); }

  void BeginObject(bool compact = false) { Open('{', compact); }
  void EndObject() { Close('}'); }
  void BeginArray(bool compact = false) { Open('[', compact); }
  void EndArray() { Close(']'); }
  /// The next member's name; its value follows.
  void Key(std::string_view key);

  void String(std::string_view text);
  void Int(int64_t value);
  void Bool(bool value);
  void Null();

  // Shorthands for a member.
  void Member(std::string_view key, std::string_view text) { Key(key), String(text); }
  void Member(std::string_view key, const char *text) { Key(key), String(text); }
  void Member(std::string_view key, int64_t value) { Key(key), Int(value); }
  void Member(std::string_view key, uint32_t value) { Key(key), Int(value); }
  void Member(std::string_view key, int value) { Key(key), Int(value); }
  void MemberBool(std::string_view key, bool value) { Key(key), Bool(value); }
  void MemberNull(std::string_view key) { Key(key), Null(); }

  /// Hands what is gathered to the stream; true while the stream is good.
  bool Flush();

 private:
  struct Level {
    bool compact;
    bool empty;
  };
  void Open(char bracket, bool compact);
  void Close(char bracket);
  /// Separator and line break before a value (not after a key).
  void BeforeValue();
  void NewLine();
  void Quoted(std::string_view text);
  void Gathered();

  std::ostream &out_;
  std::string buffer_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

}  // namespace model_files
