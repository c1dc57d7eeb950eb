#include "detector/core/plugin_frame.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testing/test_db.h"

namespace {

constexpr ea_t kBase = 0x00401000;

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What the frame handed the scan loop on its last call.
struct LoopCall {
  int calls = 0;
  ea_t start = 0;
  bool had_log = false;
  int log_choice = -2;
  ea_t cursor = 0;
  int groups = 0;  // what the loop reports
} g_loop;

int RecordingLoop(ea_t start, FILE *log, int log_choice, ea_t cursor) {
  ++g_loop.calls;
  g_loop.start = start;
  g_loop.had_log = log != nullptr;
  g_loop.log_choice = log_choice;
  g_loop.cursor = cursor;
  if (log != nullptr && g_loop.groups > 0) {
    log_printf(log, "%8d  0x%.8lX  %s\n", 1, 0x401000ul, "Class T of X");
  }
  // A scan moves the view as it walks; the frame must bring it back.
  callui(UI_JUMP_TO, kBase + 0x80, -1);
  return g_loop.groups;
}

struct PluginFrameTest : testing::Test {
  TestDb db;
  RecordingUi ui;
  std::filesystem::path dir;

  void SetUp() override {
    g_loop = LoopCall{};
    db.AddSegment("CODE", kBase, 0x1000);
    db.db().SetCursor(kBase + 0x40);
    dir = std::filesystem::path(testing::TempDir()) /
          testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    db.db().SetInputPath((dir / "app.exe").string());
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path LogPath() const { return dir / "app_classes.log"; }
};

TEST_F(PluginFrameTest, OnlyTheExactTextOneStartsAtTheCursor) {
  for (const char *answer : {"0", "2", "01", "", " 1", "1 ", "one"}) {
    SCOPED_TRACE(answer);
    g_loop = LoopCall{};
    ui.text_answers.push_back(answer);
    ui.yes_no_answers.push_back(0);
    EXPECT_EQ(1, run_scan_driver(RecordingLoop));
    EXPECT_EQ(kBase, g_loop.start);
    EXPECT_EQ("This script will explore the entire file. Save log file for reference?",
              ui.questions.back());
  }
  ui.text_answers.push_back("1");
  ui.yes_no_answers.push_back(0);
  EXPECT_EQ(1, run_scan_driver(RecordingLoop));
  EXPECT_EQ(kBase + 0x40, g_loop.start);
  EXPECT_EQ(kBase + 0x40, g_loop.cursor);
  EXPECT_EQ(
      "This script will explore from current position. Save log file for reference?",
      ui.questions.back());
}

TEST_F(PluginFrameTest, CancelAtEitherQuestionEndsTheRunAtOnce) {
  ui.text_answers.push_back(std::nullopt);
  EXPECT_EQ(0, run_scan_driver(RecordingLoop));
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(-1);
  EXPECT_EQ(0, run_scan_driver(RecordingLoop));

  EXPECT_EQ(0, g_loop.calls);
  EXPECT_EQ("", ui.output);
  EXPECT_TRUE(ui.jumps.empty());
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(PluginFrameTest, RunWithoutLogPrintsStartLineAndTotal) {
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(0);
  g_loop.groups = 3;
  EXPECT_EQ(1, run_scan_driver(RecordingLoop));
  EXPECT_FALSE(g_loop.had_log);
  EXPECT_EQ(0, g_loop.log_choice);
  EXPECT_EQ(
      "Start from address CODE:00401000 ...\n"
      "Total 3 groups of classes or types found.\n",
      ui.output);
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(PluginFrameTest, CursorIsBroughtBackAfterTheScan) {
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(0);
  run_scan_driver(RecordingLoop);
  ASSERT_FALSE(ui.jumps.empty());
  EXPECT_EQ(kBase + 0x40, ui.jumps.back());
  EXPECT_EQ(kBase + 0x40, db.db().cursor());
}

TEST_F(PluginFrameTest, LogRunThatFindsNothingStillWritesHeaderAndTotal) {
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(1);
  g_loop.groups = 0;
  EXPECT_EQ(1, run_scan_driver(RecordingLoop));
  EXPECT_TRUE(g_loop.had_log);
  EXPECT_EQ(1, g_loop.log_choice);
  EXPECT_EQ("File Name: " + (dir / "app.exe").string() +
                "\n"
                "Groups of Delphi Class or Type List:\n"
                "Group No.  Sart Addr  Class Name\n"
                "Total 0 groups of classes or types found.\n",
            ReadFile(LogPath()));
  EXPECT_EQ(
      "Start from address CODE:00401000 ...\n"
      "No groups of classes or types found.\n"
      "Log file " +
          LogPath().string() + " saved.\n",
      ui.output);
}

TEST_F(PluginFrameTest, LogThatCannotBeOpenedLeavesTheRunWithoutLog) {
  db.db().SetInputPath((dir / "missing" / "app.exe").string());
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(1);
  g_loop.groups = 2;
  EXPECT_EQ(1, run_scan_driver(RecordingLoop));
  EXPECT_FALSE(g_loop.had_log);
  EXPECT_EQ(
      "Start from address CODE:00401000 ...\n"
      "Total 2 groups of classes or types found.\n",
      ui.output);
}

TEST_F(PluginFrameTest, NoInputPathMeansNoLog) {
  db.db().SetInputPath("");
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(1);
  EXPECT_EQ(1, run_scan_driver(RecordingLoop));
  EXPECT_FALSE(g_loop.had_log);
  EXPECT_EQ(std::string::npos, ui.output.find("Log file"));
}

TEST(LogBasePathTest, DirectoryAndNameWithoutExtension) {
  EXPECT_STREQ("/data/app", log_base_path("/data/app.exe"));
  EXPECT_STREQ("D:\\work\\app", log_base_path("D:\\work\\app.exe"));
  EXPECT_STREQ("/data/app", log_base_path("/data/app"));
  EXPECT_STREQ("/app", log_base_path("/app.exe"));
  // A bare name stays in the current directory, not the root.
  EXPECT_STREQ("app", log_base_path("app.exe"));
}

TEST(LogBasePathTest, LongPathIsCutNotOverrun) {
  const std::string long_path = "/" + std::string(3000, 'd') + "/app.exe";
  const char *base = log_base_path(long_path.c_str());
  EXPECT_LT(strlen(base), 1024u);
}

TEST(PluginInitTest, OfferedForX86Only) {
  TestDb db;
  db.db().SetProcessor(0);
  EXPECT_EQ(1, plugin_init());
  db.db().SetProcessor(3);
  EXPECT_EQ(0, plugin_init());
}

}  // namespace
