// A folder of the running test's own, for the files a test writes.
#pragma once

#include <filesystem>

/// `<temporary folder>/<suite>.<test>.<process id>`, made empty when the fixture
/// that holds it is made and removed with everything in it when that goes. It is
/// the path itself, so `dir / "app.exe"` names a file in it.
class TestFolder : public std::filesystem::path {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder &) = delete;
  TestFolder &operator=(const TestFolder &) = delete;
};
