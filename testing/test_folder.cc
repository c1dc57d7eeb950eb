#include "testing/test_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace {

// The process id keeps apart two builds testing at once on one machine.
std::filesystem::path FolderOfThisTest() {
  const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test != nullptr
                         ? std::string(test->test_suite_name()) + "." + test->name()
                         : std::string("no_test");
  std::replace(name.begin(), name.end(), '/', '_');  // parameterised names
  name += "." + std::to_string(getpid());
  return std::filesystem::absolute(std::filesystem::path(testing::TempDir()) / name);
}

}  // namespace

TestFolder::TestFolder() : std::filesystem::path(FolderOfThisTest()) {
  std::filesystem::remove_all(*this);
  std::filesystem::create_directories(*this);
}

TestFolder::~TestFolder() {
  std::error_code ec;
  std::filesystem::remove_all(*this, ec);
}
