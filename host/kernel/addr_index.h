// A map from addresses to small values, kept sorted in chunks.
//
// The annotations of a program (comments, function ranges, cross-reference
// targets, names) arrive mostly in address order, as the plug-ins walk it,
// and run to millions. Sorted chunks of at most kChunk entries cost little
// more than the entries themselves, make the usual in-order insert an append
// to a chunk already in cache, and answer "the entry at or before" for the
// function ranges. A chunk holds addresses of one 64 KB page only, so that
// it keeps their low halves: two bytes a key instead of four.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "detector/core/host_api.h"
#include "host/kernel/sorted_search.h"

namespace kernel {

template <typename V>
class AddrIndex {
 public:
  static constexpr size_t kChunk = 512;

  const V *Find(ea_t ea) const {
    const size_t c = ChunkFor(ea);
    if (c == kNone || Page(firsts_[c]) != Page(ea)) return nullptr;
    const Chunk &ch = chunks_[c];
    const size_t i = LowerBound(ch.keys.data(), ch.keys.size(), Low(ea));
    if (i == ch.keys.size() || ch.keys[i] != Low(ea)) {
      if (ea >= firsts_[c]) miss_ = {ea, c, i};
      return nullptr;
    }
    return &ch.values[i];
  }
  V *Find(ea_t ea) {
    return const_cast<V *>(static_cast<const AddrIndex &>(*this).Find(ea));
  }

  /// The entry with the greatest address not above `ea`; false when none.
  bool Floor(ea_t ea, ea_t *key, V *value) const {
    size_t c = ChunkFor(ea);
    if (c == kNone || ea < firsts_[c]) return false;
    const Chunk &ch = chunks_[c];
    const size_t i = UpperIn(c, ea) - 1;  // keys[0] <= ea
    *key = KeyAt(c, i);
    *value = ch.values[i];
    return true;
  }

  /// The first entry above `ea`; false when none.
  bool Next(ea_t ea, ea_t *key) const {
    size_t c = ChunkFor(ea);
    if (c == kNone) c = 0;
    for (; c < chunks_.size(); ++c) {
      const size_t i = UpperIn(c, ea);
      if (i < chunks_[c].keys.size()) {
        *key = KeyAt(c, i);
        return true;
      }
    }
    return false;
  }

  void Set(ea_t ea, V value) { *Insert(ea) = std::move(value); }

  /// The value at `ea`, default-constructed when it was not there.
  V *Insert(ea_t ea) {
    // The usual insert: past the last entry of the chunk used last, which
    // has room and is the one whose range holds `ea`.
    if (const size_t h = hint_; h < chunks_.size()) {
      Chunk &ch = chunks_[h];
      if (Page(ea) == Page(firsts_[h]) && ch.keys.size() < kChunk &&
          Low(ea) > ch.keys.back() && (h + 1 == chunks_.size() || ea < firsts_[h + 1])) {
        miss_.chunk = kNone;
        Reserve(&ch);
        ch.keys.push_back(Low(ea));
        ch.values.push_back(V());
        ++size_;
        return &ch.values.back();
      }
    }
    size_t c;
    size_t i;
    if (miss_.chunk != kNone && miss_.ea == ea) {
      // Looked for just before and not found: its place is known.
      c = miss_.chunk;
      i = miss_.pos;
    } else {
      c = ChunkFor(ea);
      if (c == kNone) return Begin(0, ea);
      if (ea < firsts_[c]) {
        // Below every entry: the first chunk takes it when it is of the same
        // page and has room.
        if (Page(ea) != Page(firsts_[0]) || chunks_[0].keys.size() >= kChunk)
          return Begin(0, ea);
        c = 0;
      } else if (Page(ea) != Page(firsts_[c])) {
        return Begin(c + 1, ea);
      }
      i = LowerIn(c, ea);
    }
    Chunk *ch = &chunks_[c];
    if (i < ch->keys.size() && ch->keys[i] == Low(ea)) return &ch->values[i];
    miss_.chunk = kNone;
    if (ch->keys.size() >= kChunk) {
      // Past the end of the last chunk a new one is begun, so that an
      // in-order run fills its chunks; elsewhere the chunk is halved.
      if (c + 1 == chunks_.size() && i == ch->keys.size()) return Begin(c + 1, ea);
      const size_t keep = ch->keys.size() / 2;
      Chunk right;
      right.keys.assign(ch->keys.begin() + keep, ch->keys.end());
      right.values.assign(ch->values.begin() + keep, ch->values.end());
      ch->keys.resize(keep);
      ch->values.resize(keep);
      ch->keys.shrink_to_fit();
      ch->values.shrink_to_fit();
      const ea_t right_first = (firsts_[c] & kPageMask) | right.keys.front();
      chunks_.insert(chunks_.begin() + c + 1, std::move(right));
      firsts_.insert(firsts_.begin() + c + 1, right_first);
      if (ea >= right_first) {
        ++c;
        i -= keep;
      }
      ch = &chunks_[c];
    }
    Reserve(ch);
    ch->keys.insert(ch->keys.begin() + i, Low(ea));
    ch->values.insert(ch->values.begin() + i, V());
    if (i == 0) firsts_[c] = ea;
    ++size_;
    hint_ = c;
    return &ch->values[i];
  }

