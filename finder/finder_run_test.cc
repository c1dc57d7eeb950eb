// The finder end to end: pehost runs lumisk on the sample program, and what
// it prints and logs is checked against the sample's own manifest.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "testing/command_run.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Hex(const char *format, unsigned long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

struct Record {
  unsigned long ea;
  std::string label;
};

// Every class record and type information block of the sample, in address
// order, with the label the finder must give it.
std::vector<Record> ExpectedRecords(const json &manifest) {
  std::vector<Record> records;
  for (const json &c : manifest["classes"]) {
    records.push_back({c["address"].get<unsigned long>(),
                       "Class " + c["name"].get<std::string>() + " of VritualTable"});
  }
  for (const json &t : manifest["types"]) {
    std::string name = t["name"].get<std::string>();
    if (name.empty() && t["kind"].get<int>() == 8) name = "UnnamedMethod";
    records.push_back({t["address"].get<unsigned long>(),
                       "Type " + name + " of " + t["kind_name"].get<std::string>()});
  }
  std::sort(records.begin(), records.end(),
            [](const Record &a, const Record &b) { return a.ea < b.ea; });
  return records;
}

struct FinderRunTest : testing::Test {
  TestFolder dir;
  fs::path sample;
  json manifest;

  void SetUp() override {
    sample = dir / "sample.exe";
    ASSERT_EQ(0,
              RunCommand(std::string(MAKE_SAMPLE_PATH) + " --manifest '" +
                             (dir / "manifest.json").string() + "' --db-seed '" +
                             (dir / "seed.json").string() + "' '" + sample.string() + "'",
                         dir / "make_sample.out"));
    manifest = json::parse(ReadFile(dir / "manifest.json"));
  }

  // pehost with lumisk on the sample, starting from the user's seed
  // database; standard output lands in `name`.out, the database in
  // `name`.json.
  int Pehost(const std::string &name, const std::string &options) {
    fs::copy_file(dir / "seed.json", dir / (name + ".db"),
                  fs::copy_options::overwrite_existing);
    return RunCommand(std::string(PEHOST_PATH) + " --plugin '" + LUMISK_PATH + "' " +
                          options + " --db '" + (dir / (name + ".db")).string() +
                          "' --json '" + (dir / (name + ".json")).string() + "' '" +
                          sample.string() + "'",
                      dir / (name + ".out"));
  }
};

TEST_F(FinderRunTest, ListsEveryRecordAndLeavesTheDatabaseAlone) {
  ASSERT_EQ(0, Pehost("before", "--start 0 --log cancel"));
  EXPECT_EQ("Findting Delphi classes...\n", ReadFile(dir / "before.out"));
  ASSERT_EQ(0, Pehost("after", "--start 0 --log yes"));

  const std::vector<Record> records = ExpectedRecords(manifest);
  ASSERT_GT(records.size(), 100u);
  const unsigned long entry = manifest["entry"].get<unsigned long>();
  const std::string trace = "pellora: ea0=" + Hex("%lx", entry) + "   ea1=";
  const fs::path log_path = dir / "sample_classes.log";

  std::string out = "Findting Delphi classes...\nStart from address CODE:" +
                    Hex("%.8lX", manifest["lowest"].get<unsigned long>()) + " ...\n";
  std::string log = "File Name: " + sample.string() +
                    "\n"
                    "Groups of Delphi Class or Type List:\n"
                    "Group No.  Sart Addr  Class Name\n";
  int n = 0;
  for (const Record &r : records) {
    out += r.label + " @ " + Hex("%.8lX", r.ea) + "\n";
    out += trace + Hex("%lx", r.ea) + "\n";
    char line[1100];
    std::snprintf(line, sizeof line, "%8d  0x%.8lX  %s\n", ++n, r.ea, r.label.c_str());
    log += line;
  }
  const std::string total =
      "Total " + std::to_string(records.size()) + " groups of classes or types found.\n";
  out += trace + "ffffffff\n" + total + "Log file " + log_path.string() + " saved.\n";
  log += total;

  EXPECT_EQ(out, ReadFile(dir / "after.out"));
  EXPECT_EQ(log, ReadFile(log_path));

  // Items, names, comments, functions, structures and the cursor: all as
  // the seed left them.
  const json before = json::parse(ReadFile(dir / "before.json"));
  const json after = json::parse(ReadFile(dir / "after.json"));
  EXPECT_FALSE(before["names"].empty());
  EXPECT_EQ(before, after);
  EXPECT_EQ(entry, after["cursor"].get<unsigned long>());
  EXPECT_EQ(json::parse(ReadFile(dir / "before.db")),
            json::parse(ReadFile(dir / "after.db")));
}

TEST_F(FinderRunTest, FromTheCursorWithoutLog) {
  const std::vector<Record> records = ExpectedRecords(manifest);
  const unsigned long cursor = records[records.size() / 2].ea - 2;
  ASSERT_EQ(0, Pehost("run", "--start 1 --log no --cursor " + Hex("%lx", cursor)));

  const std::string trace = "pellora: ea0=" + Hex("%lx", cursor) + "   ea1=";
  std::string out =
      "Findting Delphi classes...\nStart from address CODE:" + Hex("%.8lX", cursor) +
      " ...\n";
  int n = 0;
  for (const Record &r : records) {
    // The search starts at the cursor rounded down to 4.
    if (r.ea < (cursor & ~3ul)) continue;
    out += trace + Hex("%lx", r.ea) + "\n";
    ++n;
  }
  out += trace + "ffffffff\nTotal " + std::to_string(n) +
         " groups of classes or types found.\n";
  EXPECT_EQ(out, ReadFile(dir / "run.out"));
  EXPECT_FALSE(fs::exists(dir / "sample_classes.log"));
}

}  // namespace
