#include "testing/golden_file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/command_run.h"

void ExpectGolden(const std::string &actual, const std::filesystem::path &kept) {
  if (std::getenv("REBASE") != nullptr) {
    std::filesystem::create_directories(kept.parent_path());
    WriteFile(kept, actual);
  }
  ASSERT_TRUE(std::filesystem::exists(kept)) << kept;
  EXPECT_EQ(ReadFile(kept), actual) << "differs from " << kept;
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
