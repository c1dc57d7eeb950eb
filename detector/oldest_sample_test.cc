// Both plug-ins and the class model end to end on the sample of the oldest
// class layout (52-byte headers, no SelfPtr, no cells in front of the type
// blocks): what they list, leave and report is checked against the sample's
// manifest, and the output windows, logs, listing and report against
// reviewed copies in testdata/oldest/. After a change that is meant, run the
// test with REBASE=1 to rewrite them, and review the difference like code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testing/command_run.h"
#include "testing/golden_file.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint32_t kHeader = 52;
// Offsets of the fields from the record's start in this layout.
constexpr uint32_t kTypeInfo = 8, kClassName = 24, kParent = 32, kFirstStandard = 36;

class OldestSampleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TestFolder;
    const fs::path &d = *dir_;
    ASSERT_EQ(0, RunCommand(std::string(MAKE_SAMPLE_PATH) +
                                " --layout 52 --forms --manifest '" +
                                (d / "manifest.json").string() + "' '" +
                                (d / "sample.exe").string() + "'",
                            d / "make_sample.out"));
    manifest_ = new json(json::parse(ReadFile(d / "manifest.json")));
    // The finder first: its log is kept before the detector writes its own.
    ASSERT_EQ(0, Run(LUMISK_PATH, "--log yes", "finder.out"));
    fs::rename(d / "sample_classes.log", d / "finder.log");
    ASSERT_EQ(0, Run(CORVALE_PATH,
                     "--log yes --json '" + (d / "db.json").string() + "' --listing '" +
                         (d / "sample.lst").string() + "' --classes '" +
                         (d / "classes.json").string() + "' --report '" +
                         (d / "report.md").string() + "'",
                     "detector.out"));
  }
  static void TearDownTestSuite() {
    delete manifest_;
    delete dir_;
  }

  static int Run(const std::string &plugin, const std::string &options,
                 const std::string &out) {
    const fs::path &d = *dir_;
    return RunCommand(std::string(PEHOST_PATH) + " --plugin '" + plugin + "' --start 0 " +
                          options + " '" + (d / "sample.exe").string() + "'",
                      d / out);
  }

  /// The run's file `file` against its reviewed copy `golden`, with the
  /// run's folder written as "<dir>".
  static void ExpectKept(const std::string &file, const std::string &golden) {
    const std::string folder = fs::path(*dir_).string();
    ExpectGolden(ReplaceAll(ReadFile(fs::path(*dir_) / file), folder, "<dir>"),
                 fs::path(TESTDATA_DIR) / "oldest" / golden);
  }

  static TestFolder *dir_;
  static json *manifest_;
};

TestFolder *OldestSampleTest::dir_ = nullptr;
json *OldestSampleTest::manifest_ = nullptr;

TEST_F(OldestSampleTest, RunsMatchTheReviewedCopies) {
  ExpectKept("finder.out", "finder.output");
  ExpectKept("finder.log", "finder_classes.log");
  ExpectKept("detector.out", "detector.output");
  ExpectKept("sample_classes.log", "detector_classes.log");
  ExpectKept("sample.lst", "sample.lst");
  ExpectKept("report.md", "report.md");
}

TEST_F(OldestSampleTest, FinderListsTheLinkedClassesAndNoDecoy) {
  const json &m = *manifest_;
  ASSERT_EQ(kHeader, m["layout"].get<uint32_t>());
  std::string expected;
  int n = 0, decoys = 0;
  for (const json &c : m["classes"]) {  // in address order
    if (c.value("decoy", false)) {
      ++decoys;
      continue;
    }
    char line[512];
    std::snprintf(line, sizeof line, "%8d  0x%.8X  Class %s of VritualTable\n", ++n,
                  c["address"].get<uint32_t>(), c["name"].get<std::string>().c_str());
    expected += line;
  }
  EXPECT_EQ(3, decoys);
  const std::string out = ReadFile(fs::path(*dir_) / "finder.out");
  EXPECT_NE(std::string::npos, out.find("Class record header: 52 bytes\n")) << out;
  std::string log = ReadFile(fs::path(*dir_) / "finder.log");
  const size_t head = log.find("Class Name\n");
  const size_t tail = log.find("Total ");
  ASSERT_NE(std::string::npos, head);
  ASSERT_NE(std::string::npos, tail);
  EXPECT_EQ(expected, log.substr(head + 11, tail - head - 11));
}

