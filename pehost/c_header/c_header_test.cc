// The header end to end: pehost writes the types of samples of every layout
// and of the real programs (when fetched), and a real C compiler reads each
// in 32-bit mode with the layout checks switched on, so that every
// structure's size and every member's offset is the one the header claims.
// The claims themselves are held against the class model's JSON of the same
// run: each class's structure is as large as its InstanceSize, and each
// published field sits at its offset.
#include "pehost/c_header/c_header.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>

#include "testing/command_run.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

/// Runs pehost on `program` for the header and the model's JSON in `dir`.
void WriteHeader(const fs::path &program, const fs::path &dir) {
  ASSERT_EQ(
      0, RunCommand(std::string(PEHOST_PATH) + " --plugin '" + CORVALE_PATH +
                        "' --start 0 --log no --c-header '" + (dir / "types.h").string() +
                        "' --classes '" + (dir / "classes.json").string() + "' '" +
                        program.string() + "'",
                    dir / "pehost.out"))
      << ReadFile(dir / "pehost.out.err");
}

/// The class model written alone, where the types are built without their
/// declarations, must be the one written beside the header, with the same
/// lines about types that cannot be laid out.
void ExpectSameModelWithoutHeader(const fs::path &program, const fs::path &dir) {
  RunCommand(std::string(PEHOST_PATH) + " --plugin '" + CORVALE_PATH +
                 "' --start 0 --log no --classes '" + (dir / "alone.json").string() +
                 "' '" + program.string() + "'",
             dir / "alone.out");
  EXPECT_EQ(ReadFile(dir / "pehost.out.err"), ReadFile(dir / "alone.out.err"));
  EXPECT_TRUE(ReadFile(dir / "classes.json") == ReadFile(dir / "alone.json"))
      << program << ": the class model differs without the header";
}

/// Compiles the header in 32-bit mode, syntax only, with every warning an
/// error; the compiler's complaint when it fails.
std::string Compile(const fs::path &header, const std::string &defines) {
  const fs::path out = header.parent_path() / "compile.out";
  const int status = RunCommand(std::string(CLANG_PATH) +
                                    " --target=i686-pc-windows-msvc -fsyntax-only -x c "
                                    "-std=c11 -Werror " +
                                    defines + " '" + header.string() + "'",
                                out);
  return status == 0 ? "" : ReadFile(out.string() + ".err").substr(0, 4000);
}

/// Each class structure's name by its Delphi name (as the comment in front
/// of it says) and the sizes and offsets the header asserts.
struct HeaderFacts {
  std::multimap<std::string, std::string> structs;  // Delphi name -> structure
  std::map<std::string, uint32_t> sizes;
  std::set<std::string> offsets;  // "Struct.member=offset"
};

HeaderFacts ReadFacts(const std::string &header) {
  HeaderFacts f;
  static const std::regex cls(
      R"(/\* class (.+?)(?: \([^()]*\))?, instance size \d+ \*/\nstruct (\w+) \{)");
  for (std::sregex_iterator it(header.begin(), header.end(), cls), end; it != end; ++it)
    f.structs.emplace((*it)[1], (*it)[2]);
  static const std::regex size(R"(_Static_assert\(sizeof\((\w+)\) == (\d+),)");
  for (std::sregex_iterator it(header.begin(), header.end(), size), end; it != end; ++it)
    f.sizes[(*it)[1]] = std::stoul((*it)[2]);
  static const std::regex offset(
      R"(_Static_assert\(__builtin_offsetof\((\w+), (\w+)\) == (\d+),)");
  for (std::sregex_iterator it(header.begin(), header.end(), offset), end; it != end;
       ++it)
    f.offsets.insert((*it)[1].str() + "." + (*it)[2].str() + "=" + (*it)[3].str());
  return f;
}

bool PlainIdentifier(const std::string &s) {
  return std::regex_match(s, std::regex("[A-Za-z][A-Za-z0-9]*"));
}

