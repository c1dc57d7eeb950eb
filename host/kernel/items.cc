// Items over the segment bytes, and the data cross-references that offset
// items make.
#include <algorithm>

#include "host/kernel/database_impl.h"

namespace kernel {

namespace {

asize_t ElementSize(ItemType type) {
  switch (type) {
    case ItemType::kWord:
      return 2;
    case ItemType::kDword:
      return 4;
    case ItemType::kQword:
      return 8;
    default:
      return 1;
  }
}

bool IsPrintable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

/// The type of a data item of `size` bytes at `start` that holds `bytes`,
/// as far as its extent and bytes tell it; a head whose item has another
/// type keeps it in long_items. Counted on the large samples and the
/// fetched programs, this leaves a few percent of the data items apart from
/// the structure instances: word pairs that look like addresses, alignments
/// of zeros, bytes of one, qwords. It reads nothing but the item itself, so
/// that only a change of its bytes can change the answer.
ItemType InferredType(ea_t start, asize_t size, const uint8_t *bytes) {
  // The compiler pads code to four bytes with instructions that do nothing.
  const bool ends_aligned = (start + size) % 4 == 0;
  switch (size) {
    case 1:
      return ends_aligned && bytes[0] == 0x90 ? ItemType::kAlign : ItemType::kByte;
    case 2:
      return ends_aligned && bytes[0] == 0x8B && bytes[1] == 0xC0 ? ItemType::kAlign
                                                                  : ItemType::kWord;
    case 3:
      if (ends_aligned && bytes[0] == 0x8D && bytes[1] == 0x40 && bytes[2] == 0)
        return ItemType::kAlign;
      return bytes[0] == 2 ? ItemType::kPString : ItemType::kByte;
    case 4: {
      // Small numbers and small negative ones are dwords, anything else
      // an address, unless it reads as a short string.
      const uint32_t value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                             uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
      if (value < 0x10000 || value >= 0xFFFF0000u) return ItemType::kDword;
      if (bytes[0] == 3 && IsPrintable(bytes[1]) && IsPrintable(bytes[2]) &&
          IsPrintable(bytes[3]))
        return ItemType::kPString;
      return ItemType::kOffset;
    }
    default:
      if (bytes[0] == size - 1) return ItemType::kPString;
      return size % 4 == 0   ? ItemType::kDword
             : size % 2 == 0 ? ItemType::kWord
                             : ItemType::kByte;
  }
}

}  // namespace

Item Database::Impl::ItemAtHead(int seg, asize_t off) const {
  const ItemStates &st = states[seg];
  Item item;
  item.start = segments[seg].start + off;
  const uint8_t state = st[off];
  const LongItem *found = nullptr;
  const tid_t *id = nullptr;
  if (state == kDataHead && st.Marked(off)) {
    found = long_items.Find(item.start);
    if (found == nullptr) id = struct_ids.Find(item.start);
  }
  if (found != nullptr) {
    item.type = found->type;
    item.size = found->size;
  } else {
    item.size = static_cast<asize_t>(1 + st.RunAfter(off + 1, st.size(), kTail));
    item.type = state == kCodeHead ? ItemType::kCode
                : id != nullptr    ? ItemType::kStruct
                                   : InferredType(item.start, item.size,
                                                  segments[seg].bytes.data() + off);
  }
  if (item.type == ItemType::kStruct) {
    if (id == nullptr) id = struct_ids.Find(item.start);
    item.struct_id = id != nullptr ? *id : BADNODE;
  }
  return item;
}

bool Database::Impl::ItemAt(ea_t ea, Item *item) const {
  int seg;
  asize_t off;
  if (!Locate(ea, &seg, &off)) return false;
  const ItemStates &st = states[seg];
  if (st[off] == kUnknown) return false;
  if (st[off] == kTail) {
    // A short item's head is near; past that the tail is a long item's.
    const asize_t most = std::min<asize_t>(off, kShortItem - 1);
    const auto back = static_cast<asize_t>(1 + st.RunBefore(off, off - most, kTail));
    if (back < kShortItem && back <= off) {
      off -= back;
    } else {
      ea_t head;
      LongItem long_item;
      if (!long_items.Floor(ea, &head, &long_item)) return false;
      off = head - segments[seg].start;
    }
  }
  *item = ItemAtHead(seg, off);
  return true;
}

ea_t Database::Impl::ItemEnd(ea_t ea) const {
  // Most calls ask about an unknown byte or the head of a short item.
  int seg;
  asize_t off;
  if (Locate(ea, &seg, &off)) {
    const ItemStates &st = states[seg];
    const uint8_t state = st[off];
    if (state == kUnknown) return ea + 1;
    if (state == kCodeHead || (state == kDataHead && !st.Marked(off)))
      return ea + 1 + static_cast<asize_t>(st.RunAfter(off + 1, st.size(), kTail));
  }
  Item item;
  if (ItemAt(ea, &item)) return item.start + item.size;
  return ea == BADADDR ? BADADDR : ea + 1;
}

bool Database::Impl::CanPlaceData(ea_t ea, asize_t size) const {
  int seg;
  asize_t off;
  if (size == 0 || !Locate(ea, &seg, &off) || segments[seg].end - ea < size) return false;
  const ItemStates &st = states[seg];
  const uint8_t head = st[off];
  if (head == kTail) return false;
  if (head == kCodeHead) return false;
  // Past the head, a tail byte can only belong to the item at ea: any other
  // item would show its own head first.
  for (asize_t i = 1; i < size; ++i)
    if (IsHead(st[off + i])) return false;
  return true;
}

bool Database::Impl::NeedsEntry(int seg, asize_t off, const Item &item) const {
  // An instruction is at most 15 bytes: code is never long. A short
  // structure instance is told by its id.
  return item.size > kShortItem ||
         (item.type != ItemType::kCode && item.type != ItemType::kStruct &&
          item.type !=
              InferredType(item.start, item.size, segments[seg].bytes.data() + off));
}

void Database::Impl::PlaceItem(const Item &item) {
  int seg;
  asize_t off;
  if (!Locate(item.start, &seg, &off)) return;
  if (IsHead(states[seg][off])) Undefine(ItemAtHead(seg, off));
  ItemStates &st = states[seg];
  st.Set(off, item.type == ItemType::kCode ? kCodeHead : kDataHead);
  st.Fill(off + 1, item.size - 1, kTail);
  const bool entry = NeedsEntry(seg, off, item);
  if (entry) long_items.Set(item.start, LongItem{item.size, item.type});
  if (item.type == ItemType::kStruct) struct_ids.Set(item.start, item.struct_id);
  if (entry || item.type == ItemType::kStruct) st.Mark(off);
  if (item.type == ItemType::kOffset) AddDataRef(item.start, Long(item.start));
}

void Database::Impl::Undefine(const Item &item) {
  int seg;
  asize_t off;
  if (!Locate(item.start, &seg, &off)) return;
  ItemStates &st = states[seg];
  if (IsHead(st[off]) && st.Marked(off)) long_items.Erase(item.start);
  if (item.type == ItemType::kStruct) struct_ids.Erase(item.start);
  if (item.type == ItemType::kOffset) RemoveDataRef(item.start, Long(item.start));
  st.Fill(off, item.size, kUnknown);
}

void Database::Impl::RetypeAfterByteChange(const Item &item) {
  int seg;
  asize_t off;
  if (!Locate(item.start, &seg, &off)) return;
  ItemStates &st = states[seg];
  if (NeedsEntry(seg, off, item)) {
    long_items.Set(item.start, LongItem{item.size, item.type});
    st.Mark(off);
  } else if (st.Marked(off)) {
    long_items.Erase(item.start);
  }
}

void Database::Impl::UndefineRange(ea_t ea, uint64_t end) {
  if (end == 0) end = uint64_t{1} << 32;
  if (end <= ea) return;
  // Nearly every range lies in one segment, the one asked about last.
  if (const int seg = SegmentIndex(ea); seg >= 0 && end <= segments[seg].end) {
    UndefineInSegment(static_cast<size_t>(seg), ea, end);
    return;
  }
  for (size_t seg = 0; seg < segments.size(); ++seg) {
    const Segment &s = segments[seg];
    const uint64_t from = std::max<uint64_t>(ea, s.start);
    const uint64_t to = std::min<uint64_t>(end, s.end);
    if (from < to) UndefineInSegment(seg, from, to);
  }
}

void Database::Impl::UndefineInSegment(size_t seg, uint64_t from, uint64_t to) {
  const Segment &s = segments[seg];
  const ItemStates &st = states[seg];
  asize_t off = static_cast<asize_t>(from - s.start);
  const asize_t stop = static_cast<asize_t>(to - s.start);
  Item item;
  if (st[off] == kTail && ItemAt(static_cast<ea_t>(from), &item)) {
    Undefine(item);
    off = item.start + item.size - s.start;
  }
  auto next_known = [&](asize_t from_off) {
    return static_cast<asize_t>(st.NextNonZero(from_off, stop));
  };
  for (off = next_known(off); off < stop; off = next_known(off)) {
    if (!IsHead(st[off])) {
      ++off;
      continue;
    }
    item = ItemAtHead(static_cast<int>(seg), off);
    Undefine(item);
    off += item.size;
  }
}

bool Database::Impl::MakeData(ea_t ea, ItemType type, asize_t size, tid_t id) {
  if (type == ItemType::kStruct) {
    const struc_t *s = FindStructure(id);
    const asize_t n = s != nullptr ? StructureSize(s->s) : 0;
    if (n == 0 || size % n != 0) return false;
  } else {
    id = BADNODE;
    if (size % ElementSize(type) != 0) return false;
  }
  if (!CanPlaceData(ea, size)) return false;
  PlaceItem({ea, size, type, id});
  return true;
}

bool Database::Impl::MakeOffset(ea_t ea) {
  int seg;
  asize_t off;
  if (!Locate(ea, &seg, &off) || segments[seg].end - ea < 4) return false;
  const ItemStates &st = states[seg];
  if (IsHead(st[off])) {
    const Item item = ItemAtHead(seg, off);
    if (item.size != 4) return false;
    if (item.type == ItemType::kOffset) return true;
    if (item.type != ItemType::kDword) return false;
  } else if (st[off] != kUnknown || st[off + 1] != kUnknown || st[off + 2] != kUnknown ||
             st[off + 3] != kUnknown) {
    return false;
  }
  PlaceItem({ea, 4, ItemType::kOffset, BADNODE});
  return true;
}

bool Database::Impl::MakeAlign(ea_t ea, asize_t size, int alignment) {
  if (alignment < 0 || alignment > 31 || size == 0) return false;
  if ((uint64_t{ea} + size) % (uint64_t{1} << alignment) != 0) return false;
  int seg;
  asize_t off;
  if (!Locate(ea, &seg, &off) || segments[seg].end - ea < size) return false;
  const ItemStates &st = states[seg];
  // The same alignment asked for again is already there.
  if (IsHead(st[off])) {
    const Item item = ItemAtHead(seg, off);
    return item.type == ItemType::kAlign && item.size == size;
  }
  for (asize_t i = 0; i < size; ++i)
    if (st[off + i] != kUnknown) return false;
  PlaceItem({ea, size, ItemType::kAlign, BADNODE});
  return true;
}

bool Database::Impl::MakePString(ea_t ea, asize_t size) {
  if (!CanPlaceData(ea, size)) return false;
  PlaceItem({ea, size, ItemType::kPString, BADNODE});
  return true;
}

// ---- Cross-references -----------------------------------------------------------

void Database::Impl::SetFirst(ea_t to, FirstRef *ref, ea_t from, bool shared) {
  const bool was_far = ref->Distance() == FirstRef::kFar;
  const auto distance = static_cast<int32_t>(from - to);
  if (distance > FirstRef::kFar && distance < -FirstRef::kFar) {
    if (was_far) far_first_refs.Erase(to);
    ref->Set(distance, shared);
  } else {
    far_first_refs.Set(to, from);
    ref->Set(FirstRef::kFar, shared);
  }
}

void Database::Impl::AddDataRef(ea_t from, ea_t to) {
  // One search for both cases: a new target's entry is made as it is looked for.
  const size_t targets = first_refs.size();
  FirstRef *ref = first_refs.Insert(to);
  if (first_refs.size() != targets) {
    SetFirst(to, ref, from, false);
    return;
  }
  const ea_t first = FirstOf(to, *ref);
  if (first == from) return;
  SetFirst(to, ref, std::min(first, from), true);
}

void Database::Impl::RemoveDataRef(ea_t from, ea_t to) {
  FirstRef *ref = first_refs.Find(to);
  // A later referrer leaves its target marked: the mark only sends the
  // removal of the first to look further.
  if (ref == nullptr || FirstOf(to, *ref) != from) return;
  if (ref->Shared()) {
    if (const ea_t next = NextDataRef(to, from); next != BADADDR) {
      SetFirst(to, ref, next, true);
      return;
    }
  }
  if (ref->Distance() == FirstRef::kFar) far_first_refs.Erase(to);
  first_refs.Erase(to);
}

ea_t Database::Impl::NextDataRef(ea_t to, ea_t from) const {
  if (from == BADADDR) return BADADDR;
  const ea_t after = from + 1;
  const ItemStates::Among data(uint16_t{1} << kDataHead);
  for (size_t seg = 0; seg < segments.size(); ++seg) {
    const Segment &s = segments[seg];
    if (s.end <= after) continue;
    const ItemStates &st = states[seg];
    size_t off = after > s.start ? after - s.start : 0;
    for (off = st.NextOf(off, st.size(), data); off < st.size();
         off = st.NextOf(off + 1, st.size(), data)) {
      const ea_t ea = s.start + static_cast<ea_t>(off);
      if (Long(ea) == to &&
          ItemAtHead(static_cast<int>(seg), static_cast<asize_t>(off)).type ==
              ItemType::kOffset)
        return ea;
    }
  }
  return BADADDR;
}

ea_t Database::Impl::FirstDataRef(ea_t to) const {
  const FirstRef *ref = first_refs.Find(to);
  return ref != nullptr ? FirstOf(to, *ref) : BADADDR;
}

}  // namespace kernel
