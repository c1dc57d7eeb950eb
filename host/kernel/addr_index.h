// A map from addresses to small values, kept sorted in chunks.
//
// The annotations of a program (comments, function ranges, cross-reference
// targets, names) arrive mostly in address order, as the plug-ins walk it,
// and run to millions. Sorted chunks of at most kChunk entries cost little
// more than the entries themselves, make the usual in-order insert an append
// to a chunk already in cache, and answer "the entry at or before" for the
// function ranges. A chunk holds addresses of one 64 KB page only, so that
// it keeps their low halves: two bytes a key instead of four. A chunk is
// one heap block (its count and room, the keys, then the values), so that
// an index of a few hundred entries a chunk pays a pointer and one block's
// header for each, not two vectors and their two blocks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "detector/core/host_api.h"
#include "host/kernel/sorted_search.h"

namespace kernel {

template <typename V>
class AddrIndex {
  static_assert(std::is_trivially_copyable_v<V> &&
                    alignof(V) <= alignof(std::max_align_t),
                "values are moved as bytes");

 public:
  static constexpr size_t kChunk = 512;

  const V *Find(ea_t ea) const {
    const size_t c = ChunkFor(ea);
    if (c == kNone || Page(firsts_[c]) != Page(ea)) return nullptr;
    Header *ch = chunks_[c].get();
    const size_t i = LowerBound(Keys(ch), ch->size, Low(ea));
    if (i == ch->size || Keys(ch)[i] != Low(ea)) {
      if (ea >= firsts_[c]) miss_ = {ea, c, i};
      return nullptr;
    }
    return &Values(ch)[i];
  }
  V *Find(ea_t ea) {
    return const_cast<V *>(static_cast<const AddrIndex &>(*this).Find(ea));
  }

  /// The entry with the greatest address not above `ea`; false when none.
  bool Floor(ea_t ea, ea_t *key, V *value) const {
    size_t c = ChunkFor(ea);
    if (c == kNone || ea < firsts_[c]) return false;
    const size_t i = UpperIn(c, ea) - 1;  // keys[0] <= ea
    *key = KeyAt(c, i);
    *value = Values(chunks_[c].get())[i];
    return true;
  }

