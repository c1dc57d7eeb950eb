#include "host/kernel/name_table.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <utility>

namespace kernel {

// Eight bytes at a time, each mixed by a multiplication, the last few as an
// overlapping word: names are short, and rebuilding the slots hashes every
// name again.
size_t NameTable::Hash(std::string_view name) {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15u;
  const char *p = name.data();
  size_t n = name.size();
  uint64_t h = (n + 1) * kMul;
  const auto mix = [&](uint64_t w) {
    h = (h ^ w) * kMul;
    h ^= h >> 32;
  };
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    mix(w);
  }
  if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    mix(uint64_t{a} << 32 | b);
  } else if (n > 0) {
    mix(uint64_t{static_cast<unsigned char>(p[0])} << 16 |
        uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 |
        static_cast<unsigned char>(p[n - 1]));
  }
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9u;
  return h ^ h >> 32;
}

std::string_view NameTable::NameAt(ea_t ea) const {
  uint32_t at;
  return by_ea_.Find(ea, &at) ? TextAt(at) : std::string_view();
}

bool NameTable::Find(std::string_view name, size_t hash) const {
  if (slots_.empty()) return false;
  const uint32_t tag = Tag(hash);
  for (size_t i = Home(hash); slots_[i] != 0; i = Next(i))
    if ((slots_[i] & ~at_mask_) == tag && Matches(RecordOf(slots_[i]), 0, name, true))
      return true;
  return false;
}

void NameTable::Reslot(size_t n) {
  // The old slots go first: their entries are made again from the records.
  if (n != slots_.size()) std::vector<uint32_t>().swap(slots_);
  slots_.assign(n, 0);
  // The arena grows with the names, about as fast as the slots: room for
  // twice its size now seldom makes the slots be written again before
  // they grow.
  const uint64_t arena = uint64_t{blocks_.size() + 1} * kBlock;
  const auto bits = std::min<uint64_t>(32, std::bit_width(2 * arena));
  at_mask_ = static_cast<uint32_t>((uint64_t{1} << bits) - 1);
  // Each slot is a cache miss in a large table, and so is each record in a
  // large arena: a record is fetched a few records before it is read, the
  // slot of a record while the next few are hashed, and filled that many
  // records later, in the same order as without the waits.
  constexpr size_t kAhead = 16;
  constexpr size_t kRead = 8;
  struct Waiting {
    uint32_t at;
    size_t hash;
  } waiting[kAhead];
  size_t count = 0;
  const auto hash = [&](uint32_t at) {
    const size_t h = Hash(TextAt(at));
    Prefetch(h);
    Waiting &w = waiting[count++ % kAhead];
    if (count > kAhead) InsertSlot(w.at, w.hash);
    w = {at, h};
  };
  uint32_t reading[kRead];
  size_t read = 0;
  by_ea_.ForEach([&](ea_t, uint32_t at) {
    Fetch(RecordAt(at));
    uint32_t &r = reading[read++ % kRead];
    if (read > kRead) hash(r);
    r = at;
  });
  for (size_t k = read > kRead ? read - kRead : 0; k < read; ++k)
    hash(reading[k % kRead]);
  for (size_t k = count > kAhead ? count - kAhead : 0; k < count; ++k)
    InsertSlot(waiting[k % kAhead].at, waiting[k % kAhead].hash);
}

uint32_t NameTable::Allocate(size_t n) {
  if (blocks_.empty() || used_ + n > kBlock) {
    // Left uninitialised: each byte is written before it is read, and a
    // block's untouched pages cost no memory (a fresh database names few
    // addresses, a fuzzed one per input).
    blocks_.push_back(std::unique_ptr<char[]>(new char[kBlock]));
    used_ = 0;
  }
  const auto at = static_cast<uint32_t>((blocks_.size() - 1) * kBlock + used_);
  used_ += static_cast<uint32_t>(n);
  return at;
}

