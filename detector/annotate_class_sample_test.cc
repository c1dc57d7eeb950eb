// The class record walk over the whole sample program, with the user's names
// and comments of its database seed, checked against what the sample builder
// says it laid out.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "detector/annotate_class.h"
#include "samples/sample_program.h"
#include "testing/item_expectations.h"
#include "testing/sample_db.h"

namespace {

using kernel::ItemType;

struct AnnotateClassSampleTest : testing::Test {
  TestDb db;
  RecordingUi ui;
  samples::SampleProgram program = samples::BuildSample(samples::SampleOptions{});
  std::map<ea_t, std::string> seeded_names, seeded_comments;

  void SetUp() override {
    LoadSample(db, program);
    ApplySeed(program);
    for (const samples::SeedEntry &seed : program.seeds) {
      (seed.is_comment ? seeded_comments : seeded_names)[seed.ea] = seed.text;
    }
  }

  /// Calls the walk at every class record that no earlier run reached, as
  /// the detector's group walk does; the number of calls made.
  int AnnotateAllRuns() {
    std::vector<const samples::ClassEntry *> classes;
    for (const samples::ClassEntry &c : program.classes) classes.push_back(&c);
    std::sort(classes.begin(), classes.end(),
              [](auto *x, auto *y) { return x->at.record < y->at.record; });
    int calls = 0;
    ea_t reached = 0;
    for (const samples::ClassEntry *c : classes) {
      if (c->at.record < reached) continue;
      int32_t found = 0;
      const ea_t end = annotate_class_records(c->at.record, &found);
      ++calls;
      EXPECT_NE(0u, end) << c->name;
      reached = found != 0 && end > c->at.record ? end : c->at.record + 4;
    }
    return calls;
  }

  /// Records that do not directly follow another one.
  int RunStarts() const {
    int starts = 0;
    for (const samples::ClassEntry &c : program.classes) {
      const bool follows = std::any_of(
          program.classes.begin(), program.classes.end(),
          [&](const samples::ClassEntry &p) { return p.at.end == c.at.record; });
      if (!follows) ++starts;
    }
    return starts;
  }

  /// The name a class is shown by: the one-word repeatable comment on its
  /// virtual method table, else its own name.
  std::string DisplayName(const samples::ClassEntry &c) const {
    auto it = seeded_comments.find(c.at.vmt);
    if (it != seeded_comments.end() && it->second.find(' ') == std::string::npos)
      return it->second;
    return c.name;
  }
};

TEST_F(AnnotateClassSampleTest, EveryClassRecordIsAnnotatedAndNamed) {
  ASSERT_FALSE(program.classes.empty());
  // Each run is annotated by one call, from its first record on.
  const int starts = RunStarts();
  EXPECT_LT(starts, static_cast<int>(program.classes.size()));
  EXPECT_EQ(starts, AnnotateAllRuns());

  for (const samples::ClassEntry &c : program.classes) {
    SCOPED_TRACE(c.name);
    const samples::ClassRecordAddrs &at = c.at;
    EXPECT_TRUE(HasItem(at.record, ItemType::kOffset, 4));
    EXPECT_EQ("SelfPtr", TestDb::Comment(at.record));
    EXPECT_EQ("ClassName Address", TestDb::Comment(at.record + 32));
    EXPECT_TRUE(HasItem(at.class_name, ItemType::kPString,
                        static_cast<asize_t>(1 + c.name.size())));
    EXPECT_TRUE(StartsFunction(get_long(at.record + 72)));  // Destroy

    const std::string display = DisplayName(c);
    EXPECT_EQ("offset_cls_" + display, TestDb::Name(at.record));
    // A class without virtual methods has a table or its name at the slots'
    // place, and a table keeps the name it was given.
    const ea_t tables[] = {at.intf_table, at.init_table, at.method_table,
                           at.dynamic_table, at.field_table};
    if (std::find(std::begin(tables), std::end(tables), at.vmt) == std::end(tables)) {
      EXPECT_EQ("_cls_" + display, TestDb::Name(at.vmt));
    }

    const std::pair<ea_t, const char *> table_names[] = {
        {at.intf_table, "_cls_interface"}, {at.init_table, "_cls_init_list"},
        {at.method_table, "_method_list"}, {at.dynamic_table, "_dynamic_funcs"},
        {at.field_table, "_field_list"},   {at.field_class_list, "_cls_lst"}};
    for (const auto &[table, suffix] : table_names) {
      if (table == 0) continue;
      EXPECT_EQ(c.name + suffix, TestDb::Name(table));
    }
    for (const samples::MethodEntry &m : c.methods) {
      SCOPED_TRACE(m.name);
      EXPECT_TRUE(StartsFunction(m.code));
      auto seeded = seeded_names.find(m.code);
      if (seeded != seeded_names.end()) {
        EXPECT_EQ(seeded->second, TestDb::Name(m.code));
      } else {
        EXPECT_EQ(c.name + "@" + m.name, TestDb::Name(m.code));
      }
    }
  }
}

}  // namespace
