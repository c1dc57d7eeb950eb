// The texts of the program's types. A member's name, C type and comment are
// kept once and referred to by every structure that holds the member: a
// class's instance structure repeats every ancestor's members and its method
// table every inherited slot, so a copy of a member is a few words, with no
// allocation of its own and nothing to free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "model/text_arena.h"

namespace model {

/// A text that outlives what refers to it: a string literal, or one kept in
/// a TypeTexts. It ends in a NUL, so `c_str()` holds.
class TypeText {
 public:
  constexpr TypeText() = default;
  /// A string literal, or any text of static storage.
  constexpr TypeText(const char *literal)  // NOLINT: literals stand for themselves
      : data_(literal), size_(std::char_traits<char>::length(literal)) {}

  const char *c_str() const { return data_; }
  const char *data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char back() const { return data_[size_ - 1]; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }
  bool starts_with(std::string_view prefix) const { return view().starts_with(prefix); }

  friend bool operator==(const TypeText &a, std::string_view b) { return a.view() == b; }

 private:
  friend class TypeTexts;
  TypeText(const char *data, size_t size) : data_(data), size_(size) {}

  const char *data_ = "";
  size_t size_ = 0;
};

/// Texts kept in blocks that stay where they are while the owner lives,
/// moved or not.
class TypeTexts {
 public:
  TypeText Keep(std::string_view text);
  /// `parts` one after another, kept as one text: a name put together from
  /// a few parts needs no string of its own first.
  TypeText KeepJoined(std::initializer_list<std::string_view> parts);

 private:
  // From a few kilobytes: even a small program's types take that much.
  TextArena arena_{4096};
};

}  // namespace model
