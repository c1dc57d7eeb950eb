// A growable row of at most 65,535 bytes in one heap block.
//
// The comments' index keeps tens of thousands of short rows, a few dozen
// bytes each once closed: a std::vector costs three pointers a row in the
// record that holds it, this one pointer, its count and room kept in front
// of the bytes. It grows as a vector does; what it does not do (copies,
// iterators of their own) its users do not need.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace kernel {

class ByteRow {
 public:
  ByteRow() = default;
  /// A row of the bytes [first, last) and no more room.
  ByteRow(const uint8_t *first, const uint8_t *last) { assign(first, last); }

  size_t size() const { return block_ ? block_->size : 0; }
  size_t capacity() const { return block_ ? block_->room : 0; }
  bool empty() const { return size() == 0; }
  uint8_t *data() { return block_ ? Bytes() : nullptr; }
  const uint8_t *data() const { return block_ ? Bytes() : nullptr; }
  uint8_t *begin() { return data(); }
  uint8_t *end() { return data() + size(); }
  const uint8_t *begin() const { return data(); }
  const uint8_t *end() const { return data() + size(); }
  uint8_t &operator[](size_t i) { return Bytes()[i]; }
  const uint8_t &operator[](size_t i) const { return Bytes()[i]; }

  void reserve(size_t room) {
    if (room > capacity()) Reroom(room);
  }
  void shrink_to_fit() {
    if (size() < capacity()) Reroom(size());
  }
  void push_back(uint8_t b) {
    Grow(1);
    Bytes()[block_->size++] = b;
  }
  /// Puts [first, last), which lies outside the row, before `pos`.
  void insert(uint8_t *pos, const uint8_t *first, const uint8_t *last) {
    const size_t at = static_cast<size_t>(pos - begin());
    const size_t n = static_cast<size_t>(last - first);
    Grow(n);
    uint8_t *b = Bytes();
    std::memmove(b + at + n, b + at, block_->size - at);
    std::memcpy(b + at, first, n);
    block_->size = static_cast<uint16_t>(block_->size + n);
  }
  void erase(uint8_t *first, uint8_t *last) {
    const size_t n = static_cast<size_t>(last - first);
    std::memmove(first, last, static_cast<size_t>(end() - last));
    block_->size = static_cast<uint16_t>(block_->size - n);
  }
  /// Shortens the row to `n` bytes, or lengthens it with zeros.
  void resize(size_t n) {
    if (n > capacity()) Reroom(n);
    if (n > size()) std::memset(Bytes() + size(), 0, n - size());
    if (block_) block_->size = static_cast<uint16_t>(n);
  }
  /// Holds [first, last), which lies outside the row, in a block of just
  /// that room when it had less.
  void assign(const uint8_t *first, const uint8_t *last) {
    const size_t n = static_cast<size_t>(last - first);
    if (n > capacity()) {
      block_.reset();
      Reroom(n);
    }
    if (n > 0) std::memcpy(Bytes(), first, n);
    if (block_) block_->size = static_cast<uint16_t>(n);
  }
  void swap(ByteRow &other) { block_.swap(other.block_); }

 private:
  struct Header {
    uint16_t size;
    uint16_t room;
  };
  struct Free {
    void operator()(Header *h) const { std::free(h); }
  };

  uint8_t *Bytes() const { return reinterpret_cast<uint8_t *>(block_.get() + 1); }

  /// Room for `n` bytes more, grown as a vector grows.
  void Grow(size_t n) {
    const size_t s = size();
    if (s + n > capacity()) Reroom(s + std::max(s, n));
  }
  /// A block of `room` bytes (at least the size) holding the row.
  void Reroom(size_t room) {
    // A new block rather than realloc: a block shrunk in place leaves a
    // sliver that the next row's whole room does not fit in.
    void *p = std::malloc(sizeof(Header) + room);
    if (p == nullptr) throw std::bad_alloc();
    std::unique_ptr<Header, Free> grown(static_cast<Header *>(p));
    grown->size = static_cast<uint16_t>(size());
    grown->room = static_cast<uint16_t>(room);
    if (size() > 0) std::memcpy(grown.get() + 1, Bytes(), size());
    block_ = std::move(grown);
  }

  std::unique_ptr<Header, Free> block_;
};

}  // namespace kernel