/// Compiles the header and holds its claims against the model; the number
/// of published fields checked.
size_t CheckHeader(const fs::path &dir) {
  const fs::path header = dir / "types.h";
  EXPECT_EQ("", Compile(header, "-DPEHOST_LAYOUT_CHECKS"));
  const std::string text = ReadFile(header);
  const HeaderFacts facts = ReadFacts(text);
  const json model = json::parse(ReadFile(dir / "classes.json"));
  size_t checked_fields = 0;
  for (const json &c : model["classes"]) {
    const std::string name = c["name"];
    SCOPED_TRACE(name);
    // Two classes of one name: one of the structures has the size.
    bool sized = false;
    std::string structure;
    for (auto [it, end] = facts.structs.equal_range(name); it != end; ++it) {
      auto size = facts.sizes.find(it->second);
      if (size != facts.sizes.end() && size->second == c["instance_size"]) {
        sized = true;
        structure = it->second;
      }
    }
    EXPECT_TRUE(sized) << "no structure of " << c["instance_size"] << " bytes";
    if (!sized || facts.structs.count(name) != 1) continue;
    for (const json &f : c["published_fields"]) {
      if (!PlainIdentifier(f["name"])) continue;
      ++checked_fields;
      EXPECT_TRUE(facts.offsets.count(structure + "." + f["name"].get<std::string>() +
                                      "=" + std::to_string(f["offset"].get<uint32_t>())))
          << f["name"] << " at " << f["offset"];
    }
  }
  return checked_fields;
}

class CHeaderSampleTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    sample = dir / "sample.exe";
    ASSERT_EQ(0, RunCommand(std::string(MAKE_SAMPLE_PATH) + " --forms --layout " +
                                std::to_string(GetParam()) + " '" + sample.string() + "'",
                            dir / "make_sample.out"));
  }
  TestFolder dir;
  fs::path sample;
};

// The header's location macros are spelled out only where the writer puts
// them: a program's own names and comments that read like one stay as they
// are in IDA's text (they were once rewritten into locations).
TEST(IdaTypesTest, AMacroPrefixOfTheProgramsOwnStays) {
  model::ProgramTypes types;
  model::CDecl d;
  d.kind = model::CDecl::kStruct;
  d.name = "TThing";
  d.size = 8;
  d.members.push_back({"FValue", "int32_t", 0, 0, 4, "FValue: PH_Sx PH_S4_4"});
  d.members.push_back({"PH_EAX", "int32_t", 0, 4, 4, "PH_USERCALL  PH_EDX"});
  types.decls.push_back(d);
  types.structs.push_back("TThing");
  const tool_script::ScriptTypes ida = c_header::IdaTypes(types);
  ASSERT_EQ(2u, ida.declarations.size());
  EXPECT_EQ(
      "#pragma pack(push, 1)\n"
      "struct TThing {\n"
      "  int32_t FValue;                                /* 0x0000 FValue: PH_Sx PH_S4_4 "
      "*/\n"
      "  int32_t PH_EAX;                                /* 0x0004 PH_USERCALL  PH_EDX "
      "*/\n"
      "};\n"
      "#pragma pack(pop)\n",
      ida.declarations[1].second.text);
}

// A comment takes every byte as it is but "*/", which would end it, and
// control characters, which would break its line; the runs between them are
// looked for sixteen bytes at a time, so each odd byte is put at every place
// of texts shorter and longer than that, beside the bytes from 0x80 up.
TEST(IdaTypesTest, CommentsKeepTheirTextButWhatWouldEndThem) {
  const std::string odd[] = {"*/",   "*",    "/",        "\n", "\t",
                             "\x7F", "\x1F", "\xC3\xA9", "**/"};
  const auto expected = [](const std::string &text) {
    std::string e;
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '*' && i + 1 < text.size() && text[i + 1] == '/') {
        e += "* /";
        ++i;
      } else {
        e += c < 0x20 || c == 0x7F ? ' ' : text[i];
      }
    }
    return e;
  };
  model::ProgramTypes types;
  std::vector<std::string> comments;
  for (size_t length = 0; length <= 40; ++length)
    for (size_t at = 0; at <= length; ++at)
      for (const std::string &o : odd) {
        std::string text(length, 'a');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
        text.insert(at, o);
        comments.push_back(text);
        model::CDecl d;
        d.name = types.texts.Keep("T" + std::to_string(comments.size()));
        d.comment = types.texts.Keep(text);
        d.target = "int";
        types.decls.push_back(d);
      }
  const tool_script::ScriptTypes ida = c_header::IdaTypes(types);
  ASSERT_EQ(comments.size() + 1, ida.declarations.size());
  for (size_t i = 0; i < comments.size(); ++i)
    ASSERT_EQ("/* " + expected(comments[i]) + " */\ntypedef int T" +
                  std::to_string(i + 1) + ";\n",
              ida.declarations[i + 1].second.text)
        << "comment " << i;
}

