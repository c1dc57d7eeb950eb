// The detector's scan loop and group walk, on the sample program and on
// hand-laid records.
#include "detector/scan_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "detector/core/recognise.h"
#include "samples/sample_program.h"
#include "testing/sample_db.h"

namespace {

// Everything a run leaves in the database, in a form that compares.
struct Snapshot {
  std::vector<std::tuple<ea_t, asize_t, int>> items;
  std::vector<std::pair<ea_t, std::string>> names;
  std::vector<std::tuple<ea_t, std::string, bool>> comments;
  std::vector<std::pair<ea_t, ea_t>> functions;
  bool operator==(const Snapshot &) const = default;
};

Snapshot Take(const kernel::Database &db) {
  Snapshot s;
  db.ForEachItem([&](const kernel::Item &item) {
    s.items.emplace_back(item.start, item.size, static_cast<int>(item.type));
  });
  s.names = db.Names();
  for (const kernel::Comment &c : db.Comments())
    s.comments.emplace_back(c.ea, c.text, c.repeatable);
  for (const kernel::Function &f : db.Functions())
    s.functions.emplace_back(f.start, f.end);
  return s;
}

size_t CountLines(const std::string &text, const std::string &needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + 1))
    ++n;
  return n;
}

struct DetectorSampleTest : testing::Test {
  samples::SampleProgram program = samples::BuildSample(samples::SampleOptions{});

  // One whole run of the detector's scan driver with the given log answer;
  // the output window and what the database holds afterwards.
  std::pair<std::string, Snapshot> Run(int log_answer) {
    TestDb db;
    RecordingUi ui;
    LoadSample(db, program);
    db.db().SetInputPath(testing::TempDir() + "/detector_sample.exe");
    ui.text_answers.push_back("0");
    ui.yes_no_answers.push_back(log_answer);
    EXPECT_EQ(1, detect_classes());
    EXPECT_EQ(program.entry, db.db().cursor());
    return {ui.output, Take(db.db())};
  }
};

TEST_F(DetectorSampleTest, WithoutLogAnnotatesAsWithLogAndCountsEveryGroup) {
  const auto [with_log, annotated_with_log] = Run(1);
  const auto [without_log, annotated_without_log] = Run(0);

  EXPECT_FALSE(annotated_with_log.names.empty());
  EXPECT_TRUE(annotated_with_log == annotated_without_log);

  const size_t groups =
      CountLines(with_log, " of VritualTable @ ") + CountLines(with_log, "Type ");
  ASSERT_GT(groups, 1u);
  const std::string total =
      "Total " + std::to_string(groups) + " groups of classes or types found.\n";
  EXPECT_NE(std::string::npos, with_log.find(total));
  EXPECT_EQ("Start from address CODE:00401000 ...\n" + total, without_log);
}

TEST_F(DetectorSampleTest, OneGroupWalksClassRecordsThenTheirTypeInformation) {
  TestDb db;
  LoadSample(db, program);
  std::vector<ea_t> records;
  for (const samples::ClassEntry &c : program.classes) records.push_back(c.at.record);
  std::sort(records.begin(), records.end());
  const ea_t first = find_next_group(inf.min_ea);
  ASSERT_EQ(records.front(), first);

  const int32_t strtype = inf.strtype;
  const ea_t next = process_group(first);
  EXPECT_EQ(strtype, int32_t{inf.strtype});
  ASSERT_GT(next, first);

  // Every class record and type block up to where the group ended was
  // named in this one call.
  int classes = 0, types = 0;
  for (const samples::ClassEntry &c : program.classes) {
    if (c.at.record >= next) continue;
    ++classes;
    EXPECT_EQ("offset_cls_" + c.name, TestDb::Name(c.at.record)) << c.name;
  }
  for (const samples::TypeEntry &t : program.types) {
    if (t.end > next) continue;
    ++types;
    EXPECT_EQ(0u, TestDb::Name(t.cell).rfind("offset_", 0)) << t.name;
  }
  EXPECT_GT(classes, 1);
  EXPECT_GT(types, 1);
}

// A class record the finder accepts but the class record walk refuses (its
// interface table pointer lies beyond the segment), with a good record
// behind it, in each of the three class record layouts.
struct RefusedCandidateTest : testing::TestWithParam<int> {
  static constexpr ea_t kBase = 0x00401000;
  TestDb db{kBase, 0x200};
  RecordingUi ui;
  ~RefusedCandidateTest() override { set_class_layout(76); }

  void PutRecord(ea_t a, const char *name, uint32_t intf_table) {
    // The class name right behind the header.
    const ea_t header = static_cast<ea_t>(GetParam());
    db.PutClassRecord(a, a + header, name, header);
    db.PutDword(a + 4, intf_table);
    db.PutDword(a + 36, 12);  // InstanceSize
  }
  void Run() {
    ui.text_answers.push_back("0");
    ui.yes_no_answers.push_back(0);
    EXPECT_EQ(1, detect_classes());
  }
};

INSTANTIATE_TEST_SUITE_P(Layouts, RefusedCandidateTest, testing::Values(64, 76, 88));

TEST_P(RefusedCandidateTest, TheScanGoesOnBehindACandidateThatStartsNoGroup) {
  PutRecord(kBase, "TBroken", 0xFFFFFFF0);
  PutRecord(kBase + 0x100, "TGood", 0);
  set_class_layout(GetParam());
  ASSERT_EQ(1, is_class_record(kBase));
  ASSERT_EQ(1, is_class_record(kBase + 0x100));
  EXPECT_EQ(kBase, process_group(kBase));
  EXPECT_TRUE(db.db().Names().empty());

  Run();
  EXPECT_EQ(GetParam(), class_layout());
  // The refused candidate still counts as a group; the good record behind
  // it is found and annotated.
  EXPECT_NE(std::string::npos,
            ui.output.find("Total 2 groups of classes or types found.\n"));
  EXPECT_EQ("", TestDb::Name(kBase));
  EXPECT_EQ("offset_cls_TGood", TestDb::Name(kBase + 0x100));
  EXPECT_TRUE(TestDb::ItemAt(kBase + 0x100));
}

TEST_P(RefusedCandidateTest, GoodRecordIsOneGroupAndTheScanGoesOnBehindIt) {
  PutRecord(kBase, "TFirst", 0);
  PutRecord(kBase + 0x100, "TSecond", 0);
  Run();
  EXPECT_NE(std::string::npos,
            ui.output.find("Total 2 groups of classes or types found.\n"));
  EXPECT_EQ("offset_cls_TFirst", TestDb::Name(kBase));
  EXPECT_EQ("offset_cls_TSecond", TestDb::Name(kBase + 0x100));
  // Only the programs of the newer and older layouts say which they are.
  const bool told = ui.output.find("Class record header: ") != std::string::npos;
  EXPECT_EQ(GetParam() != 76, told);
}

}  // namespace
