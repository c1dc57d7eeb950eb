#include "host/x86/decoder.h"

#include <Zydis/Zydis.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

x86::Instruction Decode(const std::vector<uint8_t> &bytes, uint32_t ea = 0x1000) {
  x86::Instruction insn;
  EXPECT_TRUE(x86::DecodeInstruction(bytes.data(), bytes.size(), ea, &insn));
  return insn;
}

TEST(DecoderTest, LengthsAndFlow) {
  const struct {
    const char *name;
    std::vector<uint8_t> bytes;
    int length;
    bool falls_through, has_target, is_return, is_indirect;
    uint32_t target;
  } cases[] = {
      {"push ebp", {0x55}, 1, true, false, false, false, 0},
      {"mov eax,[ebp+8]", {0x8B, 0x45, 0x08}, 3, true, false, false, false, 0},
      {"lea eax,[eax+0]", {0x8D, 0x40, 0x00}, 3, true, false, false, false, 0},
      {"ret", {0xC3}, 1, false, false, true, false, 0},
      {"ret 8", {0xC2, 0x08, 0x00}, 3, false, false, true, false, 0},
      {"jmp short -2", {0xEB, 0xFE}, 2, false, true, false, false, 0x1000},
      {"jmp near +0x100",
       {0xE9, 0x00, 0x01, 0x00, 0x00},
       5,
       false,
       true,
       false,
       false,
       0x1105},
      {"je short +4", {0x74, 0x04}, 2, true, true, false, false, 0x1006},
      {"jne near",
       {0x0F, 0x85, 0x10, 0x00, 0x00, 0x00},
       6,
       true,
       true,
       false,
       false,
       0x1016},
      {"call rel32", {0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, 5, true, true, false, false, 0x1000},
      {"call [eax]", {0xFF, 0x10}, 2, true, false, false, false, 0},
      {"jmp [eax*4+table]",
       {0xFF, 0x24, 0x85, 0x00, 0x20, 0x00, 0x00},
       7,
       false,
       false,
       false,
       true,
       0},
      {"jmp eax", {0xFF, 0xE0}, 2, false, false, false, true, 0},
      {"hlt", {0xF4}, 1, false, false, false, false, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const x86::Instruction insn = Decode(c.bytes);
    EXPECT_EQ(c.length, insn.length);
    EXPECT_EQ(c.falls_through, insn.falls_through);
    EXPECT_EQ(c.has_target, insn.has_target);
    EXPECT_EQ(c.is_return, insn.is_return);
    EXPECT_EQ(c.is_indirect, insn.is_indirect_jump);
    if (c.has_target) {
      EXPECT_EQ(c.target, insn.target);
    }
  }
  EXPECT_TRUE(Decode({0xE8, 0, 0, 0, 0}).is_call);
  EXPECT_FALSE(Decode({0xE9, 0, 0, 0, 0}).is_call);
}

TEST(DecoderTest, TargetsWrapAt32Bits) {
  EXPECT_EQ(0xFFFFFFFEu, Decode({0xEB, 0xFC}, 0).target);
}

TEST(DecoderTest, RefusesBadAndTruncatedBytes) {
  x86::Instruction insn;
  const uint8_t bad[] = {0xFF, 0xFF, 0x00};
  EXPECT_FALSE(x86::DecodeInstruction(bad, 3, 0, &insn));
  const uint8_t call[] = {0xE8, 0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(x86::DecodeInstruction(call, 4, 0, &insn));  // cut short
  EXPECT_TRUE(x86::DecodeInstruction(call, 5, 0, &insn));
  EXPECT_FALSE(x86::DecodeInstruction(call, 0, 0, &insn));
  EXPECT_FALSE(x86::DecodeInstruction(nullptr, 5, 0, &insn));
  const uint8_t x64_only[] = {0x48};  // a REX prefix is dec eax in 32-bit code
  EXPECT_TRUE(x86::DecodeInstruction(x64_only, 1, 0, &insn));
  EXPECT_EQ(1, insn.length);
}

// The decoder takes only length, mnemonic and category, and decodes branches
// in full; it must still accept exactly what a full decoding accepts, and
// see the same length, flow and target.
// Decodes `size` bytes both ways; counts what was accepted and what had a
// target.
void ExpectSameAsFull(const uint8_t *bytes, size_t size, int *accepted, int *branches) {
  static const ZydisDecoder full = [] {
    ZydisDecoder d;
    ZydisDecoderInit(&d, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
    return d;
  }();
  ZydisDecodedInstruction insn;
  ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
  const bool ok = ZYAN_SUCCESS(ZydisDecoderDecodeFull(&full, bytes, size, &insn, ops));
  x86::Instruction got;
  ASSERT_EQ(ok, x86::DecodeInstruction(bytes, size, 0x401000, &got));
  if (!ok) return;
  ++*accepted;
  ASSERT_EQ(insn.length, got.length);
  const ZydisInstructionCategory category = insn.meta.category;
  const bool branch = category == ZYDIS_CATEGORY_COND_BR ||
                      category == ZYDIS_CATEGORY_UNCOND_BR ||
                      category == ZYDIS_CATEGORY_CALL;
  ZyanU64 target = 0;
  const bool has_target =
      branch && insn.operand_count_visible > 0 &&
      ops[0].type == ZYDIS_OPERAND_TYPE_IMMEDIATE && ops[0].imm.is_relative &&
      ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&insn, &ops[0], 0x401000, &target));
  ASSERT_EQ(has_target, got.has_target);
  EXPECT_EQ(category == ZYDIS_CATEGORY_RET, got.is_return);
  EXPECT_EQ(category == ZYDIS_CATEGORY_CALL, got.is_call);
  const bool stops =
      category == ZYDIS_CATEGORY_UNCOND_BR || category == ZYDIS_CATEGORY_RET ||
      insn.mnemonic == ZYDIS_MNEMONIC_HLT || insn.mnemonic == ZYDIS_MNEMONIC_UD0 ||
      insn.mnemonic == ZYDIS_MNEMONIC_UD1 || insn.mnemonic == ZYDIS_MNEMONIC_UD2 ||
      insn.mnemonic == ZYDIS_MNEMONIC_IRET || insn.mnemonic == ZYDIS_MNEMONIC_IRETD;
  EXPECT_EQ(!stops, got.falls_through);
  EXPECT_EQ(category == ZYDIS_CATEGORY_UNCOND_BR && !has_target &&
                insn.operand_count_visible > 0 &&
                (ops[0].type == ZYDIS_OPERAND_TYPE_REGISTER ||
                 ops[0].type == ZYDIS_OPERAND_TYPE_MEMORY),
            got.is_indirect_jump);
  if (has_target) {
    ++*branches;
    EXPECT_EQ(static_cast<uint32_t>(target), got.target);
  }
}

TEST(DecoderTest, AgreesWithFullDecodingOnRandomBytes) {
  std::mt19937 random(21);
  std::vector<uint8_t> bytes(1 << 20);
  for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
  int accepted = 0, branches = 0;
  for (size_t at = 0; at + 16 < bytes.size(); at += 3) {
    ASSERT_NO_FATAL_FAILURE(
        ExpectSameAsFull(&bytes[at], 1 + at % 15, &accepted, &branches))
        << at;
  }
  EXPECT_GT(accepted, 100000);
  EXPECT_GT(branches, 1000);
}

// The common instructions are decoded by table: every first byte, and every
// second byte behind 0x0F, with random operand bytes and every truncation.
TEST(DecoderTest, AgreesWithFullDecodingForEveryOpcode) {
  std::mt19937 random(7);
  int accepted = 0, branches = 0;
  uint8_t bytes[16];
  for (int escape = 0; escape < 2; ++escape) {
    for (int op = 0; op < 256; ++op) {
      for (int tail = 0; tail < 24; ++tail) {
        for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
        bytes[0] = static_cast<uint8_t>(escape != 0 ? 0x0F : op);
        if (escape != 0) bytes[1] = static_cast<uint8_t>(op);
        for (size_t size = 1; size <= 15; ++size)
          ASSERT_NO_FATAL_FAILURE(ExpectSameAsFull(bytes, size, &accepted, &branches))
              << escape << " " << op << " " << size;
      }
    }
  }
  EXPECT_GT(accepted, 50000);
  EXPECT_GT(branches, 5000);
}

}  // namespace
