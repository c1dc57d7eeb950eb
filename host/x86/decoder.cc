#include "host/x86/decoder.h"

#include <Zydis/Zydis.h>

namespace x86 {

namespace {

const ZydisDecoder &Decoder32() {
  static const ZydisDecoder decoder = [] {
    ZydisDecoder d;
    ZydisDecoderInit(&d, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
    return d;
  }();
  return decoder;
}

// Instructions after which the processor never reaches the next one.
bool Stops(ZydisMnemonic m) {
  switch (m) {
    case ZYDIS_MNEMONIC_HLT:
    case ZYDIS_MNEMONIC_UD0:
    case ZYDIS_MNEMONIC_UD1:
    case ZYDIS_MNEMONIC_UD2:
    case ZYDIS_MNEMONIC_IRET:
    case ZYDIS_MNEMONIC_IRETD:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool DecodeInstruction(const uint8_t *bytes, size_t size, uint32_t ea, Instruction *out) {
  if (bytes == nullptr || out == nullptr || size == 0) return false;
  ZydisDecoderContext context;
  ZydisDecodedInstruction insn;
  if (!ZYAN_SUCCESS(
          ZydisDecoderDecodeInstruction(&Decoder32(), &context, bytes, size, &insn)))
    return false;
  Instruction r;
  r.ea = ea;
  r.length = insn.length;
  const ZydisInstructionCategory category = insn.meta.category;
  const bool is_branch = category == ZYDIS_CATEGORY_COND_BR ||
                         category == ZYDIS_CATEGORY_UNCOND_BR ||
                         category == ZYDIS_CATEGORY_CALL;
  r.is_return = category == ZYDIS_CATEGORY_RET;
  r.is_call = category == ZYDIS_CATEGORY_CALL;
  r.falls_through =
      category != ZYDIS_CATEGORY_UNCOND_BR && !r.is_return && !Stops(insn.mnemonic);
  // Only a branch's operand matters, and decoding the operands costs as much
  // as decoding the instruction: the others are not decoded.
  if (is_branch && insn.operand_count_visible > 0) {
    ZydisDecodedOperand op;
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&Decoder32(), &context, &insn, &op, 1)))
      return false;
    if (op.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && op.imm.is_relative) {
      ZyanU64 target = 0;
      if (ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&insn, &op, ea, &target))) {
        r.has_target = true;
        r.target = static_cast<uint32_t>(target);
      }
    } else if (category == ZYDIS_CATEGORY_UNCOND_BR &&
               (op.type == ZYDIS_OPERAND_TYPE_REGISTER ||
                op.type == ZYDIS_OPERAND_TYPE_MEMORY)) {
      r.is_indirect_jump = true;
    }
  }
  *out = r;
  return true;
}

}  // namespace x86
