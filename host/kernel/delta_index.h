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
//
// A chunk is closed when kOpenChunks others have been written since it
// was: its pairs are coded as phrases (host/kernel/pair_phrases.h), two
// bytes a phrase after a mark byte (a plain chunk's first byte, the
// distance before its first entry, is 0). A record layout's fields, the
// same texts at the same distances in every record, become one phrase, so
// a closed chunk takes a small part of its plain size. A change inside a
// closed chunk opens it again first: a run writes in a few places at a
// time, mostly past the last entry.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "detector/core/host_api.h"
#include "host/kernel/byte_row.h"
#include "host/kernel/pair_phrases.h"

namespace kernel {

class DeltaIndex {
 public:
  static constexpr size_t kChunk = 256;

  /// Smaller phrase tables than PairPhrases's for tests.
  explicit DeltaIndex(size_t most_phrases = PairPhrases::kMostPhrases,
                      size_t most_longer = PairPhrases::kMostLonger)
      : phrases_(most_phrases, most_longer) {}

  /// The value at `ea`, or nullptr; good until the index next changes.
  const uint8_t *Find(ea_t ea) const {
    const size_t c = ChunkFor(ea);
    if (c == kNone || ea > chunks_[c].last) return nullptr;
    const Chunk &ch = chunks_[c];
    if (Closed(ch)) return FindClosed(ch, ea);
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
        Open(ch);
        Reserve(ch, c);
        ch->bytes.push_back(static_cast<uint8_t>(ea - ch->last));
        ch->bytes.push_back(value);
        ch->last = ea;
        ++size_;
        Wrote(c, ea);
        return;
      }
      if (c + 1 < chunks_.size() && Prepend(c + 1, ea, value)) return;
      Begin(c + 1, ea, value);
      return;
    }
    if (Closed(*ch)) {
      // The same value set again leaves the chunk closed.
      if (const uint8_t *old = FindClosed(*ch, ea); old != nullptr && *old == value)
        return;
      Open(ch);
    }
    ea_t key;
    const size_t i = Position(*ch, ea, &key);
    if (key == ea) {
      ch->bytes[i + 1] = value;
      Wrote(c, ea);
      return;
    }
    if (Entries(*ch) >= kChunk) {
      Split(c);
      const ea_t left = chunks_[c].first;
      const ea_t right = chunks_[c + 1].first;
      Set(ea, value);
      // The half not written is closed, as it was before.
      Close(ChunkFor(ea < right ? right : left));
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
    Wrote(c, ea);
  }

