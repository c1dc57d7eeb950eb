// Both plug-ins end to end on the sample in each class record layout: pehost
// runs the detector and the finder on what make_sample wrote, and what they
// leave and list is checked against the sample's manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testing/command_run.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct LayoutSampleTest : testing::TestWithParam<int> {
  TestFolder dir;
  fs::path sample;
  json manifest;

  void SetUp() override {
    sample = dir / "sample.exe";
    ASSERT_EQ(0, RunCommand(std::string(MAKE_SAMPLE_PATH) + " --layout " +
                                std::to_string(GetParam()) + " --manifest '" +
                                (dir / "manifest.json").string() + "' '" +
                                sample.string() + "'",
                            dir / "make_sample.out"));
    manifest = json::parse(ReadFile(dir / "manifest.json"));
  }

  /// pehost with `plugin` over the whole program; its output window.
  std::string Run(const std::string &plugin, const std::string &options) {
    EXPECT_EQ(0, RunCommand(std::string(PEHOST_PATH) + " --plugin '" + plugin +
                                "' --start 0 " + options + " '" + sample.string() + "'",
                            dir / "run.out"));
    return ReadFile(dir / "run.out");
  }

  /// The line the frame prints before the scan in a program that is not of
  /// the classic layout.
  void ExpectHeaderLine(const std::string &out) {
    const std::string line =
        "Class record header: " + std::to_string(GetParam()) + " bytes\n";
    if (GetParam() == 76) {
      EXPECT_EQ(std::string::npos, out.find("Class record header")) << out;
    } else {
      EXPECT_NE(std::string::npos, out.find(line)) << out;
    }
  }
};

TEST_P(LayoutSampleTest, DetectorAnnotatesEveryRecordAndBlockAndNoLiteral) {
  const std::string out =
      Run(CORVALE_PATH, "--log yes --json '" + (dir / "db.json").string() + "'");
  ExpectHeaderLine(out);
  const json db = json::parse(ReadFile(dir / "db.json"));
  std::map<uint32_t, std::string> names;
  for (const json &n : db["names"]) names[n["ea"].get<uint32_t>()] = n["name"];
  std::map<uint32_t, std::vector<std::string>> comments;
  for (const json &c : db["comments"])
    comments[c["ea"].get<uint32_t>()].push_back(c["text"]);
  auto commented = [&](uint32_t ea, const std::string &text) {
    const std::vector<std::string> &at = comments[ea];
    return std::find(at.begin(), at.end(), text) != at.end();
  };

  const uint32_t header = manifest["layout"];
  ASSERT_EQ(static_cast<uint32_t>(GetParam()), header);
  const std::string first_standard = header == 88 ? "Equals" : "SafeCallException";
  ASSERT_FALSE(manifest["classes"].empty());
  for (const json &c : manifest["classes"]) {
    const std::string name = c["name"];
    SCOPED_TRACE(name);
    const uint32_t a = c["address"];
    EXPECT_EQ("offset_cls_" + name, names[a]);
    EXPECT_TRUE(commented(a, "SelfPtr"));
    EXPECT_TRUE(commented(a + 44, first_standard));
    EXPECT_TRUE(commented(a + header - 4, "Destroy"));
    // Without slots of its own the class's first table lies where the slots
    // would start, and carries the table's name.
    if (c["slots"] > 0) {
      EXPECT_EQ("_cls_" + name, names[a + header]);
      EXPECT_TRUE(commented(a + header, "QueryInterface"));
    }
    // A table of extended entries alone (no published method) is not named,
    // as in real programs.
    const uint32_t method_table = c["method_table"];
    if (method_table != 0 && !c["methods"].empty()) {
      EXPECT_EQ(name + "_method_list", names[method_table]);
    }
    for (const json &m : c["methods"]) {
      EXPECT_EQ(name + "@" + m["name"].get<std::string>(),
                names[m["code"].get<uint32_t>()]);
    }
  }
  // Every block is named, up to the last one of the program: the scan went
  // past the literals and everything else between the groups.
  ASSERT_FALSE(manifest["types"].empty());
  for (const json &t : manifest["types"]) {
    const int kind = t["kind"];
    std::string name = t["name"];
    if (name.empty()) name = "unnamed_method";
    EXPECT_EQ((kind == 7 || kind == 15 ? "offset_obj_" : "offset_type_") + name,
              names[t["address"].get<uint32_t>()]);
  }
  for (const json &t : manifest["class_shaped_texts"]) {
    const uint32_t a = t["address"];
    SCOPED_TRACE(t["text"].get<std::string>());
    char at[16];
    std::snprintf(at, sizeof at, "@ %.8X\n", a);
    EXPECT_EQ(std::string::npos, out.find(at));  // no group starts there
    EXPECT_FALSE(names[a].starts_with("offset_cls_")) << names[a];
    EXPECT_FALSE(commented(a, "SelfPtr"));
  }

  const bool newest = GetParam() == 88;
  EXPECT_EQ(newest ? 2u : 0u, manifest["class_shaped_texts"].size());
  for (const char *generic :
       {"_cls_TList<System.Integer>", "TList<System.Integer>_method_list",
        "TList<System.Integer>@Add",
        "offset_cls_TDictionary<System.string,System.Integer>",
        "offset_cls_TEnumerable<System.Integer>.TEnumerator"}) {
    const bool named = std::any_of(names.begin(), names.end(),
                                   [&](const auto &n) { return n.second == generic; });
    EXPECT_EQ(newest, named) << generic;
  }
}

TEST_P(LayoutSampleTest, FinderListsExactlyTheRecordsAndBlocks) {
  const std::string out = Run(LUMISK_PATH, "--log yes");
  ExpectHeaderLine(out);
  std::vector<std::pair<uint32_t, std::string>> want;
  for (const json &c : manifest["classes"])
    want.emplace_back(c["address"].get<uint32_t>(),
                      "Class " + c["name"].get<std::string>() + " of VritualTable");
  for (const json &t : manifest["types"]) {
    std::string name = t["name"];
    if (name.empty()) name = "UnnamedMethod";
    want.emplace_back(t["address"].get<uint32_t>(),
                      "Type " + name + " of " + t["kind_name"].get<std::string>());
  }
  std::sort(want.begin(), want.end());
  std::string expected;
  int n = 0;
  for (const auto &[ea, label] : want) {
    char line[1100];
    std::snprintf(line, sizeof line, "%8d  0x%.8X  %s\n", ++n, ea, label.c_str());
    expected += line;
  }
  std::string log = ReadFile(dir / "sample_classes.log");
  // Only the list: the head names the input file, the tail counts.
  const size_t head = log.find("Class Name\n");
  const size_t tail = log.find("Total ");
  ASSERT_NE(std::string::npos, head);
  ASSERT_NE(std::string::npos, tail);
  log = log.substr(head + 11, tail - head - 11);
  EXPECT_EQ(expected, log);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutSampleTest, testing::Values(64, 76, 88),
                         [](const auto &info) { return std::to_string(info.param); });

}  // namespace
