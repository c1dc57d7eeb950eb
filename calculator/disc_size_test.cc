#include "calculator/disc_size.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <string>

namespace {

struct Expected {
  int64_t bytes;
  int64_t sectors;
  uint32_t minute, second, psec;
};

void ExpectState(const DiscSize &disc, const Expected &want) {
  EXPECT_EQ(want.bytes, disc.Bytes);
  EXPECT_EQ(want.sectors, disc.Sectors);
  EXPECT_EQ(want.minute, disc.Minute);
  EXPECT_EQ(want.second, disc.Second);
  EXPECT_EQ(want.psec, disc.Psecond);
}

TEST(DiscSizeTest, StartsAtZero) {
  DiscSize disc;
  ExpectState(disc, {0, 0, 0, 0, 0});
  EXPECT_EQ(0, disc.MatchStdDisc());
}

TEST(DiscSizeTest, EveryPresetHasItsSizeAndMatchesItself) {
  struct Row {
    int k;
    int64_t sectors, bytes;
    const char *mb;
  };
  const Row rows[] = {
      {1, 336075, 688281600, "656.396484375"}, {2, 359849, 736970752, "702.830078125"},
      {3, 404849, 829130752, "790.720703125"}, {4, 445349, 912074752, "869.822265625"},
      {5, 2295104, 4700372992, "4482.625"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(StdDiscs[row.k - 1].Caption);
    DiscSize disc;
    disc.LoadStdDisc(row.k);
    EXPECT_EQ(row.sectors, disc.Sectors);
    EXPECT_EQ(row.bytes, disc.Bytes);
    EXPECT_EQ(row.mb, FormatMB(disc.MBValue()));
    EXPECT_EQ(row.k, disc.MatchStdDisc());

    // Reaching the same size by sectors marks the preset as well, and one sector more
    // marks nothing.
    DiscSize typed;
    typed.SetFromSectors(row.sectors);
    EXPECT_EQ(row.k, typed.MatchStdDisc());
    typed.SetFromSectors(row.sectors + 1);
    EXPECT_EQ(0, typed.MatchStdDisc());
  }
}

TEST(DiscSizeTest, SetFromBytesRoundsUpToWholeSectorsAndClamps) {
  struct Row {
    const char *name;
    int64_t input;
    Expected want;
    bool adjusted;
  };
  const Row rows[] = {
      {"zero", 0, {0, 0, 0, 0, 0}, false},
      {"negative", -1, {0, 0, 0, 0, 0}, false},
      {"smallest 64-bit", std::numeric_limits<int64_t>::min(), {0, 0, 0, 0, 0}, false},
      {"one byte", 1, {2048, 1, 0, 0, 1}, true},
      {"one sector", 2048, {2048, 1, 0, 0, 1}, false},
      {"two sectors", 4096, {4096, 2, 0, 0, 2}, false},
      {"one short of two sectors", 4095, {4096, 2, 0, 0, 2}, true},
      {"one minute", 9216000, {9216000, 4500, 1, 0, 0}, false},
      {"one below the limit", 92159997951, {MaxBytes, MaxSectors, 9999, 59, 74}, true},
      {"the limit", 92159997952, {MaxBytes, MaxSectors, 9999, 59, 74}, false},
      {"one above the limit", 92159997953, {MaxBytes, MaxSectors, 9999, 59, 74}, true},
      {"largest 64-bit",
       std::numeric_limits<int64_t>::max(),
       {MaxBytes, MaxSectors, 9999, 59, 74},
       true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DiscSize disc;
    EXPECT_EQ(row.adjusted, disc.SetFromBytes(row.input));
    ExpectState(disc, row.want);
  }
}

TEST(DiscSizeTest, SetFromSectorsClampsAboveMax) {
  struct Row {
    const char *name;
    int64_t input;
    Expected want;
    bool clamped;
  };
  const Row rows[] = {
      {"zero", 0, {0, 0, 0, 0, 0}, false},
      {"negative", -4500, {0, 0, 0, 0, 0}, false},
      {"one minute", 4500, {9216000, 4500, 1, 0, 0}, false},
      {"one second", 75, {153600, 75, 0, 1, 0}, false},
      {"the limit", 44999999, {MaxBytes, MaxSectors, 9999, 59, 74}, false},
      {"one above the limit", 45000000, {MaxBytes, MaxSectors, 9999, 59, 74}, true},
      {"largest 64-bit",
       std::numeric_limits<int64_t>::max(),
       {MaxBytes, MaxSectors, 9999, 59, 74},
       true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DiscSize disc;
    EXPECT_EQ(row.clamped, disc.SetFromSectors(row.input));
    ExpectState(disc, row.want);
  }
}

TEST(DiscSizeTest, SectorsAndTimeAgreeAcrossTheWholeRange) {
  DiscSize disc;
  for (int64_t sectors = 0; sectors <= MaxSectors; sectors += 9973) {
    disc.SetFromSectors(sectors);
    ASSERT_LE(disc.Second, MaxSecond) << sectors;
    ASSERT_LE(disc.Psecond, MaxPsecond) << sectors;
    ASSERT_EQ(sectors, disc.Minute * 4500 + disc.Second * 75 + disc.Psecond);
    DiscSize from_time;
    from_time.SetFromTime(disc.Minute, disc.Second, disc.Psecond);
    ASSERT_EQ(disc.Bytes, from_time.Bytes) << sectors;
  }
}

TEST(DiscSizeTest, SetFromTimeKeepsTheTimeAsGiven) {
  DiscSize disc;
  disc.SetFromTime(74, 41, 0);
  ExpectState(disc, {688281600, 336075, 74, 41, 0});
  EXPECT_EQ(1, disc.MatchStdDisc());

  disc.SetFromTime(74, 41, 1);
  EXPECT_EQ(0, disc.MatchStdDisc());

  disc.SetFromTime(510, 1, 29);
  ExpectState(disc, {4700372992, 2295104, 510, 1, 29});
  EXPECT_EQ(5, disc.MatchStdDisc());

  disc.SetFromTime(9999, 59, 74);
  ExpectState(disc, {MaxBytes, MaxSectors, 9999, 59, 74});

  // 75 seconds are not carried into the minutes.
  disc.SetFromTime(0, 75, 0);
  ExpectState(disc, {5625 * 2048, 5625, 0, 75, 0});
}

TEST(DiscSizeTest, SetFromTimeOverflowStopsWithTheNewTimeAndTheOldSize) {
  struct Row {
    const char *name;
    uint32_t minute, second, psec;
  };
  const Row rows[] = {
      {"seconds carry out of 32 bits", 3, static_cast<uint32_t>(-5), 0},
      {"minutes beyond the signed range", 0x80000000u, 0, 0},
      {"seconds times 75 beyond the signed range", 0, 30000000, 0},
      {"psec carry out of 32 bits", 1, 0, 0xFFFFFFFFu},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DiscSize disc;
    disc.SetFromBytes(4096);
    try {
      disc.SetFromTime(row.minute, row.second, row.psec);
      ADD_FAILURE() << "no overflow";
    } catch (const IntegerOverflowError &error) {
      EXPECT_EQ(0u, std::string(error.what()).find("Integer overflow "));
    }
    ExpectState(disc, {4096, 2, row.minute, row.second, row.psec});
  }
}

TEST(DiscSizeTest, SetFromMBKeepsBytesBeyondTheLastSector) {
  struct Row {
    const char *name;
    long double input;
    Expected want;
    bool clamped;
  };
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  const long double inf = std::numeric_limits<long double>::infinity();
  const Row rows[] = {
      {"one", 1, {1048576, 512, 0, 6, 62}, false},
      {"one and a half", 1.5L, {1572864, 768, 0, 10, 18}, false},
      {"a thousandth", 0.001L, {1048, 0, 0, 0, 0}, false},
      {"74 minutes and a bit", 656.3965L, {688281616, 336075, 74, 41, 0}, false},
      {"the limit", 87890.623046875L, {MaxBytes, MaxSectors, 9999, 59, 74}, false},
      {"above the limit", 87890.7L, {MaxBytes, MaxSectors, 9999, 59, 74}, true},
      {"not a number", nan, {MaxBytes, MaxSectors, 9999, 59, 74}, true},
      {"infinity", inf, {MaxBytes, MaxSectors, 9999, 59, 74}, true},
      {"negative", -1.5L, {0, 0, 0, 0, 0}, false},
      {"negative infinity", -inf, {0, 0, 0, 0, 0}, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    DiscSize disc;
    EXPECT_EQ(row.clamped, disc.SetFromMB(row.input));
    ExpectState(disc, row.want);
  }
}

TEST(DiscSizeTest, MegabyteEntryWithExtraBytesStillMatchesItsPreset) {
  DiscSize disc;
  disc.SetFromMB(656.3965L);
  EXPECT_NE(disc.Sectors * 2048, disc.Bytes);
  EXPECT_EQ(1, disc.MatchStdDisc());
}

TEST(DiscSizeTest, SetFromWholeMBGivesTheStartUpState) {
  DiscSize disc;
  disc.SetFromWholeMB(1);
  ExpectState(disc, {1048576, 512, 0, 6, 62});
  EXPECT_EQ("1", FormatMB(disc.MBValue()));
  EXPECT_EQ(0, disc.MatchStdDisc());
}

TEST(DiscSizeTest, SetFromWholeMBOverflowKeepsTheOldSize) {
  DiscSize disc;
  disc.SetFromWholeMB(1);
  EXPECT_THROW(disc.SetFromWholeMB(int64_t{1} << 50), IntegerOverflowError);
  EXPECT_THROW(disc.SetFromWholeMB(int64_t{1} << 60), IntegerOverflowError);
  ExpectState(disc, {1048576, 512, 0, 6, 62});
  disc.SetFromWholeMB(-(int64_t{1} << 60));  // counts as 0, no overflow
  ExpectState(disc, {0, 0, 0, 0, 0});
}

TEST(DiscSizeTest, FormatMBWritesFifteenDigitsWithAPoint) {
  struct Row {
    long double input;
    const char *text;
  };
  const Row rows[] = {
      {0, "0"},
      {1, "1"},
      {0.5L, "0.5"},
      {0.001953125L, "0.001953125"},
      {656.396484375L, "656.396484375"},
      {87890.623046875L, "87890.623046875"},
      {1.0L / 3, "0.333333333333333"},
      {2.0L / 3, "0.666666666666667"},
      {123456.7L, "123456.7"},
  };
  for (const Row &row : rows) EXPECT_EQ(row.text, FormatMB(row.input));

  DiscSize disc;
  disc.SetFromBytes(MaxBytes);
  EXPECT_EQ("87890.623046875", FormatMB(disc.MBValue()));
  disc.SetFromBytes(2048);
  EXPECT_EQ("0.001953125", FormatMB(disc.MBValue()));
}

TEST(DiscSizeTest, FormatMBIgnoresTheLocale) {
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  const bool c_locale_changed = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  const std::string text = FormatMB(1.5L);
  std::locale::global(previous);
  if (c_locale_changed) setlocale(LC_NUMERIC, "C");
  EXPECT_EQ("1.5", text);
}

TEST(DiscSizeTest, ClampEditedRewritesOnlyAboveTheLimit) {
  struct Row {
    int32_t value;
    uint32_t limit;
    uint32_t result;
    bool rewrite;
  };
  const Row rows[] = {
      {60, 59, 59, true},     {59, 59, 59, false},
      {0, 74, 0, false},      {75, 74, 74, true},
      {-1, 9999, 9999, true}, {std::numeric_limits<int32_t>::min(), 59, 59, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.value);
    const EditedClamp clamp = ClampEdited(row.value, row.limit);
    EXPECT_EQ(row.result, clamp.Value);
    EXPECT_EQ(row.rewrite, clamp.Rewrite);
  }
}

TEST(DiscSizeTest, ClampCompanionKeepsValuesBetweenZeroAndTheLimit) {
  EXPECT_EQ(30u, ClampCompanion(30, 59));
  EXPECT_EQ(59u, ClampCompanion(60, 59));
  EXPECT_EQ(9999u, ClampCompanion(std::numeric_limits<int32_t>::max(), 9999));
  EXPECT_EQ(0u, ClampCompanion(0, 74));
  EXPECT_EQ(0u, ClampCompanion(-5, 59));
  EXPECT_EQ(0u, ClampCompanion(std::numeric_limits<int32_t>::min(), 9999));

  // With the lower bound, a negative companion second no longer overflows the time.
  DiscSize disc;
  EXPECT_NO_THROW(disc.SetFromTime(3, ClampCompanion(-5, 59), 0));
  ExpectState(disc, {13500 * 2048, 13500, 3, 0, 0});
}

}  // namespace