void NameTable::WriteWhole(unsigned char *to, std::string_view name) {
  if (name.size() < 0x80) {
    *to++ = static_cast<unsigned char>(name.size());
  } else {
    *to++ = static_cast<unsigned char>(0x80 | name.size() >> 8);
    *to++ = static_cast<unsigned char>(name.size());
  }
  std::memcpy(to, name.data(), name.size());
}

size_t NameTable::LengthAt(uint32_t at) const {
  size_t length = 0;
  for (;;) {
    const unsigned char *r = RecordAt(at);
    if (r[0] != kEnding) {
      const Head head = HeadOf(r);
      return length + head.shared + head.rest + head.copied;
    }
    length += WholeText(r + 2).size();
    at -= r[1];
  }
}

// Each record of the chain puts its rest (and copied end) after the beginning
// it shares, and an ending its beginning before the name it ends with, as far
// as that part of the name is not put yet: the part left is the name's
// [lo, hi). The name's length is known at the first record that is not an
// ending.
std::string_view NameTable::SharedText(uint32_t at) const {
  if (text_ == nullptr) text_ = std::make_unique_for_overwrite<char[]>(kMaxName);
  char *text = text_.get();
  size_t length = 0;
  size_t lo = 0;
  size_t hi = kMaxName;
  size_t offset = 0;  // where the text of the record walked begins in the name
  const auto put = [&](std::string_view piece, size_t from) {
    const size_t begin = std::max(from, lo);
    const size_t end = std::min(from + piece.size(), hi);
    if (begin < end)
      std::memcpy(text + begin, piece.data() + (begin - from), end - begin);
  };
  if (const unsigned char *r = RecordAt(at); r[0] != kEnding) {
    // The usual chain of shared beginnings, walked without the bounds an
    // ending needs: each record puts what its rest holds of the beginning
    // the record after it shares, [shared, hi).
    Head head = HeadOf(r);
    std::string_view rest = RestOf(r, head);
    length = head.shared + rest.size() + head.copied;
    std::memcpy(text + head.shared, rest.data(), rest.size());
    if (head.copied != 0)
      std::memcpy(text + head.shared + rest.size(), CopyOf(at, head).data(), head.copied);
    hi = head.shared;
    while (hi != 0) {
      at -= head.distance;
      r = RecordAt(at);
      if (r[0] == kEnding) break;
      head = HeadOf(r);
      if (head.shared >= hi) continue;
      rest = RestOf(r, head);
      const size_t wanted = hi - head.shared;
      const size_t n = std::min(rest.size(), wanted);
      std::memcpy(text + head.shared, rest.data(), n);
      if (wanted > n)
        std::memcpy(text + head.shared + n, CopyOf(at, head).data(), wanted - n);
      hi = head.shared;
    }
    if (hi == 0) return {text, length};
  }
  // From an ending on.
  for (;;) {
    const unsigned char *r = RecordAt(at);
    if (r[0] == kEnding) {
      const std::string_view beginning = WholeText(r + 2);
      put(beginning, offset);
      offset += beginning.size();
      lo = std::max(lo, offset);
      if (lo >= hi) break;
      at -= r[1];
      continue;
    }
    const Head head = HeadOf(r);
    const std::string_view rest = RestOf(r, head);
    if (length == 0) length = hi = offset + head.shared + rest.size() + head.copied;
    put(rest, offset + head.shared);
    if (head.copied != 0) put(CopyOf(at, head), offset + head.shared + rest.size());
    hi = std::min(hi, offset + head.shared);
    if (lo >= hi) break;
    at -= head.distance;
  }
  return {text, length};
}

