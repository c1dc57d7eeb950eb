#include "pehost/host_ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "testing/test_folder.h"

namespace {

// Answers come from standard input, a line each: an empty line takes the
// default, an unknown answer is asked again, a last line without its line
// break still counts, and the end of input cancels.
TEST(HostUiTest, ReadsEachAnswerFromItsLine) {
  TestFolder dir;
  const auto answers = dir / "answers.txt";
  std::ofstream(answers) << "y\nno\n\nmaybe\nc\n\nlast";
  ASSERT_NE(nullptr, freopen(answers.c_str(), "r", stdin));
  pehost::HostUi ui(std::nullopt, std::nullopt, /*interactive=*/true);

  EXPECT_EQ(1, ui.AskYesNo(0, "Go on?"));
  EXPECT_EQ(0, ui.AskYesNo(1, "Go on?"));
  EXPECT_EQ(1, ui.AskYesNo(1, "Go on?"));
  EXPECT_EQ(-1, ui.AskYesNo(1, "Go on?"));
  std::string text;
  ASSERT_TRUE(ui.AskText(0, "start", "Where?", &text));
  EXPECT_EQ("start", text);
  ASSERT_TRUE(ui.AskText(0, "start", "Where?", &text));
  EXPECT_EQ("last", text);
  EXPECT_FALSE(ui.AskText(0, "start", "Where?", &text));
  EXPECT_EQ(-1, ui.AskYesNo(1, "Go on?"));
}

}  // namespace
