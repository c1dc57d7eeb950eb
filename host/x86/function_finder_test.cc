#include "host/x86/function_finder.h"

#include <gtest/gtest.h>

namespace {

TEST(FunctionFinderTest, PrologueAndRet) {
  const std::vector<uint8_t> code = {0x55, 0x8B, 0xEC, 0x5D, 0xC3, 0x90, 0x90};
  x86::CodeView view{code.data(), 0x1000, 0x1000 + 7, nullptr, nullptr};
  x86::FunctionSpan span;
  ASSERT_TRUE(x86::FindFunction(view, 0x1000, &span));
  EXPECT_EQ(0x1005u, span.end);
  EXPECT_EQ(4u, span.instructions.size());
}

}  // namespace
