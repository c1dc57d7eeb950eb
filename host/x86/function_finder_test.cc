#include "host/x86/function_finder.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr uint32_t kBase = 0x1000;

struct Found {
  bool ok = false;
  uint32_t end = 0;
  std::vector<uint32_t> starts;
};

Found Find(const std::vector<uint8_t> &code, uint32_t start = kBase,
           std::set<uint32_t> data = {}) {
  x86::CodeView view;
  view.bytes = code.data();
  view.base = kBase;
  view.limit = kBase + static_cast<uint32_t>(code.size());
  view.may_hold = [&](uint32_t ea, uint32_t length) {
    for (uint32_t a = ea; a < ea + length; ++a)
      if (data.count(a) != 0) return false;
    return true;
  };
  view.is_data = [&](uint32_t ea) { return data.count(ea) != 0; };
  x86::FunctionSpan span;
  Found f;
  f.ok = x86::FindFunction(view, start, &span);
  f.end = span.end;
  for (const auto &insn : span.instructions) f.starts.push_back(insn.ea - kBase);
  return f;
}

TEST(FunctionFinderTest, PrologueAndRet) {
  const Found f = Find({0x55, 0x8B, 0xEC, 0x5D, 0xC3, 0x55, 0x8B, 0xEC});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 5, f.end);
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 3, 4}), f.starts);
}

TEST(FunctionFinderTest, ConditionalJumpOverRet) {
  // je +1; ret; xor eax,eax; ret; then the next function
  const Found f = Find({0x74, 0x01, 0xC3, 0x31, 0xC0, 0xC3, 0x55});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 6, f.end);
  EXPECT_EQ((std::vector<uint32_t>{0, 2, 3, 5}), f.starts);
}

TEST(FunctionFinderTest, StopsBeforeJumpTable) {
  // jmp [eax*4+0x100C]; a table of three case addresses follows.
  const Found f = Find({0xFF, 0x24, 0x85, 0x0C, 0x10, 0x00, 0x00,  //
                        0x20, 0x10, 0x00, 0x00, 0x21, 0x10, 0x00, 0x00, 0x22, 0x10});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 7, f.end);
  EXPECT_EQ(std::vector<uint32_t>{0}, f.starts);
}

TEST(FunctionFinderTest, DefaultCaseBeyondTableStaysUndecodedOverTable) {
  // cmp eax,2; ja default; jmp [eax*4+table]; table (8 bytes); default: ret
  const Found f = Find({0x83, 0xF8, 0x02, 0x77, 0x0B, 0xFF, 0x24, 0x85, 0x0C, 0x10, 0x00,
                        0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xC3});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 17, f.end);
  EXPECT_EQ((std::vector<uint32_t>{0, 3, 5, 16}), f.starts);
}

TEST(FunctionFinderTest, UndecodableBytes) {
  EXPECT_FALSE(Find({0xFF, 0xFF, 0xC3}).ok);
  // The path stops at bytes that do not decode; what came before stays.
  const Found f = Find({0x90, 0xFF, 0xFF, 0xC3});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 1, f.end);
}

TEST(FunctionFinderTest, CallFallsThroughAndIsNotFollowed) {
  // call +3 (to the int3 block); ret; int3 x3; another ret the call reaches
  const Found f = Find({0xE8, 0x03, 0x00, 0x00, 0x00, 0xC3, 0xCC, 0xCC, 0xCC, 0xC3});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 6, f.end);
  EXPECT_EQ((std::vector<uint32_t>{0, 5}), f.starts);
}

TEST(FunctionFinderTest, BackwardJumpLoop) {
  // loop: dec ecx; jnz loop; ret
  const Found f = Find({0x49, 0x75, 0xFD, 0xC3});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(kBase + 4, f.end);
  // A loop entered by a jump to its test at the bottom, body reached only
  // backwards from there.
  const Found g = Find({0xEB, 0x02, 0x90, 0x90, 0x49, 0x75, 0xFB, 0xC3});
  ASSERT_TRUE(g.ok);
  EXPECT_EQ(kBase + 8, g.end);
  EXPECT_EQ((std::vector<uint32_t>{0, 2, 3, 4, 5, 7}), g.starts);
}

TEST(FunctionFinderTest, TailJumpsOutOfRangeAreNotFollowed) {
  // jmp to before the start, then a far jump past the end of the code.
  const Found back = Find({0xC3, 0xEB, 0xFD}, kBase + 1);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(kBase + 3, back.end);
  EXPECT_EQ(std::vector<uint32_t>{1}, back.starts);
  const Found out = Find({0xE9, 0x00, 0x10, 0x00, 0x00, 0x90});
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(kBase + 5, out.end);
  // A forward jump far beyond a gap wider than filler ends the function at the gap.
  std::vector<uint8_t> far(64, 0xCC);
  far[0] = 0xEB;
  far[1] = 0x3C;  // to +0x3E
  far[0x3E] = 0xC3;
  const Found gap = Find(far);
  ASSERT_TRUE(gap.ok);
  EXPECT_EQ(kBase + 2, gap.end);
}

TEST(FunctionFinderTest, JumpIntoMiddleOfInstructionIsIgnored) {
  // mov eax,0x90C3xxxx ... a jump back into its immediate bytes.
  const Found f = Find({0xB8, 0x90, 0xC3, 0x00, 0x00, 0x74, 0xFA, 0xC3});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ((std::vector<uint32_t>{0, 5, 7}), f.starts);
}

TEST(FunctionFinderTest, InstructionCapEndsLongFunctions) {
  std::vector<uint8_t> nops(x86::kMaxFunctionInstructions + 10, 0x90);
  const Found f = Find(nops);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(x86::kMaxFunctionInstructions, f.starts.size());
}

}  // namespace
