// Both plug-ins on real Delphi programs, fetched by
// scripts/fetch_real_programs.sh into third_party_samples/. The tests are
// skipped when the programs are not there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "samples/mapped_pe.h"
#include "testing/command_run.h"
#include "testing/real_programs.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Program {
  const char *file;
  std::vector<std::string> own_classes;
  bool components;  // a program with forms: components, properties, published methods
};

const Program kPrograms[] = {
    {"installer-5.5.9/Setup.e32", {"TSetupForm", "TWizardForm", "TMainForm"}, true},
    {"installer-5.5.9/SetupLdr.e32", {}, false},
    {"installer-5.5.9/Compil32.exe", {"TCompileForm"}, true},
    {"installer-5.5.9/ISCC.exe", {}, false},
    {"installer-6.3.1/Setup.e32", {"TSetupForm", "TUninstallProgressForm"}, true},
    {"installer-6.3.1/SetupLdr.e32", {}, false},
    {"installer-6.3.1/Compil32.exe", {}, true},
    {"installer-6.3.1/ISCC.exe", {}, false},
};

bool IsWideNameText(const std::string &text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!(isalnum(c) || std::string_view("_$%&().:?@[]<>,`").find(static_cast<char>(c)) !=
                            std::string_view::npos)) {
      return false;
    }
  }
  return true;
}

// The class records of a program as a parser that knows the layouts finds
// them, independently of the plug-ins' recognition: the header size is the
// one most records of the whole program use, a record's first field holds
// exactly the address behind its header, AutoTable is empty, the name is
// readable, and the parent is none or a class record of the same shape.
struct ShapeScan {
  int header = 76;
  std::map<uint32_t, std::string> records;
};

ShapeScan ScanClassRecords(const samples::MappedPe &pe) {
  std::map<int, std::map<uint32_t, std::string>> shaped;
  for (const samples::MappedSection &s : pe.sections) {
    for (uint32_t a = s.start; a + 92 <= s.end; a += 4) {
      const uint32_t header = pe.Read32(a) - a;
      if (header != 64 && header != 76 && header != 88) continue;
      if (pe.Read32(a + 8) != 0 || !pe.InRange(pe.Read32(a + 32), a)) continue;
      const std::string name = pe.ShortString(pe.Read32(a + 32));
      if (IsWideNameText(name)) shaped[static_cast<int>(header)][a] = name;
    }
  }
  ShapeScan scan;
  for (const auto &[header, found] : shaped) {
    if (found.size() > shaped[scan.header].size()) scan.header = header;
  }
  const std::map<uint32_t, std::string> &found = shaped[scan.header];
  for (const auto &[a, name] : found) {
    const uint32_t parent = pe.Read32(a + 40);
    if (parent == 0 || found.count(pe.Read32(parent) - scan.header))
      scan.records[a] = name;
  }
  return scan;
}

class RealProgramTest : public testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    program = fs::path(REAL_PROGRAMS_DIR) / GetParam().file;
    if (!fs::exists(program)) {
      GTEST_SKIP() << program
                   << " is absent; run scripts/fetch_real_programs.sh to fetch it";
    }
    // Work on a copy so that the log lands in the temporary folder.
    copy = dir / program.filename();
    fs::copy_file(program, copy);
  }

  int Pehost(const std::string &plugin, const std::string &options,
             const std::string &out) {
    return RunCommand(std::string(PEHOST_PATH) + " --plugin '" + plugin + "' --start 0 " +
                          options + " '" + copy.string() + "'",
                      dir / out);
  }

  fs::path program, copy;
  TestFolder dir;
};