bool NameTable::Matches(uint32_t at, size_t skip, std::string_view name,
                        bool whole) const {
  const unsigned char *r = RecordAt(at);
  if (r[0] == kEnding) {
    if (whole && LengthAt(at) != skip + name.size()) return false;
    const std::string_view beginning = WholeText(r + 2);
    const size_t from = std::max(skip, beginning.size());  // where the end's part is
    // The end's part first: the beginnings are mostly the same.
    if (skip + name.size() > from &&
        !Matches(at - r[1], from - beginning.size(), name.substr(from - skip), false))
      return false;
    const size_t in_beginning = std::min(from - skip, name.size());
    return in_beginning == 0 ||
           name.substr(0, in_beginning) == beginning.substr(skip, in_beginning);
  }
  const Head head = HeadOf(r);
  const size_t shared = head.shared;
  const std::string_view rest = RestOf(r, head);
  const size_t copy_from = shared + rest.size();  // where the copied end is
  const size_t length = copy_from + head.copied;
  if (length < skip) return false;
  if (whole ? length - skip != name.size() : length - skip < name.size()) return false;
  const size_t to = skip + name.size();
  // The rest first, the copied end before the text written out: it is what
  // tells apart the names of one beginning.
  if (const size_t from = std::max(copy_from, skip); from < to) {
    const std::string_view copy = CopyOf(at, head);
    if (name.substr(from - skip) != copy.substr(from - copy_from, to - from))
      return false;
  }
  const size_t from = std::max(shared, skip);
  const size_t rest_to = std::min(to, copy_from);
  if (from < rest_to && name.substr(from - skip, rest_to - from) !=
                            rest.substr(from - shared, rest_to - from))
    return false;
  return shared <= skip ||
         Matches(at - head.distance, skip,
                 name.substr(0, std::min(shared - skip, name.size())), false);
}

size_t NameTable::RecordSizeAt(uint32_t at) const {
  const unsigned char *r = RecordAt(at);
  if (r[0] == kEnding) return 2 + WholeSize(WholeText(r + 2).size());
  const Head head = HeadOf(r);
  return head.size + head.rest;
}

