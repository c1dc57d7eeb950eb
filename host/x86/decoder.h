// One 32-bit x86 instruction as the function finder sees it: how long it is
// and where the flow can go after it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace x86 {

struct Instruction {
  uint32_t ea = 0;
  uint8_t length = 0;
  bool falls_through = false;  // the next instruction can run after it
  bool has_target = false;     // a direct jump, conditional jump or call
  bool is_call = false;        // the target is another function's start
  bool is_return = false;
  bool is_indirect_jump = false;  // jmp through a register or memory
  uint32_t target = 0;
};

/// Decodes the instruction at `ea` from `bytes` (`size` of them readable);
/// false when they do not hold a whole, valid 32-bit instruction.
bool DecodeInstruction(const uint8_t *bytes, size_t size, uint32_t ea, Instruction *out);

}  // namespace x86
