#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <random>
#include <string>

#include "testing/test_db.h"

namespace {

constexpr ea_t kBase = 0x00401000;

struct FunctionsTest : testing::Test {
  TestDb db{kBase, 0x1000};
};

TEST_F(FunctionsTest, MakesCodeItemsAndFindsTheEnd) {
  // push ebp; mov ebp,esp; je +1; pop ebp; ret; (then a stray ret outside)
  db.PutBytes(kBase, {0x55, 0x8B, 0xEC, 0x74, 0x01, 0x5D, 0xC3, 0x90});
  ASSERT_EQ(1, add_func(kBase, BADADDR));
  EXPECT_EQ(0, get_func_num(kBase));
  EXPECT_EQ(0, get_func_num(kBase + 6));
  EXPECT_EQ(-1, get_func_num(kBase + 7));
  EXPECT_EQ(kBase + 3, get_item_end(kBase + 1));
  EXPECT_EQ(kernel::ItemType::kCode, TestDb::ItemAt(kBase + 6)->type);
  EXPECT_FALSE(TestDb::ItemAt(kBase + 7));
  const auto functions = db.db().Functions();
  ASSERT_EQ(1u, functions.size());
  EXPECT_EQ(kBase + 7, functions[0].end);
  EXPECT_EQ(0, add_func(kBase + 5, BADADDR));  // already in a function
}

TEST_F(FunctionsTest, RefusesWhatCannotStartAFunction) {
  EXPECT_EQ(0, add_func(0x10, BADADDR));    // outside every segment
  db.PutBytes(kBase + 0x10, {0xFF, 0xFF});  // no instruction
  EXPECT_EQ(0, add_func(kBase + 0x10, BADADDR));
  db.PutByte(kBase + 0x20, 0xC3);
  ASSERT_EQ(1, do_data_ex(kBase + 0x20, DATA_BYTE, 1, BADNODE));
  EXPECT_EQ(0, add_func(kBase + 0x20, BADADDR));  // data is not made code
  db.PutByte(kBase + 0xFFF, 0xE8);                // a call cut by the end
  EXPECT_EQ(0, add_func(kBase + 0xFFF, BADADDR));
}

TEST_F(FunctionsTest, NeverRunsIntoAnotherFunctionOrData) {
  // Two nops and a ret at +0x40 made first; nops from +0x3C fall into it.
  db.PutBytes(kBase + 0x3C, {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0xC3});
  ASSERT_EQ(1, add_func(kBase + 0x40, BADADDR));
  ASSERT_EQ(1, add_func(kBase + 0x3C, BADADDR));
  const auto functions = db.db().Functions();
  ASSERT_EQ(2u, functions.size());
  EXPECT_EQ(kBase + 0x40, functions[0].end);
  EXPECT_EQ(1, get_func_num(kBase + 0x3F));

  // Code that jumps over a data item ends before it.
  db.PutBytes(kBase + 0x80, {0x74, 0x04, 0x90, 0xC3, 0x00, 0x00, 0x90, 0xC3});
  ASSERT_EQ(1, do_data_ex(kBase + 0x84, DATA_WORD, 2, BADNODE));
  ASSERT_EQ(1, add_func(kBase + 0x80, BADADDR));
  EXPECT_EQ(kBase + 0x84, db.db().Functions()[2].end);
  EXPECT_FALSE(TestDb::ItemAt(kBase + 0x86));
}

TEST_F(FunctionsTest, GivenRangeIsTakenAsItIs) {
  db.PutBytes(kBase + 0x100, {0x90, 0xC3, 0x90, 0xC3});
  ASSERT_EQ(1, add_func(kBase + 0x100, kBase + 0x104));
  EXPECT_EQ(0, get_func_num(kBase + 0x103));
  EXPECT_EQ(kernel::ItemType::kCode, TestDb::ItemAt(kBase + 0x103)->type);
  EXPECT_EQ(0, add_func(kBase + 0x102, kBase + 0x108));   // overlaps
  EXPECT_EQ(0, add_func(kBase + 0x110, kBase + 0x110));   // empty
  EXPECT_EQ(0, add_func(kBase + 0xFF0, kBase + 0x1010));  // leaves the segment
}

TEST_F(FunctionsTest, RangesOfEveryLengthAgreeWithAMap) {
  // Functions restored over random ranges of a large segment, short ones,
  // ones around 255 bytes (a length kept in a byte, longer ends kept apart)
  // and around 64 KB, some refused for overlapping; before them long runs
  // made in address order (a number follows from the one before it), then
  // others made in the runs' gaps, each of which splits a run: the list, the
  // number of the function holding each address and its ends agree with a
  // map.
  constexpr ea_t kData = 0x01000000;
  constexpr asize_t kSize = 0x100000;
  db.AddSegment("CODE2", kData, kSize);
  std::map<ea_t, std::pair<ea_t, int>> want;  // start -> end, number
  std::mt19937 rng(13);
  const asize_t lengths[] = {1,     2,      15,     0xFE,    0xFF,
                             0x100, 0xFFFE, 0xFFFF, 0x10000, 0x12345};
  auto restore = [&](ea_t start, ea_t end) {
    auto after = want.lower_bound(start);
    const bool free = end <= kData + kSize &&
                      (after == want.end() || end <= after->first) &&
                      (after == want.begin() || std::prev(after)->second.first <= start);
    std::string err;
    ASSERT_EQ(free, db.db().RestoreFunction({start, end}, &err)) << std::hex << start;
    if (free) want[start] = {end, static_cast<int>(want.size())};
  };
  // Three runs in address order, each begun after a function made
  // elsewhere, the last longer than a run's steps.
  constexpr ea_t kRuns = kData + 0xC0000;  // past the ranges below
  ea_t at = kRuns;
  for (int run = 0; run < 3; ++run) {
    const ea_t elsewhere = kRuns - 0x100 + 0x20 * static_cast<ea_t>(run);
    restore(elsewhere, elsewhere + 0x10);
    for (int i = 0; i < 100 + 300 * run; ++i) {
      const ea_t start = at + rng() % 3;
      at = start + 1 + rng() % 4;
      restore(start, at);
    }
  }
  for (int i = 0; i < 600; ++i) {
    const ea_t start = kRuns + rng() % 0x3000;
    restore(start, start + 1);
  }
  for (size_t i = 0; i < std::size(lengths); ++i) {
    const ea_t start = kData + static_cast<ea_t>(i) * 0x12500 + rng() % 0x100;
    restore(start, start + lengths[i]);
  }
  for (int i = 0; i < 400; ++i) {
    const ea_t start = kData + rng() % kSize;
    restore(start, start + (rng() % 3 == 0 ? lengths[rng() % std::size(lengths)]
                                           : 1 + rng() % 64));
  }
  const auto functions = db.db().Functions();
  ASSERT_EQ(want.size(), functions.size());
  auto it = want.begin();
  for (const kernel::Function &f : functions) {
    EXPECT_EQ(it->first, f.start);
    EXPECT_EQ(it->second.first, f.end);
    const int number = it->second.second;
    EXPECT_EQ(number, get_func_num(f.start));
    EXPECT_EQ(number, get_func_num(f.end - 1));
    const auto next = std::next(it);
    if (next == want.end() || next->first != f.end) {
      EXPECT_EQ(-1, get_func_num(f.end));
    }
    it = next;
  }
}

TEST_F(FunctionsTest, SegmentServicesSkipGapsBetweenSegments) {
  db.AddSegment("DATA", kBase + 0x2000, 0x10);
  EXPECT_EQ(nullptr, areacb_t_get_area(&segs, kBase + 0x1800));
  EXPECT_EQ(kBase, areacb_t_get_next_area(&segs, 0)->start_ea);
  EXPECT_EQ(kBase + 0x2000, areacb_t_get_next_area(&segs, kBase)->start_ea);
  EXPECT_EQ(kBase + 0x2000, areacb_t_get_next_area(&segs, kBase + 0x1FFF)->start_ea);
  EXPECT_EQ(kBase + 0x2010, areacb_t_get_next_area(&segs, kBase + 0x1FFF)->end_ea);
  EXPECT_EQ(nullptr, areacb_t_get_next_area(&segs, kBase + 0x2000));
  EXPECT_EQ(nullptr, areacb_t_get_next_area(&segs, BADADDR));

  EXPECT_EQ(kBase + 0x2000, prevaddr(kBase + 0x2001));
  EXPECT_EQ(kBase + 0xFFF, prevaddr(kBase + 0x2000));
  EXPECT_EQ(kBase + 0xFFF, prevaddr(kBase + 0x1800));
  EXPECT_EQ(BADADDR, prevaddr(kBase));
  EXPECT_EQ(BADADDR, prevaddr(0));
}

}  // namespace
