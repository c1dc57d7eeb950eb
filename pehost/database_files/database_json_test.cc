#include "pehost/database_files/database_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "host/pe_loader/pe_loader.h"
#include "testing/pe_builder.h"

namespace database_files {
namespace {

using namespace test_pe;
using pe_loader::LoadPe;

using kernel::ItemType;

std::vector<kernel::Item> ItemsOf(const kernel::Database &db) {
  std::vector<kernel::Item> items;
  db.ForEachItem([&](const kernel::Item &i) { items.push_back(i); });
  return items;
}

/// Items as "ea size type struct" lines, for comparing databases.
std::string ItemText(const kernel::Database &db) {
  std::string text;
  for (const kernel::Item &i : ItemsOf(db))
    text += std::to_string(i.start) + " " + std::to_string(i.size) + " " +
            kernel::ItemTypeName(i.type) + " " +
            (i.type == ItemType::kStruct ? std::to_string(i.struct_id) : "") + "\n";
  return text;
}

struct DatabaseJsonTest : testing::Test {
  void SetUp() override {
    path = TestPath("database_json_test.exe");
    ASSERT_TRUE(WriteBytes(path, BuildPe(SamplePe())));
    ASSERT_TRUE(LoadPe(path, &db, &err)) << err;
  }
  void TearDown() override { std::remove(path.c_str()); }
  bool Read(kernel::Database *into, const std::string &text) {
    EXPECT_TRUE(LoadPe(path, into, &err)) << err;
    std::istringstream in(text);
    return ReadDatabaseJson(in, into, &err);
  }
  std::string Written(JsonContent content) {
    std::ostringstream out;
    EXPECT_TRUE(WriteDatabaseJson(db, content, out));
    return out.str();
  }
  void Annotate() {
    auto ok = [&](bool r) { ASSERT_TRUE(r) << err; };
    kernel::Structure s;
    s.id = 0xFF000007;
    s.name = "TPropInfo";
    s.members = {{"PropType", 0, 4, DATA_DWORD, -1}, {"Name", 4, 1, DATA_BYTE, 7}};
    ok(db.RestoreStructure(s, &err));
    ok(db.RestoreItem({0x401010, 1, ItemType::kCode}, &err));
    ok(db.RestoreItem({0x401011, 2, ItemType::kCode}, &err));
    ok(db.RestoreFunction({0x401010, 0x401013}, &err));
    ok(db.RestoreItem({0x402000, 4, ItemType::kDword}, &err));
    ok(db.RestoreItem({0x402004, 4, ItemType::kOffset}, &err));
    ok(db.RestoreItem({0x402008, 7, ItemType::kPString}, &err));
    ok(db.RestoreItem({0x402010, 10, ItemType::kStruct, 0xFF000007}, &err));
    ok(db.RestoreItem({0x402020, 8, ItemType::kWord}, &err));
    ok(db.RestoreName(0x402000, "first", &err));
    ok(db.RestoreName(0x401010, "start@Unit1@GetNameProc", &err));
    ok(db.RestoreName(0x402004, "TDictionary<System.string,System.`1>_method_list",
                      &err));
    ok(db.RestoreComment({0x402000, "SelfPtr", false}, &err));
    ok(db.RestoreComment({0x402000, "seen \"everywhere\"\nsecond line", true}, &err));
    db.SetCursor(0x402004);
  }

