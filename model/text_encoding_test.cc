#include "model/text_encoding.h"

#include <gtest/gtest.h>

namespace model {
namespace {

// The one rule for a name or text of the program in a message, a reason or
// a listing line (it once turned control characters into '?', and the
// listing let tabs and escape codes through).
TEST(OneLineTest, LineBreaksAndControlCodesBecomeVisibleEscapes) {
  struct Case {
    std::string_view text;
    const char *line;
  };
  const Case cases[] = {
      {"TForm1", "TForm1"},
      {"two\nlines", "two\\nlines"},
      {"tab\tcr\rbell\x07", "tab\\x09cr\\x0Dbell\\x07"},
      {"\x1B[2Jdel\x7F", "\\x1B[2Jdel\\x7F"},
      {std::string_view("nul\0end", 7), "nul\\x00end"},
      // Bytes above ASCII are text of some code page, not control codes.
      {"caf\xC3\xA9 \xE9", "caf\xC3\xA9 \xE9"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.line, OneLine(c.text)) << c.line;

  // Long texts are passed over a word at a time: a control code at any
  // place among bytes above ASCII and spaces.
  const Case controls[] = {
      {"\n", "\\n"}, {"\x01", "\\x01"}, {"\x1F", "\\x1F"}, {"\x7F", "\\x7F"}};
  const std::string filler = "a \x80\xFF!\xC3\xA9Z";
  for (const Case &c : controls) {
    for (size_t at = 0; at <= 24; ++at) {
      std::string text, line;
      for (size_t i = 0; i < 24; ++i) {
        if (i == at) text += c.text, line += c.line;
        text += filler[i % filler.size()];
        line += filler[i % filler.size()];
      }
      EXPECT_EQ(line, OneLine(text)) << c.line << " at " << at;
    }
  }
}

}  // namespace
}  // namespace model
