#include <gtest/gtest.h>

#include "testing/test_db.h"

namespace {

constexpr ea_t kBase = 0x00401000;

struct NamesTest : testing::Test {
  TestDb db{kBase, 0x1000};
  // Makes `target` the target of a data reference from `from`.
  void Refer(ea_t from, ea_t target) {
    db.PutDword(from, target);
    ASSERT_NE(0, op_offset(from, 0, 2, BADADDR, 0, 0));
  }
};

TEST_F(NamesTest, UsedNamesGetFirstFreeSuffix) {
  ASSERT_EQ(1, do_name_anyway(kBase, "TForm1", 0));
  ASSERT_EQ(1, do_name_anyway(kBase + 4, "TForm1", 0));
  ASSERT_EQ(1, do_name_anyway(kBase + 8, "TForm1", 0));
  EXPECT_EQ("TForm1_0", TestDb::Name(kBase + 4));
  EXPECT_EQ("TForm1_1", TestDb::Name(kBase + 8));
  // Naming an address again with its own name changes nothing.
  ASSERT_EQ(1, do_name_anyway(kBase + 4, "TForm1", 0));
  EXPECT_EQ("TForm1_0", TestDb::Name(kBase + 4));
  // A freed suffix is the first unused one again.
  ASSERT_EQ(1, do_name_anyway(kBase + 4, "", 0));
  EXPECT_EQ("", TestDb::Name(kBase + 4));
  ASSERT_EQ(1, do_name_anyway(kBase + 12, "TForm1", 0));
  EXPECT_EQ("TForm1_0", TestDb::Name(kBase + 12));
  ASSERT_EQ(1, do_name_anyway(kBase + 16, "TForm1", 0));
  EXPECT_EQ("TForm1_2", TestDb::Name(kBase + 16));
  // A renamed address frees its old name for others.
  ASSERT_EQ(1, do_name_anyway(kBase, "Other", 0));
  ASSERT_EQ(1, do_name_anyway(kBase + 20, "TForm1", 0));
  EXPECT_EQ("TForm1", TestDb::Name(kBase + 20));
}

TEST_F(NamesTest, OnlySuffixesTheRuleWritesCountAsUniqueForms) {
  ASSERT_EQ(1, do_name_anyway(kBase, "x", 0));
  // x_1 is a unique form of x: naming its address x again keeps it.
  ASSERT_EQ(1, do_name_anyway(kBase + 4, "x_1", 0));
  ASSERT_EQ(1, do_name_anyway(kBase + 4, "x", 0));
  EXPECT_EQ("x_1", TestDb::Name(kBase + 4));
  // The rule writes no leading zeros, so x_01 is a name of its own and gives way.
  ASSERT_EQ(1, do_name_anyway(kBase + 8, "x_01", 0));
  ASSERT_EQ(1, do_name_anyway(kBase + 8, "x", 0));
  EXPECT_EQ("x_0", TestDb::Name(kBase + 8));
}

TEST_F(NamesTest, NameCharactersAndRefusals) {
  EXPECT_EQ(1, do_name_anyway(kBase, "TShape@Shapes@SetColorProc", 0));
  EXPECT_EQ(1, do_name_anyway(kBase + 1, "$%&().:?@[]_09azAZ", 0));
  // Generic class names, as modern disassemblers take them.
  EXPECT_EQ(1, do_name_anyway(kBase + 3, "TDictionary<System.string,System.`1>@Add", 0));
  EXPECT_EQ("TDictionary<System.string,System.`1>@Add", TestDb::Name(kBase + 3));
  EXPECT_EQ(0, do_name_anyway(kBase + 2, "with space", 0));
  EXPECT_EQ(0, do_name_anyway(kBase + 2, "a-b", 0));
  // Every other byte is refused, the ones above 0x7F among them.
  const std::string allowed =
      "$%&().:?@[]_<>,`0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  for (int c = 1; c < 256; ++c) {
    const char name[] = {'A', static_cast<char>(c), '\0'};
    EXPECT_EQ(allowed.find(static_cast<char>(c)) != std::string::npos ? 1 : 0,
              do_name_anyway(kBase + 4, name, 0))
        << c;
  }
  do_name_anyway(kBase + 4, "", 0);
  EXPECT_EQ(0, do_name_anyway(kBase + 2, nullptr, 0));
  EXPECT_EQ(0, do_name_anyway(0x10, "Outside", 0));
  EXPECT_EQ("", TestDb::Name(kBase + 2));
  ASSERT_EQ(1, do_name_anyway(kBase + 3, "LongNameCut", 4));
  EXPECT_EQ("Long", TestDb::Name(kBase + 3));
}

