// The detector end to end: pehost runs corvale on the sample program with
// the user's seed database, and the output window, the log file and the
// listing of the database are compared with reviewed copies kept in
// testdata/. After a change that is meant, run the test with REBASE=1 to
// rewrite them, and review the difference like code.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "testing/command_run.h"
#include "testing/golden_file.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct CorvaleRunTest : testing::Test {
  TestFolder dir;
  fs::path sample;

  void SetUp() override {
    sample = dir / "sample.exe";
    ASSERT_EQ(0,
              RunCommand(std::string(MAKE_SAMPLE_PATH) + " --db-seed '" +
                             (dir / "seed.json").string() + "' '" + sample.string() + "'",
                         dir / "make_sample.out"));
    fs::copy_file(dir / "seed.json", dir / "sample.db");
  }

  // One detector run over the saved database, its files named after `run`.
  void Run(const std::string &run) {
    ASSERT_EQ(
        0,
        RunCommand(std::string(PEHOST_PATH) + " --plugin '" + CORVALE_PATH +
                       "' --start 0 --log yes --db '" + (dir / "sample.db").string() +
                       "' --json '" + (dir / (run + ".json")).string() + "' --listing '" +
                       (dir / (run + ".lst")).string() + "' '" + sample.string() + "'",
                   dir / (run + ".out")));
    fs::rename(dir / "sample_classes.log", dir / (run + ".log"));
  }

  // The file with the run's folder written as "<dir>", as kept in testdata/.
  std::string Portable(const std::string &file) {
    return ReplaceAll(ReadFile(dir / file), dir.string(), "<dir>");
  }

  void ExpectGolden(const std::string &file, const std::string &golden) {
    ::ExpectGolden(Portable(file), fs::path(TESTDATA_DIR) / golden);
  }
};

TEST_F(CorvaleRunTest, SampleMatchesTheReviewedRun) {
  Run("first");
  ExpectGolden("first.out", "sample.output");
  ExpectGolden("first.log", "sample_classes.log");
  ExpectGolden("first.lst", "sample.lst");

  // The detector made the structure type once, and the user's names from
  // the seed are still there.
  const json db = json::parse(ReadFile(dir / "first.json"));
  ASSERT_EQ(1u, db["structs"].size());
  EXPECT_EQ("TPropInfo", db["structs"][0]["name"]);
  EXPECT_EQ(26, db["structs"][0]["size"]);
  const json seed = json::parse(ReadFile(dir / "seed.json"));
  for (const json &name : seed["names"]) {
    if (name["name"] == "my_dword_list") continue;  // a dummy the detector replaces
    EXPECT_NE(db["names"].end(), std::find(db["names"].begin(), db["names"].end(), name))
        << name.dump();
  }
}

TEST_F(CorvaleRunTest, SecondRunOnTheSavedDatabaseKeepsTheFirstRunsWork) {
  Run("first");
  Run("second");
  EXPECT_EQ(ReadFile(dir / "first.out"), ReadFile(dir / "second.out"));
  EXPECT_EQ(ReadFile(dir / "first.log"), ReadFile(dir / "second.log"));
  const json first = json::parse(ReadFile(dir / "first.json"));
  const json second = json::parse(ReadFile(dir / "second.json"));
  // Same names (none made unique a second time), items, comments,
  // functions, and still one TPropInfo.
  EXPECT_EQ(first["names"], second["names"]);
  EXPECT_EQ(first["items"], second["items"]);
  EXPECT_EQ(first["comments"], second["comments"]);
  EXPECT_EQ(first["functions"], second["functions"]);
  EXPECT_EQ(first["structs"], second["structs"]);
}

}  // namespace
