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

}  // namespace