  /// Removes the entry at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    const size_t c = ChunkFor(ea);
    if (c == kNone || ea > chunks_[c].last) return false;
    Chunk &ch = chunks_[c];
    if (Closed(ch)) {
      if (FindClosed(ch, ea) == nullptr) return false;
      Open(&ch);
    }
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
      InsertChunk(c + 1, std::move(right));
      Close(c + 1);
      Wrote(c, chunks_[c].first);
      return true;
    } else {
      ch.bytes[i + 2] = static_cast<uint8_t>(ch.bytes[i] + ch.bytes[i + 2]);
    }
    ch.bytes.erase(ch.bytes.begin() + static_cast<ptrdiff_t>(i),
                   ch.bytes.begin() + static_cast<ptrdiff_t>(i + 2));
    Wrote(c, ch.first);
    return true;
  }

  size_t size() const { return size_; }

  /// Visits every entry in address order.
  template <typename F>
  void ForEach(F &&visit) const {
    for (const Chunk &ch : chunks_) {
      ea_t key = ch.first;
      ForEachPair(ch, [&](uint8_t distance, uint8_t value) {
        key += distance;
        visit(key, value);
      });
    }
  }

  /// The phrases learnt so far, for tests.
  size_t PhraseCount() const { return phrases_.size(); }
  size_t PairCount() const { return phrases_.pairs(); }
  /// The chunks that are closed, for tests.
  size_t ClosedChunks() const {
    return static_cast<size_t>(std::count_if(chunks_.begin(), chunks_.end(),
                                             [](const Chunk &ch) { return Closed(ch); }));
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr ea_t kMaxGap = 0xFF;
  struct Chunk {
    ea_t first = 0;
    ea_t last = 0;
    // Per entry, the distance from the one before (0 for the first) and
    // the value.
    ByteRow bytes;
  };

  static constexpr uint8_t kClosedMark = 1;

  static bool Closed(const Chunk &ch) { return ch.bytes[0] != 0; }
  size_t Entries(const Chunk &ch) const {
    if (!Closed(ch)) return ch.bytes.size() / 2;
    size_t n = 0;
    for (size_t i = 1; i < ch.bytes.size(); i += 2)
      for (uint16_t code = CodeAt(ch, i); code != PairPhrases::kNone;
           code = phrases_[code].prefix)
        ++n;
    return n;
  }
  static uint16_t CodeAt(const Chunk &ch, size_t i) {
    return static_cast<uint16_t>(ch.bytes[i] | ch.bytes[i + 1] << 8);
  }

  /// Calls visit(distance, value) for each entry of `ch`, in order.
  template <typename F>
  void ForEachPair(const Chunk &ch, F &&visit) const {
    if (!Closed(ch)) {
      for (size_t i = 0; i < ch.bytes.size(); i += 2) visit(ch.bytes[i], ch.bytes[i + 1]);
      return;
    }
    uint16_t chain[kChunk];
    for (size_t i = 1; i < ch.bytes.size(); i += 2) {
      // A phrase is kept from its end: its pairs are put in order first.
      size_t n = 0;
      for (uint16_t code = CodeAt(ch, i); code != PairPhrases::kNone;
           code = phrases_[code].prefix)
        chain[n++] = code;
      while (n > 0) {
        const PairPhrases::Phrase &p = phrases_[chain[--n]];
        visit(p.distance, p.value);
      }
    }
  }

  /// Find in a closed chunk: whole phrases are passed by their span, and
  /// the one that reaches `ea` is walked back from its end.
  const uint8_t *FindClosed(const Chunk &ch, ea_t ea) const {
    ea_t before = ch.first;  // the first entry's distance is 0
    for (size_t i = 1; i < ch.bytes.size(); i += 2) {
      uint16_t code = CodeAt(ch, i);
      const ea_t end = before + phrases_[code].span;
      if (end < ea) {
        before = end;
        continue;
      }
      for (ea_t key = end; key >= ea; code = phrases_[code].prefix) {
        const PairPhrases::Phrase &p = phrases_[code];
        if (key == ea) return &p.value;
        if (p.prefix == PairPhrases::kNone) break;
        key -= p.distance;
      }
      return nullptr;
    }
    return nullptr;
  }

  /// Notes that chunk `c` was written at `ea`, and closes the chunk written
  /// longest ago when more than kOpenChunks have been. Only a guess: any
  /// plain chunk may be closed, and a chunk may be left plain.
  void Wrote(size_t c, ea_t ea) {
    const Chunk &ch = chunks_[c];
    size_t k = 0;
    while (k < open_count_ && (open_[k] < ch.first || open_[k] > ch.last)) ++k;
    if (k == open_count_) {
      if (open_count_ < kOpenChunks) {
        ++open_count_;
      } else {
        --k;
        const size_t oldest = ChunkFor(open_[k]);
        if (oldest != kNone && oldest != c) Close(oldest);
        hint_ = c;
      }
    }
    for (; k > 0; --k) open_[k] = open_[k - 1];
    open_[0] = ea;
  }

  /// Makes the closed chunk `ch` plain again, with room for one more entry.
  void Open(Chunk *ch) {
    if (!Closed(*ch)) return;
    ByteRow plain;
    plain.reserve(2 * Entries(*ch) + 2);
    ForEachPair(*ch, [&](uint8_t distance, uint8_t value) {
      plain.push_back(distance);
      plain.push_back(value);
    });
    ch->bytes.swap(plain);
  }

  /// Codes the plain chunk `c` as phrases, learning new ones on the way;
  /// leaves it plain, at its own size, when the table is full or the
  /// phrases would not be smaller.
  void Close(size_t c) {
    if (c >= chunks_.size() || Closed(chunks_[c])) return;
    Chunk &ch = chunks_[c];
    const ByteRow &b = ch.bytes;
    coded_.clear();
    coded_.push_back(kClosedMark);
    for (size_t i = 0; i < b.size();) {
      uint16_t code = phrases_.Find(PairPhrases::kNone, b[i], b[i + 1]);
      if (code == PairPhrases::kNone)
        code = phrases_.Add(PairPhrases::kNone, b[i], b[i + 1]);
      if (code == PairPhrases::kNone) {
        ch.bytes.shrink_to_fit();
        return;
      }
      // The longest known phrase from here, and the next longer one learnt.
      for (i += 2; i < b.size(); i += 2) {
        const uint16_t longer = phrases_.Find(code, b[i], b[i + 1]);
        if (longer == PairPhrases::kNone) {
          phrases_.Add(code, b[i], b[i + 1]);
          break;
        }
        code = longer;
      }
      coded_.push_back(static_cast<uint8_t>(code));
      coded_.push_back(static_cast<uint8_t>(code >> 8));
    }
    if (coded_.size() >= b.size()) {
      ch.bytes.shrink_to_fit();
      return;
    }
    ByteRow(coded_.data(), coded_.data() + coded_.size()).swap(ch.bytes);
  }

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
    Open(&ch);
    Reserve(&ch, c);
    ch.bytes[0] = static_cast<uint8_t>(ch.first - ea);
    const uint8_t entry[2] = {0, value};
    ch.bytes.insert(ch.bytes.begin(), entry, entry + 2);
    ch.first = ea;
    ++size_;
    hint_ = c;
    Wrote(c, ea);
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
    InsertChunk(c, std::move(ch));
    ++size_;
    hint_ = c;
    Wrote(c, ea);
  }

  /// Puts `ch` at position `c`. The records grow by an eighth, not double:
  /// a run leaves tens of thousands of them, a few dozen bytes each.
  void InsertChunk(size_t c, Chunk &&ch) {
    if (chunks_.size() == chunks_.capacity())
      chunks_.reserve(chunks_.size() + chunks_.size() / 8 + 16);
    chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c), std::move(ch));
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
    InsertChunk(c + 1, std::move(right));
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
  PairPhrases phrases_;
  std::vector<uint8_t> coded_;  // Close's buffer, kept from one chunk to the next
  // An address in each chunk written lately, the latest first.
  static constexpr size_t kOpenChunks = 4;
  ea_t open_[kOpenChunks] = {};
  size_t open_count_ = 0;
};

}  // namespace kernel
