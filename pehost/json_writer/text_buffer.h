// The writers' own output buffer. The files of a large program are tens of
// millions of short pieces (keys, numbers, punctuation, indentation), and a
// piece appended to a std::string or a stream is a call into the library,
// which checks the room, calls memcpy for a few bytes and returns: more
// work than the piece. Here an append is inline, a test of the room and a
// copy of a few words; the room is made, and the text handed to the stream
// in large pieces, outside the appends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string_view>

namespace json_writer {

/// Copies `n` bytes without a call for up to 32 (two overlapping words).
inline void CopyBytes(char *to, const char *from, size_t n) {
  if (n > 32) {
    std::memcpy(to, from, n);
  } else if (n > 16) {
    char head[16], tail[16];
    std::memcpy(head, from, 16);
    std::memcpy(tail, from + n - 16, 16);
    std::memcpy(to, head, 16);
    std::memcpy(to + n - 16, tail, 16);
  } else if (n >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n != 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

class TextBuffer {
 public:
  /// Text for `out`, handed to it whenever a piece of some size is
  /// gathered; without a stream the whole text is kept.
  explicit TextBuffer(std::ostream *out = nullptr) : out_(out) {}
  TextBuffer(const TextBuffer &) = delete;
  TextBuffer &operator=(const TextBuffer &) = delete;
  ~TextBuffer() { Flush(); }

  /// Room for `n` more characters, where the caller writes them; then
  /// Advance() to the end of what it wrote.
  char *Room(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) MakeRoom(n);
    return at_;
  }
  void Advance(char *to) { at_ = to; }

  void push_back(char c) {
    Room(1);
    *at_++ = c;
  }
  void append(const char *text, size_t n) {
    CopyBytes(Room(n), text, n);
    at_ += n;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  TextBuffer &operator+=(char c) {
    push_back(c);
    return *this;
  }
  TextBuffer &operator+=(std::string_view text) {
    append(text);
    return *this;
  }

  /// What is gathered and not yet handed to the stream.
  std::string_view text() const {
    return std::string_view(data_.get(), static_cast<size_t>(at_ - data_.get()));
  }
  size_t size() const { return static_cast<size_t>(at_ - data_.get()); }
  /// Every character appended so far, those handed on included: a measure
  /// across the pieces (the column a line has reached).
  size_t Written() const { return handed_on_ + size(); }
  void clear() { at_ = data_.get(); }
  /// Drops what follows the first `n` characters not yet handed on.
  void Truncate(size_t n) {
    if (n < size()) at_ = data_.get() + n;
  }

  /// Hands what is gathered to the stream, when there is one; true while
  /// the stream is good.
  bool Flush();

 private:
  void MakeRoom(size_t n);

  std::ostream *out_;
  size_t handed_on_ = 0;
  std::unique_ptr<char[]> data_;
  char *at_ = nullptr;
  char *end_ = nullptr;
};

}  // namespace json_writer
