#include "model/address_map.h"

#include <gtest/gtest.h>

#include <unordered_map>

namespace {

// The map against the standard one through its growth: code addresses a
// few bytes apart (which the mixing must spread), addresses near the top of
// the address space and the one that marks a free slot, each asked for
// before and after it is put in, and a second value never replacing the
// first.
TEST(AddressMapTest, AgreesWithAStandardMap) {
  model::AddressMap<uint32_t> map;
  std::unordered_map<ea_t, uint32_t> expected;
  uint32_t seed = 11;
  // The high bits: the low ones of such a generator repeat in short cycles.
  const auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 8; };
  for (uint32_t i = 0; i < 50000; ++i) {
    ea_t ea = 0;
    switch (next() % 4) {
      case 0:
        ea = 0x401000 + 4 * (next() % 20000);
        break;
      case 1:
        ea = 0x10000 * (next() % 64);
        break;
      case 2:
        ea = BADADDR - next() % 8;
        break;
      default:
        ea = next() << 8 ^ next();
    }
    const auto it = expected.find(ea);
    const uint32_t *found = map.Find(ea);
    ASSERT_EQ(it != expected.end(), found != nullptr) << ea;
    if (found != nullptr) {
      ASSERT_EQ(it->second, *found) << ea;
    }
    ASSERT_EQ(expected.emplace(ea, i).second, map.Insert(ea, i)) << ea;
    ASSERT_EQ(expected.at(ea), *map.Find(ea)) << ea;
  }
  for (const auto &[ea, value] : expected) {
    ASSERT_TRUE(map.Contains(ea));
    ASSERT_EQ(value, *map.Find(ea));
  }
  EXPECT_TRUE(map.Contains(BADADDR));
  EXPECT_FALSE(model::AddressMap<bool>().Contains(BADADDR));
  EXPECT_FALSE(model::AddressMap<bool>().Contains(0));
}

}  // namespace
