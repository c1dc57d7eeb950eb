// A sorted set of 64-bit values, kept in chunks.
//
// The database keeps the second and later referrers of each target as
// (target, referrer) pairs, two million of them on a large program: a
// vector per target would cost its header and its doubling slack on each.
// Chunks of at most kChunk values grow by a quarter, as AddrIndex's do.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kernel {

class PairSet {
 public:
  static constexpr size_t kChunk = 512;

  static uint64_t Pair(uint32_t high, uint32_t low) { return uint64_t{high} << 32 | low; }

  /// The least value not below `v`; false when none.
  bool LowerBound(uint64_t v, uint64_t *found) const {
    for (size_t c = ChunkFor(v); c < chunks_.size(); ++c) {
      const std::vector<uint64_t> &ch = chunks_[c];
      auto it = std::lower_bound(ch.begin(), ch.end(), v);
      if (it != ch.end()) {
        *found = *it;
        return true;
      }
    }
    return false;
  }

  /// Adds `v`; false when it was there.
  bool Insert(uint64_t v) {
    if (chunks_.empty()) {
      chunks_.emplace_back();
      firsts_.push_back(v);
    }
    size_t c = ChunkFor(v);
    std::vector<uint64_t> *ch = &chunks_[c];
    auto it = std::lower_bound(ch->begin(), ch->end(), v);
    size_t i = static_cast<size_t>(it - ch->begin());
    if (it != ch->end() && *it == v) return false;
    if (ch->size() >= kChunk) {
      // An append past the last chunk begins a new one; elsewhere the chunk
      // is halved.
      const bool append = c + 1 == chunks_.size() && i == ch->size();
      const size_t keep = append ? ch->size() : ch->size() / 2;
      std::vector<uint64_t> right(ch->begin() + static_cast<ptrdiff_t>(keep), ch->end());
      ch->resize(keep);
      ch->shrink_to_fit();
      const uint64_t right_first = append ? v : right.front();
      chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c + 1), std::move(right));
      firsts_.insert(firsts_.begin() + static_cast<ptrdiff_t>(c + 1), right_first);
      if (v >= right_first) {
        ++c;
        i -= keep;
      }
      ch = &chunks_[c];
    }
    if (ch->size() == ch->capacity())
      ch->reserve(std::min(kChunk, ch->size() + ch->size() / 4 + 4));
    ch->insert(ch->begin() + static_cast<ptrdiff_t>(i), v);
    if (i == 0) firsts_[c] = v;
    ++size_;
    return true;
  }

  /// Removes `v`; false when it was not there.
  bool Erase(uint64_t v) {
    if (chunks_.empty()) return false;
    const size_t c = ChunkFor(v);
    std::vector<uint64_t> &ch = chunks_[c];
    auto it = std::lower_bound(ch.begin(), ch.end(), v);
    if (it == ch.end() || *it != v) return false;
    const bool was_first = it == ch.begin();
    ch.erase(it);
    --size_;
    if (ch.empty()) {
      chunks_.erase(chunks_.begin() + static_cast<ptrdiff_t>(c));
      firsts_.erase(firsts_.begin() + static_cast<ptrdiff_t>(c));
    } else if (was_first) {
      firsts_[c] = ch.front();
    }
    return true;
  }

  size_t size() const { return size_; }

 private:
  // The last chunk starting at or below `v`, or the first; 0 when empty.
  size_t ChunkFor(uint64_t v) const {
    auto it = std::upper_bound(firsts_.begin(), firsts_.end(), v);
    return it == firsts_.begin() ? 0 : static_cast<size_t>(it - firsts_.begin()) - 1;
  }

  std::vector<uint64_t> firsts_;
  std::vector<std::vector<uint64_t>> chunks_;
  size_t size_ = 0;
};

}  // namespace kernel
