// The inside of the kernel's database, shared by the files that implement
// it. Plug-ins never use it. Impl keeps the visibility its declaration in
// database.h gives it: clang refuses a different one on the definition.
//
// Items are kept as a two-bit state per program byte beside the segment's
// bytes: unknown, tail, an instruction's head or a data item's head. An
// item's end is found by walking its tails, and a data item's type follows
// from its size and bytes (InferredType, in items.cc) but where a side table
// says otherwise: long_items keeps the size and type of every item longer
// than kShortItem bytes and of every short data item whose type is not the
// inferred one, and struct_ids the structure id of every structure instance,
// which tells a short one's type (the head's block marked in the states for
// either). The head of a tail is at most kShortItem - 1 bytes back, unless
// the tail belongs to a long item. Offsets are the only items that refer to
// data, so the cross-references are kept per target.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/kernel/addr_index.h"
#include "host/kernel/addr_map.h"
#include "host/kernel/database.h"
#include "host/kernel/delta_index.h"
#include "host/kernel/item_states.h"
#include "host/kernel/name_table.h"
#include "host/kernel/struct_ids.h"

/// A structure type; the C interface only passes pointers to it.
struct struc_t {
  kernel::Structure s;
};

namespace kernel {

// Item states.
constexpr uint8_t kUnknown = 0;
constexpr uint8_t kTail = 1;
constexpr uint8_t kCodeHead = 2;
constexpr uint8_t kDataHead = 3;
constexpr asize_t kShortItem = 32;
static_assert(kDataHead < ItemStates::kStates);

constexpr bool IsHead(uint8_t state) { return state >= kCodeHead; }

/// Five bytes, packed: hundreds of thousands of them (structure instances,
/// alignments).
struct [[gnu::packed]] LongItem {
  asize_t size = 1;
  ItemType type = ItemType::kByte;
};
static_assert(sizeof(LongItem) == 5);

/// The segment bytes the services read last, for reads without a search.
struct ByteWindow {
  ea_t start = 0;
  asize_t size = 0;  // 0: no window
  const uint8_t *bytes = nullptr;
};

/// A function as the services see it: its end and its number, in the
/// order functions were made.
struct FunctionEntry {
  ea_t end = 0;
  int index = 0;
};

/// A function as it is kept by its start, in two bytes: hundreds of
/// thousands of them, nearly all shorter than 255 bytes and made in address
/// order. Its number is the base of its run (function_bases, at the run's
/// first function) plus its step in the run: a function made right after
/// the one before it in address order continues that one's run, so that a
/// run made in order keeps one base for up to kSteps functions.
struct StoredFunction {
  static constexpr uint8_t kLong = 0xFF;  // the end is in long_function_ends
  static constexpr int kSteps = 256;
  uint8_t length = 0;
  uint8_t step = 0;
};

/// The first referrer of a target, in two bytes: its distance from the
/// target, or kFar when the referrer is kept in far_first_refs, and the mark
/// of a target that may have referrers past the first. Every first referrer
/// on the large samples lies within 16 KB of its target; on the fetched
/// programs a fifth of them (method pointers in class tables into code) do
/// not.
struct FirstRef {
  static constexpr int kFar = -0x4000;
  int16_t code = 0;  // the distance times two, plus the mark

  int Distance() const { return code >> 1; }
  bool Shared() const { return (code & 1) != 0; }
  void Set(int distance, bool shared) {
    code = static_cast<int16_t>(distance * 2 + (shared ? 1 : 0));
  }
};

struct Database::Impl {
  // ---- Segments (database.cc) ---------------------------------------------
  std::vector<Segment> segments;
  std::vector<ItemStates> states;  // one per segment
  std::vector<area_t> areas;       // one per segment, for segs
  mutable size_t last_segment = 0;
  mutable ByteWindow window;
  bool publishes_globals = false;  // true for TheDatabase(): keeps inf, segs in step

  std::string input_path;
  int32_t processor = 0;
  ea_t image_base = 0;
  ea_t resource_directory = 0;
  uint32_t resource_directory_size = 0;
  ea_t cursor = BADADDR;

