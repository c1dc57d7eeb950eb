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

  size_t size() const { return size_; }

 private:
  static int Shift(size_t i) { return static_cast<int>(i % 2) * 4; }

  size_t size_;
  std::vector<uint8_t> packed_;
};

}  // namespace kernel
