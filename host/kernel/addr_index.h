// A map from addresses to small values, kept sorted in chunks.
//
// The annotations of a program (comments, function ranges, cross-reference
// targets, names) arrive mostly in address order, as the plug-ins walk it,
// and run to millions. Sorted chunks of at most kChunk entries cost little
// more than the entries themselves, make the usual in-order insert an append
// to a chunk already in cache, and answer "the entry at or before" for the
// function ranges.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "detector/core/host_api.h"

namespace kernel {

template <typename V>
class AddrIndex {
 public:
  static constexpr size_t kChunk = 512;

  const V *Find(ea_t ea) const {
    const size_t c = ChunkFor(ea);
    if (c == kNone) return nullptr;
    const Chunk &ch = chunks_[c];
    auto it = std::lower_bound(ch.keys.begin(), ch.keys.end(), ea);
    if (it == ch.keys.end() || *it != ea) return nullptr;
    return &ch.values[static_cast<size_t>(it - ch.keys.begin())];
  }
  V *Find(ea_t ea) {
    return const_cast<V *>(static_cast<const AddrIndex &>(*this).Find(ea));
  }

  /// The entry with the greatest address not above `ea`; false when none.
  bool Floor(ea_t ea, ea_t *key, V *value) const {
    size_t c = ChunkFor(ea);
    if (c == kNone || ea < firsts_[c]) return false;
    const Chunk &ch = chunks_[c];
    auto it = std::upper_bound(ch.keys.begin(), ch.keys.end(), ea);
    const size_t i = static_cast<size_t>(it - ch.keys.begin()) - 1;  // keys[0] <= ea
    *key = ch.keys[i];
    *value = ch.values[i];
    return true;
  }

  /// The first entry above `ea`; false when none.
  bool Next(ea_t ea, ea_t *key) const {
    size_t c = ChunkFor(ea);
    if (c == kNone) c = 0;
    for (; c < chunks_.size(); ++c) {
      const Chunk &ch = chunks_[c];
      auto it = std::upper_bound(ch.keys.begin(), ch.keys.end(), ea);
      if (it != ch.keys.end()) {
        *key = *it;
        return true;
      }
    }
    return false;
  }

  void Set(ea_t ea, V value) { *Insert(ea) = std::move(value); }

  /// The value at `ea`, default-constructed when it was not there.
  V *Insert(ea_t ea) {
    if (chunks_.empty()) {
      chunks_.emplace_back();
      firsts_.push_back(ea);
    }
    size_t c = ChunkFor(ea);
    if (c == kNone || ea < firsts_[c]) c = 0;
    Chunk *ch = &chunks_[c];
    auto it = std::lower_bound(ch->keys.begin(), ch->keys.end(), ea);
    size_t i = static_cast<size_t>(it - ch->keys.begin());
    if (it != ch->keys.end() && *it == ea) return &ch->values[i];
    if (ch->keys.size() >= kChunk) {
      // Past the end of the last chunk a new one is begun, so that an
      // in-order run fills its chunks; elsewhere the chunk is halved.
      const bool append = c + 1 == chunks_.size() && i == ch->keys.size();
      const size_t keep = append ? ch->keys.size() : ch->keys.size() / 2;
      Chunk right;
      right.keys.assign(ch->keys.begin() + keep, ch->keys.end());
      right.values.assign(ch->values.begin() + keep, ch->values.end());
      ch->keys.resize(keep);
      ch->values.resize(keep);
      ch->keys.shrink_to_fit();
      ch->values.shrink_to_fit();
      const ea_t right_first = append ? ea : right.keys.front();
      chunks_.insert(chunks_.begin() + c + 1, std::move(right));
      firsts_.insert(firsts_.begin() + c + 1, right_first);
      if (ea >= right_first) {
        ++c;
        i -= keep;
      }
      ch = &chunks_[c];
    }
    if (ch->keys.size() == ch->keys.capacity()) {
      // Grown by a quarter rather than doubled: the chunks are most of the
      // memory these maps take.
      const size_t cap = std::min(kChunk, ch->keys.size() + ch->keys.size() / 4 + 4);
      ch->keys.reserve(cap);
      ch->values.reserve(cap);
    }
    ch->keys.insert(ch->keys.begin() + i, ea);
    ch->values.insert(ch->values.begin() + i, V());
    if (i == 0) firsts_[c] = ea;
    ++size_;
    hint_ = c;
    return &ch->values[i];
  }

  /// Removes the entry at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    const size_t c = ChunkFor(ea);
    if (c == kNone) return false;
    Chunk &ch = chunks_[c];
    auto it = std::lower_bound(ch.keys.begin(), ch.keys.end(), ea);
    if (it == ch.keys.end() || *it != ea) return false;
    const size_t i = static_cast<size_t>(it - ch.keys.begin());
    ch.keys.erase(it);
    ch.values.erase(ch.values.begin() + i);
    --size_;
    if (ch.keys.empty()) {
      chunks_.erase(chunks_.begin() + c);
      firsts_.erase(firsts_.begin() + c);
      hint_ = 0;
    } else if (i == 0) {
      firsts_[c] = ch.keys.front();
    }
    return true;
  }

  size_t size() const { return size_; }

  /// Visits every entry in address order.
  template <typename F>
  void ForEach(F &&visit) const {
    for (const Chunk &ch : chunks_)
      for (size_t i = 0; i < ch.keys.size(); ++i) visit(ch.keys[i], ch.values[i]);
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  struct Chunk {
    std::vector<ea_t> keys;
    std::vector<V> values;
  };

  // The chunk whose range holds `ea`: the last one starting at or below it,
  // or the first one when `ea` lies below every chunk; kNone when empty.
  size_t ChunkFor(ea_t ea) const {
    const size_t n = firsts_.size();
    if (n == 0) return kNone;
    const size_t h = hint_;
    if (h < n && firsts_[h] <= ea && (h + 1 == n || ea < firsts_[h + 1])) return h;
    auto it = std::upper_bound(firsts_.begin(), firsts_.end(), ea);
    const size_t c =
        it == firsts_.begin() ? 0 : static_cast<size_t>(it - firsts_.begin()) - 1;
    hint_ = c;
    return c;
  }

  std::vector<ea_t> firsts_;  // first key of each chunk
  std::vector<Chunk> chunks_;
  size_t size_ = 0;
  mutable size_t hint_ = 0;
};

}  // namespace kernel