  /// Index of the segment holding `ea`, or -1.
  int SegmentIndex(ea_t ea) const {
    // Nearly every look-up is in the segment of the one before.
    if (last_segment < segments.size()) {
      const Segment &s = segments[last_segment];
      if (ea - s.start < s.end - s.start) return static_cast<int>(last_segment);
    }
    return SegmentIndexSlow(ea);
  }
  int SegmentIndexSlow(ea_t ea) const;
  /// Byte at `ea` through a segment search; moves the window there.
  uint8_t ByteSlow(ea_t ea) const;
  uint8_t Byte(ea_t ea) const {
    const ea_t off = ea - window.start;
    return off < window.size ? window.bytes[off] : ByteSlow(ea);
  }
  uint32_t Long(ea_t ea) const {
    const ea_t off = ea - window.start;
    if (off < window.size && window.size - off >= 4) {
      const uint8_t *p = window.bytes + off;
      return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
             uint32_t{p[3]} << 24;
    }
    return LongSlow(ea);
  }
  /// Long across a segment's end or outside the window.
  uint32_t LongSlow(ea_t ea) const;
  void SegmentsChanged();
  void PublishGlobals() const;
  /// Sets the globals of an empty database.
  void PublishEmpty();

  // ---- Items (items.cc) ---------------------------------------------------
  AddrIndex<LongItem> long_items;  // the heads their states and bytes do not tell
  StructIds struct_ids;

  /// The state byte of `ea`, with its segment and offset; false outside
  /// every segment.
  bool Locate(ea_t ea, int *seg, asize_t *off) const {
    const int i = SegmentIndex(ea);
    if (i < 0) return false;
    *seg = i;
    *off = ea - segments[i].start;
    return true;
  }
  /// The item holding `ea`; false for an unknown byte or outside segments.
  bool ItemAt(ea_t ea, Item *item) const;
  /// The item whose head is at segment `seg`, offset `off`.
  Item ItemAtHead(int seg, asize_t off) const;
  ea_t ItemEnd(ea_t ea) const;
  /// True when [ea, ea + size) lies in one segment and each byte is unknown
  /// or belongs to a data item whose head is `ea`.
  bool CanPlaceData(ea_t ea, asize_t size) const;
  /// True when `item`, whose head is at segment `seg`, offset `off`, needs
  /// an entry in long_items: its bytes as they are now do not tell its type,
  /// or it is long.
  bool NeedsEntry(int seg, asize_t off, const Item &item) const;
  /// Makes the item, undefining any item that starts at its head first.
  void PlaceItem(const Item &item);
  /// Brings the entry of `item` up to date after a change of its bytes.
  void RetypeAfterByteChange(const Item &item);
  void Undefine(const Item &item);
  /// Undefines every item overlapping [ea, end); end 0 stands for 2^32.
  void UndefineRange(ea_t ea, uint64_t end);
  /// The same for [from, to), which lies in segment `seg`.
  void UndefineInSegment(size_t seg, uint64_t from, uint64_t to);
  bool MakeData(ea_t ea, ItemType type, asize_t size, tid_t id);
  bool MakeOffset(ea_t ea);
  bool MakeAlign(ea_t ea, asize_t size, int alignment);
  bool MakePString(ea_t ea, asize_t size);

  // ---- Cross-references (items.cc) ----------------------------------------
  // Every referrer is an offset item whose bytes hold its target, so only
  // what the offsets cannot answer quickly is kept: the lowest referrer of
  // each target, and whether the target has had another one. The others are
  // found among the offset items when the lowest goes, which a run hardly
  // ever does to a target with several (a pair per referrer cost more
  // memory than the names' whole text).
  AddrIndex<FirstRef> first_refs;
  AddrIndex<ea_t> far_first_refs;  // of the targets whose FirstRef is kFar
  /// The first referrer of `to` by its entry.
  ea_t FirstOf(ea_t to, FirstRef ref) const {
    return ref.Distance() != FirstRef::kFar ? to + static_cast<ea_t>(ref.Distance())
                                            : *far_first_refs.Find(to);
  }
  /// Makes `from` the first referrer in `*ref`, the entry of `to`.
  void SetFirst(ea_t to, FirstRef *ref, ea_t from, bool shared);
  void AddDataRef(ea_t from, ea_t to);
  void RemoveDataRef(ea_t from, ea_t to);
  ea_t FirstDataRef(ea_t to) const;
  /// The lowest offset item above `from` whose target is `to`, or BADADDR.
  ea_t NextDataRef(ea_t to, ea_t from) const;

