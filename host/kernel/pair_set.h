// A sorted set of 64-bit values, kept in chunks.
//
// The database keeps the second and later referrers of each target as
// (target, referrer) pairs, two million of them on a large program: a
// vector per target would cost its header and its doubling slack on each.
// Chunks of at most kChunk values hold values of one top 16 bits only (a
// 64 KB page of targets), keeping the six bytes below them. Pairs arrive in
// no order, so chunks are split often: they grow by half, fewer copies for
// a little more room than AddrIndex's quarter.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/kernel/sorted_search.h"

namespace kernel {

class PairSet {
 public:
  static constexpr size_t kChunk = 512;

  static uint64_t Pair(uint32_t high, uint32_t low) { return uint64_t{high} << 32 | low; }

  /// The least value not below `v`; false when none.
  bool LowerBound(uint64_t v, uint64_t *found) const {
    for (size_t c = ChunkFor(v); c < chunks_.size(); ++c) {
      const size_t i = LowerIn(c, v);
      if (i < chunks_[c].size()) {
        *found = ValueAt(c, i);
        return true;
      }
    }
    return false;
  }

  /// Adds `v`; false when it was there.
  bool Insert(uint64_t v) {
    if (chunks_.empty()) return Begin(0, v);
    size_t c = ChunkFor(v);
    if (v < firsts_[c]) {
      if (Page(v) != Page(firsts_[0]) || chunks_[0].size() >= kChunk) return Begin(0, v);
      c = 0;
    } else if (Page(v) != Page(firsts_[c])) {
      return Begin(c + 1, v);
    }
    std::vector<Low> *ch = &chunks_[c];
    size_t i = LowerIn(c, v);
    if (i < ch->size() && (*ch)[i].Value() == Low::Of(v).Value()) return false;
    if (ch->size() >= kChunk) {
      // An append past the last chunk begins a new one; elsewhere the chunk
      // is halved.
      if (c + 1 == chunks_.size() && i == ch->size()) return Begin(c + 1, v);
      const size_t keep = ch->size() / 2;
      std::vector<Low> right(ch->begin() + static_cast<ptrdiff_t>(keep), ch->end());
      ch->resize(keep);
      ch->shrink_to_fit();
      const uint64_t right_first = Page(firsts_[c]) | right.front().Value();
      chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c + 1), std::move(right));
      firsts_.insert(firsts_.begin() + static_cast<ptrdiff_t>(c + 1), right_first);
      if (v >= right_first) {
        ++c;
        i -= keep;
      }
      ch = &chunks_[c];
    }
    Reserve(ch);
    ch->insert(ch->begin() + static_cast<ptrdiff_t>(i), Low::Of(v));
    if (i == 0) firsts_[c] = v;
    ++size_;
    return true;
  }

  /// Removes `v`; false when it was not there.
  bool Erase(uint64_t v) {
    if (chunks_.empty()) return false;
    const size_t c = ChunkFor(v);
    if (Page(firsts_[c]) != Page(v)) return false;
    std::vector<Low> &ch = chunks_[c];
    const size_t i = LowerIn(c, v);
    if (i == ch.size() || ch[i].Value() != Low::Of(v).Value()) return false;
    ch.erase(ch.begin() + static_cast<ptrdiff_t>(i));
    --size_;
    if (ch.empty()) {
      chunks_.erase(chunks_.begin() + static_cast<ptrdiff_t>(c));
      firsts_.erase(firsts_.begin() + static_cast<ptrdiff_t>(c));
    } else if (i == 0) {
      firsts_[c] = ValueAt(c, 0);
    }
    return true;
  }

  size_t size() const { return size_; }

 private:
  static constexpr uint64_t kPageMask = 0xFFFF000000000000ull;
  // The low 48 bits of a value, in three halves so that it takes six bytes.
  struct Low {
    uint16_t w[3];
    static Low Of(uint64_t v) {
      return {{static_cast<uint16_t>(v >> 32), static_cast<uint16_t>(v >> 16),
               static_cast<uint16_t>(v)}};
    }
    uint64_t Value() const { return uint64_t{w[0]} << 32 | uint64_t{w[1]} << 16 | w[2]; }
  };

  static uint64_t Page(uint64_t v) { return v & kPageMask; }
  uint64_t ValueAt(size_t c, size_t i) const {
    return Page(firsts_[c]) | chunks_[c][i].Value();
  }

  // The position in chunk `c` of the first value not below `v`.
  size_t LowerIn(size_t c, uint64_t v) const {
    const std::vector<Low> &ch = chunks_[c];
    if (Page(firsts_[c]) != Page(v)) return Page(firsts_[c]) < Page(v) ? ch.size() : 0;
    const uint64_t low = v & ~kPageMask;
    return FirstNotBelow(ch.data(), ch.size(),
                         [low](const Low &a) { return a.Value() < low; });
  }

  static void Reserve(std::vector<Low> *ch) {
    if (ch->size() == ch->capacity())
      ch->reserve(std::min(kChunk, ch->size() + ch->size() / 2 + 8));
  }

  /// A new chunk at position `c` holding only `v`; the caller has checked
  /// that it sorts there.
  bool Begin(size_t c, uint64_t v) {
    std::vector<Low> ch;
    Reserve(&ch);
    ch.push_back(Low::Of(v));
    chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c), std::move(ch));
    firsts_.insert(firsts_.begin() + static_cast<ptrdiff_t>(c), v);
    ++size_;
    return true;
  }

  // The last chunk starting at or below `v`, or the first; 0 when empty.
  size_t ChunkFor(uint64_t v) const {
    const size_t above = UpperBound(firsts_.data(), firsts_.size(), v);
    return above == 0 ? 0 : above - 1;
  }

  std::vector<uint64_t> firsts_;  // the whole first value of each chunk
  std::vector<std::vector<Low>> chunks_;
  size_t size_ = 0;
};

}  // namespace kernel
