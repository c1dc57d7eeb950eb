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

// The bytes a ModRM byte at p[0] takes with what it addresses (32-bit
// addressing: a SIB byte, an 8- or 32-bit displacement); 0 when they pass
// `size`.
size_t ModRmLength(const uint8_t *p, size_t size) {
  if (size < 1) return 0;
  const unsigned mod = p[0] >> 6, rm = p[0] & 7;
  size_t n = 1;
  if (mod == 3) return n;
  if (rm == 4) {
    if (size < 2) return 0;
    ++n;
    if (mod == 0 && (p[1] & 7) == 5) n += 4;
  } else if (mod == 0 && rm == 5) {
    n += 4;
  }
  if (mod == 1) n += 1;
  if (mod == 2) n += 4;
  return n <= size ? n : 0;
}

int32_t Rel8(const uint8_t *p) { return static_cast<int8_t>(p[0]); }
int32_t Rel32(const uint8_t *p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 |
                              uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

enum class Common { kNo, kDone, kRefused };

// The instructions that make up most of a program's code, without a prefix,
// decoded by table: a general decoder costs several hundred instructions on
// each, and the function finder decodes every instruction of every
// function. kNo leaves the bytes to the general decoder, which also takes
// every form whose validity depends on more than its length.
Common DecodeCommon(const uint8_t *b, size_t size, uint32_t ea, Instruction *r) {
  const uint8_t op = b[0];
  size_t length = 0;     // 0: not taken here
  size_t immediate = 0;  // bytes after the ModRM operand
  bool modrm = false;
  int32_t rel = 0;
  bool relative = false;
  auto need = [&](size_t n) { return n <= size; };
  if (op < 0x40 && (op & 7) < 4) {
    modrm = true;  // add/or/adc/sbb/and/sub/xor/cmp with a ModRM operand
  } else if (op < 0x40 && (op & 7) == 4) {
    length = 2;  // the same on AL with an 8-bit immediate
  } else if (op < 0x40 && (op & 7) == 5) {
    length = 5;  // ... on EAX with a 32-bit immediate
  } else if (op >= 0x40 && op <= 0x5F) {
    length = 1;  // inc, dec, push, pop of a register
  } else if (op == 0x68) {
    length = 5;
  } else if (op == 0x6A) {
    length = 2;
  } else if (op >= 0x70 && op <= 0x7F) {
    if (!need(2)) return Common::kRefused;
    length = 2, relative = true, rel = Rel8(b + 1);
  } else if (op == 0x81) {
    modrm = true, immediate = 4;
  } else if (op == 0x80 || op == 0x83) {
    modrm = true, immediate = 1;
  } else if (op >= 0x84 && op <= 0x8B) {
    modrm = true;  // test, xchg, mov
  } else if (op == 0x8D) {
    if (!need(2)) return Common::kRefused;
    if (b[1] >> 6 == 3) return Common::kNo;  // lea of a register
    modrm = true;
  } else if (op == 0x90 || op == 0x99 || op == 0xC9) {
    length = 1;  // nop, cdq, leave
  } else if (op == 0xA1 || op == 0xA3) {
    length = 5;
  } else if (op >= 0xB0 && op <= 0xB7) {
    length = 2;
  } else if (op >= 0xB8 && op <= 0xBF) {
    length = 5;
  } else if (op == 0xC3) {
    length = 1, r->is_return = true;
  } else if (op == 0xC2) {
    length = 3, r->is_return = true;
  } else if (op == 0xC6 || op == 0xC7) {
    if (!need(2)) return Common::kRefused;
    if ((b[1] >> 3 & 7) != 0) return Common::kNo;
    modrm = true, immediate = op == 0xC6 ? 1 : 4;
  } else if (op == 0xE8 || op == 0xE9) {
    if (!need(5)) return Common::kRefused;
    length = 5, relative = true, rel = Rel32(b + 1);
    r->is_call = op == 0xE8;
  } else if (op == 0xEB) {
    if (!need(2)) return Common::kRefused;
    length = 2, relative = true, rel = Rel8(b + 1);
  } else if (op == 0xFF) {
    if (!need(2)) return Common::kRefused;
    const unsigned reg = b[1] >> 3 & 7;
    if (reg != 0 && reg != 1 && reg != 2 && reg != 4 && reg != 6) return Common::kNo;
    modrm = true;
    r->is_call = reg == 2;
    r->is_indirect_jump = reg == 4;
  } else if (op == 0x0F && size >= 2 && b[1] >= 0x80 && b[1] <= 0x8F) {
    if (!need(6)) return Common::kRefused;
    length = 6, relative = true, rel = Rel32(b + 2);
  } else if (op == 0x0F && size >= 2 &&
             (b[1] == 0xB6 || b[1] == 0xB7 || b[1] == 0xBE || b[1] == 0xBF)) {
    const size_t m = ModRmLength(b + 2, size - 2);  // movzx, movsx
    if (m == 0) return Common::kRefused;
    length = 2 + m;
  } else {
    return Common::kNo;
  }
  if (modrm) {
    const size_t m = ModRmLength(b + 1, size - 1);
    if (m == 0) return Common::kRefused;
    length = 1 + m + immediate;
  }
  if (!need(length)) return Common::kRefused;
  r->ea = ea;
  r->length = static_cast<uint8_t>(length);
  const bool jumps = op == 0xE9 || op == 0xEB || r->is_indirect_jump;
  r->falls_through = !jumps && !r->is_return;
  if (relative) {
    r->has_target = true;
    r->target = ea + static_cast<uint32_t>(length) + static_cast<uint32_t>(rel);
  }
  return Common::kDone;
}

}  // namespace

bool DecodeInstruction(const uint8_t *bytes, size_t size, uint32_t ea, Instruction *out) {
  if (bytes == nullptr || out == nullptr || size == 0) return false;
  Instruction common;
  switch (DecodeCommon(bytes, size, ea, &common)) {
    case Common::kDone:
      *out = common;
      return true;
    case Common::kRefused:
      return false;
    case Common::kNo:
      break;
  }
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
