#include <gtest/gtest.h>

#include "testing/test_db.h"

namespace {

// The plug-ins' wrappers, which hand their argument list on by pointer.
int OutMsg(const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int n = callui(UI_MESSAGE, format, &va).i;
  va_end(va);
  return n;
}

int AskYesNo(int def, const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int a = callui(UI_ASK_YES_NO, nullptr, nullptr, nullptr, def, format, &va).i;
  va_end(va);
  return a;
}

char *AskString(int history, const char *def, const char *prompt, ...) {
  va_list va;
  va_start(va, prompt);
  char *a = callui(UI_ASK_TEXT, history, def, prompt, &va).cptr;
  va_end(va);
  return a;
}

struct CalluiTest : testing::Test {
  TestDb db{0x00401000, 0x100};
};

TEST_F(CalluiTest, RequestsReachTheUserInterface) {
  RecordingUi ui;
  EXPECT_EQ(22, OutMsg("Start from %s ...\n", "CODE:1"));
  EXPECT_EQ(1, OutMsg("%%"));
  EXPECT_EQ("Start from CODE:1 ...\n%", ui.output);

  ui.yes_no_answers = {-1, 0, 5};
  EXPECT_EQ(-1, AskYesNo(1, "Save log file %s?", "now"));
  EXPECT_EQ(0, AskYesNo(1, "second"));
  EXPECT_EQ(1, AskYesNo(0, "third"));  // any positive answer is Yes
  EXPECT_EQ(1, AskYesNo(1, "default"));
  ASSERT_EQ(4u, ui.questions.size());
  EXPECT_EQ("Save log file now?", ui.questions[0]);

  ui.text_answers = {std::string(" 1"), std::nullopt};
  char *a = AskString(6, "0", "Where to start (%d) ?", 2);
  ASSERT_NE(nullptr, a);
  EXPECT_STREQ(" 1", a);
  EXPECT_EQ(nullptr, AskString(6, "0", "cancelled"));
  EXPECT_STREQ("0", AskString(6, "0", "default"));
  EXPECT_EQ("Where to start (2) ?", ui.questions[4]);

  EXPECT_EQ(1, callui(UI_JUMP_TO, ea_t{0x00401010}, -1).i);
  ea_t cursor = 0;
  EXPECT_EQ(1, callui(UI_GET_CURSOR, &cursor).i);
  EXPECT_EQ(0x00401010u, cursor);
  EXPECT_EQ(std::vector<ea_t>{0x00401010}, ui.jumps);
  EXPECT_EQ(0, callui(UI_GET_CURSOR, nullptr).i);
}

TEST_F(CalluiTest, WithoutUserInterfaceDefaultsAreTaken) {
  kernel::SetUserInterface(nullptr);
  EXPECT_EQ(5, OutMsg("%s", "hello"));
  EXPECT_EQ(1, AskYesNo(1, "q"));
  EXPECT_EQ(-1, AskYesNo(-1, "q"));
  EXPECT_STREQ("0", AskString(6, "0", "p"));
  EXPECT_STREQ("", AskString(6, nullptr, "p"));
  db.db().SetCursor(0x00401020);
  ea_t cursor = 0;
  callui(UI_GET_CURSOR, &cursor);
  EXPECT_EQ(0x00401020u, cursor);
  EXPECT_EQ(0, callui(99).i);  // unknown requests are answered with 0
}

TEST_F(CalluiTest, LongMessagesAreWhole) {
  RecordingUi ui;
  const std::string text(5000, 'x');
  EXPECT_EQ(5000, OutMsg("%s", text.c_str()));
  EXPECT_EQ(text, ui.output);
  // Without an argument list the format is printed as it stands.
  callui(UI_MESSAGE, "100%d", static_cast<va_list *>(nullptr));
  EXPECT_EQ(text + "100%d", ui.output);
}

}  // namespace
