#include "pehost/database_files/listing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/pe_loader/pe_loader.h"
#include "testing/pe_builder.h"

namespace database_files {
namespace {

using namespace test_pe;
using pe_loader::LoadPe;

using kernel::ItemType;

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// The first line that starts with `prefix`, or "".
std::string LineAt(const std::vector<std::string> &lines, const std::string &prefix) {
  for (const std::string &line : lines)
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

TEST(ListingTest, OneLinePerItemNameAndCommentInAddressOrder) {
  const std::string path = TestPath("listing_test.exe");
  ASSERT_TRUE(WriteBytes(path, BuildPe(SamplePe())));
  kernel::Database db;
  std::string err;
  ASSERT_TRUE(LoadPe(path, &db, &err)) << err;
  std::remove(path.c_str());
  kernel::Structure s;
  s.id = 0xFF000000;
  s.name = "TPair";
  s.members = {{"Low", 0, 2, DATA_WORD, -1}, {"High", 2, 2, DATA_WORD, -1}};
  ASSERT_TRUE(db.RestoreStructure(s, &err)) << err;
  ASSERT_TRUE(db.RestoreItem({0x402000, 4, ItemType::kDword}, &err)) << err;
  ASSERT_TRUE(db.RestoreItem({0x402004, 4, ItemType::kOffset}, &err)) << err;
  ASSERT_TRUE(db.RestoreItem({0x402010, 8, ItemType::kStruct, 0xFF000000}, &err)) << err;
  ASSERT_TRUE(db.RestoreName(0x402000, "SelfPtr_cell", &err)) << err;
  ASSERT_TRUE(db.RestoreComment({0x402000, "SelfPtr", false}, &err)) << err;
  ASSERT_TRUE(db.RestoreComment({0x402000, "shared", true}, &err)) << err;
  ASSERT_TRUE(db.RestoreName(0x402012, "inner", &err)) << err;
  ASSERT_TRUE(db.RestoreName(0x402004, "_cls_TList<System.Integer>", &err)) << err;
  ASSERT_TRUE(
      db.RestoreComment({0x401000, "line one\nline two\tend\r\x1B[2J", false}, &err))
      << err;

  std::ostringstream out;
  ASSERT_TRUE(WriteListing(db, out));
  const std::vector<std::string> lines = Lines(out.str());

  EXPECT_NE(std::string::npos, LineAt(lines, "; Program").find(db.input_path()));
  EXPECT_NE(std::string::npos, LineAt(lines, "; Cursor").find(".text:00401010"));
  EXPECT_NE("", LineAt(lines, ";   .data"));

  EXPECT_NE(std::string::npos,
            LineAt(lines, ".data:00402004").find("_cls_TList<System.Integer>"));

  const std::string unknown = LineAt(lines, ".text:00401000");
  EXPECT_NE(std::string::npos, unknown.find("unknown")) << unknown;
  EXPECT_NE(std::string::npos, unknown.find("; line one\\nline two\\x09end\\x0D\\x1B[2J"))
      << unknown;

  const std::string dword = LineAt(lines, ".data:00402000");
  EXPECT_NE(std::string::npos, dword.find(" dword ")) << dword;
  EXPECT_NE(std::string::npos, dword.find(" 4  SelfPtr_cell ")) << dword;
  EXPECT_NE(std::string::npos, dword.find("; SelfPtr  ;; shared")) << dword;

  EXPECT_NE(std::string::npos, LineAt(lines, ".data:00402004").find(" offset "))
      << out.str();
  const std::string instance = LineAt(lines, ".data:00402010");
  EXPECT_NE(std::string::npos, instance.find("struct TPair")) << instance;
  EXPECT_NE(std::string::npos, instance.find(" 8")) << instance;
  // A name inside an item has its own line, marked as inside.
  const std::string inner = LineAt(lines, ".data:00402012");
  EXPECT_NE(std::string::npos, inner.find(" -  ")) << inner;
  EXPECT_NE(std::string::npos, inner.find("inner")) << inner;

  // Address order, then the structures at the end.
  std::vector<std::string> addressed;
  for (const std::string &line : lines)
    if (line.rfind(".text:", 0) == 0 || line.rfind(".data:", 0) == 0)
      addressed.push_back(line.substr(6, 8));
  EXPECT_TRUE(std::is_sorted(addressed.begin(), addressed.end()));
  EXPECT_EQ(5u, addressed.size());
  const std::string tail = out.str().substr(out.str().find("; Structures"));
  EXPECT_NE(std::string::npos, tail.find("struct TPair  ; 4 bytes")) << tail;
  EXPECT_NE(std::string::npos, tail.find("+0002  High")) << tail;
}

}  // namespace
}  // namespace database_files
