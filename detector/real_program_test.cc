// Both plug-ins on real Delphi programs, fetched by
// scripts/fetch_real_programs.sh into third_party_samples/. The tests are
// skipped when the programs are not there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "samples/mapped_pe.h"
#include "testing/command_run.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Found {
  std::map<uint32_t, std::string> classes;  // class record address -> class name
  std::map<uint32_t, std::string> types;    // reference cell -> "name of kind"
};

// The finder's "<label> @ <address>" lines.
Found ParseFinderOutput(const std::string &out) {
  Found found;
  static const std::regex line(
      R"((Class (\S+) of VritualTable|Type (.+)) @ ([0-9A-F]{8}))");
  std::istringstream in(out);
  std::string text;
  std::smatch m;
  while (std::getline(in, text)) {
    if (!std::regex_match(text, m, line)) continue;
    const uint32_t ea = std::stoul(m[4].str(), nullptr, 16);
    if (m[2].matched) {
      found.classes[ea] = m[2].str();
    } else {
      found.types[ea] = m[3].str();
    }
  }
  return found;
}

struct Program {
  const char *file;
  std::vector<std::string> own_classes;
  // Share of the class records found that the detector names. The newer
  // programs are built with a compiler whose records are longer and whose
  // wide-character texts now and then take the shape of a record; a group
  // walked from such a false candidate runs over the records behind it.
  size_t named_percent;
};

const Program kPrograms[] = {
    {"installer-5.5.9/Setup.e32", {"TSetupForm", "TWizardForm", "TMainForm"}, 100},
    {"installer-5.5.9/Compil32.exe", {"TCompileForm"}, 100},
    {"installer-6.3.1/Setup.e32", {"TSetupForm", "TUninstallProgressForm"}, 60},
    {"installer-6.3.1/Compil32.exe", {}, 70},
};

class RealProgramTest : public testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    program = fs::path(REAL_PROGRAMS_DIR) / GetParam().file;
    if (!fs::exists(program)) {
      GTEST_SKIP() << program
                   << " is absent; run scripts/fetch_real_programs.sh to fetch it";
    }
    dir = fs::absolute(fs::path(testing::TempDir()) /
                       ("real_program_" + std::to_string(getpid())));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Work on a copy so that the log lands in the temporary folder.
    copy = dir / program.filename();
    fs::copy_file(program, copy);
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }

  int Pehost(const std::string &plugin, const std::string &options,
             const std::string &out) {
    return RunCommand(std::string(PEHOST_PATH) + " --plugin '" + plugin + "' --start 0 " +
                          options + " '" + copy.string() + "'",
                      dir / out);
  }

  fs::path program, dir, copy;
};

TEST_P(RealProgramTest, FinderListsEveryClassRecord) {
  ASSERT_EQ(0, Pehost(LUMISK_PATH, "--log yes", "finder.out"))
      << ReadFile(dir / "finder.out.err");
  const Found found = ParseFinderOutput(ReadFile(dir / "finder.out"));

  std::set<std::string> names;
  for (const auto &[ea, name] : found.classes) names.insert(name);
  for (const char *name : {"TObject", "TPersistent", "TComponent"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
  for (const std::string &name : GetParam().own_classes)
    EXPECT_TRUE(names.count(name)) << name;

  // Every class type in the type information names the virtual method table
  // of its class; a class record must have been found in front of it (76
  // bytes in front in the older layout, 88 in the newer).
  samples::MappedPe pe;
  std::string err;
  const std::string bytes = ReadFile(program);
  ASSERT_TRUE(pe.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()), &err)) << err;
  int class_types = 0;
  for (const auto &[cell, label] : found.types) {
    if (label.size() < 9 || label.compare(label.size() - 9, 9, " of Class") != 0)
      continue;
    const uint32_t name_length = pe.Read8(cell + 5);
    const uint32_t vmt = pe.Read32(cell + 6 + name_length);
    if (vmt == 0) continue;
    ++class_types;
    EXPECT_TRUE(found.classes.count(vmt - 76) || found.classes.count(vmt - 88))
        << label << " at " << std::hex << cell << ": no class record for " << vmt;
  }
  EXPECT_GT(class_types, 20);

  const std::string log = ReadFile(dir / (copy.stem().string() + "_classes.log"));
  EXPECT_NE(
      std::string::npos,
      log.find("Total " + std::to_string(found.classes.size() + found.types.size()) +
               " groups of classes or types found.\n"));
}

TEST_P(RealProgramTest, DetectorAnnotatesTheClassesItFinds) {
  ASSERT_EQ(0, Pehost(LUMISK_PATH, "--log yes", "finder.out"));
  const Found found = ParseFinderOutput(ReadFile(dir / "finder.out"));
  ASSERT_EQ(0, Pehost(CORVALE_PATH,
                      "--log yes --json '" + (dir / "db.json").string() +
                          "' --listing '" + (dir / "db.lst").string() + "'",
                      "detector.out"))
      << ReadFile(dir / "detector.out.err");
  const json db = json::parse(ReadFile(dir / "db.json"));

  std::set<std::string> names;
  for (const json &n : db["names"]) names.insert(n["name"].get<std::string>());
  for (const char *name : {"_cls_TObject", "offset_cls_TPersistent", "_cls_TComponent"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
  for (const std::string &own : GetParam().own_classes) {
    EXPECT_TRUE(names.count("_cls_" + own) || names.count("offset_cls_" + own)) << own;
  }
  std::set<std::string> classes;
  for (const auto &[ea, name] : found.classes) classes.insert(name);
  size_t named = 0;
  for (const std::string &c : classes) named += names.count("offset_cls_" + c);
  EXPECT_GE(100 * named, GetParam().named_percent * classes.size())
      << named << " of " << classes.size() << " classes named";

  // Property accessors are named after their class, unit and property.
  static const std::regex accessor(R"(T\w+@\w+@(Get|Set|Stored)\w+Proc(_\d+)?)");
  int accessors = 0, methods = 0;
  for (const std::string &name : names) {
    if (std::regex_match(name, accessor))
      ++accessors;
    else if (name.find('@') != std::string::npos)
      ++methods;
  }
  EXPECT_GT(accessors, 10);
  EXPECT_GT(methods, 10);  // published methods, Class@Method

  EXPECT_GT(db["functions"].size(), 100u);
  EXPECT_EQ(1u, db["structs"].size());
  int commented = 0;
  for (const json &c : db["comments"]) {
    const std::string text = c["text"];
    if (text == "SelfPtr" || text == "ClassName Address") ++commented;
  }
  EXPECT_GT(commented, 50);
}

INSTANTIATE_TEST_SUITE_P(Installer, RealProgramTest, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program> &info) {
                           std::string name = info.param.file;
                           for (char &c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
