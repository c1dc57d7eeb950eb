// A map from addresses to bytes, for entries that lie a few bytes apart.
//
// A detector run comments millions of record fields, one every ten or so
// bytes of the program, each with the byte that names its text. AddrIndex
// keeps two bytes of address beside each value; here a chunk keeps its first
// and last addresses whole and, before each value, the distance from the
// entry before it in one byte: two bytes an entry. An entry farther than 255
// bytes from its neighbour begins a chunk of its own. A look-up walks the
// distances of its chunk from the nearer end, at most kChunk / 2 of them:
// these entries are written far more often than they are read, and nearly
// always after the last one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "detector/core/host_api.h"

namespace kernel {

class DeltaIndex {
 public:
  static constexpr size_t kChunk = 256;

  const uint8_t *Find(ea_t ea) const {
    const size_t c = ChunkFor(ea);
    if (c == kNone || ea > chunks_[c].last) return nullptr;
    const Chunk &ch = chunks_[c];
    ea_t key;
    const size_t i = Position(ch, ea, &key);
    return key == ea ? &ch.bytes[i + 1] : nullptr;
  }

  void Set(ea_t ea, uint8_t value) {
    size_t c = ChunkFor(ea);
    if (c == kNone) {
      // Below every entry: the first chunk takes it when it is near.
      if (!chunks_.empty() && Prepend(0, ea, value)) return;
      Begin(0, ea, value);
      return;
    }
    Chunk *ch = &chunks_[c];
    if (ea > ch->last) {
      // The usual case: past the last entry of its chunk.
      if (ea - ch->last <= kMaxGap && Entries(*ch) < kChunk) {
        Reserve(ch, c);
        ch->bytes.push_back(static_cast<uint8_t>(ea - ch->last));
        ch->bytes.push_back(value);
        ch->last = ea;
        ++size_;
        return;
      }
      if (c + 1 < chunks_.size() && Prepend(c + 1, ea, value)) return;
      Begin(c + 1, ea, value);
      return;
    }
    ea_t key;
    const size_t i = Position(*ch, ea, &key);
    if (key == ea) {
      ch->bytes[i + 1] = value;
      return;
    }
    if (Entries(*ch) >= kChunk) {
      Split(c);
      Set(ea, value);
      return;
    }
    // ea lies between the entry before i and entry i, so both distances are
    // shorter than the one they replace.
    Reserve(ch, c);
    const auto after = static_cast<uint8_t>(key - ea);
    const auto before = static_cast<uint8_t>(ch->bytes[i] - after);
    ch->bytes[i] = after;
    const uint8_t entry[2] = {before, value};
    ch->bytes.insert(ch->bytes.begin() + static_cast<ptrdiff_t>(i), entry, entry + 2);
    ++size_;
  }

