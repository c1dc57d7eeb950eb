#include "detector/edit_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/item_expectations.h"
#include "testing/test_db.h"

namespace {

using kernel::ItemType;

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kEnd = 0x00402000;

struct EditHelpersTest : testing::Test {
  TestDb db{kBase, kEnd - kBase};
};

TEST_F(EditHelpersTest, ShortStringsNeedPrintableCharactersAndKeepTheStringType) {
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    int made;
  };
  const Case cases[] = {
      {"identifier", {6, 'T', 'F', 'o', 'r', 'm', '1'}, 1},
      {"punctuation and tilde", {3, '!', '-', '~'}, 1},
      {"blank inside", {4, 'A', 'B', ' ', 'C'}, 0},
      {"empty", {0, 'A'}, 0},
      {"control character", {2, 'A', 0x09}, 0},
      {"byte above 0x7E", {2, 'A', 0x7F}, 0},
  };
  ea_t ea = kBase + 0x100;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    db.PutBytes(ea, c.bytes);
    inf.strtype = 7;
    EXPECT_EQ(c.made, make_pascal_string(ea));
    const int32_t type_after = inf.strtype;  // a copy: the field is not aligned
    EXPECT_EQ(7, type_after);
    if (c.made) {
      EXPECT_TRUE(HasItem(ea, ItemType::kPString, static_cast<asize_t>(c.bytes.size())));
    } else {
      EXPECT_TRUE(IsUnknown(ea));
    }
    ea += 0x20;
  }
}

TEST_F(EditHelpersTest, ShortStringReplacesItemsUnderIt) {
  const ea_t ea = kBase + 0x200;
  db.PutShortString(ea, "TButton");
  ASSERT_TRUE(make_dword_items(ea + 4, 1));
  EXPECT_EQ(1, make_pascal_string(ea));
  EXPECT_TRUE(HasItem(ea, ItemType::kPString, 8));
}

TEST_F(EditHelpersTest, OffsetItemsFollowTheProgramRange) {
  struct Case {
    const char *name;
    uint32_t value;
    bool made;
    ItemType type;
  };
  const Case cases[] = {
      {"lowest address", kBase, true, ItemType::kOffset},
      {"highest address itself", kEnd, true, ItemType::kOffset},
      {"zero", 0, true, ItemType::kDword},
      {"below the program", kBase - 1, false, ItemType::kDword},
      {"above the program", kEnd + 1, false, ItemType::kDword},
  };
  ea_t ea = kBase + 0x300;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    db.PutDword(ea, c.value);
    EXPECT_EQ(c.made, make_offset_item(ea) != 0);
    if (c.made) {
      EXPECT_TRUE(HasItem(ea, c.type, 4));
    } else {
      EXPECT_TRUE(IsUnknown(ea));
    }
    if (c.type == ItemType::kOffset) {
      const std::vector<ea_t> refs = db.db().DataRefsTo(c.value);
      EXPECT_EQ(std::vector<ea_t>{ea}, refs);
    }
    ea += 8;
  }
}

TEST_F(EditHelpersTest, OffsetItemReplacesSmallerItems) {
  const ea_t ea = kBase + 0x340;
  db.PutDword(ea, kBase + 0x10);
  ASSERT_TRUE(make_word_items(ea + 2, 1));
  EXPECT_NE(0, make_offset_item(ea));
  EXPECT_TRUE(HasItem(ea, ItemType::kOffset, 4));
}

TEST_F(EditHelpersTest, ArraysAreOneItemOfAllElements) {
  const ea_t ea = kBase + 0x400;
  EXPECT_EQ(1, make_word_items(ea, 3));
  EXPECT_TRUE(HasItem(ea, ItemType::kWord, 6));
  // A new array replaces what lay under it.
  EXPECT_EQ(1, make_dword_items(ea, 2));
  EXPECT_TRUE(HasItem(ea, ItemType::kDword, 8));
  EXPECT_EQ(1, make_qword_items(ea + 8, 2));
  EXPECT_TRUE(HasItem(ea + 8, ItemType::kQword, 16));
  EXPECT_EQ(1, make_byte_item(ea + 8));
  EXPECT_TRUE(HasItem(ea + 8, ItemType::kByte, 1));

  // Refused: past the segment's end, or a count no item can have.
  EXPECT_EQ(0, make_dword_items(kEnd - 4, 2));
  EXPECT_TRUE(IsUnknown(kEnd - 4));
  EXPECT_EQ(0, make_word_items(ea + 0x20, -1));
  EXPECT_EQ(0, make_qword_items(ea + 0x20, 0x7FFFFFFF));
  EXPECT_TRUE(IsUnknown(ea + 0x20));
}

