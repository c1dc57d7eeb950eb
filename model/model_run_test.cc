// The class model end to end: pehost runs the detector on the sample with
// the user's seed database and writes the model as JSON, as a report and as
// form text files, which are compared with reviewed copies in testdata/.
// After a change that is meant, run the test with REBASE=1 to rewrite them,
// and review the difference like code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "testing/command_run.h"
#include "testing/golden_file.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct ModelRunTest : testing::Test {
  TestFolder dir;
  fs::path sample;

  void SetUp() override {
    sample = dir / "sample.exe";
    ASSERT_EQ(0,
              RunCommand(std::string(MAKE_SAMPLE_PATH) + " --forms --db-seed '" +
                             (dir / "seed.json").string() + "' '" + sample.string() + "'",
                         dir / "make_sample.out"));
  }

  int Pehost(const std::string &options, const std::string &out) {
    return RunCommand(std::string(PEHOST_PATH) + " --plugin '" + CORVALE_PATH +
                          "' --start 0 --log no " + options + " '" + sample.string() +
                          "'",
                      dir / out);
  }

  void ExpectGolden(const fs::path &file, const std::string &golden) {
    ::ExpectGolden(ReadFile(file), fs::path(TESTDATA_DIR) / golden);
  }
};

TEST_F(ModelRunTest, SampleMatchesTheReviewedModel) {
  const std::string d = dir.string();
  ASSERT_EQ(0, Pehost("--db '" + d + "/seed.json' --classes '" + d +
                          "/classes.json' --report '" + d + "/report.md' --forms '" + d +
                          "/forms'",
                      "run.out"))
      << ReadFile(dir / "run.out.err");
  EXPECT_EQ("", ReadFile(dir / "run.out.err"));  // nothing in the sample is unreadable
  ExpectGolden(dir / "classes.json", "sample_classes.json");
  ExpectGolden(dir / "report.md", "sample_report.md");
  size_t forms = 0;
  for (const fs::directory_entry &e : fs::directory_iterator(dir / "forms")) {
    ExpectGolden(e.path(), "sample_forms/" + e.path().filename().string());
    ++forms;
  }
  EXPECT_EQ(2u, forms);

  const json model = json::parse(ReadFile(dir / "classes.json"));
  EXPECT_EQ(1, model["format"]);
  // The model is read after the run: a virtual method carries the name the
  // detector gave it (TComponent's SetName slot is its Name property's
  // setter).
  bool named = false;
  for (const json &c : model["classes"])
    for (const json &m : c["virtual_methods"])
      named |= c["name"] == "TComponent" && m["name"] == "TComponent@Classes@SetNameProc";
  EXPECT_TRUE(named);
}

TEST_F(ModelRunTest, UnwritableOutputsAreRefusedBeforeTheRun) {
  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(2, Pehost("--forms '" + (dir / "file").string() + "'", "file.out"));
  EXPECT_EQ("pehost: " + (dir / "file").string() + ": is not a folder\n",
            ReadFile(dir / "file.out.err"));
  EXPECT_EQ(2,
            Pehost("--classes '" + (dir / "none" / "c.json").string() + "'", "none.out"));
  EXPECT_NE(std::string::npos, ReadFile(dir / "none.out.err").find("no folder"));
  EXPECT_EQ(2, Pehost("--report ''", "empty.out"));
  EXPECT_EQ("pehost: --report: needs a file name\n", ReadFile(dir / "empty.out.err"));
}

}  // namespace
