// The tool scripts run against stand-in IDA and Ghidra modules
// (testdata/ida, testdata/ghidra) that record every call and replay it onto a
// stand-in database; testdata/replay_check.py then compares that database
// with the JSON export of the same run, runs the script a second time, and
// runs it once more at another image base. testdata/py27_subset.py keeps the
// scripts to the syntax Python 2.7 and 3 share.
#include "pehost/tool_script/tool_script.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "host/pe_loader/pe_loader.h"
#include "pehost/database_files/database_json.h"
#include "testing/command_run.h"
#include "testing/pe_builder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Quoted(const fs::path &path) { return "'" + path.string() + "'"; }

fs::path FreshDir(const std::string &name) {
  const fs::path dir = fs::absolute(fs::path(testing::TempDir()) /
                                    (name + "_" + std::to_string(getpid())));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

/// Runs a checker of testdata/ with `args`; its exit status, with what it
/// printed in *out.
int RunChecker(const std::string &checker, const std::string &args, const fs::path &dir,
               std::string *out) {
  const fs::path log = dir / (checker + ".out");
  const int status = RunCommand(std::string(PYTHON3_PATH) + " " +
                                    Quoted(fs::path(TESTDATA_DIR) / checker) + " " + args,
                                log);
  *out = ReadFile(log) + ReadFile(log.string() + ".err");
  return status;
}

/// Runs `script` on the stand-ins of `tool` and checks it against `export_json`.
void ExpectReplay(const std::string &tool, const fs::path &script,
                  const fs::path &export_json, const std::string &image_base,
                  const std::string &more = "") {
  const fs::path dir = script.parent_path();
  const std::string args = tool + " " + Quoted(script) + " " + Quoted(export_json) +
                           " --image-base " + image_base + more;
  std::string out;
  EXPECT_EQ(0, RunChecker("replay_check.py", args, dir, &out)) << out;
  EXPECT_EQ(0, RunChecker("replay_check.py", args + " --base-mismatch", dir, &out))
      << out;
  EXPECT_EQ(0, RunChecker("py27_subset.py", Quoted(script), dir, &out)) << out;
}

// ---- The annotated sample ----------------------------------------------------

class SampleScriptTest : public testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() {
    dir_ = FreshDir("tool_script_sample");
    const fs::path sample = dir_ / "sample.exe";
    if (RunCommand(std::string(MAKE_SAMPLE_PATH) + " --db-seed " +
                       Quoted(dir_ / "sample.db") + " " + Quoted(sample),
                   dir_ / "make_sample.out") != 0 ||
        RunCommand(std::string(PEHOST_PATH) + " --plugin " + CORVALE_PATH +
                       " --start 0 --log no --db " + Quoted(dir_ / "sample.db") +
                       " --json " + Quoted(dir_ / "sample.json") + " --classes " +
                       Quoted(dir_ / "classes.json") + " --ida-script " +
                       Quoted(dir_ / "ida.py") + " --ghidra-script " +
                       Quoted(dir_ / "ghidra.py") + " " + Quoted(sample),
                   dir_ / "pehost.out") != 0)
      failure_ =
          ReadFile(dir_ / "make_sample.out.err") + ReadFile(dir_ / "pehost.out.err");
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  void SetUp() override { ASSERT_EQ("", failure_); }

  static fs::path dir_;
  static std::string failure_;
};

fs::path SampleScriptTest::dir_;
std::string SampleScriptTest::failure_;

TEST_P(SampleScriptTest, ReplayGivesBackTheAnnotatedDatabase) {
  const fs::path script = dir_ / (GetParam() + ".py");
  // The scripts also give every method of the model its prototype.
  ExpectReplay(GetParam(), script, dir_ / "sample.json", "400000",
               " --types " + Quoted(dir_ / "classes.json"));

  // The header says where the database came from.
  const std::string text = ReadFile(script);
  EXPECT_EQ(0u, text.find(GetParam() == "ida" ? "# IDAPython script written by pehost"
                                              : "# Ghidra script written by pehost"));
  EXPECT_NE(std::string::npos,
            text.find("# Program:    " + (dir_ / "sample.exe").string() + "\n"));
  EXPECT_NE(std::string::npos, text.find("# Image base: 0x00400000\n"));
  EXPECT_NE(
      std::string::npos,
      text.find(std::string("# Run:        pehost ") + PEHOST_VERSION + ", plug-in " +
                CORVALE_PATH + ", database " + (dir_ / "sample.db").string() + ", 20"));
}

// The scripts' Python lives in .py files: they compile with the Python of
// this machine, keep to the 2.7 subset, and the script written carries them
// as they stand (a stale build would not).
TEST_P(SampleScriptTest, PythonFilesCompileAndTheScriptCarriesThem) {
  const fs::path script = dir_ / (GetParam() + ".py");
  const std::string text = ReadFile(script);
  std::string files = Quoted(script);
  for (const std::string &file :
       {GetParam() + "_script.py", std::string("script_main.py")}) {
    const fs::path source = fs::path(SOURCE_DIR) / file;
    const std::string code = ReadFile(source);
    ASSERT_FALSE(code.empty()) << source;
    EXPECT_NE(std::string::npos, text.find(code)) << file;
    files += " " + Quoted(source);
  }
  std::string out;
  EXPECT_EQ(0, RunChecker("py27_subset.py", files, dir_, &out)) << out;
  // compile() also catches what a parse lets through (a misplaced return or
  // from __future__), and writes no cache beside the sources.
  const fs::path log = dir_ / "compile.out";
  EXPECT_EQ(0, RunCommand(std::string(PYTHON3_PATH) +
                              " -c \"import sys; [compile(open(f, 'rb').read(), f, "
                              "'exec') for f in sys.argv[1:]]\" " +
                              files,
                          log))
      << ReadFile(log.string() + ".err");
}

INSTANTIATE_TEST_SUITE_P(Tools, SampleScriptTest, testing::Values("ida", "ghidra"));

// The sample of the oldest class layout: records without SelfPtr and type
// blocks without cells, annotated through other fields.
TEST_P(SampleScriptTest, ReplayOfTheOldestLayoutGivesBackItsDatabase) {
  const fs::path dir = dir_ / "oldest";
  fs::create_directories(dir);
  const fs::path sample = dir / "sample.exe";
  ASSERT_EQ(0,
            RunCommand(std::string(MAKE_SAMPLE_PATH) + " --layout 52 " + Quoted(sample),
                       dir / "make_sample.out"));
  ASSERT_EQ(0,
            RunCommand(std::string(PEHOST_PATH) + " --plugin " + CORVALE_PATH +
                           " --start 0 --log no --json " + Quoted(dir / "sample.json") +
                           " --" + GetParam() + "-script " +
                           Quoted(dir / (GetParam() + ".py")) + " " + Quoted(sample),
                       dir / "pehost.out"));
  EXPECT_NE(std::string::npos,
            ReadFile(dir / "pehost.out").find("Class record header: 52 bytes\n"));
  ExpectReplay(GetParam(), dir / (GetParam() + ".py"), dir / "sample.json", "400000");
}

// ---- Every supported version of each tool -------------------------------------

// The stand-ins play one version of their tool each: a call the version
// lacks raises, and IDA 7.0 is taken to refuse explicit stack places, so
// the script must fall back to declarations that list the stack
// parameters as they sit in memory. Under each version the script is
// replayed on the sample of the 88-byte layout (prototypes from
// signatures and from events, one with three stack parameters) and, for
// its types alone, on one real program;
// every prototype must come out as the model has it, and a second run
// must change nothing.
struct ToolVersion {
  const char *tool;
  const char *version;
};

class VersionScriptTest : public testing::TestWithParam<ToolVersion> {
 protected:
  static void SetUpTestSuite() {
    dir_ = FreshDir("tool_script_versions");
    Write("sample", dir_ / "sample.exe", "--forms --layout 88 ");
    const fs::path real = fs::path(REAL_PROGRAMS_DIR) / "installer-6.3.1/SetupLdr.e32";
    if (failure_.empty() && fs::exists(real)) {
      fs::copy_file(real, dir_ / "real.e32");
      Write("real", dir_ / "real.e32", nullptr);
    }
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  void SetUp() override { ASSERT_EQ("", failure_); }

  /// Writes the outputs of `program` as `name`.*, making it first with
  /// make_sample `layout` when that is not null.
  static void Write(const std::string &name, const fs::path &program,
                    const char *layout) {
    const fs::path out = dir_ / (name + ".out");
    if (layout != nullptr &&
        RunCommand(std::string(MAKE_SAMPLE_PATH) + " " + layout + Quoted(program), out) !=
            0) {
      failure_ += ReadFile(out.string() + ".err");
      return;
    }
    const fs::path base = dir_ / name;
    if (RunCommand(std::string(PEHOST_PATH) + " --plugin " + CORVALE_PATH +
                       " --start 0 --log no --json " + Quoted(base.string() + ".json") +
                       " --classes " + Quoted(base.string() + ".classes.json") +
                       " --ida-script " + Quoted(base.string() + ".ida.py") +
                       " --ghidra-script " + Quoted(base.string() + ".ghidra.py") + " " +
                       Quoted(program),
                   out) != 0)
      failure_ += ReadFile(out.string() + ".err");
  }

  /// The replay checker's exit status on the outputs `name`, with `more`
  /// arguments; what it printed in *out.
  static int Replay(const std::string &name, const std::string &script, const char *more,
                    std::string *out) {
    const fs::path base = dir_ / name;
    return RunChecker("replay_check.py",
                      std::string(GetParam().tool) + " " + Quoted(script) + " " +
                          Quoted(base.string() + ".json") +
                          " --image-base 400000 --types " +
                          Quoted(base.string() + ".classes.json") + " --version " +
                          GetParam().version + more,
                      dir_, out);
  }

  /// The texts without stack places carry the prototypes with stack
  /// parameters into IDA 7.0: without them the replay fails there, and only
  /// there.
  static void ExpectOnly70NeedsTheSecondTexts() {
    std::istringstream in(ReadFile(Script("sample")));
    std::string stripped, line;
    int cut = 0;
    bool typed = false;
    while (std::getline(in, line)) {
      // [ea, "text", "text without stack places"] or ["name", "text", "..."]
      // in the chunks of types and declarations: the texts hold no quote.
      if (line.find("_add(\"") != std::string::npos)
        typed = line.find("_add(\"types\"") != std::string::npos ||
                line.find("_add(\"decls\"") != std::string::npos;
      if (!typed || line[0] != '[') {
        stripped += line + "\n";
        continue;
      }
      size_t at = line.find("\", \"");
      if (line[1] == '"' && at != std::string::npos) at = line.find("\", \"", at + 1);
      if (at != std::string::npos) {
        line = line.substr(0, at + 1) + "]" + (line.back() == ',' ? "," : "");
        ++cut;
      }
      stripped += line + "\n";
    }
    EXPECT_LT(0, cut);
    const fs::path script =
        dir_ / ("stripped_" + std::string(GetParam().version) + ".py");
    WriteFile(script, stripped);
    std::string out;
    const bool ida70 = std::string(GetParam().version) == "7.0";
    EXPECT_EQ(ida70 ? 1 : 0, Replay("sample", script.string(), "", &out)) << out;
    if (ida70) {
      EXPECT_NE(std::string::npos, out.find("prototype of TShapeList_Add at")) << out;
    }
  }

  static std::string Script(const std::string &name) {
    return (dir_ / (name + "." + GetParam().tool + ".py")).string();
  }

  static fs::path dir_;
  static std::string failure_;
};

fs::path VersionScriptTest::dir_;
std::string VersionScriptTest::failure_;

TEST_P(VersionScriptTest, SampleAndRealProgramTakeEveryPrototype) {
  std::string out;
  EXPECT_EQ(0, Replay("sample", Script("sample"), "", &out)) << out;
  if (std::string(GetParam().tool) == "ida") ExpectOnly70NeedsTheSecondTexts();
  if (!fs::exists(dir_ / "real.json"))
    GTEST_SKIP() << "no real programs in " << REAL_PROGRAMS_DIR;
  EXPECT_EQ(0, Replay("real", Script("real"), " --types-only", &out)) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionScriptTest,
    testing::Values(ToolVersion{"ida", "7.0"}, ToolVersion{"ida", "8.4"},
                    ToolVersion{"ida", "9.1"}, ToolVersion{"ghidra", "10.0"},
                    ToolVersion{"ghidra", "10.2"}, ToolVersion{"ghidra", "10.3"},
                    ToolVersion{"ghidra", "11.4"}, ToolVersion{"ghidra", "12.1"}),
    [](const testing::TestParamInfo<ToolVersion> &info) {
      std::string name = std::string(info.param.tool) + "_" + info.param.version;
      name[name.find('.')] = '_';
      return name;
    });

// ---- A hand-written database with the edge cases ------------------------------

// The program sits above 0x7FFFFFFF, where a number given to Ghidra's toAddr
// under the Python 3 bridge would overflow a Java int.
constexpr uint32_t kBase = 0x80000000;
constexpr uint32_t kText = kBase + 0x1000;
constexpr uint32_t kData = kBase + 0x2000;
constexpr uint32_t kBss = kBase + 0x3000;

json Member(const char *name, uint32_t offset, uint32_t size, uint32_t flags,
            int type_info = -1) {
  return {{"name", name},
          {"offset", offset},
          {"size", size},
          {"flags", flags},
          {"type_info", type_info}};
}

json Item(uint32_t ea, uint32_t size, const char *type) {
  return {{"ea", ea}, {"size", size}, {"type", type}};
}

json Comment(uint32_t ea, const std::string &text, bool repeatable) {
  return {{"ea", ea}, {"text", text}, {"repeatable", repeatable}};
}

// A comment that needs every escape, and one long enough to be cut into
// several strings, a cut falling inside a run of backslashes.
const std::string kEscapes =
    "quote ' and ''' and \"\"\", back\\slash \\\\, tab\t, line\nend";
const std::string kLong = std::string(40001, '\\') + "'''" + std::string(30000, 'x');

json HandWrittenDatabase() {
  json structs = json::array(
      {{{"name", "TRecord"},
        {"members",
         {Member("Ptr", 0, 4, 0x25500400), Member("Count", 4, 2, 0x11100400),
          Member("Pad", 6, 2, 0x00000400), Member("Big", 8, 8, 0x30000400),
          Member("Pairs", 16, 8, 0x20000400), Member("Tag", 24, 4, 0x50000400, 0),
          Member("Nested", 28, 4, 0x60000400, 7),
          // A Pascal string tail of no size, as TPropInfo has.
          Member("Name", 32, 0, 0x50000400, 1)}}},
       // A member of no size that is not a string: neither tool can hold it.
       {{"name", "TMarked"},
        {"members",
         {Member("Value", 0, 4, 0x20000400), Member("End", 4, 0, 0x20000400)}}}});
  json records = Item(kData + 0x38, 32, "struct");
  records["struct"] = "TRecord";
  json record_pair = Item(kData + 0x58, 64, "struct");
  record_pair["struct"] = "TRecord";
  return {
      {"structs", structs},
      {"items",
       {Item(kText + 0x10, 1, "code"), Item(kData, 1, "byte"), Item(kData + 1, 3, "byte"),
        Item(kData + 4, 8, "word"), Item(kData + 0xC, 4, "dword"),
        Item(kData + 0x10, 8, "qword"), Item(kData + 0x18, 16, "qword"),
        Item(kData + 0x28, 4, "offset"), Item(kData + 0x2C, 6, "pstring"),
        Item(kData + 0x32, 2, "align"), Item(kData + 0x34, 4, "dword"), records,
        record_pair, Item(kData + 0x98, 8, "align"), Item(kData + 0x100, 4, "dword"),
        Item(kBss, 0x40, "dword")}},
      {"functions",
       {{{"start", kText + 0x10}, {"end", kText + 0x17}},
        {{"start", kText + 0x20}, {"end", kText + 0x30}},
        // Covered by a data item since: neither tool can start a function there.
        {{"start", kData + 0xC}, {"end", kData + 0x10}}}},
      {"names",
       {{{"ea", kData}, {"name", "first_byte"}},
        {{"ea", kData + 0x28}, {"name", "offset_TRecord"}},
        {{"ea", kData + 0x2C}, {"name", "clash_name"}},
        {{"ea", kData + 0x38}, {"name", "TRecord@Instance"}},
        {{"ea", kText + 0x10}, {"name", "Form1@Button1Click"}},
        {{"ea", kText + 0x20}, {"name", "TForm1.Dotted:Name"}},
        {{"ea", kBss}, {"name", "bss_table"}}}},
      {"comments",
       {Comment(kData, "plain", false), Comment(kData, "MainWindow", true),
        Comment(kData + 0xC, kEscapes, false),
        Comment(kData + 0x10,
                "Gr\xC3\xB6\xC3\x9F"
                "e \xE2\x9C\x93",
                true),
        Comment(kData + 0x28, kLong, false), Comment(kText + 0x10, "entry point", true)}},
  };
}

// What the tool held before: an item in the way of one of the database's
// (and one that is not), the database's name at another address, an older
// comment and a function found already.
json Preset() {
  return {
      {"items", {{kData + 0x102, 2, "word"}, {kData + 0x200, 1, "byte"}}},
      {"names", {{kData + 0x200, "clash_name"}}},
      {"comments", {{kData + 0xC, "old text", false}}},
      {"functions", {{kText + 0x20, kText + 0x28}}},
  };
}

class HandWrittenScriptTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    dir_ = FreshDir("tool_script_" + GetParam());
    test_pe::PeImage image = test_pe::SamplePe();
    image.image_base = kBase;
    const fs::path program = dir_ / "hand.exe";
    ASSERT_TRUE(test_pe::WriteBytes(program.string(), test_pe::BuildPe(image)));
    std::string err;
    ASSERT_TRUE(pe_loader::LoadPe(program.string(), &db_, &err)) << err;
    std::istringstream saved(HandWrittenDatabase().dump());
    ASSERT_TRUE(database_files::ReadDatabaseJson(saved, &db_, &err)) << err;
    // Comments come from the program and need not be UTF-8.
    ASSERT_TRUE(db_.RestoreComment({kData + 0x18, "not UTF-8: \xFF\xFE", false}, &err));

    std::ostringstream export_json, script;
    ASSERT_TRUE(database_files::WriteDatabaseJson(
        db_, database_files::JsonContent::kExport, export_json));
    const tool_script::ScriptOrigin origin{"a hand-written database"};
    ASSERT_TRUE(GetParam() == "ida"
                    ? tool_script::WriteIdaScript(db_, origin, nullptr, script)
                    : tool_script::WriteGhidraScript(db_, origin, nullptr, script));
    script_ = script.str();
    WriteFile(dir_ / "hand.json", export_json.str());
    WriteFile(dir_ / "preset.json", Preset().dump());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  kernel::Database db_;
  std::string script_;
};

TEST_P(HandWrittenScriptTest, EdgeCasesReplayAndALostRecordIsCaught) {
  const fs::path script = dir_ / "hand.py";
  WriteFile(script, script_);
  ExpectReplay(GetParam(), script, dir_ / "hand.json", "80000000",
               " --preset " + Quoted(dir_ / "preset.json"));
  // The long comment took more than one string.
  EXPECT_NE(std::string::npos, script_.find("''',\n         r'''"));

  EXPECT_NE(
      std::string::npos,
      script_.find("# Contents:   15 data items, 2 functions, 2 structures, 7 names, "
                   "7 comments\n# Left out:   1 functions that start on a data item\n"));

  // A script that lost one record no longer gives back the database.
  const std::string record = "\n[" + std::to_string(kData + 0x18) + ", 16, \"qword\"]";
  const size_t at = script_.find(record);
  ASSERT_NE(std::string::npos, at);
  std::string lossy = script_;
  lossy.erase(at, record.size() + (lossy[at + record.size()] == ',' ? 1 : 0));
  WriteFile(script, lossy);
  std::string out;
  EXPECT_EQ(1, RunChecker("replay_check.py",
                          GetParam() + " " + Quoted(script) + " " +
                              Quoted(dir_ / "hand.json") + " --image-base 80000000",
                          dir_, &out));
  EXPECT_NE(std::string::npos,
            out.find("items: " + std::to_string(kData + 0x18) + " missing"))
      << out;
}

// A run that writes both scripts makes the database's records once: the
// script written from them is the one written as it goes, however many
// statements of a function the records leave open before the types go on.
TEST_P(HandWrittenScriptTest, RecordsMadeOnceWriteTheSameScript) {
  const tool_script::ScriptOrigin origin{"a hand-written database"};
  const tool_script::ScriptRecords records = tool_script::MakeScriptRecords(db_);
  for (int declarations : {0, 1, 40, 300}) {
    SCOPED_TRACE(declarations);
    tool_script::ScriptTypes types;
    // About five to a chunk: 300 of them run past a function of statements.
    for (int i = 0; i < declarations; ++i)
      types.declarations.push_back(
          {types.texts.Keep("T" + std::to_string(i)),
           {types.texts.Keep("typedef int T" + std::string(5000, 'x') + ";"), {}}});
    types.applied.push_back({kText + 0x20, {"void f(void)", "void f2(void)"}});
    types.records.push_back({"gstructs", "[\"A\", 4][\"B\", 8]", {8, 16}});
    std::ostringstream streamed, made;
    const bool ida = GetParam() == "ida";
    ASSERT_TRUE(ida ? tool_script::WriteIdaScript(db_, origin, &types, streamed)
                    : tool_script::WriteGhidraScript(db_, origin, &types, streamed));
    ASSERT_TRUE(ida ? tool_script::WriteIdaScript(db_, origin, records, &types, made)
                    : tool_script::WriteGhidraScript(db_, origin, records, &types, made));
    EXPECT_EQ(streamed.str(), made.str());
    EXPECT_NE(std::string::npos, made.str().find("[\"B\", 8]"));
    if (declarations == 300) EXPECT_NE(std::string::npos, made.str().find("_data_1()"));
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, HandWrittenScriptTest, testing::Values("ida", "ghidra"));

// ---- The Python 2.7 subset ---------------------------------------------------

TEST(PythonSubsetTest, RejectsWhatPython27CannotRunTheSameWay) {
  const fs::path dir = FreshDir("py27_subset");
  struct Case {
    const char *source;
    const char *reason;
  };
  const Case cases[] = {
      {"x = f'{1}'\n", "f-string"},
      {"def g(a, *, b):\n    pass\n", "keyword-only parameters"},
      {"print('a', 'b')\n", "print of several values without print_function"},
      {"x = 1_000\n", "underscore in a number"},
      {"x = 3 / 2\n", "/ floors integers in Python 2"},
      {"first, *rest = [1, 2]\n", "* unpacking"},
      {"def g(a: int):\n    pass\n", "parameter annotation"},
      {"x = b'\\xff'\ny = rb'x'\n", "string prefix rb"},
      {"x = '\xC3\xA9'\n", "non-ASCII text without a coding line"},
      {"from __future__ import annotations\n", "from __future__ import annotations"},
      {"class A(object):\n    def f(self):\n        return super().f()\n",
       "super() without arguments"},
  };
  for (const Case &c : cases) {
    WriteFile(dir / "case.py", c.source);
    std::string out;
    EXPECT_EQ(1, RunChecker("py27_subset.py", Quoted(dir / "case.py"), dir, &out))
        << c.source;
    EXPECT_NE(std::string::npos, out.find(c.reason)) << c.source << "\n" << out;
  }
  WriteFile(dir / "fine.py",
            "from __future__ import print_function\nprint('a', 'b')\nx = 3 // 2\n"
            "def f(*parts):\n    return g(1, *parts)\n");
  std::string out;
  EXPECT_EQ(0, RunChecker("py27_subset.py", Quoted(dir / "fine.py"), dir, &out)) << out;
  fs::remove_all(dir);
}

// The IDA stand-in takes a prototype only as the program passes its
// arguments: every parameter at an explicit place, the stack arguments
// tiling the argument area and removed by the callee.
TEST(IdaStandInTest, RefusesPrototypesThatMisplaceArguments) {
  const fs::path dir = FreshDir("ida_stand_in");
  WriteFile(dir / "check.py",
            "import sys\n"
            "sys.path.insert(0, sys.argv[1])\n"
            "import ida_model, idc\n"
            "ida_model.reset(0x400000, [(0x400000, 0x401000)])\n"
            "assert idc.parse_decls('typedef struct T T;', idc.PT_SILENT) == 0\n"
            "good = 'void __userpurge f(T *Self@<eax>, int a@<^4.4>, int b@<^0.4>)'\n"
            "bad = ['void __usercall f(T *Self@<eax>, int a@<^0.4>)',\n"
            "       'void __stdcall f(T *Self, int a, int b)',\n"
            "       'void __userpurge f(T *Self@<eax>, int a@<^4.4>)',\n"
            "       'void __userpurge f(int a@<^0.8>, int b@<^4.4>)',\n"
            "       'void __userpurge f(U *Self@<eax>, int a@<^0.4>)',\n"
            "       'void __usercall f(int a@<eax>, int b@<eax>)']\n"
            "assert idc.SetType(0x400000, good)\n"
            "for b in bad:\n"
            "    assert idc.SetType(0x400010, b) is None, b\n"
            "print('refused %d' % len(ida_model.DB.refused))\n");
  const int status =
      RunCommand(std::string(PYTHON3_PATH) + " " + Quoted(dir / "check.py") + " " +
                     Quoted(fs::path(TESTDATA_DIR) / "ida"),
                 dir / "check.out");
  EXPECT_EQ(0, status) << ReadFile(dir / "check.out.err");
  EXPECT_EQ("refused 6\n", ReadFile(dir / "check.out"));
  fs::remove_all(dir);
}

// The Ghidra stand-in takes a prototype only as custom storage whose stack
// arguments tile the stack behind the return address and are all removed by
// the function.
TEST(GhidraStandInTest, RefusesPrototypesThatMisplaceArguments) {
  const fs::path dir = FreshDir("ghidra_stand_in");
  WriteFile(
      dir / "check.py",
      "import sys\n"
      "sys.path.insert(0, sys.argv[1])\n"
      "import ghidra_model as m\n"
      "from ghidra.program.model.data import Undefined, VoidDataType\n"
      "from ghidra.program.model.listing import ParameterImpl, ReturnParameterImpl\n"
      "from ghidra.program.model.listing import VariableStorage\n"
      "m.reset(0x400000, [(0x400000, 0x401000)])\n"
      "f = m.Function(m.PROGRAM, 0x400000, 'f')\n"
      "d = Undefined.getUndefinedDataType(4)\n"
      "void = ReturnParameterImpl(VoidDataType.dataType, VariableStorage.VOID_STORAGE, "
      "None)\n"
      "def proto(places, purge, custom=True, kind='CUSTOM_STORAGE'):\n"
      "    f.setCustomVariableStorage(custom)\n"
      "    try:\n"
      "        ps = [ParameterImpl('p%d' % i, d, p, None) for i, p in "
      "enumerate(places)]\n"
      "        f.updateFunction(None, void, ps, kind, True, 'USER_DEFINED')\n"
      "        f.setStackPurgeSize(purge)\n"
      "        return True\n"
      "    except m.JavaException:\n"
      "        return False\n"
      "assert proto(['EAX', 'EDX', 8, 4], 8)\n"
      "bad = [(['EAX', 4], 0), (['EAX', 8], 4), (['EAX', 0], 4), (['EBX'], 0),\n"
      "       (['EAX', 'EAX'], 0)]\n"
      "refused = sum(1 for places, purge in bad if not proto(places, purge))\n"
      "refused += not proto(['EAX'], 0, custom=False)\n"
      "refused += not proto(['EAX'], 0, kind='DYNAMIC_STORAGE_ALL_PARAMS')\n"
      "print('refused %d' % refused)\n");
  const int status =
      RunCommand(std::string(PYTHON3_PATH) + " " + Quoted(dir / "check.py") + " " +
                     Quoted(fs::path(TESTDATA_DIR) / "ghidra"),
                 dir / "check.out");
  EXPECT_EQ(0, status) << ReadFile(dir / "check.out.err");
  EXPECT_EQ("refused 7\n", ReadFile(dir / "check.out"));
  fs::remove_all(dir);
}

// ---- Real programs -----------------------------------------------------------

// The biggest fetched program, and the one where the detector overlays code
// it first took for functions with its tables.
TEST(RealProgramScriptTest, FetchedProgramsReplayInBothTools) {
  int ran = 0;
  for (const char *file : {"installer-6.3.1/Compil32.exe", "installer-6.3.1/Setup.e32"}) {
    const fs::path program = fs::path(REAL_PROGRAMS_DIR) / file;
    if (!fs::exists(program)) continue;
    SCOPED_TRACE(file);
    ++ran;
    const fs::path dir = FreshDir("tool_script_real");
    fs::copy_file(program, dir / program.filename());
    ASSERT_EQ(
        0,
        RunCommand(std::string(PEHOST_PATH) + " --plugin " + CORVALE_PATH +
                       " --start 0 --log no --json " + Quoted(dir / "real.json") +
                       " --classes " + Quoted(dir / "classes.json") + " --ida-script " +
                       Quoted(dir / "ida.py") + " --ghidra-script " +
                       Quoted(dir / "ghidra.py") + " " + Quoted(dir / program.filename()),
                   dir / "pehost.out"))
        << ReadFile(dir / "pehost.out.err");
    for (const std::string tool : {"ida", "ghidra"}) {
      SCOPED_TRACE(tool);
      // The prototypes are held against the model on one program: a whole
      // replay of either takes about 20 seconds per tool.
      ExpectReplay(tool, dir / (tool + ".py"), dir / "real.json", "400000",
                   std::string(file).find("Setup") != std::string::npos
                       ? " --types " + Quoted(dir / "classes.json")
                       : "");
    }
    fs::remove_all(dir);
  }
  if (ran == 0)
    GTEST_SKIP() << "no real programs in " << REAL_PROGRAMS_DIR
                 << "; run scripts/fetch_real_programs.sh to fetch them";
}

}  // namespace