TEST_F(EditHelpersTest, AlignmentFillsToTheNextMultipleOfFour) {
  for (ea_t gap = 1; gap <= 3; ++gap) {
    SCOPED_TRACE(gap);
    const ea_t ea = kBase + 0x500 + 0x10 * gap + (4 - gap);
    EXPECT_EQ(ea + gap, make_align4(ea));
    EXPECT_TRUE(HasItem(ea, ItemType::kAlign, gap));
  }
  EXPECT_EQ(kBase + 0x540, make_align4(kBase + 0x540));
  EXPECT_TRUE(IsUnknown(kBase + 0x540));
}

TEST_F(EditHelpersTest, AlignmentLeavesAddressesAlone) {
  const ea_t ea = kBase + 0x581;
  db.PutDword(ea, kBase + 0x10);
  EXPECT_EQ(ea, make_align4(ea));
  EXPECT_TRUE(IsUnknown(ea));
}

TEST_F(EditHelpersTest, AlignmentFreesOneFillerInstruction) {
  struct Case {
    const char *name;
    std::vector<uint8_t> filler;
    bool aligned;
  };
  const Case cases[] = {
      {"nop", {0x90}, true},
      {"mov eax, eax", {0x8B, 0xC0}, true},
      {"lea eax, [eax+0]", {0x8D, 0x40, 0x00}, true},
      {"push ebp", {0x55}, false},
  };
  ea_t block = kBase + 0x600;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const ea_t ea = block + 4 - static_cast<ea_t>(c.filler.size());
    std::vector<uint8_t> code = c.filler;
    code.push_back(0xC3);  // ret
    db.PutBytes(ea, code);
    ASSERT_EQ(1, add_func(ea, BADADDR));
    ASSERT_TRUE(HasItem(ea, ItemType::kCode, static_cast<asize_t>(c.filler.size())));
    if (c.aligned) {
      EXPECT_EQ(block + 4, make_align4(ea));
      EXPECT_TRUE(HasItem(ea, ItemType::kAlign, static_cast<asize_t>(c.filler.size())));
    } else {
      EXPECT_EQ(ea, make_align4(ea));
      EXPECT_TRUE(HasItem(ea, ItemType::kCode, 1));
    }
    EXPECT_TRUE(HasItem(block + 4, ItemType::kCode, 1));
    block += 0x10;
  }
}

// In front of a block the padding's bytes run into the block's reference
// cell; in a program whose range takes in 0x00440000, the two zeros in front
// of a cell that holds 0x00410044 read as that address.
TEST(AlignmentBeforeABlockTest, TakesZerosUpToTheBlockThatStartsThere) {
  struct Case {
    const char *name;
    std::vector<uint8_t> gap;
    bool block;  // a type information block starts behind the gap
    bool aligned;
  };
  const Case cases[] = {
      {"zeros in front of a block", {0, 0}, true, true},
      {"data in front of a block", {1, 0}, true, false},
      {"zeros in front of no block", {0, 0}, false, false},
  };
  constexpr ea_t kCell = 0x00410040;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TestDb db{kBase, 0x00450000 - kBase};
    const ea_t ea = kCell - 2;
    db.PutBytes(ea, c.gap);
    db.PutDword(kCell, kCell + 4);
    // An Integer type named Foo; without the block, the name is unreadable.
    db.PutBytes(kCell + 4, {1, 3, 'F', 'o', c.block ? uint8_t{'o'} : uint8_t{' '}});
    ASSERT_EQ(ea, make_align4(ea));  // the plain rule sees an address
    EXPECT_EQ(c.aligned ? kCell : ea, make_align4_before_block(ea));
    EXPECT_EQ(c.aligned, HasItem(ea, ItemType::kAlign, 2));
  }
}

