#include "host/kernel/item_states.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// NextNonZero and NextOf against a plain walk, for every start and end around one or
// two known states placed at every position of a range that spans several
// of the words the walks read, at every index within a word alike.
TEST(ItemStatesTest, NextNonZeroAgreesWithAPlainWalk) {
  constexpr size_t kSize = 61;
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
  st.Fill(0, 40, 3);
  st.Fill(3, 30, 1);
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(i >= 3 && i < 33 ? 1 : 3, st[i]) << i;
  st.Fill(4, 0, 0);
  EXPECT_EQ(1, st[4]);
}

// RunAfter and RunBefore against a plain walk, over runs of tails of every
// length at even and odd starts, with other states around them.
TEST(ItemStatesTest, RunsAgreeWithAPlainWalk) {
  constexpr size_t kSize = 61;
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

// Random sets and fills of every state, at odd sizes and across the words
// the walks read, must agree with a plain byte a state at every step: the
// states themselves, every walk over random ranges, and the block marks.
TEST(ItemStatesTest, AgreesWithAByteVector) {
  for (const size_t n :
       {size_t{1}, size_t{2}, size_t{3}, size_t{4}, size_t{5}, size_t{28}, size_t{29},
        size_t{30}, size_t{58}, size_t{59}, size_t{300}, size_t{2100}}) {
    kernel::ItemStates states(n);
    std::vector<uint8_t> expected(n, 0);
    std::vector<bool> marked((n + 15) / 16, false);
    std::mt19937 rng(static_cast<unsigned>(n));
    auto check_walks = [&](size_t i, size_t end) {
      size_t known = i;
      while (known < end && expected[known] == 0) ++known;
      ASSERT_EQ(known, states.NextNonZero(i, end)) << n << " " << i << " " << end;
      const auto wanted =
          static_cast<uint16_t>(rng() & ((1u << kernel::ItemStates::kStates) - 2));
      size_t of = i;
      while (of < end && ((wanted >> expected[of]) & 1) == 0) ++of;
      ASSERT_EQ(of, states.NextOf(i, end, wanted)) << n << " " << i << " " << end;
      const auto among = std::count_if(expected.begin() + static_cast<ptrdiff_t>(i),
                                       expected.begin() + static_cast<ptrdiff_t>(end),
                                       [&](uint8_t s) { return (wanted >> s) & 1; });
      ASSERT_EQ(static_cast<size_t>(among), states.CountOf(i, end, wanted))
          << n << " " << i << " " << end;
      // Runs of the state found at either end, and of one picked at random.
      for (const uint8_t s :
           {expected[std::min(i, n - 1)], expected[end == 0 ? 0 : end - 1],
            static_cast<uint8_t>(rng() % kernel::ItemStates::kStates)}) {
        size_t after = 0;
        while (i + after < end && expected[i + after] == s) ++after;
        ASSERT_EQ(after, states.RunAfter(i, end, s)) << n << " " << i << " " << end;
        size_t before = 0;
        while (end - before > i && expected[end - before - 1] == s) ++before;
        ASSERT_EQ(before, states.RunBefore(end, i, s)) << n << " " << i << " " << end;
      }
    };
    for (int step = 0; step < 3000; ++step) {
      const size_t i = rng() % n;
      const auto state = static_cast<uint8_t>(rng() % kernel::ItemStates::kStates);
      switch (rng() % 4) {
        case 0:
          states.Set(i, state);
          expected[i] = state;
          break;
        case 1: {
          const size_t len = rng() % (n - i + 1);
          states.Fill(i, len, state);
          std::fill_n(expected.begin() + static_cast<ptrdiff_t>(i), len, state);
          break;
        }
        case 2: {
          // Short fills, as of the tails of most items.
          const size_t len = std::min<size_t>(rng() % 40, n - i);
          states.Fill(i, len, state);
          std::fill_n(expected.begin() + static_cast<ptrdiff_t>(i), len, state);
          break;
        }
        default:
          states.Mark(i);
          marked[i / 16] = true;
          break;
      }
      const size_t a = rng() % (n + 1);
      const size_t b = rng() % (n + 1);
      check_walks(std::min(a, b), std::max(a, b));
      // From and to the very ends, where the last word is cut short.
      check_walks(std::min(a, b), n);
      check_walks(0, std::max(a, b));
      if (step % 100 == 0 || n < 64) {
        for (size_t k = 0; k < n; ++k) {
          ASSERT_EQ(expected[k], states[k]) << n << " " << k;
          ASSERT_EQ(marked[k / 16], states.Marked(k)) << n << " " << k;
        }
      }
    }
    ASSERT_EQ(n, states.size());
  }
}

}  // namespace
