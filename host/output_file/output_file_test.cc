#include "host/output_file/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/pe_builder.h"
#include "testing/test_folder.h"

namespace output_file {
namespace {

namespace fs = std::filesystem;

struct OutputFileTest : testing::Test {
  void SetUp() override {
    target = (dir / "out.json").string();
    std::ofstream(target) << "earlier";
  }
  std::string Contents() {
    std::ifstream in(target);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  size_t FilesInDir() {
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
  }
  TestFolder dir;
  std::string target;
  std::string err;
};

TEST_F(OutputFileTest, ReplacesTheFileWhole) {
  ASSERT_TRUE(WriteFileWhole(
      target, [](std::ostream &out) { return !!(out << "new"); }, &err))
      << err;
  EXPECT_EQ("new", Contents());
  EXPECT_EQ(1u, FilesInDir());
}

TEST_F(OutputFileTest, AFailedWriteLeavesTheFileAndNoTemporary) {
  EXPECT_FALSE(WriteFileWhole(
      target, [](std::ostream &out) { return !(out << "half"); }, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ("earlier", Contents());
  EXPECT_EQ(1u, FilesInDir());

  EXPECT_FALSE(WriteFileWhole((dir / "missing" / "x.json").string(),
                              [](std::ostream &) { return true; }, &err));
  EXPECT_NE(std::string::npos, err.find("temporary")) << err;
}

TEST_F(OutputFileTest, AnInterruptionRemovesTheTemporaryAndKeepsTheFile) {
  // What the signal handler does while the contents are being written.
  EXPECT_FALSE(WriteFileWhole(
      target,
      [](std::ostream &out) {
        out << "half";
        RemovePendingTempFile();
        return true;
      },
      &err));
  EXPECT_EQ("earlier", Contents());
  EXPECT_EQ(1u, FilesInDir());
}

}  // namespace
}  // namespace output_file
