#include "calculator/conversions.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ConversionsTest, IntToStrWritesPlainDecimal) {
  EXPECT_EQ("0", IntToStr(0));
  EXPECT_EQ("92159997952", IntToStr(92159997952));
  EXPECT_EQ("4294967291", IntToStr(uint32_t{4294967291u}));
  EXPECT_EQ("-9223372036854775808", IntToStr(std::numeric_limits<int64_t>::min()));
}

TEST(ConversionsTest, StrToInt64DefFallsBackOnAnythingButOneDecimalInteger) {
  struct Row {
    const char *text;
    int64_t value;
  };
  const Row rows[] = {
      {"0", 0},
      {"007", 7},
      {"+5", 5},
      {"-5", -5},
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
      {"9223372036854775808", 42},
      {"99999999999999999999", 42},
      {"", 42},
      {"+", 42},
      {"-", 42},
      {"+-5", 42},
      {"--5", 42},
      {"1.5", 42},
      {" 5", 42},
      {"5 ", 42},
      {"0x10", 42},
      {"abc", 42},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.value, StrToInt64Def(row.text, 42));
  }
}

TEST(ConversionsTest, StrToIntDefUsesThe32BitRange) {
  EXPECT_EQ(2147483647, StrToIntDef("2147483647", 1));
  EXPECT_EQ(-2147483647 - 1, StrToIntDef("-2147483648", 1));
  EXPECT_EQ(1, StrToIntDef("2147483648", 1));
  EXPECT_EQ(0, StrToIntDef("", 0));
  EXPECT_EQ(-5, StrToIntDef("-5", 1));
}

TEST(ConversionsTest, StrToFloatReadsDecimalTextInExtendedPrecision) {
  EXPECT_EQ(1.5L, StrToFloat("1.5"));
  EXPECT_EQ(12.0L, StrToFloat("12."));
  EXPECT_EQ(0.5L, StrToFloat(".5"));
  EXPECT_EQ(0.0L, StrToFloat("0.0"));
  EXPECT_EQ(-2.0L, StrToFloat("-2"));
  EXPECT_EQ(3.0L, StrToFloat("+3"));
  EXPECT_EQ(100000.0L, StrToFloat("1e5"));
  // Parsed as the extended type, not as a double widened afterwards.
  EXPECT_EQ(656.3965L, StrToFloat("656.3965"));
  EXPECT_NE(static_cast<long double>(656.3965), StrToFloat("656.3965"));
}

TEST(ConversionsTest, StrToFloatRejectsWhatIsNotANumber) {
  for (const char *text : {".", "", "-", "+-1", "1.2.3", "1,5", "inf", "nan", "1e",
                           "1e99999", " 1", "1 ", "0x1p3"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(StrToFloat(text), ConversionError);
  }
  try {
    StrToFloat(".");
  } catch (const ConversionError &error) {
    EXPECT_STREQ("\".\" is not a valid number", error.what());
  }
}

}  // namespace