TEST_P(RealProgramTest, FinderListsEveryClassRecord) {
  ASSERT_EQ(0, Pehost(LUMISK_PATH, "--log yes", "finder.out"))
      << ReadFile(dir / "finder.out.err");
  const FoundRecords found = ParseFinderOutput(ReadFile(dir / "finder.out"));

  std::set<std::string> names;
  for (const auto &[ea, name] : found.classes) names.insert(name);
  EXPECT_TRUE(names.count("TObject"));
  if (GetParam().components) {
    for (const char *name : {"TPersistent", "TComponent"})
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
  if (GetParam().components) {
    EXPECT_GT(class_types, 20);
  }

  const std::string log = ReadFile(dir / (copy.stem().string() + "_classes.log"));
  EXPECT_NE(
      std::string::npos,
      log.find("Total " + std::to_string(found.classes.size() + found.types.size()) +
               " groups of classes or types found.\n"));
}

TEST_P(RealProgramTest, DetectorAnnotatesTheClassesItFinds) {
  ASSERT_EQ(0, Pehost(LUMISK_PATH, "--log yes", "finder.out"));
  const FoundRecords found = ParseFinderOutput(ReadFile(dir / "finder.out"));
  ASSERT_EQ(0, Pehost(CORVALE_PATH,
                      "--log yes --json '" + (dir / "db.json").string() +
                          "' --listing '" + (dir / "db.lst").string() + "'",
                      "detector.out"))
      << ReadFile(dir / "detector.out.err");
  const json db = json::parse(ReadFile(dir / "db.json"));

  std::set<std::string> names;
  for (const json &n : db["names"]) names.insert(n["name"].get<std::string>());
  EXPECT_TRUE(names.count("_cls_TObject"));
  if (GetParam().components) {
    for (const char *name : {"offset_cls_TPersistent", "_cls_TComponent"}) {
      EXPECT_TRUE(names.count(name)) << name;
    }
  }
  for (const std::string &own : GetParam().own_classes) {
    EXPECT_TRUE(names.count("_cls_" + own) || names.count("offset_cls_" + own)) << own;
  }
  // Every class record of the program carries its layout's comments and
  // its names, and no other address is named as a class record.
  samples::MappedPe pe;
  std::string err;
  const std::string bytes = ReadFile(program);
  ASSERT_TRUE(pe.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()), &err)) << err;
  const ShapeScan scan = ScanClassRecords(pe);
  const std::string said =
      "Class record header: " + std::to_string(scan.header) + " bytes\n";
  EXPECT_EQ(scan.header != 76,
            ReadFile(dir / "detector.out").find(said) != std::string::npos)
      << said;
  std::map<uint32_t, std::string> named_at, comment_at;
  for (const json &n : db["names"]) named_at[n["ea"]] = n["name"];
  for (const json &c : db["comments"]) {
    if (!c["repeatable"].get<bool>()) comment_at[c["ea"]] = c["text"];
  }
  size_t annotated = 0;
  for (const auto &[a, name] : scan.records) {
    const bool ok = named_at[a].rfind("offset_cls_", 0) == 0 &&
                    comment_at[a] == "SelfPtr" &&
                    comment_at[a + scan.header - 4] == "Destroy";
    EXPECT_TRUE(ok) << name << " at " << std::hex << a;
    annotated += ok;
  }
  for (const auto &[ea, name] : named_at) {
    if (name.rfind("offset_cls_", 0) == 0) {
      EXPECT_TRUE(scan.records.count(ea)) << name << " at " << std::hex << ea;
    }
  }
  const bool reached_end =
      !scan.records.empty() &&
      named_at[scan.records.rbegin()->first].rfind("offset_cls_", 0) == 0;
  std::cout << "[ real program ] " << GetParam().file << ": layout " << scan.header
            << ", " << annotated << " of " << scan.records.size()
            << " class records annotated, the scan "
            << (reached_end ? "reached" : "did not reach") << " the last record\n";

  // Property accessors are named after their class, unit and property.
  static const std::regex accessor(R"(T\w+@\w+@(Get|Set|Stored)\w+Proc(_\d+)?)");
  int accessors = 0, methods = 0;
  for (const std::string &name : names) {
    if (std::regex_match(name, accessor))
      ++accessors;
    else if (name.find('@') != std::string::npos)
      ++methods;
  }
  if (GetParam().components) {
    EXPECT_GT(accessors, 10);
    EXPECT_GT(methods, 10);  // published methods, Class@Method
  }

  EXPECT_GT(db["functions"].size(), GetParam().components ? 100u : 20u);
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
