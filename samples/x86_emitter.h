// Writes the program's functions as real 32-bit x86 code, in the shapes the
// compiler emits for methods: a frame prologue, a short body, `ret` or
// `ret n`, and the linker's one-instruction fillers up to the next multiple
// of 4 behind each function.
#pragma once

#include <cstdint>

#include "samples/image.h"

namespace samples {

enum class FunctionShape {
  kEmpty,        // push ebp / mov ebp,esp / pop ebp / ret
  kCall,         // saves ebx and calls another function
  kLocals,       // two locals and a conditional jump inside the body
  kStackArgs,    // reads two stack arguments and ends with ret n (8 by default)
  kJumpOverRet,  // a conditional jump over an early ret
  kFieldGetter,  // mov eax,[eax+n] / ret, without a frame
  kFieldSetter,  // mov [eax+n],edx / ret, without a frame
};

struct FunctionRange {
  Addr start = 0;
  Addr end = 0;  // first address after the last instruction, before the filler
};

/// Writes one function at the current position, binds `label` to its first
/// byte when given, and aligns behind it. `callee` is used by kCall and may
/// be any label bound before or after; `operand` is the field offset of
/// kFieldGetter and kFieldSetter and the bytes kStackArgs removes.
FunctionRange EmitFunction(Image &image, FunctionShape shape, Label label,
                           Label callee = Label{}, uint8_t operand = 8);

/// A shape picked from `seed` among those that need no callee.
FunctionShape ShapeForSeed(uint32_t seed);

}  // namespace samples
