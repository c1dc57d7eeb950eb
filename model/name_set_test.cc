#include "model/name_set.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

namespace {

// The set against the standard one through its growth and many blocks of
// text: names alike but for their last character or their length, the
// empty name, long names, and every name asked for again.
TEST(NameSetTest, AgreesWithAStandardSet) {
  model::NameSet set;
  std::unordered_set<std::string> expected;
  uint32_t seed = 7;
  const auto next = [&seed] { return seed = seed * 1103515245 + 12345; };
  for (int i = 0; i < 60000; ++i) {
    std::string name;
    switch (next() % 4) {
      case 0:
        name = "TForm" + std::to_string(next() % 5000);
        break;
      case 1:
        name = std::string(next() % 12, 'x');
        break;
      case 2:
        name = "TList_lSystem_dInteger_g_" + std::string(next() % 3000, 'N');
        break;
      default:
        name = "T" + std::to_string(i) + "_T";
    }
    ASSERT_EQ(expected.count(name) != 0, set.Contains(name)) << name;
    ASSERT_EQ(expected.insert(name).second, set.Insert(name)) << name;
    ASSERT_TRUE(set.Contains(name));
  }
  EXPECT_EQ(expected.size(), set.size());
  for (const std::string &name : expected) ASSERT_FALSE(set.Insert(name)) << name;
  EXPECT_FALSE(set.Contains("TForm5000"));
  EXPECT_FALSE(set.Contains(std::string(12, 'x')));
}

}  // namespace
