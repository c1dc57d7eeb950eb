// Finds the extent of a function from its first instruction, the way a
// disassembler does: it follows the fall-through and the direct jumps
// (conditional or not) from the start and takes the contiguous run of
// instructions it reached. Calls lead to other functions and are not
// followed; jumps before the start or past the limit are tail jumps out.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/x86/decoder.h"

namespace x86 {

/// At most this many instructions are decoded for one function, so that
/// the search always ends quickly.
constexpr size_t kMaxFunctionInstructions = 1 << 15;
/// Bytes between two reached instructions that the function may span
/// (alignment filler); a wider gap ends the function.
constexpr uint32_t kMaxGap = 16;
/// Instructions decoded past a wider gap, waiting for a jump back into it,
/// before the search gives up on what lies beyond.
constexpr size_t kMaxBeyondGap = 64;

struct FunctionSpan {
  uint32_t start = 0;
  uint32_t end = 0;                       // exclusive
  std::vector<Instruction> instructions;  // by address, within [start, end)
};

/// The code the finder may look at: `bytes` hold the addresses [base, limit).
/// `may_hold(ea, length)` tells whether an instruction may be made there
/// (no other item, no other function); `is_data(ea)` whether a byte belongs
/// to a data item, which the function must not span.
struct CodeView {
  const uint8_t *bytes = nullptr;
  uint32_t base = 0;
  uint32_t limit = 0;
  std::function<bool(uint32_t ea, uint32_t length)> may_hold;
  std::function<bool(uint32_t ea)> is_data;
};

/// The function starting at `start`; false when `start` lies outside the
/// view or its first instruction cannot be decoded or placed.
bool FindFunction(const CodeView &code, uint32_t start, FunctionSpan *out);

}  // namespace x86
