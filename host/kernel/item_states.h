// The item state of each byte of a segment, four bits a byte.
//
// A state per program byte is, with the bytes themselves, the floor of the
// database's memory; half a byte keeps it at half the program's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kernel {

class ItemStates {
 public:
  explicit ItemStates(size_t n = 0) : size_(n), packed_((n + 1) / 2, 0) {}

  uint8_t operator[](size_t i) const { return (packed_[i / 2] >> Shift(i)) & 0x0F; }

  void Set(size_t i, uint8_t state) {
    uint8_t &b = packed_[i / 2];
    b = static_cast<uint8_t>((b & ~(0x0F << Shift(i))) | (state << Shift(i)));
  }

  /// Sets [i, i + n) to `state`.
  void Fill(size_t i, size_t n, uint8_t state) {
    const size_t end = i + n;
    if (i % 2 != 0 && i < end) Set(i++, state);
    const size_t whole = (end - i) / 2;
    std::memset(packed_.data() + i / 2, state | state << 4, whole);
    i += 2 * whole;
    if (i < end) Set(i, state);
  }

  /// The first index in [i, end) whose state is not 0, or `end`. Runs of
  /// unknown bytes are passed eight bytes (sixteen states) at a time.
  size_t NextNonZero(size_t i, size_t end) const {
    if (i >= end) return end;
    for (; i < end && (i % 16 != 0 || end - i < 16); ++i)
      if ((*this)[i] != 0) return i;
    for (; end - i >= 16; i += 16) {
      uint64_t word;
      std::memcpy(&word, packed_.data() + i / 2, sizeof word);
      if (word != 0) break;
    }
    for (; i < end; ++i)
      if ((*this)[i] != 0) return i;
    return end;
  }

  size_t size() const { return size_; }

 private:
  static int Shift(size_t i) { return static_cast<int>(i % 2) * 4; }

  size_t size_;
  std::vector<uint8_t> packed_;
};

}  // namespace kernel