TEST_F(NamesTest, DummyNamesFollowTheItem) {
  const ea_t t = kBase + 0x100;
  EXPECT_EQ("", TestDb::Name(t));  // nothing refers to it
  Refer(kBase, t);
  EXPECT_EQ("unk_401100", TestDb::Name(t));
  const struct {
    flags_t type;
    asize_t size;
    const char *name;
  } cases[] = {
      {DATA_BYTE, 1, "byte_401100"},
      {DATA_WORD, 2, "word_401100"},
      {DATA_DWORD, 8, "dword_401100"},
      {DATA_QWORD, 8, "qword_401100"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(1, do_data_ex(t, c.type, c.size, BADNODE));
    EXPECT_EQ(c.name, TestDb::Name(t));
  }
  ASSERT_EQ(1, do_unknown(t, 0));
  Refer(t, kBase);
  EXPECT_EQ("off_401100", TestDb::Name(t));
  ASSERT_EQ(1, do_unknown(t, 0));
  ASSERT_EQ(1, doAlign(t + 1, 3, 2));
  Refer(kBase + 4, t + 1);
  EXPECT_EQ("algn_401101", TestDb::Name(t + 1));

  // A given name wins, and the dummy name comes back when it is removed.
  ASSERT_EQ(1, do_name_anyway(t + 1, "Padding", 0));
  EXPECT_EQ("Padding", TestDb::Name(t + 1));
  ASSERT_EQ(1, do_name_anyway(t + 1, "", 0));
  EXPECT_EQ("algn_401101", TestDb::Name(t + 1));
}

TEST_F(NamesTest, StringsAreNamedAfterTheirText) {
  db.PutShortString(kBase + 0x200, "TForm1");
  db.PutShortString(kBase + 0x210, "my class-name!");
  db.PutShortString(kBase + 0x230, "..");
  for (ea_t s : {kBase + 0x200, kBase + 0x210, kBase + 0x230}) {
    ASSERT_EQ(1, make_ascii_string(s, 0, 1));
    Refer(s + 0x400, s);
  }
  EXPECT_EQ("aTform1", TestDb::Name(kBase + 0x200));
  EXPECT_EQ("aMyclassname", TestDb::Name(kBase + 0x210));
  EXPECT_EQ("asc_401230", TestDb::Name(kBase + 0x230));
}

TEST_F(NamesTest, FunctionsAndCodeNames) {
  db.PutBytes(kBase + 0x300, {0x74, 0x01, 0xC3, 0xC3});  // je +1; ret; ret
  ASSERT_EQ(1, add_func(kBase + 0x300, BADADDR));
  EXPECT_EQ("sub_401300", TestDb::Name(kBase + 0x300));
  EXPECT_EQ("", TestDb::Name(kBase + 0x303));  // code nothing refers to by data
  Refer(kBase + 0x10, kBase + 0x303);
  EXPECT_EQ("loc_401303", TestDb::Name(kBase + 0x303));
}

TEST_F(NamesTest, NameCutToBuffer) {
  ASSERT_EQ(1, do_name_anyway(kBase, "Abcdef", 0));
  char buf[4];
  ASSERT_EQ(buf, get_true_name(kBase, kBase, buf, sizeof buf));
  EXPECT_STREQ("Abc", buf);
  EXPECT_EQ(nullptr, get_true_name(kBase, kBase, nullptr, 10));
  EXPECT_EQ(nullptr, get_true_name(kBase, kBase + 1, buf, sizeof buf));
}

TEST_F(NamesTest, CommentsRegularAndRepeatable) {
  ASSERT_EQ(1, set_cmt(kBase, "regular", 0));
  ASSERT_EQ(1, set_cmt(kBase, "repeatable", 1));
  char buf[1024];
  EXPECT_EQ(7, get_cmt(kBase, 0, buf, sizeof buf));
  EXPECT_STREQ("regular", buf);
  EXPECT_EQ(10, get_cmt(kBase, 1, buf, sizeof buf));
  EXPECT_STREQ("repeatable", buf);
  ASSERT_EQ(1, set_cmt(kBase, "replaced", 0));
  EXPECT_EQ("replaced", TestDb::Comment(kBase));
  ASSERT_EQ(1, set_cmt(kBase, "", 0));
  EXPECT_EQ(-1, get_cmt(kBase, 0, buf, sizeof buf));
  EXPECT_EQ("repeatable", TestDb::Comment(kBase, true));
  EXPECT_EQ(0, set_cmt(kBase, nullptr, 0));
  EXPECT_EQ(0, set_cmt(0x10, "outside", 0));
  char small[5];
  EXPECT_EQ(4, get_cmt(kBase, 1, small, sizeof small));
  EXPECT_STREQ("repe", small);
}

TEST_F(NamesTest, CommentsPastAByteOfTexts) {
  // Texts past the 255th are kept beside the one-byte index; an address can
  // move between the two kinds and back.
  for (ea_t i = 0; i < 600; ++i) {
    const std::string text = "text " + std::to_string(i);
    ASSERT_EQ(1, set_cmt(kBase + i, text.c_str(), i % 2));
  }
  ASSERT_EQ(1, set_cmt(kBase + 1, "text 0", 1));
  ASSERT_EQ(1, set_cmt(kBase + 2, "text 599", 0));
  ASSERT_EQ(1, set_cmt(kBase + 599, "text 3", 1));
  ASSERT_EQ(1, set_cmt(kBase + 598, "", 0));
  for (ea_t i = 3; i < 598; ++i)
    ASSERT_EQ("text " + std::to_string(i), TestDb::Comment(kBase + i, i % 2 == 1)) << i;
  EXPECT_EQ("text 0", TestDb::Comment(kBase + 1, true));
  EXPECT_EQ("text 599", TestDb::Comment(kBase + 2));
  EXPECT_EQ("text 3", TestDb::Comment(kBase + 599, true));
  char buf[16];
  EXPECT_EQ(-1, get_cmt(kBase + 598, 0, buf, sizeof buf));
  const auto all = kernel::TheDatabase().Comments();
  ASSERT_EQ(599u, all.size());
  EXPECT_EQ("text 597", all[597].text);
}

TEST_F(NamesTest, CommentTextsAlikeButForOneCharacterStayApart) {
  // Texts of one length that differ in one inner character, which a quick
  // look-up could take for one another, and one buffer holding two texts.
  const char *const texts[] = {"aXbYc", "aXbWc", "aXbYc", "aXbQc", "aXbWc"};
  for (ea_t i = 0; i < 5; ++i) ASSERT_EQ(1, set_cmt(kBase + i, texts[i], 0));
  char buf[8] = "aXbWc";
  ASSERT_EQ(1, set_cmt(kBase + 5, buf, 0));
  buf[3] = 'Z';
  ASSERT_EQ(1, set_cmt(kBase + 6, buf, 0));
  for (ea_t i = 0; i < 5; ++i) EXPECT_EQ(texts[i], TestDb::Comment(kBase + i)) << i;
  EXPECT_EQ("aXbWc", TestDb::Comment(kBase + 5));
  EXPECT_EQ("aXbZc", TestDb::Comment(kBase + 6));
}

TEST_F(NamesTest, ExportInAddressOrder) {
  // Named and commented out of order; a repeatable comment first, last, and
  // at an address that also has a regular one (which comes first).
  ASSERT_EQ(1, do_name_anyway(kBase + 8, "Later", 0));
  ASSERT_EQ(1, do_name_anyway(kBase, "First", 0));
  ASSERT_EQ(1, set_cmt(kBase + 8, "r8", 1));
  ASSERT_EQ(1, set_cmt(kBase + 4, "c4", 0));
  ASSERT_EQ(1, set_cmt(kBase, "r0", 1));
  ASSERT_EQ(1, set_cmt(kBase + 4, "r4", 1));
  ASSERT_EQ(1, set_cmt(kBase + 2, "c2", 0));
  const kernel::Database &d = kernel::TheDatabase();
  std::string seen;
  d.ForEachName([&](ea_t ea, std::string_view name) {
    seen += std::to_string(ea - kBase) + ":" + std::string(name) + " ";
  });
  EXPECT_EQ("0:First 8:Later ", seen);
  EXPECT_EQ(2u, d.NameCount());
  seen.clear();
  d.ForEachComment([&](ea_t ea, std::string_view text, bool repeatable) {
    seen += std::to_string(ea - kBase) + (repeatable ? "R" : "") + ":" +
            std::string(text) + " ";
  });
  EXPECT_EQ("0R:r0 2:c2 4:c4 4R:r4 8R:r8 ", seen);
  EXPECT_EQ(5u, d.CommentCount());
  const auto all = d.Comments();
  ASSERT_EQ(5u, all.size());
  EXPECT_EQ("r4", all[3].text);
  EXPECT_TRUE(all[3].repeatable);
}

}  // namespace