TEST_F(EditHelpersTest, FieldNamesGoUnlessTheyMarkAnUnknownField) {
  ASSERT_EQ(1, do_name_anyway(kBase + 0x700, "unknown_field4", 0));
  ASSERT_EQ(1, do_name_anyway(kBase + 0x704, "FCaption", 0));
  clear_field_name(kBase + 0x700);
  clear_field_name(kBase + 0x704);
  clear_field_name(kBase + 0x708);  // no name: nothing to do
  EXPECT_EQ("unknown_field4", TestDb::Name(kBase + 0x700));
  EXPECT_EQ("", TestDb::Name(kBase + 0x704));
  EXPECT_EQ("", TestDb::Name(kBase + 0x708));
}

TEST_F(EditHelpersTest, DummyNamesHoldAMarkerAnywhere) {
  const char *const word[] = {"word_", nullptr};
  const char *const sub[] = {"sub_", "off_", nullptr};
  EXPECT_EQ(1, is_dummy_name(nullptr, word));
  EXPECT_EQ(1, is_dummy_name("", word));
  EXPECT_EQ(1, is_dummy_name("word_401000", word));
  EXPECT_EQ(1, is_dummy_name("dword_401000", word));
  EXPECT_EQ(1, is_dummy_name("nullsub_1", sub));
  EXPECT_EQ(1, is_dummy_name("my_off_table", sub));
  EXPECT_EQ(0, is_dummy_name("Sub_Main", sub));
  EXPECT_EQ(0, is_dummy_name("TForm1_Create", word));
}

TEST_F(EditHelpersTest, PropInfoStructureHasTheEightMembers) {
  make_tpropinfo_struc();
  const std::vector<kernel::Structure> structures = db.db().Structures();
  ASSERT_EQ(1u, structures.size());
  EXPECT_EQ("TPropInfo", structures[0].name);
  struct Member {
    const char *name;
    ea_t offset;
    asize_t size;
    flags_t flags;
    opinfo_t type_info;
  };
  const Member expected[] = {
      {"PropType", 0, 4, 0x25500400, -1},   {"GetProc", 4, 4, 0x25500400, -1},
      {"SetProc", 8, 4, 0x25500400, -1},    {"StoredProc", 12, 4, 0x25500400, -1},
      {"Index", 16, 4, 0x21100400, -1},     {"Default", 20, 4, 0x21100400, -1},
      {"NameIndex", 24, 2, 0x11100400, -1}, {"Name", 26, 0, 0x50000400, 1},
  };
  const std::vector<kernel::StructMember> &members = structures[0].members;
  ASSERT_EQ(std::size(expected), members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(expected[i].name, members[i].name);
    EXPECT_EQ(expected[i].offset, members[i].offset);
    EXPECT_EQ(expected[i].size, members[i].size);
    EXPECT_EQ(expected[i].flags, members[i].flags);
    EXPECT_EQ(expected[i].type_info, members[i].type_info);
  }
}

TEST_F(EditHelpersTest, FunctionsAreMadeOnlyOutsideFunctions) {
  const ea_t data = kBase + 0x800;
  db.PutBytes(data, {0x33, 0xC0, 0xC3});  // xor eax, eax; ret
  ASSERT_EQ(1, make_dword_items(data, 1));
  ensure_function(data);
  EXPECT_TRUE(StartsFunction(data));

  const ea_t body = kBase + 0x900;
  db.PutBytes(body, {0x55, 0x8B, 0xEC, 0x5D, 0xC3});  // push ebp .. ret
  ASSERT_EQ(1, add_func(body, BADADDR));
  ensure_function(body + 1);
  EXPECT_FALSE(StartsFunction(body + 1));
  EXPECT_EQ(2u, db.db().Functions().size());
}

}  // namespace
