// The class model of real Delphi programs, fetched by
// scripts/fetch_real_programs.sh into third_party_samples/: every class
// record and type information block the detector annotates is in the model
// at the same address, and every form resource of the program is decoded,
// with each event bound to a published method. Skipped when the programs
// are absent.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "testing/command_run.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Program {
  const char *file;
  // The program's form resources, as a walk of its resource directory by
  // another tool lists them.
  std::vector<std::string> forms;
};

const std::vector<std::string> kSetupForms = {
    "TMAINFORM",           "TNEWDISKFORM",           "TSELECTFOLDERFORM",
    "TSELECTLANGUAGEFORM", "TUNINSTALLPROGRESSFORM", "TUNINSTSHAREDFILEFORM",
    "TWIZARDFORM"};

const Program kPrograms[] = {
    {"installer-5.5.9/Setup.e32", kSetupForms},
    {"installer-5.5.9/SetupLdr.e32", {}},
    {"installer-5.5.9/Compil32.exe",
     {"TCOMPILEFORM", "TOPTIONSFORM", "TSIGNTOOLSFORM", "TSTARTUPFORM", "TWIZARDFILEFORM",
      "TWIZARDFORM"}},
    {"installer-5.5.9/ISCC.exe", {}},
    {"installer-6.3.1/Setup.e32", kSetupForms},
    {"installer-6.3.1/SetupLdr.e32", {}},
    {"installer-6.3.1/Compil32.exe",
     {"TCOMPILEFORM", "TFILESDESIGNERFORM", "TINPUTQUERYCOMBO", "TMSGBOXDESIGNERFORM",
      "TOPTIONSFORM", "TREGISTRYDESIGNERFORM", "TSIGNTOOLSFORM", "TSTARTUPFORM",
      "TWIZARDFILEFORM", "TWIZARDFORM"}},
    {"installer-6.3.1/ISCC.exe", {}},
};

class ModelRealProgramTest : public testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    program = fs::path(REAL_PROGRAMS_DIR) / GetParam().file;
    if (!fs::exists(program))
      GTEST_SKIP() << program
                   << " is absent; run scripts/fetch_real_programs.sh to fetch it";
  }

  fs::path program;
  TestFolder dir;
};

bool StartsWith(const std::string &text, const char *prefix) {
  return text.rfind(prefix, 0) == 0;
}

TEST_P(ModelRealProgramTest, ModelHoldsWhatTheDetectorAnnotatesAndEveryForm) {
  const std::string d = dir.string();
  ASSERT_EQ(0,
            RunCommand(std::string(PEHOST_PATH) + " --plugin '" + CORVALE_PATH +
                           "' --start 0 --log no --json '" + d + "/db.json' --classes '" +
                           d + "/classes.json' --report '" + d + "/report.md' --forms '" +
                           d + "/forms' '" + program.string() + "'",
                       dir / "run.out"))
      << ReadFile(dir / "run.out.err");
  EXPECT_EQ("", ReadFile(dir / "run.out.err"));
  const json db = json::parse(ReadFile(dir / "db.json"));
  const json model = json::parse(ReadFile(dir / "classes.json"));

  std::set<uint32_t> classes, types;
  for (const json &c : model["classes"]) classes.insert(c["record"].get<uint32_t>());
  for (const json &t : model["types"]) types.insert(t["address"].get<uint32_t>());
  size_t annotated_classes = 0, annotated_types = 0;
  for (const json &n : db["names"]) {
    const std::string name = n["name"];
    const uint32_t ea = n["ea"];
    if (StartsWith(name, "offset_cls_")) {
      ++annotated_classes;
      EXPECT_TRUE(classes.count(ea)) << name << " at " << std::hex << ea;
    } else if (StartsWith(name, "offset_type_") || StartsWith(name, "offset_obj_")) {
      ++annotated_types;
      EXPECT_TRUE(types.count(ea)) << name << " at " << std::hex << ea;
    }
  }
  EXPECT_GT(annotated_classes, 20u);

  std::vector<std::string> forms;
  size_t events = 0;
  for (const json &f : model["forms"]) {
    forms.push_back(f["resource"]);
    EXPECT_TRUE(f["decoded"].get<bool>()) << f["resource"] << ": " << f["error"];
    EXPECT_FALSE(f["class_record"].is_null()) << f["resource"];
    for (const json &e : f["events"]) {
      ++events;
      EXPECT_FALSE(e["address"].is_null())
          << f["resource"] << " " << e["component"] << "." << e["event"];
    }
    EXPECT_TRUE(fs::exists(dir / "forms" / (f["resource"].get<std::string>() + ".dfm")));
  }
  EXPECT_EQ(GetParam().forms, forms);
  EXPECT_TRUE(model["problems"].empty());

  printf(
      "[ real program ] %s: layout %d, %zu classes (%zu annotated), %zu types (%zu "
      "annotated), %zu forms, %zu events bound\n",
      GetParam().file, model["program"]["class_header_size"].get<int>(), classes.size(),
      annotated_classes, types.size(), annotated_types, forms.size(), events);
}

INSTANTIATE_TEST_SUITE_P(All, ModelRealProgramTest, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program> &info) {
                           std::string name = info.param.file;
                           for (char &c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
