// Given names, looked up both ways: the name of an address and the address
// of a name.
//
// A detector run names millions of addresses; a node-based map per
// direction would cost more than the program's own bytes. The names live in
// one character arena instead; the address side is a PositionIndex of arena
// offsets and the name side an open-addressing table of them. The name side
// answers whether a name is used, not by whom: the database only asks that.
//
// Names given one after another mostly share a beginning (a class's name,
// then its tables and methods), so a record either holds its whole text or
// the length of the beginning it shares with one of the few records written
// just before it, and only the rest of its text:
//
//   whole:  length (one byte below 128, else two: 0x80 | high, low), text
//   shared: 0xC0 | shared length, distance back to that record (one byte),
//           then the rest as a whole record
//   shared from further back: 0xA0, shared length, distance (two bytes,
//           low first), then the rest as a whole record
//   ending: 0xA1, distance back to the record written just before (one
//           byte), then the beginning as a whole record; the name is that
//           beginning and the other record's name
//   copied end: 0xA2 (whole), 0xA4 (shared: length, distance) or 0xA3
//           (shared from further back: length, two bytes of distance),
//           then the distance back to the copied text (two bytes, low
//           first) and its length (one byte), then the rest as a whole
//           record; the name ends with the copied text
//   copied end, short rest: 0xA5 + the rest's length (below 27), then as
//           0xA4, then the rest's text alone
//
// The ends names repeat across a program (`_method_list`, `@Refresh`, a
// class's name after a fixed prefix) are copied from the text of a record
// written before that ends with it: a small table, by the hash of an end
// that begins at a `_` or `@` (or where a record's own text begins), keeps
// the last such text seen. Its size is fixed, so that no input can grow it;
// a copy refers to text at most kCopyReach back, and an end whose text lies
// further is written again and kept as the new source.
//
// Nearly every shared record refers to one less than 256 bytes back. A
// quarter of a detector's names are `offset` and the name of what the offset
// points at, given just before: those are endings.
//
// A shared record refers to one that is at most kMaxDepth - 1 references
// deep, so that reading a name follows at most kMaxDepth of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/position_index.h"

namespace kernel {

class NameTable {
 public:
  /// The longest name kept; longer ones are refused by the database.
  static constexpr size_t kMaxName = 4096;

  /// The name of `ea`, or an empty view when it has none. The view may be
  /// into a buffer of the table: it holds until the table is next used.
  std::string_view NameAt(ea_t ea) const;
  /// True when some address has that name.
  bool Find(std::string_view name) const { return Find(name, Hash(name)); }
  /// The same with the name's hash, for a caller that adds the name next.
  bool Find(std::string_view name, size_t hash) const;
  static size_t Hash(std::string_view name);
  /// Starts fetching the slots a name of hash `hash` is looked for in, so
  /// that the look-up finds them in cache.
  void Prefetch(size_t hash) const {
    if (slots_.empty()) return;
    Fetch(slots_.data() + Home(hash));
  }
  /// Names `ea`; `name` must not be empty or in use, and `ea` unnamed.
  void Add(ea_t ea, std::string_view name) { Add(ea, name, Hash(name)); }
  void Add(ea_t ea, std::string_view name, size_t hash);
  /// Removes the name of `ea`, if any.
  void Remove(ea_t ea);
  size_t size() const { return by_ea_.size(); }
  /// How many hash slots the name side has, four bytes each.
  size_t slot_count() const { return slots_.size(); }

  /// Visits every (address, name), in address order; `visit` must not
  /// use the table.
  template <typename F>
  void ForEach(F &&visit) const {
    by_ea_.ForEach([&](ea_t ea, uint32_t at) { visit(ea, TextAt(at)); });
  }