void NameTable::Add(ea_t ea, std::string_view name, size_t hash) {
  static_assert((0x80 | kMaxName >> 8) < kSharedFar,
                "a whole record's first byte is no head's");
  static_assert((kSharedNear & kMaxShared) == 0 && kMaxShared < 0x100);
  // A shared record is at most kRecent records back, and a block's unused
  // end is shorter than one record.
  static_assert((kRecent + 1) * (7 + WholeSize(kMaxName)) < 0x10000);
  if (name.size() > kMaxName) return;  // never: the database refuses them
  if ((by_ea_.size() + 1) * kLoadDen > slots_.size() * kLoadNum)
    Reslot(slots_.empty() ? kFirstSlots : slots_.size() * kGrowNum / kGrowDen);

  char padded[kMaxShared + 8] = {};
  const size_t most = std::min(name.size(), kMaxShared);
  std::memcpy(padded, name.data(), most);
  // The recent record sharing the longest beginning, if that is worth it.
  size_t shared = 0;
  const Recent *base = nullptr;
  // Eight bytes at a time: nearly every recent name begins like this one.
  for (size_t i = 0; i < recent_count_; ++i) {
    const Recent &r = recent_[i];
    if (r.depth >= kMaxDepth) continue;
    const size_t limit = std::min(most, r.size);
    size_t same = 0;
    for (;; same += 8) {
      uint64_t a, b;
      std::memcpy(&a, padded + same, 8);
      std::memcpy(&b, r.text + same, 8);
      if (a != b || same + 8 >= limit) break;
    }
    while (same < limit && padded[same] == r.text[same]) ++same;
    if (same > shared) {
      shared = same;
      base = &r;
    }
  }
  if (shared < kMinShared) shared = 0;
  if (AddEnding(ea, name, hash, padded, shared)) return;

  uint32_t source = 0;
  size_t copied = FindCopy(name, shared, &source);
  // The sizes of the head and of the rest as written, for a copied end of
  // `copied` bytes: a shared beginning is near when the record would be put
  // within a byte's reach of its base.
  struct Sizes {
    size_t head;
    size_t rest;
  };
  const auto sizes = [&](size_t copied) -> Sizes {
    const size_t rest = name.size() - shared - copied;
    const size_t copy = copied != 0 ? 3 : 0;
    if (shared == 0) return {copy != 0 ? 1 + copy : 0, WholeSize(rest)};
    const Sizes near = {copy != 0 ? 3 + copy : 2,
                        copy != 0 && rest <= kMaxShortRest ? rest : WholeSize(rest)};
    if (NextAt(near.head + near.rest) - base->at < 0x100) return near;
    return {4 + copy, WholeSize(rest)};
  };
  Sizes written = sizes(copied);
  if (copied != 0 && NextAt(written.head + written.rest) - source >= kCopyReach) {
    copied = 0;  // written again, the new source of that end
    written = sizes(0);
  }
  const std::string_view rest = name.substr(shared, name.size() - shared - copied);
  const size_t head = written.head;
  const size_t n = head + written.rest;
  const uint32_t at = Allocate(n);
  if (at + 1 > at_mask_) Reslot(slots_.size());  // past the room the slots have
  auto *record =
      reinterpret_cast<unsigned char *>(blocks_[at / kBlock].get() + at % kBlock);
  const auto put_two = [](unsigned char *to, uint32_t value) {
    to[0] = static_cast<unsigned char>(value);
    to[1] = static_cast<unsigned char>(value >> 8);
  };
  const uint32_t distance = shared != 0 ? at - base->at : 0;
  const bool near = shared != 0 && distance < 0x100;
  if (copied != 0) {
    unsigned char *copy = record + head - 3;
    put_two(copy, at - source);
    copy[2] = static_cast<unsigned char>(copied);
    if (shared == 0) {
      record[0] = kCopiedWhole;
    } else {
      if (!near)
        record[0] = kCopiedFar;
      else if (written.rest == rest.size())  // no length before the rest
        record[0] = static_cast<unsigned char>(kCopiedShort + rest.size());
      else
        record[0] = kCopiedNear;
      record[1] = static_cast<unsigned char>(shared);
      if (near)
        record[2] = static_cast<unsigned char>(distance);
      else
        put_two(record + 2, distance);
    }
  } else if (shared != 0) {
    if (near) {
      record[0] = static_cast<unsigned char>(kSharedNear | shared);
      record[1] = static_cast<unsigned char>(distance);
    } else {
      record[0] = kSharedFar;
      record[1] = static_cast<unsigned char>(shared);
      put_two(record + 2, distance);
    }
  }
  if (written.rest == rest.size())
    std::memcpy(record + head, rest.data(), rest.size());
  else
    WriteWhole(record + head, rest);
  if (copied == 0) AddSources(name, shared, at + static_cast<uint32_t>(n - rest.size()));
  Added(ea, name, hash, padded, at, n, shared != 0 ? base->depth + 1 : 0);
}

