// The item state of each byte of a segment, four bits a byte.
//
// A state per program byte is, with the bytes themselves, the floor of the
// database's memory; half a byte keeps it at half the program's size.
#pragma once

#include <bit>
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
    const auto pair = static_cast<uint8_t>(state | state << 4);
    // Most items are a few bytes long: no call for them.
    if (whole <= 8) {
      for (size_t k = 0; k < whole; ++k) packed_[i / 2 + k] = pair;
    } else {
      std::memset(packed_.data() + i / 2, pair, whole);
    }
    i += 2 * whole;
    if (i < end) Set(i, state);
  }

  /// How many states from `i` on, up to `end`, are `state`; two a byte.
  size_t RunAfter(size_t i, size_t end, uint8_t state) const {
    const size_t from = i;
    if (i % 2 != 0 && i < end) {
      if ((*this)[i] != state) return 0;
      ++i;
    }
    // Sixteen states a word: a string's tails run up to 31 states.
    const uint64_t all = 0x1111111111111111ull * state;
    while (end - i >= 16) {
      uint64_t word;
      std::memcpy(&word, packed_.data() + i / 2, sizeof word);
      // Little-endian: the state of index i is the word's lowest nibble.
      static_assert(std::endian::native == std::endian::little);
      if (const uint64_t other = word ^ all; other != 0)
        return i + static_cast<size_t>(std::countr_zero(other)) / 4 - from;
      i += 16;
    }
    const auto pair = static_cast<uint8_t>(state | state << 4);
    while (end - i >= 2 && packed_[i / 2] == pair) i += 2;
    if (i < end && (*this)[i] == state) ++i;
    return i - from;
  }

  /// How many states before `i`, down to `begin`, are `state`; two a byte.
  size_t RunBefore(size_t i, size_t begin, uint8_t state) const {
    const size_t from = i;
    if (i % 2 != 0 && i > begin) {
      if ((*this)[i - 1] != state) return 0;
      --i;
    }
    const auto pair = static_cast<uint8_t>(state | state << 4);
    while (i - begin >= 2 && packed_[i / 2 - 1] == pair) i -= 2;
    if (i > begin && (*this)[i - 1] == state) --i;
    return from - i;
  }

  /// The first index in [i, end) whose state is not 0, or `end`. States are
  /// tested two at a time (a byte) and runs of unknown bytes sixteen at a
  /// time: most calls ask about a short range that is all unknown.
  size_t NextNonZero(size_t i, size_t end) const {
    if (i >= end) return end;
    if (i % 2 != 0) {
      if ((*this)[i] != 0) return i;
      ++i;
    }
    for (; end - i >= 2 && i % 16 != 0; i += 2)
      if (packed_[i / 2] != 0) return FirstOfByte(i);
    for (; end - i >= 16; i += 16) {
      uint64_t word;
      std::memcpy(&word, packed_.data() + i / 2, sizeof word);
      if (word != 0) break;
    }
    for (; end - i >= 2; i += 2)
      if (packed_[i / 2] != 0) return FirstOfByte(i);
    return i < end && (*this)[i] != 0 ? i : end;
  }

  /// The first index in [i, end) whose state is one of `states` (bit s for
  /// state s; not state 0), or `end`. A byte (two states) a step, which
  /// passes over the tails of a run of instructions without a call each.
  size_t NextOf(size_t i, size_t end, uint16_t states) const {
    if (i >= end) return end;
    if (i % 2 != 0) {
      if ((states >> (*this)[i]) & 1) return i;
      ++i;
    }
    for (; end - i >= 2; i += 2) {
      const uint8_t b = packed_[i / 2];
      if (b == 0) continue;
      if ((states >> (b & 0x0F)) & 1) return i;
      if ((states >> (b >> 4)) & 1) return i + 1;
    }
    return i < end && ((states >> (*this)[i]) & 1) != 0 ? i : end;
  }

  size_t size() const { return size_; }

 private:
  static int Shift(size_t i) { return static_cast<int>(i % 2) * 4; }
  /// Of the two states in the byte of even index `i`, not both 0, the
  /// first that is not.
  size_t FirstOfByte(size_t i) const { return (packed_[i / 2] & 0x0F) != 0 ? i : i + 1; }

  size_t size_;
  std::vector<uint8_t> packed_;
};

}  // namespace kernel
