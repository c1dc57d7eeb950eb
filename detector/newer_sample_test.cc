// The detector on the sample of the 88-byte layout, whose type information
// blocks of every kind carry what the newer compilers add: each walk ends
// exactly where the manifest says the block's data ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "samples/mapped_pe.h"
#include "testing/command_run.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct NewerSampleTest : testing::Test {
  void SetUp() override {
    const fs::path sample = dir / "sample.exe";
    ASSERT_EQ(0, RunCommand(std::string(MAKE_SAMPLE_PATH) + " --layout 88 --manifest '" +
                                (dir / "manifest.json").string() + "' '" +
                                sample.string() + "'",
                            dir / "make_sample.out"));
    manifest = json::parse(ReadFile(dir / "manifest.json"));
    const std::string bytes = ReadFile(sample);
    std::string err;
    ASSERT_TRUE(pe.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()), &err)) << err;
    ASSERT_EQ(0,
              RunCommand(std::string(PEHOST_PATH) + " --start 0 --log no --json '" +
                             (dir / "db.json").string() + "' '" + sample.string() + "'",
                         dir / "pehost.out"));
    const json db = json::parse(ReadFile(dir / "db.json"));
    for (const json &item : db["items"]) {
      const uint32_t ea = item["ea"];
      items[ea] = ea + item["size"].get<uint32_t>();
    }
    for (const json &n : db["names"]) names.insert(n["name"].get<std::string>());
    for (const json &c : db["comments"]) comments.insert(c["text"].get<std::string>());
  }

  TestFolder dir;
  json manifest;
  samples::MappedPe pe;
  std::map<uint32_t, uint32_t> items;  // start -> end
  std::set<std::string> names, comments;
};

TEST_F(NewerSampleTest, EveryWalkEndsWhereItsBlockEnds) {
  std::set<int> kinds;
  for (const json &t : manifest["types"]) {
    const int kind = t["kind"];
    const uint32_t block = t["address"], end = t["end"];
    const uint32_t data = block + 6 + pe.Read8(block + 5);
    SCOPED_TRACE(t["name"].get<std::string>());
    // Shapes no compiler writes (an OrdType of 7, a method kind of 9) are
    // left to the classic walks, which walk none of their data.
    if ((kind == 1 && pe.Read8(data) > 5) || (kind == 8 && pe.Read8(data) > 7)) continue;
    kinds.insert(kind);
    uint32_t walked = block;
    for (auto it = items.find(walked); it != items.end() && walked < end;
         it = items.find(walked)) {
      walked = it->second;
    }
    EXPECT_EQ(end, walked) << std::hex << block;
  }
  for (int kind = 1; kind <= 22; ++kind) EXPECT_TRUE(kinds.count(kind)) << kind;
}

TEST_F(NewerSampleTest, NewerDataIsCommentedAndItsCodeNamed) {
  for (const char *text : {"AttrData",
                           "AttrType:PPTypeInfo",
                           "AttrCtor",
                           "ArgData",
                           "CodePage",
                           "InstanceType:PPTypeInfo",
                           "RefType:PPTypeInfo",
                           "ProcSig",
                           "MethSig",
                           "CC:ccStdCall",
                           "PropCount of PropDataEx",
                           "Info:PPropInfo",
                           "ArrayPropName",
                           "RecOps",
                           "RecFldCnt",
                           "FieldName",
                           "RecMethCnt",
                           "MethodName",
                           "SetSize",
                           "Dims:PPTypeInfo",
                           "DynArrElType:PPTypeInfo",
                           "RttiCount:none",
                           "EnumUnitName"}) {
    EXPECT_TRUE(comments.count(text)) << text;
  }
  for (const char *name :
       {"TList<System.Integer>@System.Generics.Collections@GetCapacityProc",
        "TManagedRecord@Create", "_type_TManagedRecord", "_type_TIntFunc"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
}

}  // namespace
