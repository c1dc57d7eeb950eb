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
}

}  // namespace
}  // namespace model
