#include "finder/finder_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "detector/core/recognise.h"
#include "host/kernel/database.h"
#include "testing/test_db.h"
#include "testing/test_folder.h"

extern "C" plugin_t PLUGIN;

namespace {

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kSize = 0x400;

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything a run could change, as one comparable text.
std::string Snapshot() {
  const kernel::Database &d = kernel::TheDatabase();
  std::ostringstream out;
  d.ForEachItem([&](const kernel::Item &item) {
    out << "item " << item.start << " " << item.size << " " << static_cast<int>(item.type)
        << "\n";
  });
  for (const auto &[ea, name] : d.Names()) out << "name " << ea << " " << name << "\n";
  for (const kernel::Comment &c : d.Comments()) {
    out << "cmt " << c.ea << " " << c.repeatable << " " << c.text << "\n";
  }
  for (const kernel::Function &f : d.Functions()) {
    out << "func " << f.start << " " << f.end << "\n";
  }
  out << "structs " << d.Structures().size() << "\n";
  return out.str();
}

struct FinderScanTest : testing::Test {
  TestDb db;
  RecordingUi ui;
  TestFolder dir;

  void SetUp() override {
    db.AddSegment("CODE", kBase, kSize);
    db.db().SetCursor(kBase + 0x10);
    db.db().SetInputPath((dir / "app.exe").string());
  }

