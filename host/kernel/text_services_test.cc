#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/test_db.h"
#include "testing/test_folder.h"

namespace {

TEST(TextServicesTest, CopyAndAppendCutAndTerminate) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_STREQ("abcdefg", qstrncpy(buf, "abcdefghij", sizeof buf));
  EXPECT_STREQ("ab", qstrncpy(buf, "ab", sizeof buf));
  EXPECT_STREQ("abcde", qstrncat(buf, "cde", sizeof buf));
  EXPECT_STREQ("abcdefg", qstrncat(buf, "fghij", sizeof buf));
  EXPECT_STREQ("abcdefg", qstrncat(buf, "more", sizeof buf));  // already full
  std::memset(buf, 'x', sizeof buf);                           // not terminated at all
  EXPECT_STREQ("xxxxxxx", qstrncat(buf, "y", sizeof buf));
  EXPECT_STREQ("", qstrncpy(buf, nullptr, sizeof buf));
  EXPECT_EQ(nullptr, qstrncpy(nullptr, "a", 4));
  char one[1] = {'z'};
  EXPECT_STREQ("", qstrncpy(one, "abc", 1));
}

TEST(TextServicesTest, FormatCutsToBuffer) {
  char buf[6];
  EXPECT_EQ(5, qsnprintf(buf, sizeof buf, "%d-%s", 1234, "xyz"));
  EXPECT_STREQ("1234-", buf);
  EXPECT_EQ(3, qsnprintf(buf, sizeof buf, "%X", 0xABC));
  EXPECT_STREQ("ABC", buf);
  EXPECT_EQ(0, qsnprintf(buf, 0, "%d", 1));
}

TEST(TextServicesTest, PathsWithEitherSeparator) {
  char out[1024];
  EXPECT_EQ(1, qdirname(out, sizeof out, "D:\\work\\app.exe"));
  EXPECT_STREQ("D:\\work", out);
  EXPECT_EQ(1, qdirname(out, sizeof out, "/home/u/app.exe"));
  EXPECT_STREQ("/home/u", out);
  EXPECT_EQ(1, qdirname(out, sizeof out, "C:/mixed\\dir/app.exe"));
  EXPECT_STREQ("C:/mixed\\dir", out);
  EXPECT_EQ(1, qdirname(out, sizeof out, "/app.exe"));
  EXPECT_STREQ("/", out);
  EXPECT_EQ(0, qdirname(out, sizeof out, "app.exe"));
  EXPECT_STREQ("", out);
  char small[4];
  EXPECT_EQ(1, qdirname(small, sizeof small, "D:\\work\\app.exe"));
  EXPECT_STREQ("D:\\", small);

  EXPECT_STREQ("app.exe", qbasename("D:\\work\\app.exe"));
  EXPECT_STREQ("app.exe", qbasename("/home/u/app.exe"));
  EXPECT_STREQ("app.exe", qbasename("app.exe"));
  EXPECT_STREQ("", qbasename("dir/"));

  char name[] = "app.v2.exe";
  char *ext = nullptr;
  char *dot = nullptr;
  EXPECT_STREQ("app.v2", qsplitfile(name, &ext, &dot));
  EXPECT_STREQ("exe", ext);
  EXPECT_EQ(name + 6, dot);
  char path[] = "dir.d/noext";
  EXPECT_STREQ("dir.d/noext", qsplitfile(path, &ext, nullptr));
  EXPECT_EQ(nullptr, ext);
}

TEST(TextServicesTest, AddressesAsTheHostShowsThem) {
  TestDb db;
  db.AddSegment("CODE", 0x00401000, 0x100);
  char buf[1024];
  EXPECT_STREQ("CODE:0040102C", ea2str(0x0040102C, buf, sizeof buf));
  EXPECT_STREQ("0000ABCD", ea2str(0xABCD, buf, sizeof buf));
  char small[7];
  EXPECT_STREQ("CODE:0", ea2str(0x0040102C, small, sizeof small));
}

TEST(TextServicesTest, RootNodeHoldsInputPath) {
  TestDb db;
  char buf[1024];
  EXPECT_EQ(16, netnode_valstr(RootNode, buf, sizeof buf));
  EXPECT_STREQ("C:\\work\\test.exe", buf);
  db.db().SetInputPath("");
  EXPECT_EQ(-1, netnode_valstr(RootNode, buf, sizeof buf));
}

int PrintTo(FILE *fp, const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int n = qvfprintf(fp, format, va);
  va_end(va);
  return n;
}

TEST(TextServicesTest, TextFileWithBackslashPath) {
  const TestFolder dir;
  // A plug-in joins directory and file with a backslash.
  const std::string path = dir.string() + "\\app_classes.log";
  FILE *fp = fopenWT(path.c_str());
  ASSERT_NE(nullptr, fp);
  EXPECT_EQ(12, PrintTo(fp, "%8d  %s\n", 7, "x"));
  EXPECT_EQ(0, qfclose(fp));
  std::ifstream in(dir / "app_classes.log");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ("       7  x\n", text.str());
  EXPECT_EQ(nullptr, fopenWT("/nonexistent-dir/x.log"));
  EXPECT_EQ(nullptr, fopenWT(nullptr));
  EXPECT_EQ(-1, PrintTo(nullptr, "%d", 1));
}

}  // namespace