  /// Removes the entry at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    const size_t c = ChunkFor(ea);
    if (c == kNone || Page(firsts_[c]) != Page(ea)) return false;
    Chunk &ch = chunks_[c];
    const size_t i = LowerBound(ch.keys.data(), ch.keys.size(), Low(ea));
    if (i == ch.keys.size() || ch.keys[i] != Low(ea)) return false;
    miss_.chunk = kNone;
    ch.keys.erase(ch.keys.begin() + i);
    ch.values.erase(ch.values.begin() + i);
    --size_;
    if (ch.keys.empty()) {
      chunks_.erase(chunks_.begin() + c);
      firsts_.erase(firsts_.begin() + c);
      hint_ = 0;
    } else if (i == 0) {
      firsts_[c] = KeyAt(c, 0);
    }
    return true;
  }

  size_t size() const { return size_; }

  /// Visits every entry in address order.
  template <typename F>
  void ForEach(F &&visit) const {
    for (size_t c = 0; c < chunks_.size(); ++c)
      for (size_t i = 0; i < chunks_[c].keys.size(); ++i)
        visit(KeyAt(c, i), chunks_[c].values[i]);
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr ea_t kPageMask = 0xFFFF0000u;
  struct Chunk {
    std::vector<uint16_t> keys;  // low halves; the page is that of the first
    std::vector<V> values;
  };

  static ea_t Page(ea_t ea) { return ea & kPageMask; }
  static uint16_t Low(ea_t ea) { return static_cast<uint16_t>(ea); }
  ea_t KeyAt(size_t c, size_t i) const { return Page(firsts_[c]) | chunks_[c].keys[i]; }

  // The position in chunk `c` of the first key not below / above `ea`.
  size_t LowerIn(size_t c, ea_t ea) const {
    const Chunk &ch = chunks_[c];
    if (Page(firsts_[c]) != Page(ea))
      return Page(firsts_[c]) < Page(ea) ? ch.keys.size() : 0;
    return LowerBound(ch.keys.data(), ch.keys.size(), Low(ea));
  }
  size_t UpperIn(size_t c, ea_t ea) const {
    const Chunk &ch = chunks_[c];
    if (Page(firsts_[c]) != Page(ea))
      return Page(firsts_[c]) < Page(ea) ? ch.keys.size() : 0;
    return UpperBound(ch.keys.data(), ch.keys.size(), Low(ea));
  }

  static void Reserve(Chunk *ch) {
    if (ch->keys.size() < ch->keys.capacity()) return;
    // Grown by a quarter rather than doubled: the chunks are most of the
    // memory these maps take.
    const size_t cap = std::min(kChunk, ch->keys.size() + ch->keys.size() / 4 + 4);
    ch->keys.reserve(cap);
    ch->values.reserve(cap);
  }

  /// A new chunk at position `c` holding only `ea`; the caller has checked
  /// that it sorts there.
  V *Begin(size_t c, ea_t ea) {
    miss_.chunk = kNone;
    Chunk ch;
    if (c == chunks_.size() && c > 0) {
      // An in-order run is filling a new last chunk: it takes its whole room
      // at once, and the chunk it leaves gives back what it did not use.
      Chunk &done = chunks_[c - 1];
      done.keys.shrink_to_fit();
      done.values.shrink_to_fit();
      ch.keys.reserve(kChunk);
      ch.values.reserve(kChunk);
    } else {
      Reserve(&ch);
    }
    ch.keys.push_back(Low(ea));
    ch.values.push_back(V());
    chunks_.insert(chunks_.begin() + c, std::move(ch));
    firsts_.insert(firsts_.begin() + c, ea);
    ++size_;
    hint_ = c;
    return &chunks_[c].values[0];
  }

  // The chunk whose range holds `ea`: the last one starting at or below it,
  // or the first one when `ea` lies below every chunk; kNone when empty.
  size_t ChunkFor(ea_t ea) const {
    const size_t n = firsts_.size();
    if (n == 0) return kNone;
    const size_t h = hint_;
    if (h < n && firsts_[h] <= ea && (h + 1 == n || ea < firsts_[h + 1])) return h;
    const size_t above = UpperBound(firsts_.data(), n, ea);
    const size_t c = above == 0 ? 0 : above - 1;
    hint_ = c;
    return c;
  }

  std::vector<ea_t> firsts_;  // the whole first key of each chunk
  std::vector<Chunk> chunks_;
  size_t size_ = 0;
  mutable size_t hint_ = 0;
  // Where the last Find that missed would have found its address, kept
  // until the index changes: a name is looked up before it is given.
  struct Miss {
    ea_t ea = 0;
    size_t chunk = kNone;
    size_t pos = 0;
  };
  mutable Miss miss_;
};

}  // namespace kernel
