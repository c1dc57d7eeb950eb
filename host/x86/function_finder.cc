#include "host/x86/function_finder.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace x86 {

namespace {

// The instructions reached so far, sorted by address. The search takes its
// addresses in order, so nearly every one is appended; a sorted vector costs
// no allocation per instruction, as a tree would.
using Reached = std::vector<Instruction>;

Reached::iterator LowerBound(Reached &reached, uint32_t ea) {
  // Nearly every address asked for lies past the last instruction reached,
  // or at it.
  const size_t n = reached.size();
  if (n == 0 || reached[n - 1].ea < ea) return reached.end();
  if (n == 1 || reached[n - 2].ea < ea) return reached.end() - 1;
  return std::lower_bound(reached.begin(), reached.end(), ea,
                          [](const Instruction &i, uint32_t a) { return i.ea < a; });
}

// The end of the run of reached instructions from `end` on, gaps of filler
// included.
uint32_t ExtendRun(Reached &reached, uint32_t end) {
  for (auto it = LowerBound(reached, end); it != reached.end() && it->ea - end <= kMaxGap;
       ++it)
    end = it->ea + it->length;
  return end;
}

}  // namespace

bool FindFunction(const CodeView &code, uint32_t start, FunctionSpan *out) {
  if (code.bytes == nullptr || out == nullptr || start < code.base || start >= code.limit)
    return false;
  // Kept from call to call: a detector run finds hundreds of thousands of
  // functions, and their buffers would otherwise be allocated each time. The
  // kernel serves one database from one thread.
  static Reached reached;
  static std::vector<uint32_t> pending;
  reached.clear();
  pending.assign(1, start);
  // Taken in address order, so that the run from the start grows steadily;
  // what lies beyond a gap is explored only on a small budget, enough for a
  // loop whose test sits at its bottom to jump back and fill the gap, but
  // not for walking a whole other function behind a tail jump. A min-heap:
  // an address pushed twice is taken once, its copies dropped with it.
  // The fall-through of the instruction taken last waits beside the heap:
  // it is nearly always the next address taken, and needs no heap work.
  const std::greater<uint32_t> later;
  uint32_t fall = 0;
  bool has_fall = false;
  uint32_t run_end = start;
  size_t budget = kMaxBeyondGap;
  while ((has_fall || !pending.empty()) && reached.size() < kMaxFunctionInstructions) {
    uint32_t ea;
    if (has_fall && (pending.empty() || fall <= pending.front())) {
      ea = fall;
      has_fall = false;
    } else {
      ea = pending.front();
    }
    while (!pending.empty() && pending.front() == ea) {
      std::pop_heap(pending.begin(), pending.end(), later);
      pending.pop_back();
    }
    if (ea > run_end && ea - run_end > kMaxGap) {
      if (budget == 0) break;
      --budget;
    }
    auto next = LowerBound(reached, ea);
    if (next != reached.end() && next->ea == ea) continue;
    // A jump into the middle of a reached instruction cannot become an
    // item of its own.
    if (next != reached.begin()) {
      const Instruction &prev = *std::prev(next);
      if (prev.ea + prev.length > ea) continue;
    }
    Instruction insn;
    const bool placed =
        DecodeInstruction(code.bytes + (ea - code.base), code.limit - ea, ea, &insn) &&
        (next == reached.end() || ea + insn.length <= next->ea) &&
        (!code.may_hold || code.may_hold(ea, insn.length));
    if (!placed) {
      if (ea == start) return false;
      continue;
    }
    reached.insert(next, insn);
    const uint32_t grown = ExtendRun(reached, run_end);
    if (grown != run_end) budget = kMaxBeyondGap;
    run_end = grown;
    auto follow = [&](uint32_t to) {
      if (to >= start && to < code.limit) {
        pending.push_back(to);
        std::push_heap(pending.begin(), pending.end(), later);
      }
    };
    if (insn.has_target && !insn.is_call) follow(insn.target);
    if (insn.falls_through) {
      const uint32_t to = ea + insn.length;
      if (has_fall || to < start || to >= code.limit) {
        follow(to);
      } else {
        fall = to;
        has_fall = true;
      }
    }
  }

  out->start = start;
  out->end = start;
  out->instructions.clear();
  for (const Instruction &insn : reached) {
    const uint32_t ea = insn.ea;
    if (ea - out->end > kMaxGap) break;
    bool gap_holds_data = false;
    for (uint32_t a = out->end; a < ea && !gap_holds_data; ++a)
      gap_holds_data = code.is_data && code.is_data(a);
    if (gap_holds_data) break;
    out->instructions.push_back(insn);
    out->end = ea + insn.length;
  }
  return true;
}

}  // namespace x86