TEST_F(OldestSampleTest, DetectorAnnotatesEachRecordItsTypeBlockAndNoDecoy) {
  const json db = json::parse(ReadFile(fs::path(*dir_) / "db.json"));
  std::map<uint32_t, std::string> names;
  for (const json &n : db["names"]) names[n["ea"].get<uint32_t>()] = n["name"];
  std::map<uint32_t, std::vector<std::string>> comments;
  for (const json &c : db["comments"])
    comments[c["ea"].get<uint32_t>()].push_back(c["text"]);
  auto commented = [&](uint32_t ea, const std::string &text) {
    const std::vector<std::string> &at = comments[ea];
    return std::find(at.begin(), at.end(), text) != at.end();
  };
  std::map<std::string, uint32_t> blocks;  // class name: its type block's kind byte
  for (const json &t : (*manifest_)["types"])
    if (t["kind"] == 7) blocks[t["name"]] = t["address"];

  for (const json &c : (*manifest_)["classes"]) {
    const std::string name = c["name"];
    SCOPED_TRACE(name);
    const uint32_t a = c["address"];
    if (c.value("decoy", false)) {
      EXPECT_EQ(0u, names.count(a)) << names[a];
      EXPECT_FALSE(commented(a + kClassName, "ClassName Address"));
      continue;
    }
    EXPECT_EQ(a + kHeader, c["vmt"].get<uint32_t>());
    EXPECT_EQ("offset_cls_" + name, names[a]);
    EXPECT_TRUE(commented(a + kTypeInfo, "TypeInfo"));
    EXPECT_TRUE(commented(a + kClassName, "ClassName Address"));
    EXPECT_EQ(name != "TObject", commented(a + kParent, "ParentClass"));
    EXPECT_TRUE(commented(a + kFirstStandard, "DefaultHandler"));
    EXPECT_TRUE(commented(a + kHeader - 4, "Destroy"));
    if (c["slots"] > 0) {
      EXPECT_EQ("_cls_" + name, names[a + kHeader]);
      // The oldest compilers knew no interfaces.
      EXPECT_FALSE(commented(a + kHeader, "QueryInterface"));
    }
    for (const json &meth : c["methods"])
      EXPECT_EQ(name + "@" + meth["name"].get<std::string>(),
                names[meth["code"].get<uint32_t>()]);
    // The block has no cell: the record's TypeInfo leads to its kind byte.
    ASSERT_EQ(1u, blocks.count(name));
    EXPECT_EQ("_obj_" + name, names[blocks[name]]);
    EXPECT_TRUE(commented(blocks[name], "Class"));
  }
}

TEST_F(OldestSampleTest, ModelLinksTheHierarchyAndReadsTheClassBlocks) {
  const json model = json::parse(ReadFile(fs::path(*dir_) / "classes.json"));
  EXPECT_EQ(kHeader, model["program"]["class_header_size"].get<uint32_t>());
  std::map<uint32_t, std::string> wanted;
  for (const json &c : (*manifest_)["classes"])
    if (!c.value("decoy", false)) wanted[c["address"]] = c["name"];
  ASSERT_EQ(wanted.size(), model["classes"].size());
  for (const json &c : model["classes"]) {
    const std::string name = c["name"];
    SCOPED_TRACE(name);
    EXPECT_EQ(wanted[c["record"].get<uint32_t>()], name);
    EXPECT_EQ(c["record"].get<uint32_t>() + kHeader, c["vmt"].get<uint32_t>());
    EXPECT_EQ(name == "TObject", c["parent"].is_null());
    EXPECT_FALSE(c["type_info"].is_null());
    EXPECT_FALSE(c["unit"].get<std::string>().empty());
    // The standard methods in front of the table, last Destroy at slot -1.
    ASSERT_GE(c["virtual_methods"].size(), 4u);
    EXPECT_EQ("DefaultHandler", c["virtual_methods"][0]["standard"]);
    EXPECT_EQ(-4, c["virtual_methods"][0]["slot"]);
    EXPECT_EQ("Destroy", c["virtual_methods"][3]["standard"]);
    if (name == "TForm1") {
      EXPECT_EQ("TForm", c["parent"]["name"]);
      ASSERT_EQ(3u, c["published_fields"].size());
      EXPECT_EQ("TButton", c["published_fields"][0]["class"]);
      EXPECT_EQ(4u, c["published_methods"].size());
    }
    if (name == "TControl") {
      ASSERT_EQ(4u, c["properties"].size());
      EXPECT_EQ("Integer", c["properties"][0]["type"]);
      EXPECT_EQ("TNotifyEvent", c["properties"][3]["type"]);
    }
  }
  // Each event of the forms is bound to a published method of its class.
  ASSERT_EQ(2u, model["forms"].size());
  for (const json &f : model["forms"]) {
    SCOPED_TRACE(f["name"].get<std::string>());
    EXPECT_TRUE(f["decoded"].get<bool>());
    EXPECT_FALSE(f["class_record"].is_null());
    for (const json &e : f["events"]) EXPECT_FALSE(e["address"].is_null()) << e;
  }
}

}  // namespace
