// Functions: contiguous ranges of code, found by following the flow from
// their first instruction.
#include <algorithm>

#include "host/kernel/database_impl.h"
#include "host/x86/function_finder.h"

namespace kernel {

void Database::Impl::SetFunction(ea_t start, ea_t end) {
  const auto index = static_cast<uint32_t>(next_function_index++);
  // The function after it in address order keeps its number: it begins a
  // run of its own when it did not.
  ea_t next;
  if (functions.Next(start, &next) && function_bases.Find(next) == nullptr) {
    const StoredFunction *after = functions.Find(next);
    SetBase(next, static_cast<uint32_t>(Unpack(next, *after).index) - after->step);
  }
  StoredFunction f;
  // It continues the run of the one before it when that one was made last.
  ea_t before;
  StoredFunction previous;
  if (index > 0 && start > 0 && functions.Floor(start - 1, &before, &previous) &&
      before == last_function_start && previous.step + 1 < StoredFunction::kSteps) {
    f.step = static_cast<uint8_t>(previous.step + 1);
  } else {
    SetBase(start, index);
  }
  if (end - start < StoredFunction::kLong) {
    f.length = static_cast<uint8_t>(end - start);
  } else {
    f.length = StoredFunction::kLong;
    long_function_ends.Set(start, end);
  }
  functions.Set(start, f);
  last_function_start = start;
  last_function_query.valid = false;
}

void Database::Impl::SetBase(ea_t start, uint32_t base) {
  function_bases.Set(start, base);
  last_run.valid = false;
}

ea_t Database::Impl::FunctionEnd(ea_t start, const StoredFunction &f) const {
  return f.length != StoredFunction::kLong ? start + f.length
                                           : *long_function_ends.Find(start);
}

FunctionEntry Database::Impl::Unpack(ea_t start, const StoredFunction &f) const {
  FunctionEntry entry;
  entry.end = FunctionEnd(start, f);
  RunQuery &run = last_run;
  if (!run.valid || start < run.first || (!run.last && start >= run.next)) {
    run.valid = true;
    function_bases.Floor(start, &run.first, &run.base);
    run.last = !function_bases.Next(run.first, &run.next);
  }
  entry.index = static_cast<int>(run.base + f.step);
  return entry;
}

bool Database::Impl::FunctionAt(ea_t ea, ea_t *start, FunctionEntry *f) const {
  FunctionQuery &q = last_function_query;
  if (!q.valid || q.ea != ea) {
    q.valid = true;
    q.ea = ea;
    StoredFunction stored;
    q.found = functions.Floor(ea, &q.start, &stored);
    if (q.found) {
      q.entry = Unpack(q.start, stored);
      q.found = ea < q.entry.end;
    }
  }
  if (!q.found) return false;
  if (start != nullptr) *start = q.start;
  if (f != nullptr) *f = q.entry;
  return true;
}

bool Database::Impl::InsertFunction(ea_t start, ea_t end, std::string *err) {
  const int seg = SegmentIndex(start);
  if (seg < 0 || end <= start || end > segments[seg].end) {
    if (err != nullptr) *err = "function outside its segment";
    return false;
  }
  ea_t next;
  const bool overlaps =
      FunctionAt(start, nullptr, nullptr) || (functions.Next(start, &next) && next < end);
  if (overlaps) {
    if (err != nullptr) *err = "function overlaps another";
    return false;
  }
  SetFunction(start, end);
  return true;
}

bool Database::Impl::AddFunction(ea_t start) {
  const int seg = SegmentIndex(start);
  if (seg < 0 || FunctionAt(start, nullptr, nullptr)) return false;
  const Segment &s = segments[seg];
  const ItemStates &st = states[seg];
  ea_t limit = s.end;
  ea_t next;
  if (functions.Next(start, &next)) limit = std::min(limit, next);

  x86::CodeView view;
  view.bytes = s.bytes.data();
  view.base = s.start;
  view.limit = limit;
  view.may_hold = [&](uint32_t ea, uint32_t length) {
    const asize_t off = ea - s.start;
    const uint8_t head = st[off];
    if (head == kUnknown) {
      for (uint32_t i = 1; i < length; ++i)
        if (st[off + i] != kUnknown) return false;
      return true;
    }
    // An instruction made earlier stays when it is the same one.
    if (!IsHead(head)) return false;
    const Item item = ItemAtHead(seg, off);
    return item.type == ItemType::kCode && item.size == length;
  };
  view.is_data = [&](uint32_t ea) {
    const uint8_t b = st[ea - s.start];
    if (b == kUnknown) return false;
    Item item;
    return ItemAt(ea, &item) && item.type != ItemType::kCode;
  };
  static x86::FunctionSpan span;  // its buffer is kept from call to call
  if (!x86::FindFunction(view, start, &span)) return false;
  // An instruction over unknown bytes was checked by may_hold to have only
  // unknown bytes: it becomes a short item without PlaceItem's search for
  // what it replaces.
  ItemStates &states_of_segment = states[seg];
  for (const x86::Instruction &insn : span.instructions) {
    const asize_t off = insn.ea - s.start;
    if (st[off] != kUnknown) continue;
    if (insn.length > kShortItem) {
      PlaceItem({insn.ea, insn.length, ItemType::kCode, BADNODE});
      continue;
    }
    states_of_segment.Set(off, kCodeHead);
    states_of_segment.Fill(off + 1, insn.length - 1, kTail);
  }
  // The span lies within [start, limit): no function holds start and none
  // begins before limit, as checked above, so it goes in without a search.
  if (span.start != start || span.end <= start || span.end > limit)
    return InsertFunction(span.start, span.end, nullptr);
  SetFunction(start, span.end);
  return true;
}

bool Database::Impl::AddFunctionRange(ea_t start, ea_t end) {
  const int seg = SegmentIndex(start);
  if (seg < 0 || end <= start || end > segments[seg].end) return false;
  const Segment &s = segments[seg];
  const ItemStates &st = states[seg];
  Item item;
  for (ea_t ea = start; ea < end; ea = ItemEnd(ea))
    if (ItemAt(ea, &item) && item.type != ItemType::kCode) return false;
  if (!InsertFunction(start, end, nullptr)) return false;
  // The given range is taken as it is; its bytes become code as far as they
  // decode in a straight line.
  x86::Instruction insn;
  for (ea_t ea = start; ea < end; ea += insn.length) {
    if (!x86::DecodeInstruction(s.bytes.data() + (ea - s.start), end - ea, ea, &insn))
      break;
    bool free = true;
    for (uint32_t i = 0; i < insn.length; ++i)
      free = free && st[ea - s.start + i] == kUnknown;
    if (free) PlaceItem({ea, insn.length, ItemType::kCode, BADNODE});
  }
  return true;
}

}  // namespace kernel