  /// The first entry above `ea`; false when none.
  bool Next(ea_t ea, ea_t *key) const {
    size_t c = ChunkFor(ea);
    if (c == kNone) c = 0;
    for (; c < chunks_.size(); ++c) {
      const size_t i = UpperIn(c, ea);
      if (i < chunks_[c]->size) {
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
      Header *ch = chunks_[h].get();
      if (Page(ea) == Page(firsts_[h]) && ch->size < kChunk &&
          Low(ea) > Keys(ch)[ch->size - 1] &&
          (h + 1 == chunks_.size() || ea < firsts_[h + 1])) {
        miss_.chunk = kNone;
        ch = Reserve(h);
        ++size_;
        return Put(ch, ch->size, Low(ea));
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
        if (Page(ea) != Page(firsts_[0]) || chunks_[0]->size >= kChunk)
          return Begin(0, ea);
        c = 0;
      } else if (Page(ea) != Page(firsts_[c])) {
        return Begin(c + 1, ea);
      }
      i = LowerIn(c, ea);
    }
    Header *ch = chunks_[c].get();
    if (i < ch->size && Keys(ch)[i] == Low(ea)) return &Values(ch)[i];
    miss_.chunk = kNone;
    if (ch->size >= kChunk) {
      // Past the end of the last chunk a new one is begun, so that an
      // in-order run fills its chunks; elsewhere the chunk is halved.
      if (c + 1 == chunks_.size() && i == ch->size) return Begin(c + 1, ea);
      const size_t keep = ch->size / 2;
      const size_t moved = ch->size - keep;
      Block right = Make(moved);
      std::memcpy(Keys(right.get()), Keys(ch) + keep, moved * sizeof(uint16_t));
      std::memcpy(Values(right.get()), Values(ch) + keep, moved * sizeof(V));
      right->size = static_cast<uint16_t>(moved);
      ch->size = static_cast<uint16_t>(keep);
      Resize(&chunks_[c], keep);
      const ea_t right_first = (firsts_[c] & kPageMask) | Keys(right.get())[0];
      chunks_.insert(chunks_.begin() + c + 1, std::move(right));
      firsts_.insert(firsts_.begin() + c + 1, right_first);
      if (ea >= right_first) {
        ++c;
        i -= keep;
      }
    }
    ch = Reserve(c);
    if (i == 0) firsts_[c] = ea;
    ++size_;
    hint_ = c;
    return Put(ch, i, Low(ea));
  }

  /// Removes the entry at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    const size_t c = ChunkFor(ea);
    if (c == kNone || Page(firsts_[c]) != Page(ea)) return false;
    Header *ch = chunks_[c].get();
    const size_t i = LowerBound(Keys(ch), ch->size, Low(ea));
    if (i == ch->size || Keys(ch)[i] != Low(ea)) return false;
    miss_.chunk = kNone;
    const size_t after = ch->size - i - 1;
    std::memmove(Keys(ch) + i, Keys(ch) + i + 1, after * sizeof(uint16_t));
    std::memmove(Values(ch) + i, Values(ch) + i + 1, after * sizeof(V));
    --ch->size;
    --size_;
    if (ch->size == 0) {
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
    for (size_t c = 0; c < chunks_.size(); ++c) {
      const Header *ch = chunks_[c].get();
      for (size_t i = 0; i < ch->size; ++i) visit(KeyAt(c, i), Values(ch)[i]);
    }
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr ea_t kPageMask = 0xFFFF0000u;

  // The start of a chunk's block; the low halves of its keys follow (the
  // page is that of the chunk's first), then its values.
  struct Header {
    uint16_t size;
    uint16_t room;
  };
  struct Free {
    void operator()(Header *h) const { std::free(h); }
  };
  using Block = std::unique_ptr<Header, Free>;

  static size_t ValuesAt(size_t room) {
    const size_t keys_end = sizeof(Header) + room * sizeof(uint16_t);
    return (keys_end + alignof(V) - 1) / alignof(V) * alignof(V);
  }
  static uint16_t *Keys(const Header *h) {
    return reinterpret_cast<uint16_t *>(const_cast<Header *>(h) + 1);
  }
  static V *Values(const Header *h) {
    return reinterpret_cast<V *>(reinterpret_cast<char *>(const_cast<Header *>(h)) +
                                 ValuesAt(h->room));
  }

  /// An empty chunk with room for `room` entries.
  static Block Make(size_t room) {
    void *p = std::malloc(ValuesAt(room) + room * sizeof(V));
    if (p == nullptr) throw std::bad_alloc();
    Block b(static_cast<Header *>(p));
    b->size = 0;
    b->room = static_cast<uint16_t>(room);
    return b;
  }
  /// Gives the chunk in `*b` room for `room` entries, at least its size.
  static void Resize(Block *b, size_t room) {
    const Header *h = b->get();
    if (room == h->room) return;
    // A new block rather than realloc: a block shrunk in place leaves a
    // sliver the next chunk's whole room does not fit in, where a freed one
    // of that room is taken again at once.
    Block grown = Make(room);
    grown->size = h->size;
    std::memcpy(Keys(grown.get()), Keys(h), h->size * sizeof(uint16_t));
    std::memcpy(Values(grown.get()), Values(h), h->size * sizeof(V));
    *b = std::move(grown);
  }
  /// Puts `low` at position `i` of `ch`, which has room, with a default value.
  static V *Put(Header *ch, size_t i, uint16_t low) {
    const size_t after = ch->size - i;
    std::memmove(Keys(ch) + i + 1, Keys(ch) + i, after * sizeof(uint16_t));
    std::memmove(Values(ch) + i + 1, Values(ch) + i, after * sizeof(V));
    Keys(ch)[i] = low;
    Values(ch)[i] = V();
    ++ch->size;
    return &Values(ch)[i];
  }

  static ea_t Page(ea_t ea) { return ea & kPageMask; }
  static uint16_t Low(ea_t ea) { return static_cast<uint16_t>(ea); }
  ea_t KeyAt(size_t c, size_t i) const {
    return Page(firsts_[c]) | Keys(chunks_[c].get())[i];
  }

  // The position in chunk `c` of the first key not below / above `ea`.
  size_t LowerIn(size_t c, ea_t ea) const {
    const Header *ch = chunks_[c].get();
    if (Page(firsts_[c]) != Page(ea)) return Page(firsts_[c]) < Page(ea) ? ch->size : 0;
    return LowerBound(Keys(ch), ch->size, Low(ea));
  }
  size_t UpperIn(size_t c, ea_t ea) const {
    const Header *ch = chunks_[c].get();
    if (Page(firsts_[c]) != Page(ea)) return Page(firsts_[c]) < Page(ea) ? ch->size : 0;
    return UpperBound(Keys(ch), ch->size, Low(ea));
  }

  /// Room for one more entry in chunk `c`, which holds fewer than kChunk.
  Header *Reserve(size_t c) {
    Header *ch = chunks_[c].get();
    if (ch->size < ch->room) return ch;
    // Grown by an eighth rather than doubled: the chunks are most of the
    // memory these maps take, and a move costs a copy of a few hundred
    // entries already in cache.
    Resize(&chunks_[c], std::min(kChunk, size_t{ch->size} + ch->size / 8 + 4));
    return chunks_[c].get();
  }

  /// A new chunk at position `c` holding only `ea`; the caller has checked
  /// that it sorts there.
  V *Begin(size_t c, ea_t ea) {
    miss_.chunk = kNone;
    size_t room = 4;
    if (c == chunks_.size() && c > 0) {
      // An in-order run is filling a new last chunk: it takes its whole room
      // at once, and the chunk it leaves gives back what it did not use.
      Resize(&chunks_[c - 1], chunks_[c - 1]->size);
      room = kChunk;
    }
    chunks_.insert(chunks_.begin() + c, Make(room));
    firsts_.insert(firsts_.begin() + c, ea);
    ++size_;
    hint_ = c;
    return Put(chunks_[c].get(), 0, Low(ea));
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
  std::vector<Block> chunks_;
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
