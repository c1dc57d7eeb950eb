// The item state of each byte of a segment, two bits a byte.
//
// A state per program byte is, with the bytes themselves, the floor of the
// database's memory; two bits keep it at a quarter of the program's size.
// State i is bits [2i, 2i + 2) of the packed bytes, so four states fill a
// byte; the walks read the states twenty-nine at a time, the most that an
// unaligned 64-bit read holds whole at any index.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kernel {

class ItemStates {
 public:
  /// States are 0 to kStates - 1.
  static constexpr unsigned kStates = 4;

  explicit ItemStates(size_t n = 0)
      : size_(n),
        packed_(n == 0 ? 0 : (n + 3) / 4 + kPadding, 0),
        marks_((n + 1023) / 1024, 0) {}

  uint8_t operator[](size_t i) const {
    return static_cast<uint8_t>((packed_[i / 4] >> Shift(i)) & 3);
  }

  void Set(size_t i, uint8_t state) {
    uint8_t &at = packed_[i / 4];
    const int shift = Shift(i);
    at = static_cast<uint8_t>((at & ~(3u << shift)) | unsigned{state} << shift);
  }

  /// Sets [i, i + n) to `state`, up to twenty-nine states a step.
  void Fill(size_t i, size_t n, uint8_t state) {
    const uint64_t all = kOnes * state;
    while (n > 0) {
      const size_t m = std::min(n, kWord);
      uint8_t *at = packed_.data() + i / 4;
      const int shift = Shift(i);
      uint64_t word;
      std::memcpy(&word, at, sizeof word);
      const uint64_t mask = Lanes(m) << shift;
      word = (word & ~mask) | ((all << shift) & mask);
      std::memcpy(at, &word, sizeof word);
      i += m;
      n -= m;
    }
  }

  /// How many states from `i` on, up to `end`, are `state`.
  size_t RunAfter(size_t i, size_t end, uint8_t state) const {
    const size_t from = i;
    const uint64_t all = kOnes * state;
    while (i < end) {
      const size_t m = std::min(end - i, kWord);
      if (const uint64_t other = (Load(i) ^ all) & Lanes(m); other != 0)
        return i + static_cast<size_t>(std::countr_zero(other)) / 2 - from;
      i += m;
    }
    return end - from;
  }

  /// How many states before `i`, down to `begin`, are `state`.
  size_t RunBefore(size_t i, size_t begin, uint8_t state) const {
    const size_t from = i;
    const uint64_t all = kOnes * state;
    while (i > begin) {
      const size_t m = std::min(i - begin, kWord);
      if (const uint64_t other = (Load(i - m) ^ all) & Lanes(m); other != 0) {
        const size_t last = static_cast<size_t>(63 - std::countl_zero(other)) / 2;
        return from - (i - m + last + 1);
      }
      i -= m;
    }
    return from - begin;
  }

  /// The first index in [i, end) whose state is not 0, or `end`: most calls
  /// ask about a short range that is all unknown.
  size_t NextNonZero(size_t i, size_t end) const {
    while (i < end) {
      const size_t m = std::min(end - i, kWord);
      if (const uint64_t known = Load(i) & Lanes(m); known != 0)
        return i + static_cast<size_t>(std::countr_zero(known)) / 2;
      i += m;
    }
    return end;
  }

  /// A set of states as the walks compare them with a word of states: made
  /// once for a walk that asks many times. The states not in the set are
  /// compared instead when they are fewer.
  class Among {
   public:
    /// Bit s for state s; not state 0.
    Among(uint16_t states) {  // NOLINT: a mask converts
      states &= (1u << kStates) - 2;
      const uint16_t others = static_cast<uint16_t>(~states & ((1u << kStates) - 1));
      invert_ = std::popcount(others) < std::popcount(states);
      const uint16_t compared = invert_ ? others : states;
      for (unsigned s = 0; s < kStates; ++s)
        if ((compared >> s) & 1) alls_[count_++] = kOnes * s;
    }

    /// Bit 2k set when state k of `word` is in the set.
    uint64_t Found(uint64_t word) const {
      uint64_t found = 0;
      for (int k = 0; k < count_; ++k) {
        const uint64_t x = word ^ alls_[k];
        found |= ~(x | x >> 1);
      }
      return (invert_ ? ~found : found) & kOnes;
    }

   private:
    uint64_t alls_[kStates] = {};
    int count_ = 0;
    bool invert_ = false;
  };

  /// The first index in [i, end) whose state is among `states`, or `end`.
  /// A word of states is compared at once, which passes over the tails of a
  /// run of instructions without a step each.
  size_t NextOf(size_t i, size_t end, const Among &states) const {
    while (i < end) {
      const size_t m = std::min(end - i, kWord);
      const uint64_t word = Load(i);
      if (word == 0) {  // unknown bytes, never asked for
        i += m;
        continue;
      }
      if (const uint64_t hit = states.Found(word) & Lanes(m); hit != 0)
        return i + static_cast<size_t>(std::countr_zero(hit)) / 2;
      i += m;
    }
    return end;
  }

  /// How many indexes in [i, end) have a state among `states`.
  size_t CountOf(size_t i, size_t end, const Among &states) const {
    size_t n = 0;
    while (i < end) {
      const size_t m = std::min(end - i, kWord);
      n += static_cast<size_t>(std::popcount(states.Found(Load(i)) & Lanes(m)));
      i += m;
    }
    return n;
  }

  /// A mark for each block of sixteen states, set by Mark and never taken
  /// back: the database marks the blocks where it keeps what a head's state
  /// does not say, so that a head elsewhere needs no look-up.
  void Mark(size_t i) { marks_[i / 1024] |= uint64_t{1} << (i / 16 % 64); }
  bool Marked(size_t i) const { return (marks_[i / 1024] >> (i / 16 % 64)) & 1; }

  size_t size() const { return size_; }

 private:
  /// States a walk reads at once: 58 bits whole after a shift of up to 6.
  static constexpr size_t kWord = 29;
  /// Bit 0 of each of the kWord states.
  static constexpr uint64_t kOnes = 0x0155555555555555ull;
  /// Bytes past the last state, so that a word read at any state stays
  /// within the vector.
  static constexpr size_t kPadding = 8;

  /// The bits of the first m states of a word (m <= kWord).
  static uint64_t Lanes(size_t m) { return (uint64_t{1} << (2 * m)) - 1; }
  /// Where state i begins within its byte.
  static int Shift(size_t i) { return static_cast<int>(2 * (i % 4)); }

  /// The states from index i on, state i in the lowest bits; the states
  /// past the kWord-th are not whole.
  uint64_t Load(size_t i) const {
    uint64_t word;
    std::memcpy(&word, packed_.data() + i / 4, sizeof word);
    // Little-endian: the state of index i is in the word's lowest bits.
    static_assert(std::endian::native == std::endian::little);
    return word >> Shift(i);
  }

  size_t size_;
  std::vector<uint8_t> packed_;
  std::vector<uint64_t> marks_;
};

}  // namespace kernel