  std::string path;
  kernel::Database db;
  std::string err;
};

TEST_F(DatabaseJsonTest, SavedDatabaseReloadsExactly) {
  Annotate();
  kernel::Database again;
  ASSERT_TRUE(Read(&again, Written(JsonContent::kSaved))) << err;
  EXPECT_EQ(ItemText(db), ItemText(again));
  EXPECT_EQ(7u, ItemsOf(again).size());
  EXPECT_EQ(db.Names(), again.Names());
  ASSERT_EQ(2u, again.Comments().size());
  EXPECT_EQ("seen \"everywhere\"\nsecond line", again.Comments()[1].text);
  EXPECT_TRUE(again.Comments()[1].repeatable);
  ASSERT_EQ(1u, again.Functions().size());
  EXPECT_EQ(0x401013u, again.Functions()[0].end);
  ASSERT_EQ(1u, again.Structures().size());
  const kernel::Structure s = again.Structures()[0];
  EXPECT_EQ(0xFF000007u, s.id);
  ASSERT_EQ(2u, s.members.size());
  EXPECT_EQ(DATA_DWORD, s.members[0].flags);
  EXPECT_EQ(7, s.members[1].type_info);
  EXPECT_EQ(0x402004u, again.cursor());
  // The offset item's reference is back too.
  EXPECT_FALSE(again.DataRefsTo(0x401010).empty());
  EXPECT_EQ(db.DataRefsTo(0x401010), again.DataRefsTo(0x401010));
  // Written again, it is the same file.
  std::ostringstream second;
  WriteDatabaseJson(again, JsonContent::kSaved, second);
  EXPECT_EQ(Written(JsonContent::kSaved), second.str());
}

TEST_F(DatabaseJsonTest, ExportHasTheDocumentedShape) {
  Annotate();
  ASSERT_TRUE(db.RestoreComment({0x402020, "caf\xE9", false}, &err)) << err;
  const nlohmann::json j = nlohmann::json::parse(Written(JsonContent::kExport));
  EXPECT_EQ(db.input_path(), j["input"]);
  ASSERT_EQ(3u, j["segments"].size());
  EXPECT_EQ(".data", j["segments"][1]["name"]);
  EXPECT_EQ(0x402000u, j["segments"][1]["start"]);
  EXPECT_EQ(0x403000u, j["segments"][1]["end"]);
  // Code items are left out of the export.
  ASSERT_EQ(5u, j["items"].size());
  EXPECT_EQ((nlohmann::json{{"ea", 0x402004}, {"size", 4}, {"type", "offset"}}),
            j["items"][1]);
  EXPECT_EQ("pstring", j["items"][2]["type"]);
  EXPECT_EQ(0xFF000007u, j["items"][3]["struct_id"]);
  EXPECT_EQ((nlohmann::json{{"ea", 0x401010}, {"name", "start@Unit1@GetNameProc"}}),
            j["names"][0]);
  ASSERT_EQ(3u, j["comments"].size());
  EXPECT_EQ(false, j["comments"][0]["repeatable"]);
  EXPECT_EQ(true, j["comments"][1]["repeatable"]);
  // Not UTF-8: each byte is taken as Latin-1, as in every JSON file pehost writes.
  EXPECT_EQ("caf\xC3\xA9", j["comments"][2]["text"]);
  EXPECT_EQ((nlohmann::json{{"start", 0x401010}, {"end", 0x401013}}), j["functions"][0]);
  EXPECT_EQ("TPropInfo", j["structs"][0]["name"]);
  EXPECT_EQ(5, j["structs"][0]["size"]);
  EXPECT_EQ("Name", j["structs"][0]["members"][1]["name"]);
  EXPECT_EQ(4, j["structs"][0]["members"][1]["offset"]);
  EXPECT_EQ(0x402004u, j["cursor"]);
}

TEST_F(DatabaseJsonTest, HandWrittenFilesNeedOnlyWhatTheyGive) {
  kernel::Database again;
  ASSERT_TRUE(Read(&again, R"({"comments": [{"ea": 4202496, "text": "by hand"}]})"))
      << err;
  ASSERT_EQ(1u, again.Comments().size());
  EXPECT_FALSE(again.Comments()[0].repeatable);
  EXPECT_EQ(0x401010u, again.cursor());  // the program's entry point stays

  // A structure without an id gets one; an item may name its structure.
  ASSERT_TRUE(Read(&again, R"({
    "structs": [{"name": "Pair", "members": [{"name": "a", "offset": 0, "size": 2},
                                             {"name": "b", "offset": 2, "size": 2}]}],
    "items": [{"ea": 4202496, "size": 8, "type": "struct", "struct": "Pair"}]})"))
      << err;
  ASSERT_EQ(1u, again.Structures().size());
  EXPECT_NE(BADNODE, again.Structures()[0].id);
  EXPECT_EQ(DATA_WORD, again.Structures()[0].members[1].flags);
  ASSERT_EQ(1u, ItemsOf(again).size());
  EXPECT_EQ(again.Structures()[0].id, ItemsOf(again)[0].struct_id);
  EXPECT_EQ(8u, ItemsOf(again)[0].size);
}

TEST_F(DatabaseJsonTest, RefusedFilesLeaveNothingApplied) {
  struct Case {
    const char *name;
    const char *text;
    const char *reason;
  };
  const Case cases[] = {
      {"empty", "", "not valid JSON"},
      {"cut short", R"({"names": [{"ea": 4202496, "na)", "not valid JSON"},
      {"array", "[]", "does not hold a JSON object"},
      {"unknown key", R"({"coments": []})", "unknown key \"coments\""},
      {"unknown element key", R"({"names": [{"ea": 4202496, "name": "x", "colour": 1}]})",
       "names[0]: unknown key \"colour\""},
      {"missing field", R"({"items": [{"ea": 4202496, "size": 4}]})",
       "items[0]: \"type\" is missing"},
      {"negative address", R"({"names": [{"ea": -1, "name": "x"}]})", "names[0]: \"ea\""},
      {"address past 32 bits", R"({"cursor": 4294967296})", "\"cursor\""},
      {"fractional address", R"({"functions": [{"start": 1.5, "end": 2}]})",
       "functions[0]: \"start\""},
      {"unknown item type", R"({"items": [{"ea": 4202496, "size": 4, "type": "dwrod"}]})",
       "unknown item type \"dwrod\""},
      {"element not an object", R"({"comments": [1]})", "comments[0]: not an object"},
      {"array as a scalar", R"({"names": 5})", "names: is not an array"},
      {"repeatable not a boolean",
       R"({"comments": [{"ea": 4202496, "text": "x", "repeatable": 1}]})", "repeatable"},
      {"segment count",
       R"({"segments": [{"name": ".text", "start": 4198400, "end": 4202496}]})",
       "the file has 1, the program 3"},
      {"segment moved", R"({"segments": [
         {"name": ".text", "start": 4198400, "end": 4202496},
         {"name": ".data", "start": 4202496, "end": 4210688},
         {"name": ".bss", "start": 4206592, "end": 4210688}]})",
       "segments[1]: .data 0x00402000-0x00404000 differs"},
      {"overlapping items", R"({"items": [{"ea": 4202496, "size": 4, "type": "dword"},
                                          {"ea": 4202498, "size": 1, "type": "byte"}]})",
       "items[1]: "},
      {"name used twice", R"({"names": [{"ea": 4202496, "name": "x"},
                                        {"ea": 4202500, "name": "x"}]})",
       "names[1]: "},
      {"unknown structure",
       R"({"items": [{"ea": 4202496, "size": 4, "type": "struct", "struct": "Nope"}]})",
       "no structure \"Nope\""},
      {"item outside every segment",
       R"({"items": [{"ea": 16, "size": 4, "type": "dword"}]})",
       "items[0]: item outside its segment"},
      {"item across a segment end",
       R"({"items": [{"ea": 4202494, "size": 4, "type": "dword"}]})", "items[0]: "},
      {"function outside every segment", R"({"functions": [{"start": 16, "end": 32}]})",
       "functions[0]: function outside its segment"},
      {"overlapping functions", R"({"functions": [{"start": 4198400, "end": 4198420},
                                                  {"start": 4198410, "end": 4198430}]})",
       "functions[1]: function overlaps another"},
      {"member outside its structure", R"({"structs": [{"name": "T", "size": 4,
         "members": [{"name": "a", "offset": 2, "size": 4}]}]})",
       "structs[0]: \"size\" is 4 but the members end at 6"},
      {"overlapping members", R"({"structs": [{"name": "T", "members": [
         {"name": "a", "offset": 0, "size": 4}, {"name": "b", "offset": 2, "size": 1}]}]})",
       "structs[0]: members a and b of T overlap"},
      {"structure past 16 MiB", R"({"structs": [{"name": "TPropInfo",
         "members": [{"name": "x", "offset": 4294967294, "size": 1}]}]})",
       "member x of TPropInfo ends past 16 MiB"},
      {"line break in a key", "{\"na\\nmes\": []}", "unknown key \"na\\nmes\""},
      {"control character in a name",
       R"({"names": [{"ea": 4202496, "name": "a\u0007b"}]})",
       "names[0]: bad name a\\x07b"},
      {"structure on a dword",
       R"({"items": [{"ea": 4202496, "size": 4, "type": "dword", "struct_id": 1}]})",
       "only struct items"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    kernel::Database again;
    EXPECT_FALSE(Read(&again, c.text));
    EXPECT_NE(std::string::npos, err.find(c.reason)) << err;
    EXPECT_EQ(std::string::npos, err.find('\n')) << err;
    EXPECT_TRUE(again.segments().empty());
    EXPECT_TRUE(again.Names().empty());
    EXPECT_TRUE(ItemsOf(again).empty());
  }
}

}  // namespace
}  // namespace database_files
