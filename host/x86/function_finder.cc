#include "host/x86/function_finder.h"

#include <map>

namespace x86 {

bool FindFunction(const CodeView &code, uint32_t start, FunctionSpan *out) {
  if (code.bytes == nullptr || out == nullptr || start < code.base || start >= code.limit)
    return false;
  std::map<uint32_t, Instruction> reached;
  std::vector<uint32_t> pending{start};
  while (!pending.empty() && reached.size() < kMaxFunctionInstructions) {
    const uint32_t ea = pending.back();
    pending.pop_back();
    if (ea < start || ea >= code.limit) continue;
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
    if (insn.has_target && !insn.is_call) pending.push_back(insn.target);
    if (insn.falls_through) pending.push_back(ea + insn.length);
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