  // A class record, then a class type and an unnamed method type behind it.
  void PutSample() {
    db.PutClassRecord(kBase + 0x40, kBase + 0x300, "TForm1");
    db.PutTypeInfo(kBase + 0x100, 7, "TForm1");
    db.PutTypeInfo(kBase + 0x200, 8, "");
    db.PutShortString(kBase + 0x200 + 9, "Sender");
  }
};

TEST_F(FinderScanTest, WholeRunWithLogListsEveryRecord) {
  PutSample();
  const std::string before = Snapshot();
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(1);
  PLUGIN.run(0);

  const std::string log_path = (dir / "app_classes.log").string();
  EXPECT_EQ(
      "Findting Delphi classes...\n"
      "Start from address CODE:00401000 ...\n"
      "Class TForm1 of VritualTable @ 00401040\n"
      "pellora: ea0=401010   ea1=401040\n"
      "Type TForm1 of Class @ 00401100\n"
      "pellora: ea0=401010   ea1=401100\n"
      "Type UnnamedMethod of Method @ 00401200\n"
      "pellora: ea0=401010   ea1=401200\n"
      "pellora: ea0=401010   ea1=ffffffff\n"
      "Total 3 groups of classes or types found.\n"
      "Log file " +
          log_path + " saved.\n",
      ui.output);
  EXPECT_EQ("File Name: " + (dir / "app.exe").string() +
                "\n"
                "Groups of Delphi Class or Type List:\n"
                "Group No.  Sart Addr  Class Name\n"
                "       1  0x00401040  Class TForm1 of VritualTable\n"
                "       2  0x00401100  Type TForm1 of Class\n"
                "       3  0x00401200  Type UnnamedMethod of Method\n"
                "Total 3 groups of classes or types found.\n",
            ReadFile(log_path));

  EXPECT_EQ(before, Snapshot());
  EXPECT_EQ(kBase + 0x10, db.db().cursor());
}

TEST_F(FinderScanTest, AnswerNoShowsOnlyTraceLinesAndTotal) {
  PutSample();
  ui.text_answers.push_back("1");
  ui.yes_no_answers.push_back(0);
  PLUGIN.run(0);
  // From the cursor on: the class record before it is not seen.
  EXPECT_EQ(
      "Findting Delphi classes...\n"
      "Start from address CODE:00401010 ...\n"
      "pellora: ea0=401010   ea1=401040\n"
      "pellora: ea0=401010   ea1=401100\n"
      "pellora: ea0=401010   ea1=401200\n"
      "pellora: ea0=401010   ea1=ffffffff\n"
      "Total 3 groups of classes or types found.\n",
      ui.output);
  EXPECT_FALSE(std::filesystem::exists(dir / "app_classes.log"));
}

TEST_F(FinderScanTest, NothingFoundGivesOneTraceLine) {
  ui.text_answers.push_back("0");
  ui.yes_no_answers.push_back(0);
  EXPECT_EQ(1, pellora());
  EXPECT_EQ(
      "Start from address CODE:00401000 ...\n"
      "pellora: ea0=401010   ea1=ffffffff\n"
      "No groups of classes or types found.\n",
      ui.output);
}

TEST_F(FinderScanTest, SearchGoesOnBehindTheItemFound) {
  // Two class records four bytes apart: both fit, since the second one's
  // AutoTable and name pointer fall where the first one keeps nothing.
  const ea_t m = kBase + 0x40;
  db.PutClassRecord(m, kBase + 0x300, "TFirst");
  db.PutDword(m + 4, kBase);
  db.PutDword(m + 12, 0);
  db.PutDword(m + 36, kBase + 0x320);
  db.PutShortString(kBase + 0x320, "TSecond");
  ASSERT_EQ(1, is_class_record(m + 4));

  // Undefined bytes: the item ends at m + 1, the search resumes at m + 5,
  // taken down to m + 4.
  EXPECT_EQ(2, finder_scan_loop(kBase, nullptr, 0, BADADDR));
  EXPECT_NE(std::string::npos, ui.output.find("ea1=401044\n"));

  // A 4-byte item at m: the search resumes at m + 8.
  ui.output.clear();
  ASSERT_EQ(1, do_data_ex(m, DATA_DWORD, 4, BADNODE));
  EXPECT_EQ(1, finder_scan_loop(kBase, nullptr, 0, BADADDR));
  EXPECT_EQ(std::string::npos, ui.output.find("ea1=401044\n"));
}

TEST_F(FinderScanTest, LoopEndsWhenTheSearchPassesTheEnd) {
  // A record whose item reaches the last bytes: the next search address is
  // at the highest address, so no pass runs with ea1=ffffffff.
  const ea_t m = kBase + kSize - 8;
  db.PutTypeInfo(m, 1, "T");
  ASSERT_EQ(1, do_data_ex(m, DATA_DWORD, 4, BADNODE));
  EXPECT_EQ(1, finder_scan_loop(kBase, nullptr, 0, 0x1234));
  EXPECT_EQ("pellora: ea0=1234   ea1=4013f8\n", ui.output);
}

// The finder's search reads segments from memory and hands only addresses
// that may begin a record to the full tests; it must answer as the shared
// search does from every address, in every layout, across a segment that
// follows without a gap, a gap, a segment starting off the 4-byte grid, one
// shorter than a step's words and records whose words reach past a
// segment's end.
TEST_F(FinderScanTest, OwnSearchAnswersAsTheSharedSearch) {
  db.AddSegment("DATA", kBase + kSize, 0x100);
  db.AddSegment("TINY", kBase + 0x603, 6);
  db.AddSegment("LAST", kBase + 0x700, 0x80);
  PutSample();
  // A type whose name runs into DATA, a class record in DATA whose name lies
  // in CODE, one at the end of LAST and a type whose name would lie past
  // TINY's end.
  db.PutTypeInfo(kBase + kSize - 8, 2, "TCharName");
  db.PutClassRecord(kBase + kSize + 0x20, kBase + 0x380, "TData");
  db.PutTypeInfo(kBase + 0x77C - 4, 1, "X");
  db.PutDword(kBase + 0x604, kBase + 0x608);
  db.PutByte(kBase + 0x608, 1);
  const int layout = class_layout();
  for (const int header : {LAYOUT_CLASSIC, LAYOUT_OLDER, LAYOUT_NEWEST, LAYOUT_OLDEST}) {
    set_class_layout(header);
    int found = 0;
    for (ea_t ea = kBase - 8; ea < kBase + 0x790; ++ea) {
      const ea_t shared = find_next_group(ea);
      ASSERT_EQ(shared, find_next_record(ea)) << "layout " << header << " from " << ea;
      found += shared == ea;
    }
    // Not a vacuous agreement: the records are found.
    if (header == LAYOUT_CLASSIC) EXPECT_EQ(6, found);
  }
  set_class_layout(layout);
}

}  // namespace