  // ---- Functions (functions.cc) -------------------------------------------
  AddrIndex<StoredFunction> functions;  // by start
  AddrIndex<ea_t> long_function_ends;   // of those of kLong bytes or more
  AddrIndex<uint32_t> function_bases;   // at the first function of each run
  int next_function_index = 0;
  ea_t last_function_start = 0;  // of the function made last
  // The run Unpack met last: the functions are asked for in runs.
  struct RunQuery {
    bool valid = false;
    bool last = false;  // no run begins after it
    ea_t first = 0;
    ea_t next = 0;  // where the next run begins
    uint32_t base = 0;
  };
  mutable RunQuery last_run;
  void SetBase(ea_t start, uint32_t base);
  // The answer FunctionAt gave last: a function is looked for where it is
  // made right after the detector asked whether one holds the address.
  struct FunctionQuery {
    bool valid = false;
    bool found = false;
    ea_t ea = 0;
    ea_t start = 0;
    FunctionEntry entry;
  };
  mutable FunctionQuery last_function_query;
  /// Enters the function [start, end) with the next index.
  void SetFunction(ea_t start, ea_t end);
  ea_t FunctionEnd(ea_t start, const StoredFunction &f) const;
  FunctionEntry Unpack(ea_t start, const StoredFunction &f) const;
  /// The function holding `ea`, with its start; false when none holds it.
  bool FunctionAt(ea_t ea, ea_t *start, FunctionEntry *f) const;
  bool AddFunction(ea_t start);
  /// A function over the given range.
  bool AddFunctionRange(ea_t start, ea_t end);
  bool InsertFunction(ea_t start, ea_t end, std::string *err);

  // ---- Names and comments (names.cc) --------------------------------------
  NameTable names;
  std::unordered_map<std::string, uint32_t> next_suffix;
  // Comments are millions, their texts a few dozen: an address keeps a
  // byte, the index of its text, or kWideText with the index in wide_comments.
  static constexpr uint8_t kWideText = 0xFF;
  DeltaIndex comments[2];  // regular, repeatable
  AddrMap<uint32_t> wide_comments[2];
  std::deque<std::string> texts;  // comment texts, each kept once
  std::unordered_map<std::string_view, uint32_t> text_index;
  // The index (plus one; 0: none) of a text met lately, by a cheap hash of
  // it: a run sets the same few texts hundreds of thousands of times.
  static constexpr size_t kRecentTexts = 256;
  uint32_t recent_texts[kRecentTexts] = {};
  /// The index of comment text `text`, kept from now on if it is new.
  uint32_t TextIndex(std::string_view text);

  /// Sets or (empty `name`) removes the name of `ea`, making it unique.
  bool SetName(ea_t ea, std::string_view name);
  /// The given name of `ea`; empty when it has none.
  std::string_view GivenName(ea_t ea) const { return names.NameAt(ea); }
  /// The given name, else the dummy name when `ea` has one; empty when none.
  std::string NameOf(ea_t ea) const;
  /// The dummy name of `ea`, whatever name it was given; empty when none.
  std::string DummyName(ea_t ea) const;
  bool SetComment(ea_t ea, std::string_view text, bool repeatable);
  const std::string *CommentOf(ea_t ea, bool repeatable) const;
  /// The text of the comment at `ea` whose byte in comments[r] is `index`.
  const std::string &CommentText(int r, ea_t ea, uint8_t index) const {
    return texts[index != kWideText ? index : *wide_comments[r].Find(ea)];
  }

  // ---- Structures (structures.cc) -----------------------------------------
  std::vector<std::unique_ptr<struc_t>> structures;  // list order
  std::unordered_map<tid_t, struc_t *> structure_ids;
  std::unordered_map<std::string, struc_t *> structure_names;
  tid_t next_struct_id = 0xFF000000u;
  struc_t *FindStructure(tid_t id) const;
  struc_t *FindStructure(std::string_view name) const;
  tid_t AddStructure(uint32_t index, std::string_view name);
  /// Adds a structure whose id and name no other structure has, at list
  /// position `index` (past the end: at the end).
  void InsertStructure(std::unique_ptr<struc_t> s, size_t index);
  /// 0, or a negative value when refused (-3: past kMaxStructureSize).
  int AddMember(struc_t *s, const StructMember &m);
  /// Gives `s` all of `members` at once, checked as AddMember checks them one
  /// by one; false, with the reason in *err, when one is refused.
  bool SetMembers(struc_t *s, std::vector<StructMember> members, std::string *err);
};

/// Each character is one a given name may hold.
bool IsNameText(std::string_view name);
/// The size a structure's instance has: the end of its last member.
asize_t StructureSize(const Structure &s);

}  // namespace kernel
