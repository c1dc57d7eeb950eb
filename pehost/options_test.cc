#include "pehost/options.h"

#include <gtest/gtest.h>

namespace pehost {
namespace {

TEST(OptionsTest, ReadsEveryOptionInBothForms) {
  Options o;
  std::string err;
  ASSERT_TRUE(ParseOptions({"--plugin",     "lumisk",    "--start= 1",
                            "--log",        "cancel",    "--cursor",
                            "0x00401A2C",   "--db=a.db", "--json",
                            "a.json",       "--listing", "a.lst",
                            "--ida-script", "a_ida.py",  "--ghidra-script=a_ghidra.py",
                            "--classes",    "a.json",    "--report=a.md",
                            "--forms",      "forms",     "app.exe"},
                           &o, &err))
      << err;
  EXPECT_EQ("lumisk", o.plugin);
  EXPECT_EQ(" 1", o.start);
  EXPECT_EQ(-1, o.log);
  EXPECT_EQ(0x401A2Cu, o.cursor);
  EXPECT_EQ("a.db", o.db);
  EXPECT_EQ("a.json", o.json);
  EXPECT_EQ("a.lst", o.listing);
  EXPECT_EQ("a_ida.py", o.ida_script);
  EXPECT_EQ("a_ghidra.py", o.ghidra_script);
  EXPECT_EQ("a.json", o.classes);
  EXPECT_EQ("a.md", o.report);
  EXPECT_EQ("forms", o.forms);
  EXPECT_EQ("app.exe", o.input);

  // Values that look like options are values; "--" ends the options.
  Options p;
  ASSERT_TRUE(
      ParseOptions({"--start", "-1", "--cursor", "401000", "--", "-app.exe"}, &p, &err))
      << err;
  EXPECT_EQ("corvale", p.plugin);
  EXPECT_EQ("-1", p.start);
  EXPECT_EQ(0x401000u, p.cursor);
  EXPECT_FALSE(p.log);
  EXPECT_EQ("-app.exe", p.input);
}

TEST(OptionsTest, RefusesBadUsageNamingTheArgument) {
  const struct {
    std::vector<std::string> args;
    const char *reason;
  } cases[] = {
      {{}, "no input file"},
      {{"a.exe", "b.exe"}, "more than one input file"},
      {{"--colour", "a.exe"}, "--colour: unknown option"},
      {{"-x", "a.exe"}, "-x: unknown option"},
      {{"a.exe", "--start"}, "--start: needs a value"},
      {{"--log", "maybe", "a.exe"}, "--log maybe"},
      {{"--cursor", "40100G", "a.exe"}, "--cursor 40100G"},
      {{"--cursor", "123456789", "a.exe"}, "--cursor 123456789"},
      {{"--json=", "a.exe"}, "--json: needs a file name"},
      {{"--forms=", "a.exe"}, "--forms: needs a folder name"},
  };
  for (const auto &c : cases) {
    Options o;
    std::string err;
    EXPECT_FALSE(ParseOptions(c.args, &o, &err)) << c.reason;
    EXPECT_NE(std::string::npos, err.find(c.reason)) << err;
  }
  Options o;
  std::string err;
  EXPECT_TRUE(ParseOptions({"--help"}, &o, &err));
  EXPECT_TRUE(o.help);
}

}  // namespace
}  // namespace pehost
