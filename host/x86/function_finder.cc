#include "host/x86/function_finder.h"

#include <map>
#include <set>

namespace x86 {

namespace {

// The end of the run of reached instructions from `end` on, gaps of filler
// included.
uint32_t ExtendRun(const std::map<uint32_t, Instruction> &reached, uint32_t end) {
  for (auto it = reached.lower_bound(end);
       it != reached.end() && it->first - end <= kMaxGap; ++it)
    end = it->first + it->second.length;
  return end;
}

}  // namespace

bool FindFunction(const CodeView &code, uint32_t start, FunctionSpan *out) {
  if (code.bytes == nullptr || out == nullptr || start < code.base || start >= code.limit)
    return false;
  std::map<uint32_t, Instruction> reached;
  // Taken in address order, so that the run from the start grows steadily;
  // what lies beyond a gap is explored only on a small budget, enough for a
  // loop whose test sits at its bottom to jump back and fill the gap, but
  // not for walking a whole other function behind a tail jump.
  std::set<uint32_t> pending{start};
  uint32_t run_end = start;
  size_t budget = kMaxBeyondGap;
  while (!pending.empty() && reached.size() < kMaxFunctionInstructions) {
    const uint32_t ea = *pending.begin();
    pending.erase(pending.begin());
    if (ea > run_end && ea - run_end > kMaxGap) {
      if (budget == 0) break;
      --budget;
    }
    auto next = reached.lower_bound(ea);
    if (next != reached.end() && next->first == ea) continue;
    // A jump into the middle of a reached instruction cannot become an
    // item of its own.
    if (next != reached.begin()) {
      const Instruction &prev = std::prev(next)->second;
      if (prev.ea + prev.length > ea) continue;
    }
    Instruction insn;
    const bool placed =
        DecodeInstruction(code.bytes + (ea - code.base), code.limit - ea, ea, &insn) &&
        (next == reached.end() || ea + insn.length <= next->first) &&
        (!code.may_hold || code.may_hold(ea, insn.length));
    if (!placed) {
      if (ea == start) return false;
      continue;
    }
    reached.emplace_hint(next, ea, insn);
    const uint32_t grown = ExtendRun(reached, run_end);
    if (grown != run_end) budget = kMaxBeyondGap;
    run_end = grown;
    auto follow = [&](uint32_t to) {
      if (to >= start && to < code.limit) pending.insert(to);
    };
    if (insn.has_target && !insn.is_call) follow(insn.target);
    if (insn.falls_through) follow(ea + insn.length);
  }

  out->start = start;
  out->end = start;
  out->instructions.clear();
  for (const auto &[ea, insn] : reached) {
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