TEST_P(CHeaderSampleTest, CompilesWithItsLayoutChecks) {
  WriteHeader(sample, dir);
  EXPECT_GT(CheckHeader(dir), 0u);
  ExpectSameModelWithoutHeader(sample, dir);
  const std::string text = ReadFile(dir / "types.h");
  // A click handler gets its event's prototype: Self and Sender in EAX and
  // EDX.
  EXPECT_NE(
      std::string::npos,
      text.find("typedef void PH_USERCALL TForm1_Button1Click_T(TForm1 *Self PH_EAX, "
                "TObject *Sender PH_EDX);"));
  // A virtual call through an object reads as a named member of the class's
  // own method table.
  EXPECT_NE(std::string::npos, text.find("  TForm1_VMT *_VMT;"));
  if (GetParam() != 88) return;
  // The newest layout's extended tables: fields of class, string, enumeration
  // and record types at their offsets, the monitor last; prototypes with
  // stack parameters in Delphi order, a hidden result, a class method whose
  // Self is the class, var and out parameters; the slot named by its entry;
  // a handler of an event with five parameters, the last three pushed left
  // to right.
  for (
      const char *line :
      {"  TComponent *FOwner;", "  UnicodeString FName;", "  TAlign FAlign;",
       "  TManagedRecord FBounds;", "  void *_Monitor;", "  TShapeList_Notify_T *Notify;",
       "typedef Integer PH_USERPURGE TShapeList_Add_T PH_EAX(TShapeList *Self PH_EAX, "
       "Integer A PH_EDX, Integer B PH_ECX, Integer C PH_S4_4, Integer D PH_S0_4);",
       "typedef void PH_USERCALL TShapeList_GetName_T(TShapeList *Self PH_EAX, "
       "UnicodeString *Result PH_EDX);",
       "typedef void PH_USERPURGE TShapeList_Scale_T(TShapeList_VMT *Self PH_EAX, "
       "Double Factor PH_S0_8);",
       "typedef void PH_USERCALL TShapeList_Swap_T(TShapeList *Self PH_EAX, Integer *A "
       "PH_EDX, UnicodeString *B PH_ECX);",
       "typedef void PH_USERPURGE TForm1_FormMouseDown_T(TForm1 *Self PH_EAX, TObject "
       "*Sender PH_EDX, TMouseButton Button PH_ECX, TShiftState Shift PH_S8_4, Integer X "
       "PH_S4_4, Integer Y PH_S0_4);"})
    EXPECT_NE(std::string::npos, text.find(line)) << line;
}

INSTANTIATE_TEST_SUITE_P(Layouts, CHeaderSampleTest, testing::Values(52, 64, 76, 88));

class CHeaderRealProgramTest : public testing::TestWithParam<const char *> {};

TEST_P(CHeaderRealProgramTest, CompilesWithItsLayoutChecks) {
  const fs::path program = fs::path(REAL_PROGRAMS_DIR) / GetParam();
  if (!fs::exists(program))
    GTEST_SKIP() << program
                 << " is absent; run scripts/fetch_real_programs.sh to fetch it";
  TestFolder dir;
  WriteHeader(program, dir);
  CheckHeader(dir);
  ExpectSameModelWithoutHeader(program, dir);
}

INSTANTIATE_TEST_SUITE_P(
    All, CHeaderRealProgramTest,
    testing::Values("installer-5.5.9/Setup.e32", "installer-5.5.9/SetupLdr.e32",
                    "installer-5.5.9/Compil32.exe", "installer-5.5.9/ISCC.exe",
                    "installer-6.3.1/Setup.e32", "installer-6.3.1/SetupLdr.e32",
                    "installer-6.3.1/Compil32.exe", "installer-6.3.1/ISCC.exe"),
    [](const testing::TestParamInfo<const char *> &info) {
      std::string name = info.param;
      for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