 private:
  static void Fetch(const void *p) {
    // The builtin alone is dropped by the compiler here; the instruction is
    // asked for directly where there is one.
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char *>(p)));
#else
    __builtin_prefetch(p);
#endif
  }

  static constexpr unsigned char kSharedFar = 0xA0;
  static constexpr unsigned char kSharedNear = 0xC0;
  static constexpr unsigned char kEnding = 0xA1;
  static constexpr unsigned char kCopiedWhole = 0xA2;
  static constexpr unsigned char kCopiedFar = 0xA3;
  static constexpr unsigned char kCopiedNear = 0xA4;
  static constexpr unsigned char kCopiedShort = 0xA5;
  static constexpr size_t kMaxShortRest = kSharedNear - 1 - kCopiedShort;
  // A copied end shorter than this costs more to refer to than to repeat.
  static constexpr size_t kMinCopy = 5;
  static constexpr size_t kMaxCopy = 0xFF;
  // How far back a copied end's text may lie: near enough to be in cache.
  static constexpr uint32_t kCopyReach = 0x4000;
  static constexpr size_t kSources = 2048;
  static constexpr int kMaxDepth = 4;
  // A beginning shorter than this costs more to refer to than to repeat.
  static constexpr size_t kMinShared = 6;
  static constexpr size_t kRecent = 8;
  static constexpr size_t kMaxShared = 0x3F;

  const unsigned char *RecordAt(uint32_t at) const {
    return reinterpret_cast<const unsigned char *>(blocks_[at / kBlock].get()) +
           at % kBlock;
  }
  /// The text of the record at `at`; a shared record's is put together in
  /// text_.
  std::string_view TextAt(uint32_t at) const {
    const unsigned char *r = RecordAt(at);
    return r[0] < kSharedFar ? WholeText(r) : SharedText(at);
  }
  static std::string_view WholeText(const unsigned char *r) {
    if (r[0] < 0x80) return {reinterpret_cast<const char *>(r + 1), r[0]};
    return {reinterpret_cast<const char *>(r + 2), size_t{r[0] & 0x7Fu} << 8 | r[1]};
  }
  std::string_view SharedText(uint32_t at) const;
  size_t LengthAt(uint32_t at) const;
  // The head of a record that is not an ending: its size up to the rest's
  // text, the length of the beginning it shares and how far back the record
  // it shares it with lies; the length of the copied end and how far back
  // its text lies; the rest's length.
  struct Head {
    size_t size = 0;
    size_t shared = 0;
    uint32_t distance = 0;
    size_t copied = 0;
    uint32_t copy_distance = 0;
    size_t rest = 0;
  };
  static uint32_t Two(const unsigned char *r) {
    return uint32_t{r[0]} | uint32_t{r[1]} << 8;
  }
  static Head HeadOf(const unsigned char *r) {
    Head head;
    if (r[0] >= kSharedNear) {
      head = {2, size_t{r[0] & kMaxShared}, r[1]};
    } else if (r[0] >= kCopiedShort) {
      return {6, r[1], r[2], r[5], Two(r + 3), size_t{r[0]} - kCopiedShort};
    } else {
      switch (r[0]) {
        case kSharedFar:
          head = {4, r[1], Two(r + 2)};
          break;
        case kCopiedWhole:
          head = {4, 0, 0, r[3], Two(r + 1)};
          break;
        case kCopiedNear:
          head = {6, r[1], r[2], r[5], Two(r + 3)};
          break;
        case kCopiedFar:
          head = {7, r[1], Two(r + 2), r[6], Two(r + 4)};
          break;
        default:
          break;
      }
    }
    const std::string_view rest = WholeText(r + head.size);
    head.size =
        static_cast<size_t>(reinterpret_cast<const unsigned char *>(rest.data()) - r);
    head.rest = rest.size();
    return head;
  }
  static std::string_view RestOf(const unsigned char *r, const Head &head) {
    return {reinterpret_cast<const char *>(r + head.size), head.rest};
  }
  /// The copied end of the record at `at`, of head `head`.
  std::string_view CopyOf(uint32_t at, const Head &head) const {
    return {reinterpret_cast<const char *>(RecordAt(at - head.copy_distance)),
            head.copied};
  }
  /// Where a record of `n` bytes would be put now.
  uint32_t NextAt(size_t n) const {
    if (blocks_.empty() || used_ + n > kBlock)
      return static_cast<uint32_t>(blocks_.size() * kBlock);
    return static_cast<uint32_t>((blocks_.size() - 1) * kBlock + used_);
  }
  /// True when the text of the record at `at`, but for its first `skip`
  /// bytes, is `name` (`whole`) or begins with it; reads no more of it than
  /// it needs.
  bool Matches(uint32_t at, size_t skip, std::string_view name, bool whole) const;
  static constexpr size_t WholeSize(size_t length) {
    return (length < 0x80 ? 1 : 2) + length;
  }
  size_t RecordSizeAt(uint32_t at) const;
  /// Writes `name` as an ending of the last name given, when it ends with
  /// it and that is longer than the `shared` bytes of a beginning it could
  /// share instead; false when not.
  bool AddEnding(ea_t ea, std::string_view name, size_t hash, const char *padded,
                 size_t shared);
  /// Enters the record of `n` bytes at `at` just written for `name`.
  void Added(ea_t ea, std::string_view name, size_t hash, const char *padded, uint32_t at,
             size_t n, int depth);
  /// Room for a record of `n` bytes; its position.
  uint32_t Allocate(size_t n);
  /// Writes `name` as a whole record at `to`.
  static void WriteWhole(unsigned char *to, std::string_view name);
  /// The bits of a name's hash that its slot keeps above the record.
  uint32_t Tag(size_t hash) const {
    return static_cast<uint32_t>(hash >> 32) & ~at_mask_;
  }
  uint32_t RecordOf(uint32_t slot) const { return (slot & at_mask_) - 1; }
  /// The first slot a name of hash `hash` is looked for in: the low half of
  /// the hash scaled to the table, whose size need not be a power of two.
  /// The tag is taken from the high half.
  size_t Home(size_t hash) const {
    return static_cast<size_t>(uint64_t{hash & 0xFFFFFFFFu} * slots_.size() >> 32);
  }
  size_t Next(size_t i) const { return i + 1 == slots_.size() ? 0 : i + 1; }
  /// The length of the longest end of `name` past its first `from` bytes
  /// that a source holds, and where that text is; 0 when none.
  size_t FindCopy(std::string_view name, size_t from, uint32_t *source) const;
  /// Keeps the ends of `name` past its first `from` bytes as sources; the
  /// text of those bytes was written at `at`.
  void AddSources(std::string_view name, size_t from, uint32_t at);
  /// Enters the record at `at`, whose text is `text`, in the name side.
  void InsertSlot(uint32_t at, size_t hash) {
    size_t i = Home(hash);
    while (slots_[i] != 0) i = Next(i);
    slots_[i] = Tag(hash) | (at + 1);
  }
  /// Makes the name side `n` slots, with room in each for a record of an
  /// arena twice as large as now, and enters every record again.
  void Reslot(size_t n);
  void Rebuild();

  // Records never straddle two blocks.
  static constexpr uint32_t kBlock = 1u << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  uint32_t used_ = 0;  // bytes used in the last block
  size_t live_bytes_ = 0;
  size_t dead_bytes_ = 0;
  PositionIndex by_ea_;  // address -> record
  // The name side: a slot holds its record's position plus one in the bits
  // of at_mask_ (0: an empty slot) and, above them, the top bits of the
  // name's hash, so that a probe reads a record only when those agree. A
  // tag in the slot rather than beside it keeps the slots the only table.
  std::vector<uint32_t> slots_;
  // The slots are at most three quarters full and grow by three quarters,
  // not double: at the end of a run they are between 3/7 and 3/4 full
  // rather than between 3/8 and 3/4. Growing reads every name again, a
  // quarter more often in all than doubling would, on average.
  static constexpr size_t kFirstSlots = 64;
  static constexpr size_t kLoadNum = 3, kLoadDen = 4;
  static constexpr size_t kGrowNum = 7, kGrowDen = 4;
  uint32_t at_mask_ = 0;
  // Made on the first shared name read: a table is cleared by moving a
  // fresh one over it, which would copy a buffer held in place.
  mutable std::unique_ptr<char[]> text_;

  // The records written last, which a new one may share a beginning with:
  // each one's position, depth and the beginning of its text that a record
  // can share (zero-filled past its end), the newest at recent_next_ - 1.
  struct Recent {
    uint32_t at = 0;
    int depth = 0;
    size_t size = 0;
    size_t length = 0;               // of the whole name
    char text[kMaxShared + 8] = {};  // read eight bytes at a time
  };
  Recent recent_[kRecent];
  // The texts an end may be copied from, by the hash of the end: where the
  // text lies and its length (0: none). Made on the first name given.
  struct Source {
    uint32_t at = 0;
    uint32_t length = 0;
  };
  std::unique_ptr<Source[]> sources_;
  size_t recent_count_ = 0;
  size_t recent_next_ = 0;
};

}  // namespace kernel
