#include "samples/make_sample_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "samples/manifest.h"

namespace samples {
namespace {

bool Parse(std::vector<std::string> args, MakeSampleOptions *opts, std::string *err) {
  args.insert(args.begin(), "make_sample");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  return ParseMakeSampleOptions(static_cast<int>(argv.size()), argv.data(), opts, err);
}

TEST(MakeSampleOptionsTest, ReadsEveryOption) {
  MakeSampleOptions o;
  std::string err;
  EXPECT_EQ(76u, o.sample.layout);
  ASSERT_TRUE(Parse({"--manifest", "m.json", "out.exe", "--db-seed", "s.json", "--units",
                     "12", "--classes-per-unit", "3", "--size-mb", "2", "--layout", "64"},
                    &o, &err))
      << err;
  EXPECT_EQ(64u, o.sample.layout);
  EXPECT_EQ("out.exe", o.output);
  EXPECT_EQ("m.json", o.manifest);
  EXPECT_EQ("s.json", o.db_seed);
  EXPECT_EQ(12, o.sample.units);
  EXPECT_EQ(3, o.sample.classes_per_unit);
  EXPECT_EQ(2u * 1024 * 1024, o.sample.min_code_bytes);
}

TEST(MakeSampleOptionsTest, BadCommandLinesAreRefusedWithOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                    // no output
      {"a.exe", "b.exe"},                    // two outputs
      {"--units", "x", "a.exe"},             // not a number
      {"--units", "-1", "a.exe"},            // below the range
      {"--units", "12abc", "a.exe"},         // trailing text
      {"--classes-per-unit", "0", "a.exe"},  // no classes
      {"--size-mb", "99999", "a.exe"},       // past the address space
      {"--layout", "80", "a.exe"},           // no such header size
      {"--layout", "088", "a.exe"},          // not written as a size
      {"--colour", "red", "a.exe"},          // unknown option
      {"a.exe", "--manifest"},               // missing value
      {"--manifest", "a.exe", "a.exe"},      // manifest over the program
  };
  for (const auto &args : bad) {
    MakeSampleOptions o;
    std::string err;
    std::string joined;
    for (const std::string &a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    EXPECT_FALSE(Parse(args, &o, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(std::string::npos, err.find('\n'));
  }
  MakeSampleOptions o;
  std::string err;
  EXPECT_TRUE(Parse({"--help"}, &o, &err));
  EXPECT_TRUE(o.help);
}

TEST(MakeSampleOptionsTest, ManifestAndSeedAreJsonWithIntegerAddresses) {
  SampleOptions options;
  options.layout = 88;
  SampleProgram p = BuildSample(options);
  const nlohmann::json m = nlohmann::json::parse(ManifestJson(p));
  EXPECT_EQ(88, m["layout"]);
  ASSERT_EQ(p.texts.size(), m["class_shaped_texts"].size());
  EXPECT_EQ(p.texts[1].address, m["class_shaped_texts"][1]["address"].get<uint32_t>());
  EXPECT_EQ("(none)", m["class_shaped_texts"][1]["text"]);
  EXPECT_EQ(p.classes[2].slots, m["classes"][2]["slots"].get<size_t>());
  ASSERT_EQ(p.classes.size(), m["classes"].size());
  ASSERT_EQ(p.types.size(), m["types"].size());
  ASSERT_EQ(p.functions.size(), m["functions"].size());
  EXPECT_EQ(p.classes[3].name, m["classes"][3]["name"]);
  EXPECT_EQ(p.classes[3].at.vmt, m["classes"][3]["vmt"].get<uint32_t>());
  EXPECT_EQ(p.types[5].cell, m["types"][5]["address"].get<uint32_t>());
  EXPECT_EQ(p.functions[7].end, m["functions"][7]["end"].get<uint32_t>());
  const nlohmann::json s = nlohmann::json::parse(SeedJson(p));
  ASSERT_TRUE(s["comments"].is_array());
  ASSERT_TRUE(s["names"].is_array());
  EXPECT_TRUE(s["comments"][0]["ea"].is_number_unsigned());
  EXPECT_EQ(true, s["comments"][0]["repeatable"]);
}

TEST(MakeSampleOptionsTest, WholeFileWriteLeavesNothingBehindOnFailure) {
  std::string err;
  EXPECT_FALSE(WriteFileWhole("/nonexistent-dir/x.exe", "ab", 2, &err));
  EXPECT_NE(std::string::npos, err.find("/nonexistent-dir/x.exe"));
  const std::string path = testing::TempDir() + "whole_file_test.bin";
  ASSERT_TRUE(WriteFileWhole(path, "abc", 3, &err)) << err;
  std::ifstream in(path, std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ("abc", got);
  EXPECT_FALSE(std::ifstream(path + ".tmp").good());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace samples
