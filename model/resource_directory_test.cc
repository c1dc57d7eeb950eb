#include "model/resource_directory.h"

#include <gtest/gtest.h>

#include <functional>

#include "samples/resource_section.h"
#include "samples/sample_program.h"
#include "testing/sample_db.h"
#include "testing/test_db.h"

namespace model {
namespace {

TEST(ResourceDirectoryTest, ReadsEveryResourceOfTheSampleWithNamesIdsAndLanguages) {
  samples::SampleOptions options;
  options.forms = true;
  const samples::SampleProgram program = samples::BuildSample(options);
  TestDb db;
  LoadSample(db, program);
  const ResourceList list = ReadResources(program.resource_directory,
                                          program.resource_size, program.image_base);
  EXPECT_TRUE(list.problems.empty()) << list.problems[0];
  ASSERT_EQ(program.resources.size(), list.resources.size());
  // The directory keeps named entries before numbered ones, each in order;
  // the sample lists its resources in the order it wrote them.
  for (const samples::ResourceEntry &want : program.resources) {
    SCOPED_TRACE(want.type + "/" + want.name);
    int found = 0;
    for (const Resource &r : list.resources) {
      if (r.type.Text() != want.type || r.name.Text() != want.name ||
          r.language != want.language)
        continue;
      ++found;
      EXPECT_EQ(want.data, r.data);
      EXPECT_EQ(want.size, r.size);
    }
    EXPECT_EQ(1, found);
  }
  // Named types first, then numbered ones, each level in order.
  EXPECT_TRUE(list.resources[0].type.named);
  EXPECT_EQ("SAMPLE_DATA", list.resources[0].type.name);
  EXPECT_FALSE(list.resources[1].type.named);
  EXPECT_EQ(6u, list.resources[1].type.id);
  EXPECT_EQ(1031u, list.resources[1].language);
  EXPECT_EQ(1033u, list.resources[2].language);
}

uint32_t Le32(const std::vector<uint8_t> &b, uint32_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
         static_cast<uint32_t>(b[at + 3]) << 24;
}

void Put32(std::vector<uint8_t> &b, uint32_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(ResourceDirectoryTest, AHostileDirectoryCostsOneLineAndOnlyTheBranchItSpoils) {
  constexpr ea_t kBase = 0x00400000;
  constexpr ea_t kSection = 0x00401000;
  constexpr uint32_t kHigh = 0x80000000u;
  std::vector<samples::ResourceSpec> specs = {
      {{6, {}}, {0, u"HELP"}, 1033, {1, 2, 3, 4}},
      {{10, {}}, {0, u"TFORM1"}, 0, {'T', 'P', 'F', '0'}},
  };
  std::vector<samples::ResourcePlace> places;
  const std::vector<uint8_t> valid =
      samples::BuildResourceSection(kSection - kBase, specs, &places);
  // The spoiled branch is always the first type's (6); the second (10)
  // must still be read.
  const uint32_t type6 = 16;                                // root entry of type 6
  const uint32_t names6 = Le32(valid, type6 + 4) & ~kHigh;  // its table of names
  const uint32_t languages6 = Le32(valid, names6 + 16 + 4) & ~kHigh;
  const uint32_t data6 = Le32(valid, languages6 + 16 + 4);

  struct Case {
    const char *name;
    std::function<void(std::vector<uint8_t> &)> spoil;
    const char *problem;  // a part of the one line expected
    size_t resources;
  };
  const Case cases[] = {
      {"a table leading back to the root",
       [&](std::vector<uint8_t> &b) { Put32(b, names6 + 16 + 4, kHigh | 0); }, "a loop",
       1},
      {"a table outside the directory",
       [&](std::vector<uint8_t> &b) { Put32(b, type6 + 4, kHigh | 0x7FFFFF00); },
       "lies outside the directory", 1},
      {"a count past the directory's end",
       [&](std::vector<uint8_t> &b) { b[names6 + 14] = 0xFF; }, "declares 256 entries",
       1},
      {"a name outside the directory",
       [&](std::vector<uint8_t> &b) { Put32(b, names6 + 16, kHigh | 0xFFFF); },
       "the name at offset 0xFFFF", 1},
      {"data where a table belongs",
       [&](std::vector<uint8_t> &b) { Put32(b, type6 + 4, names6); },
       "where a table belongs", 1},
      {"a fourth level",
       [&](std::vector<uint8_t> &b) { Put32(b, languages6 + 16 + 4, kHigh | data6); },
       "a fourth level", 1},
      {"a data entry outside the directory",
       [&](std::vector<uint8_t> &b) { Put32(b, languages6 + 16 + 4, 0x10000); },
       "the data entry of #6/HELP", 1},
      {"data outside the program",
       [&](std::vector<uint8_t> &b) { Put32(b, data6 + 4, 0x100000); },
       "lies outside the program", 1},
      {"a valid directory", [](std::vector<uint8_t> &) {}, nullptr, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = valid;
    c.spoil(bytes);
    TestDb db;
    SegmentBytes segment(kSection, 0x1000);
    segment.PutBytes(kSection, bytes);
    db.AddSegment(".rsrc", segment);
    const ResourceList list =
        ReadResources(kSection, static_cast<uint32_t>(bytes.size()), kBase);
    if (c.problem == nullptr) {
      EXPECT_TRUE(list.problems.empty());
    } else {
      ASSERT_EQ(1u, list.problems.size());
      EXPECT_NE(std::string::npos, list.problems[0].find(c.problem)) << list.problems[0];
    }
    ASSERT_EQ(c.resources, list.resources.size());
    EXPECT_EQ("TFORM1", list.resources.back().name.Text());
  }
}

/// Reads `bytes` as a resource directory at the start of a section.
ResourceList ReadDirectory(const std::vector<uint8_t> &bytes) {
  constexpr ea_t kSection = 0x00401000;
  TestDb db;
  SegmentBytes segment(kSection, 0x1000);
  segment.PutBytes(kSection, bytes);
  db.AddSegment(".rsrc", segment);
  return ReadResources(kSection, static_cast<uint32_t>(bytes.size()), 0x00400000);
}

// At `table`, a table of `tables` numbered entries leading to tables that
// overlap, the first at `first` and each 8 bytes after the one before: each
// is the next entry of one run, whose entries' targets give their counts.
void PutOverlappingTables(std::vector<uint8_t> &bytes, uint32_t table, uint32_t tables,
                          uint32_t first) {
  bytes[table + 14] = static_cast<uint8_t>(tables);
  for (uint32_t j = 0; j < tables; ++j) {
    Put32(bytes, table + 16 + 8 * j, j + 1);
    Put32(bytes, table + 20 + 8 * j, 0x80000000u | (first + 8 * j));
  }
}

TEST(ResourceDirectoryTest,
     OverlappingTablesReadEachEntryOnceAndGiveAHundredLinesAtMost) {
  constexpr uint32_t kTables = 40;
  constexpr uint32_t kRun = 80;
  {
    SCOPED_TRACE("types whose names lie outside the directory");
    // 40 tables of 40 entries: 1,600 unreadable entries in 1 KB.
    constexpr uint32_t kRunAt = 16 + 8 * kTables;
    std::vector<uint8_t> bytes(kRunAt + 8 * kRun);
    PutOverlappingTables(bytes, 0, kTables, kRunAt);
    for (uint32_t k = 0; k < kRun; ++k) {
      Put32(bytes, kRunAt + 8 * k, 0x8000FFFFu);
      Put32(bytes, kRunAt + 8 * k + 4, kTables);
    }
    const ResourceList list = ReadDirectory(bytes);
    ASSERT_EQ(101u, list.problems.size());
    EXPECT_NE(std::string::npos, list.problems[0].find("lies outside the directory"));
    EXPECT_NE(std::string::npos, list.problems[99].find("read twice (tables overlap)"));
    EXPECT_EQ("resources: more than 100 problems; the rest of the directory is left out",
              list.problems[100]);
  }
  {
    SCOPED_TRACE("languages that all lead to one resource");
    // One type; its 40 names lead to 40 tables of languages, 24 entries
    // each, all leading to the data entry at 24: 960 resources, read again.
    constexpr uint32_t kData = 24;
    constexpr uint32_t kNames = kData + 16;
    constexpr uint32_t kRunAt = kNames + 16 + 8 * kTables;
    std::vector<uint8_t> bytes(kRunAt + 8 * kRun + 4);
    bytes[14] = 1;
    Put32(bytes, 16, 10);
    Put32(bytes, 20, 0x80000000u | kNames);
    Put32(bytes, kData, 0x1000 + kRunAt + 8 * kRun);  // the last four bytes
    Put32(bytes, kData + 4, 4);
    PutOverlappingTables(bytes, kNames, kTables, kRunAt);
    for (uint32_t k = 0; k < kRun; ++k) {
      Put32(bytes, kRunAt + 8 * k, k);
      Put32(bytes, kRunAt + 8 * k + 4, kData);
    }
    const ResourceList list = ReadDirectory(bytes);
    // The first table's 24 entries, then one more for each table whose
    // repeated entries have not yet made a hundred lines.
    EXPECT_GE(list.resources.size(), 24u);
    EXPECT_LT(list.resources.size(), kRun);
    ASSERT_EQ(101u, list.problems.size());
    EXPECT_NE(std::string::npos, list.problems[0].find("read twice (tables overlap)"));
  }
}

TEST(ResourceDirectoryTest, ADirectoryOutsideTheProgramIsOneProblemAndNoneIsNothing) {
  TestDb db(0x00401000, 0x1000);
  EXPECT_TRUE(ReadResources(0, 0, 0x400000).problems.empty());
  const ResourceList outside = ReadResources(0x00500000, 0x100, 0x400000);
  ASSERT_EQ(1u, outside.problems.size());
  EXPECT_EQ("resources: the directory at 0x500000 lies outside the program",
            outside.problems[0]);
  // A directory whose declared size runs past its segment is read within it:
  // the root table alone would lie past the end here.
  const ResourceList cut = ReadResources(0x00401FF8, 0x100, 0x400000);
  ASSERT_EQ(1u, cut.problems.size());
  EXPECT_NE(std::string::npos, cut.problems[0].find("lies outside the directory"));
}

}  // namespace
}  // namespace model
