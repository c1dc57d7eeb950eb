// Phrases of (distance, value) pairs, for DeltaIndex's closed chunks.
//
// A record's fields take the same comments at the same distances in every
// record of its layout, so the pairs of a chunk repeat in long runs. A
// phrase is a shorter phrase (its prefix) and one more pair, learnt as the
// chunks are coded, one phrase longer each time a known one is met followed
// by a pair it does not yet take: after a layout's first few records, its
// whole run of fields is one phrase, two bytes in a chunk. Phrases are never
// forgotten, so a code stays good for as long as the index lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kernel {

class PairPhrases {
 public:
  static constexpr uint16_t kNone = 0xFFFF;  // no phrase; a one-pair phrase's prefix
  static constexpr size_t kMostPhrases = 0xFFFE;
  // Phrases past one pair. A run meets a few hundred pairs, and the phrases
  // worth having are learnt from its first records: a table this size
  // stays in cache while a chunk is coded, where one filled to the last
  // code made coding a closed chunk a cache miss a pair.
  static constexpr size_t kMostLonger = 0x1000;

  struct Phrase {
    uint16_t prefix = kNone;
    uint8_t distance = 0;  // the last pair's
    uint8_t value = 0;
    uint16_t span = 0;  // the sum of the pairs' distances
    // The phrase one longer found last, tried first, and its last pair:
    // coding a chunk reads one phrase a pair.
    uint16_t next = kNone;
    uint8_t next_distance = 0;
    uint8_t next_value = 0;
    bool more = false;  // other phrases one longer than it are in slots_
  };

  /// `most` phrases at most (below kMostPhrases), `most_longer` of them
  /// past one pair: smaller tables for tests.
  explicit PairPhrases(size_t most = kMostPhrases, size_t most_longer = kMostLonger)
      : most_(most), most_longer_(most_longer) {}

  const Phrase &operator[](uint16_t code) const { return phrases_[code]; }

  /// The code of `prefix` followed by (distance, value), or kNone. A
  /// layout's records take the same phrases one after another, so the one
  /// found last after `prefix` is tried first, and a one-pair phrase is
  /// looked up by its pair.
  uint16_t Find(uint16_t prefix, uint8_t distance, uint8_t value) {
    if (prefix == kNone) {
      const uint16_t *row = singles_[distance].get();
      return row == nullptr ? kNone : static_cast<uint16_t>(row[value] - 1);
    }
    Phrase &before = phrases_[prefix];
    if (before.next != kNone && before.next_distance == distance &&
        before.next_value == value)
      return before.next;
    // Most phrases are followed by one pair only: no search for them.
    if (!before.more) return kNone;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(prefix, distance, value) & mask; slots_[i] != 0;
         i = (i + 1) & mask) {
      const Phrase &p = phrases_[slots_[i] - 1];
      if (p.prefix == prefix && p.distance == distance && p.value == value) {
        Follow(&before, static_cast<uint16_t>(slots_[i] - 1));
        return before.next;
      }
    }
    return kNone;
  }

  /// Learns `prefix` followed by (distance, value), which Find does not
  /// know; its code, or kNone when the table is full.
  uint16_t Add(uint16_t prefix, uint8_t distance, uint8_t value) {
    if (phrases_.size() >= most_ || (prefix != kNone && extensions_ >= most_longer_))
      return kNone;
    const auto code = static_cast<uint16_t>(phrases_.size());
    if (prefix == kNone) {
      std::unique_ptr<uint16_t[]> &row = singles_[distance];
      if (row == nullptr) row = std::make_unique<uint16_t[]>(256);
      row[value] = static_cast<uint16_t>(code + 1);
    } else if ((extensions_ + 1) * 2 > slots_.size()) {
      Grow();
    }
    Phrase p;
    p.prefix = prefix;
    p.distance = distance;
    p.value = value;
    p.span = distance;
    if (prefix != kNone) p.span = static_cast<uint16_t>(phrases_[prefix].span + distance);
    phrases_.push_back(p);
    if (prefix != kNone) {
      Phrase &before = phrases_[prefix];
      before.more = before.more || before.next != kNone;
      Follow(&before, code);
    }
    if (prefix != kNone) {
      ++extensions_;
      Insert(code);
    }
    return code;
  }

  size_t size() const { return phrases_.size(); }
  /// The one-pair phrases among them.
  size_t pairs() const { return phrases_.size() - extensions_; }

 private:
  void Follow(Phrase *before, uint16_t next) {
    before->next = next;
    before->next_distance = phrases_[next].distance;
    before->next_value = phrases_[next].value;
  }
  static size_t Hash(uint16_t prefix, uint8_t distance, uint8_t value) {
    const uint64_t key =
        uint64_t{prefix} | uint64_t{distance} << 16 | uint64_t{value} << 24;
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 40);
  }

  void Insert(uint16_t code) {
    const Phrase &p = phrases_[code];
    const size_t mask = slots_.size() - 1;
    size_t i = Hash(p.prefix, p.distance, p.value) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<uint16_t>(code + 1);
  }

  void Grow() {
    slots_.assign(slots_.empty() ? 256 : slots_.size() * 2, 0);
    for (size_t code = 0; code < phrases_.size(); ++code)
      if (phrases_[code].prefix != kNone) Insert(static_cast<uint16_t>(code));
  }

  size_t most_;
  size_t most_longer_;
  std::vector<Phrase> phrases_;
  std::vector<uint16_t> slots_;  // longer phrases: code + 1; 0: empty
  // One-pair phrases by their pair, code + 1, a row for each distance met:
  // a run meets a few distances, and a whole table would be cleared for
  // every database, however small its program.
  std::unique_ptr<uint16_t[]> singles_[256];
  size_t extensions_ = 0;  // phrases in slots_
};

}  // namespace kernel