  /// Removes the entry at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    const size_t c = ChunkFor(ea);
    if (c == kNone || ea > chunks_[c].last) return false;
    Chunk &ch = chunks_[c];
    ea_t key;
    const size_t i = Position(ch, ea, &key);
    if (key != ea) return false;
    --size_;
    const size_t n = ch.bytes.size();
    if (n == 2) {
      chunks_.erase(chunks_.begin() + static_cast<ptrdiff_t>(c));
      hint_ = 0;
      return true;
    }
    if (i == 0) {
      ch.first += ch.bytes[2];
      ch.bytes[2] = 0;
    } else if (i + 2 == n) {
      ch.last = ea - ch.bytes[i];
    } else if (ch.bytes[i] + ch.bytes[i + 2] > kMaxGap) {
      // The entries on either side are too far apart for one chunk.
      Chunk right;
      right.first = ea + ch.bytes[i + 2];
      right.last = ch.last;
      right.bytes.assign(ch.bytes.begin() + static_cast<ptrdiff_t>(i + 2),
                         ch.bytes.end());
      right.bytes[0] = 0;
      ch.last = ea - ch.bytes[i];
      ch.bytes.resize(i);
      ch.bytes.shrink_to_fit();
      chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c + 1), std::move(right));
      return true;
    } else {
      ch.bytes[i + 2] = static_cast<uint8_t>(ch.bytes[i] + ch.bytes[i + 2]);
    }
    ch.bytes.erase(ch.bytes.begin() + static_cast<ptrdiff_t>(i),
                   ch.bytes.begin() + static_cast<ptrdiff_t>(i + 2));
    return true;
  }

  size_t size() const { return size_; }

  /// Visits every entry in address order.
  template <typename F>
  void ForEach(F &&visit) const {
    for (const Chunk &ch : chunks_) {
      ea_t key = ch.first;
      for (size_t i = 0; i < ch.bytes.size(); i += 2) {
        key += ch.bytes[i];
        visit(key, ch.bytes[i + 1]);
      }
    }
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr ea_t kMaxGap = 0xFF;
  struct Chunk {
    ea_t first = 0;
    ea_t last = 0;
    // Per entry, the distance from the one before (0 for the first) and
    // the value.
    std::vector<uint8_t> bytes;
  };

  static size_t Entries(const Chunk &ch) { return ch.bytes.size() / 2; }

  /// Where in `ch` the first entry not below `ea` is, `ea` lying between
  /// the chunk's first and last addresses; its address in *key. The walk
  /// starts at the nearer end: an entry made out of order is mostly near
  /// the last one.
  static size_t Position(const Chunk &ch, ea_t ea, ea_t *key) {
    size_t i = 0;
    ea_t k = ch.first;
    if (ea - ch.first <= ch.last - ea) {
      while (k < ea) {
        i += 2;
        k += ch.bytes[i];
      }
    } else {
      i = ch.bytes.size() - 2;
      k = ch.last;
      while (i > 0 && k - ch.bytes[i] >= ea) {
        k -= ch.bytes[i];
        i -= 2;
      }
    }
    *key = k;
    return i;
  }

  /// Room for one more entry in chunk `c`: the last chunk, which an
  /// in-order run fills, takes its whole room at once; the others grow by
  /// a quarter.
  void Reserve(Chunk *ch, size_t c) {
    if (ch->bytes.size() < ch->bytes.capacity()) return;
    const size_t n = c + 1 == chunks_.size()
                         ? kChunk
                         : std::min(kChunk, Entries(*ch) + Entries(*ch) / 4 + 2);
    ch->bytes.reserve(2 * n);
  }

  /// Puts `ea`, which lies below chunk `c`, first in it when it is near
  /// enough and the chunk has room; false otherwise.
  bool Prepend(size_t c, ea_t ea, uint8_t value) {
    Chunk &ch = chunks_[c];
    if (ch.first - ea > kMaxGap || Entries(ch) >= kChunk) return false;
    Reserve(&ch, c);
    ch.bytes[0] = static_cast<uint8_t>(ch.first - ea);
    const uint8_t entry[2] = {0, value};
    ch.bytes.insert(ch.bytes.begin(), entry, entry + 2);
    ch.first = ea;
    ++size_;
    hint_ = c;
    return true;
  }

  /// A new chunk at position `c` holding only `ea`.
  void Begin(size_t c, ea_t ea, uint8_t value) {
    if (c == chunks_.size() && c > 0) chunks_[c - 1].bytes.shrink_to_fit();
    Chunk ch;
    ch.first = ch.last = ea;
    ch.bytes.reserve(c == chunks_.size() ? 2 * kChunk : 8);
    ch.bytes.push_back(0);
    ch.bytes.push_back(value);
    chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c), std::move(ch));
    ++size_;
    hint_ = c;
  }

  /// Halves the full chunk `c`.
  void Split(size_t c) {
    Chunk &ch = chunks_[c];
    const size_t keep = Entries(ch) / 2 * 2;  // bytes of the entries kept
    ea_t key = ch.first;
    for (size_t i = 0; i <= keep; i += 2) key += ch.bytes[i];
    Chunk right;
    right.first = key;
    right.last = ch.last;
    right.bytes.assign(ch.bytes.begin() + static_cast<ptrdiff_t>(keep), ch.bytes.end());
    right.bytes[0] = 0;
    ch.last = key - ch.bytes[keep];
    ch.bytes.resize(keep);
    ch.bytes.shrink_to_fit();
    chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c + 1), std::move(right));
  }

  // The chunk whose range holds `ea`: the last one starting at or below it;
  // kNone when there is none.
  size_t ChunkFor(ea_t ea) const {
    const size_t n = chunks_.size();
    const size_t h = hint_;
    if (h < n && chunks_[h].first <= ea && (h + 1 == n || ea < chunks_[h + 1].first))
      return h;
    const auto above =
        std::upper_bound(chunks_.begin(), chunks_.end(), ea,
                         [](ea_t a, const Chunk &ch) { return a < ch.first; });
    if (above == chunks_.begin()) return kNone;
    hint_ = static_cast<size_t>(above - chunks_.begin()) - 1;
    return hint_;
  }

  std::vector<Chunk> chunks_;
  size_t size_ = 0;
  mutable size_t hint_ = 0;
};

}  // namespace kernel
