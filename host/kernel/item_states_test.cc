#include "host/kernel/item_states.h"

#include <gtest/gtest.h>

namespace {

// NextNonZero and NextOf against a plain walk, for every start and end around one or
// two known states placed at every position of a range that spans several
// of its sixteen-state words, at even and odd indices alike.
TEST(ItemStatesTest, NextNonZeroAgreesWithAPlainWalk) {
  constexpr size_t kSize = 53;
  for (size_t a = 0; a <= kSize; ++a) {
    for (size_t b : {a, a + 1, a + 17}) {
      kernel::ItemStates st(kSize);
      if (a < kSize) st.Set(a, 2);
      if (b < kSize) st.Set(b, 1);
      for (size_t i = 0; i <= kSize; ++i) {
        for (size_t end = i; end <= kSize; ++end) {
          size_t plain = i;
          while (plain < end && st[plain] == 0) ++plain;
          ASSERT_EQ(plain, st.NextNonZero(i, end))
              << a << " " << b << " " << i << " " << end;
          // NextOf with the state at b left out finds a alone.
          size_t of = i;
          while (of < end && st[of] != 2) ++of;
          ASSERT_EQ(of, st.NextOf(i, end, 1u << 2))
              << a << " " << b << " " << i << " " << end;
          ASSERT_EQ(plain, st.NextOf(i, end, 1u << 1 | 1u << 2));
        }
      }
    }
  }
}

TEST(ItemStatesTest, FillKeepsTheNeighbours) {
  kernel::ItemStates st(40);
  st.Fill(0, 40, 5);
  st.Fill(3, 30, 1);
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(i >= 3 && i < 33 ? 1 : 5, st[i]) << i;
  st.Fill(4, 0, 0);
  EXPECT_EQ(1, st[4]);
}

// RunAfter and RunBefore against a plain walk, over runs of tails of every
// length at even and odd starts, with other states around them.
TEST(ItemStatesTest, RunsAgreeWithAPlainWalk) {
  constexpr size_t kSize = 45;
  for (size_t a = 0; a < kSize; ++a) {
    for (size_t length = 0; a + length <= kSize; ++length) {
      kernel::ItemStates st(kSize);
      st.Fill(0, kSize, 3);
      st.Fill(a, length, 1);
      for (size_t i = 0; i <= kSize; ++i) {
        for (size_t edge : {size_t{0}, i / 2, i, kSize}) {
          size_t after = 0;
          if (edge >= i)
            while (i + after < edge && st[i + after] == 1) ++after;
          size_t before = 0;
          if (edge <= i)
            while (i - before > edge && st[i - before - 1] == 1) ++before;
          if (edge >= i) ASSERT_EQ(after, st.RunAfter(i, edge, 1)) << a << " " << i;
          if (edge <= i) ASSERT_EQ(before, st.RunBefore(i, edge, 1)) << a << " " << i;
        }
      }
    }
  }
}

}  // namespace