namespace {

// An end begins with a `_` or `@`, or where the text past a shared
// beginning begins. Its source is found by its length and its first and
// last four bytes: a few loads, not a pass over its text; ends that agree
// on those but differ are told apart by comparing them.
bool BeginsAnEnd(char c) { return c == '_' || c == '@'; }
uint32_t Four(const char *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
size_t SourceSlot(const char *end, size_t length, uint32_t last, size_t count) {
  const uint64_t key = (uint64_t{Four(end)} << 32 | last) * 0x9E3779B97F4A7C15u;
  return (key >> 40 ^ length) & (count - 1);
}

}  // namespace

size_t NameTable::FindCopy(std::string_view name, size_t from, uint32_t *source) const {
  static_assert(kMinCopy >= 4, "an end's first and last four bytes");
  if (sources_ == nullptr || name.size() < from + kMinCopy) return 0;
  const size_t first = std::max(from, name.size() - std::min(name.size(), kMaxCopy));
  const size_t last_end = name.size() - kMinCopy;  // the last an end may begin at
  const uint32_t last = Four(name.data() + name.size() - 4);
  // The longest end first.
  for (size_t i = first; i <= last_end; ++i) {
    if (!BeginsAnEnd(name[i]) && i != from) continue;
    const size_t length = name.size() - i;
    const Source &s = sources_[SourceSlot(name.data() + i, length, last, kSources)];
    if (s.length == length && std::memcmp(RecordAt(s.at), name.data() + i, length) == 0) {
      *source = s.at;
      return length;
    }
  }
  return 0;
}

void NameTable::AddSources(std::string_view name, size_t from, uint32_t at) {
  if (sources_ == nullptr) sources_ = std::make_unique<Source[]>(kSources);
  if (name.size() < from + kMinCopy) return;
  const size_t first = std::max(from, name.size() - std::min(name.size(), kMaxCopy));
  const size_t last_end = name.size() - kMinCopy;
  const uint32_t last = Four(name.data() + name.size() - 4);
  for (size_t i = first; i <= last_end; ++i) {
    if (!BeginsAnEnd(name[i]) && i != from) continue;
    const size_t length = name.size() - i;
    sources_[SourceSlot(name.data() + i, length, last, kSources)] = {
        at + static_cast<uint32_t>(i - from), static_cast<uint32_t>(length)};
  }
}

bool NameTable::AddEnding(ea_t ea, std::string_view name, size_t hash, const char *padded,
                          size_t shared) {
  if (recent_count_ == 0) return false;
  const Recent &last = recent_[(recent_next_ + kRecent - 1) % kRecent];
  // The whole of the last name is at hand when it is no longer than the
  // beginning kept of it.
  if (last.length <= std::max(shared, kMinShared) || last.length > kMaxShared ||
      last.depth >= kMaxDepth || name.size() <= last.length ||
      std::memcmp(last.text, name.data() + name.size() - last.length, last.length) != 0)
    return false;
  const std::string_view beginning = name.substr(0, name.size() - last.length);
  const size_t n = 2 + WholeSize(beginning.size());
  if (NextAt(n) - last.at >= 0x100) return false;
  const uint32_t at = Allocate(n);
  if (at + 1 > at_mask_) Reslot(slots_.size());  // past the room the slots have
  auto *record =
      reinterpret_cast<unsigned char *>(blocks_[at / kBlock].get() + at % kBlock);
  record[0] = kEnding;
  record[1] = static_cast<unsigned char>(at - last.at);
  WriteWhole(record + 2, beginning);
  Added(ea, name, hash, padded, at, n, last.depth + 1);
  return true;
}

void NameTable::Added(ea_t ea, std::string_view name, size_t hash, const char *padded,
                      uint32_t at, size_t n, int depth) {
  live_bytes_ += n;
  by_ea_.Set(ea, at);
  InsertSlot(at, hash);
  Recent &newest = recent_[recent_next_];
  newest.at = at;
  newest.depth = depth;
  newest.size = std::min(name.size(), kMaxShared);
  newest.length = name.size();
  std::memcpy(newest.text, padded, sizeof newest.text);
  recent_next_ = (recent_next_ + 1) % kRecent;
  recent_count_ = std::min(recent_count_ + 1, kRecent);
}

void NameTable::Remove(ea_t ea) {
  uint32_t at;
  if (!by_ea_.Find(ea, &at)) return;
  by_ea_.Erase(ea);
  size_t i = Home(Hash(TextAt(at)));
  while (slots_[i] == 0 || RecordOf(slots_[i]) != at) i = Next(i);
  // Backward shift, as in AddrMap: later records of the probe run move up.
  size_t hole = i;
  for (size_t j = Next(i); slots_[j] != 0; j = Next(j)) {
    const size_t home = Home(Hash(TextAt(RecordOf(slots_[j]))));
    const bool movable =
        hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = 0;
  const size_t n = RecordSizeAt(at);
  live_bytes_ -= n;
  dead_bytes_ += n;
  if (dead_bytes_ > kBlock && dead_bytes_ > live_bytes_) Rebuild();
}

// Drops the records of removed names from the arena, writing the live ones
// anew (a record may share the beginning of a removed one).
void NameTable::Rebuild() {
  NameTable fresh;
  by_ea_.ForEach([&](ea_t ea, uint32_t at) { fresh.Add(ea, TextAt(at)); });
  *this = std::move(fresh);
}

}  // namespace kernel
