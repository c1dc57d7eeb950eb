#include "calculator/input_filter.h"

#include <gtest/gtest.h>

namespace {

TEST(InputFilterTest, KeepsDigitsAndTheFirstPoint) {
  struct Row {
    const char *input;
    const char *output;
  };
  const Row rows[] = {
      {"", "0"},
      {"abc", "0"},
      {"-", "0"},
      {"0", "0"},
      {"1", "1"},
      {"007", "007"},
      {"1.2.3", "1.23"},
      {"..5", ".5"},
      {"12.", "12."},
      {".", "."},
      {"-5", "5"},
      {"1e5", "15"},
      {"1,5", "15"},
      {"  12  ", "12"},
      {"\t1\n2\r", "12"},
      {"a.b", "."},
      {"+3.5", "3.5"},
      {"9\xB2", "9"},
      {"\xD9\xA3"
       "4",
       "4"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.input);
    const std::string once = FilterNonNumChars(row.input);
    EXPECT_EQ(row.output, once);
    EXPECT_EQ(once, FilterNonNumChars(once));
  }
}

TEST(InputFilterTest, KeepsEmbeddedNulAndHighBytesOut) {
  const std::string text(
      "1\0"
      "2\x80\xFF"
      "3",
      6);
  EXPECT_EQ("123", FilterNonNumChars(text));
}

}  // namespace
