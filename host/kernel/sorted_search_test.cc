#include "host/kernel/sorted_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// Both searches against the standard ones, for every length up to a few
// steps past a power of two, runs of equal values, and every value below,
// between, at and above them.
TEST(SortedSearchTest, AgreesWithTheStandardSearches) {
  for (size_t n = 0; n <= 70; ++n) {
    std::vector<uint16_t> a;
    for (size_t i = 0; i < n; ++i) a.push_back(static_cast<uint16_t>(2 * (i / 3) + 1));
    const uint16_t top = static_cast<uint16_t>(2 * (n / 3) + 3);
    for (uint16_t v = 0; v <= top; ++v) {
      const auto lower = std::lower_bound(a.begin(), a.end(), v) - a.begin();
      const auto upper = std::upper_bound(a.begin(), a.end(), v) - a.begin();
      ASSERT_EQ(static_cast<size_t>(lower), kernel::LowerBound(a.data(), n, v))
          << n << " " << v;
      ASSERT_EQ(static_cast<size_t>(upper), kernel::UpperBound(a.data(), n, v))
          << n << " " << v;
    }
  }
}

}  // namespace
