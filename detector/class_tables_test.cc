#include "detector/class_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detector/edit_helpers.h"
#include "testing/item_expectations.h"
#include "testing/test_db.h"

namespace {

using kernel::ItemType;

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kSize = 0x2000;
constexpr uint8_t kRet = 0xC3;

struct ClassTablesTest : testing::Test {
  TestDb db{kBase, kSize};

  /// Code at `ea` that the function finder can follow: a lone ret.
  void PutCode(ea_t ea) { db.PutByte(ea, kRet); }

  /// One published method entry at `ea`; the address of the next one.
  ea_t PutMethod(ea_t ea, ea_t code, const std::string &name) {
    db.PutWord(ea, static_cast<uint16_t>(7 + name.size()));
    db.PutDword(ea + 2, code);
    db.PutShortString(ea + 6, name);
    return ea + 7 + static_cast<ea_t>(name.size());
  }
};

// The referrer test fails only where the doubleword at the first referrer is
// 0; an offset holds its target, so the table must lie at address 0.
struct UnreferencedTableTest : ClassTablesTest {
  UnreferencedTableTest() {
    db.AddSegment("DATA", 0, 0x1000);
    EXPECT_NE(0, make_offset_item(0x100));
    EXPECT_EQ(0x100u, get_first_dref_to(0));
  }
};

TEST_F(ClassTablesTest, InterfaceTableWithCountZeroIsNotTouched) {
  const ea_t table = kBase + 0x100;
  db.PutDword(table + 4, 0x12345678);
  annotate_interface_table(table, "TFoo");
  EXPECT_TRUE(IsUnknown(table));
  EXPECT_TRUE(IsUnknown(table + 4));
  EXPECT_EQ("", TestDb::Comment(table));
  EXPECT_EQ("", TestDb::Name(table));
}

TEST_F(ClassTablesTest, InterfaceTableWithTwoEntries) {
  const ea_t table = kBase + 0x100;
  const ea_t slots0 = kBase + 0x400, slots1 = kBase + 0x500;
  db.PutDword(table, 2);
  db.PutBytes(table + 4, std::vector<uint8_t>(16, 0xA1));
  db.PutDword(table + 20, slots0);
  db.PutDword(table + 24, 8);
  db.PutBytes(table + 32, std::vector<uint8_t>(16, 0xB2));
  db.PutDword(table + 48, slots1);
  db.PutDword(table + 52, 12);
  db.PutDword(slots0, kBase + 0x600);
  db.PutDword(slots0 + 4, kBase + 0x610);
  db.PutDword(slots1, kBase + 0x620);
  PutCode(kBase + 0x600);
  PutCode(kBase + 0x610);
  PutCode(kBase + 0x620);

  annotate_interface_table(table, "TFoo");

  EXPECT_TRUE(HasItem(table, ItemType::kDword, 4));
  EXPECT_TRUE(HasItem(table + 4, ItemType::kDword, 16));
  EXPECT_TRUE(HasItem(table + 20, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(table + 24, ItemType::kDword, 8));
  EXPECT_TRUE(HasItem(table + 32, ItemType::kDword, 16));
  EXPECT_TRUE(HasItem(table + 48, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(table + 52, ItemType::kDword, 8));
  EXPECT_EQ("InterfaceTable Count", TestDb::Comment(table));
  EXPECT_EQ("TGUID", TestDb::Comment(table + 32));
  EXPECT_EQ("VTable", TestDb::Comment(table + 48));
  EXPECT_EQ("IOffset,ImplGetter", TestDb::Comment(table + 52));
  EXPECT_EQ("TFoo_cls_interface", TestDb::Name(table));

  // Only the first interface's slots lead to functions.
  EXPECT_TRUE(HasItem(slots0, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(slots0 + 4, ItemType::kOffset, 4));
  EXPECT_TRUE(IsUnknown(slots0 + 8));
  EXPECT_TRUE(StartsFunction(kBase + 0x600));
  EXPECT_TRUE(StartsFunction(kBase + 0x610));
  EXPECT_TRUE(IsUnknown(slots1));
  EXPECT_FALSE(StartsFunction(kBase + 0x620));
}

TEST_F(ClassTablesTest, InterfaceGetterOfTheSegmentBecomesAnOffset) {
  const ea_t table = kBase + 0x100;
  db.PutDword(table, 2);
  db.PutDword(table + 20, kBase + 0x400);
  db.PutDword(table + 24, 0);
  db.PutDword(table + 28, kBase + 0x640);  // ImplGetter
  db.PutDword(table + 48, kBase + 0x500);
  db.PutDword(table + 52, 4);

  annotate_interface_table(table, "TFoo");

  EXPECT_TRUE(HasItem(table + 24, ItemType::kDword, 4));
  EXPECT_EQ("IOffset,ImplGetter", TestDb::Comment(table + 24));
  EXPECT_TRUE(HasItem(table + 28, ItemType::kOffset, 4));
  // The second entry is still found 28 bytes after the first.
  EXPECT_TRUE(HasItem(table + 32, ItemType::kDword, 16));
  EXPECT_TRUE(HasItem(table + 48, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(table + 52, ItemType::kDword, 8));
}

TEST_F(ClassTablesTest, InterfaceTableWithNegativeCountWalksNoEntry) {
  const ea_t table = kBase + 0x100;
  db.PutDword(table, 0x80000001);
  db.PutDword(table + 20, kBase + 0x400);
  db.PutDword(kBase + 0x400, kBase + 0x600);
  PutCode(kBase + 0x600);

  annotate_interface_table(table, "TFoo");

  EXPECT_TRUE(HasItem(table, ItemType::kDword, 4));
  EXPECT_EQ("TFoo_cls_interface", TestDb::Name(table));
  EXPECT_TRUE(IsUnknown(table + 4));
  EXPECT_TRUE(IsUnknown(table + 20));
  EXPECT_TRUE(IsUnknown(kBase + 0x400));
  EXPECT_TRUE(db.db().Functions().empty());
}

TEST_F(ClassTablesTest, InitTableEntriesAndTrailingPairs) {
  const ea_t table = kBase + 0x201;
  db.PutBytes(table, {14, 0});
  db.PutDword(table + 2, 0);  // record size: the dword at the table is 14
  db.PutDword(table + 6, 2);
  db.PutDword(table + 10, kBase + 0x700);
  db.PutDword(table + 14, 4);
  db.PutDword(table + 18, kBase + 0x710);
  db.PutDword(table + 22, 8);
  db.PutDword(table + 26, kBase + 0x720);  // a pair behind the counted ones
  db.PutDword(table + 30, 12);
  ASSERT_EQ(1, do_name_anyway(table + 6, "FCount", 0));
  ASSERT_EQ(1, do_name_anyway(table + 14, "FItems", 0));

  EXPECT_EQ(table + 34, annotate_init_table(table, "TFoo"));

  EXPECT_EQ("TFoo_cls_init_list", TestDb::Name(table));
  EXPECT_TRUE(HasItem(table, ItemType::kWord, 6));
  EXPECT_TRUE(HasItem(table + 6, ItemType::kDword, 4));
  EXPECT_EQ("InitTable Count", TestDb::Comment(table + 6));
  EXPECT_EQ("", TestDb::Name(table + 6));
  for (ea_t entry = table + 10; entry < table + 34; entry += 8) {
    SCOPED_TRACE(entry - table);
    EXPECT_TRUE(HasItem(entry, ItemType::kOffset, 4));
    EXPECT_TRUE(HasItem(entry + 4, ItemType::kDword, 4));
  }
  EXPECT_EQ("", TestDb::Name(table + 14));
  EXPECT_TRUE(IsUnknown(table + 34));
}

TEST_F(ClassTablesTest, InitTableWithCountZeroStillTakesTrailingPairs) {
  const ea_t table = kBase + 0x200;
  db.PutBytes(table, {14, 0});
  db.PutDword(table + 2, 0);
  db.PutDword(table + 6, 0);
  db.PutDword(table + 10, kBase + 0x700);
  db.PutDword(table + 14, 4);

  EXPECT_EQ(table + 18, annotate_init_table(table, "TFoo"));

  EXPECT_TRUE(HasItem(table, ItemType::kWord, 6));
  EXPECT_TRUE(HasItem(table + 6, ItemType::kDword, 4));
  EXPECT_EQ("InitTable Count", TestDb::Comment(table + 6));
  EXPECT_TRUE(HasItem(table + 10, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(table + 14, ItemType::kDword, 4));
}

TEST_F(UnreferencedTableTest, MethodTableNamesMethodsEvenWhenTheReferrerTestFails) {
  const ea_t table = 0;
  db.PutWord(table, 5);
  ea_t entry = PutMethod(table + 2, kBase + 0x800, "Click");
  entry = PutMethod(entry, kBase + 0x810, "Show");
  entry = PutMethod(entry, kBase + 0x820, "Hide");
  entry = PutMethod(entry, kBase + 0x830, "Bad Name");
  PutMethod(entry, kBase + 0x840, "Last");
  PutCode(kBase + 0x810);
  ASSERT_EQ(1, add_func(kBase + 0x810, BADADDR));  // named sub_ by the host
  ASSERT_EQ(1, do_name_anyway(kBase + 0x820, "UserHide", 0));

  EXPECT_EQ(table, annotate_method_table(table, "TFoo"));

  EXPECT_EQ("TFoo_method_list", TestDb::Name(table));
  EXPECT_EQ("MethodTable Count", TestDb::Comment(table));
  EXPECT_TRUE(IsUnknown(table));
  EXPECT_TRUE(IsUnknown(table + 4));
  EXPECT_EQ("TFoo@Click", TestDb::Name(kBase + 0x800));
  EXPECT_EQ("TFoo@Show", TestDb::Name(kBase + 0x810));
  EXPECT_EQ("UserHide", TestDb::Name(kBase + 0x820));
  EXPECT_EQ("", TestDb::Name(kBase + 0x830));
  EXPECT_EQ("TFoo@Last", TestDb::Name(kBase + 0x840));
}

TEST_F(ClassTablesTest, MethodTableEntriesBecomeItemsAndFunctions) {
  const ea_t table = kBase + 0x300;
  db.PutWord(table, 3);
  ea_t entry = PutMethod(table + 2, kBase + 0x800, "Click");
  const ea_t bad = entry;
  entry = PutMethod(entry, kBase + 0x810, "Bad Name");
  const ea_t last = entry;
  const ea_t end = PutMethod(entry, kBase + 0x820, "Last");
  PutCode(kBase + 0x800);
  PutCode(kBase + 0x810);
  PutCode(kBase + 0x820);

  // Nothing refers to the table: the referrer test reads the invalid address.
  EXPECT_EQ(end, annotate_method_table(table, "TFoo"));

  EXPECT_TRUE(HasItem(table, ItemType::kWord, 2));
  EXPECT_TRUE(HasItem(table + 2, ItemType::kWord, 2));
  EXPECT_TRUE(HasItem(table + 4, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(table + 8, ItemType::kPString, 6));
  // A name the host will not show as a string keeps the walk on its entries.
  EXPECT_TRUE(HasItem(bad + 2, ItemType::kOffset, 4));
  EXPECT_TRUE(IsUnknown(bad + 6));
  EXPECT_TRUE(HasItem(last, ItemType::kWord, 2));
  EXPECT_TRUE(HasItem(last + 6, ItemType::kPString, 5));
  EXPECT_TRUE(StartsFunction(kBase + 0x800));
  EXPECT_TRUE(StartsFunction(kBase + 0x810));
  EXPECT_TRUE(StartsFunction(kBase + 0x820));
  EXPECT_EQ("TFoo@Last", TestDb::Name(kBase + 0x820));
}

TEST_F(ClassTablesTest, MethodTableWithCountZeroIsNeitherNamedNorCommented) {
  const ea_t table = kBase + 0x300;
  EXPECT_EQ(table + 2, annotate_method_table(table, "TFoo"));
  EXPECT_TRUE(HasItem(table, ItemType::kWord, 2));
  EXPECT_EQ("", TestDb::Name(table));
  EXPECT_EQ("", TestDb::Comment(table));
}

TEST_F(ClassTablesTest, DynamicTableKeepsAUsersNameButNotADummyOne) {
  const ea_t user = kBase + 0x400, dummy = kBase + 0x440;
  for (ea_t table : {user, dummy}) {
    db.PutWord(table, 2);
    db.PutWord(table + 2, 0xFFF0);
    db.PutWord(table + 4, 0xFFF1);
    db.PutDword(table + 6, kBase + 0x900);
    db.PutDword(table + 10, kBase + 0x910);
  }
  PutCode(kBase + 0x900);
  PutCode(kBase + 0x910);
  ASSERT_EQ(1, do_name_anyway(user, "FooMessages", 0));
  ASSERT_EQ(1, do_name_anyway(dummy, "dword_401440", 0));

  EXPECT_EQ(user + 14, annotate_dynamic_table(user, "TFoo"));
  EXPECT_EQ(dummy + 14, annotate_dynamic_table(dummy, "TFoo"));

  EXPECT_EQ("FooMessages", TestDb::Name(user));
  EXPECT_EQ("TFoo_dynamic_funcs", TestDb::Name(dummy));
  for (ea_t table : {user, dummy}) {
    EXPECT_EQ("DynamicTable Count", TestDb::Comment(table));
    EXPECT_TRUE(HasItem(table, ItemType::kWord, 2));
    EXPECT_TRUE(HasItem(table + 2, ItemType::kWord, 4));
    EXPECT_TRUE(HasItem(table + 6, ItemType::kOffset, 4));
    EXPECT_TRUE(HasItem(table + 10, ItemType::kOffset, 4));
  }
  EXPECT_TRUE(StartsFunction(kBase + 0x900));
  EXPECT_TRUE(StartsFunction(kBase + 0x910));
}

TEST_F(UnreferencedTableTest, DynamicTableEntriesAreLeft) {
  const ea_t table = 0;
  db.PutWord(table, 1);
  db.PutDword(table + 4, kBase + 0x900);
  EXPECT_EQ(table, annotate_dynamic_table(table, "TFoo"));
  EXPECT_EQ("TFoo_dynamic_funcs", TestDb::Name(table));
  EXPECT_TRUE(IsUnknown(table));
  EXPECT_TRUE(IsUnknown(table + 4));
}

TEST_F(ClassTablesTest, FieldTableWithItsClassList) {
  const ea_t table = kBase + 0x500, list = kBase + 0x540;
  db.PutWord(table, 2);
  db.PutDword(table + 2, list);
  db.PutDword(table + 6, 4);
  db.PutWord(table + 10, 0);
  db.PutShortString(table + 12, "FOk");
  db.PutDword(table + 16, 8);
  db.PutWord(table + 20, 1);
  db.PutShortString(table + 22, "FCancel");
  db.PutWord(list, 2);
  db.PutDword(list + 2, kBase + 0xA00);
  db.PutDword(list + 6, kBase + 0xA40);

  EXPECT_EQ(list + 12, annotate_field_table(table, "TFoo"));

  EXPECT_EQ("FieldTable Count", TestDb::Comment(table));
  EXPECT_EQ("TFoo_field_list", TestDb::Name(table));
  EXPECT_TRUE(HasItem(table, ItemType::kWord, 2));
  EXPECT_TRUE(HasItem(table + 2, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(table + 6, ItemType::kWord, 6));
  EXPECT_TRUE(HasItem(table + 12, ItemType::kPString, 4));
  EXPECT_TRUE(HasItem(table + 16, ItemType::kWord, 6));
  EXPECT_TRUE(HasItem(table + 22, ItemType::kPString, 8));
  EXPECT_EQ("ParentClass Count", TestDb::Comment(list));
  EXPECT_EQ("TFoo_cls_lst", TestDb::Name(list));
  EXPECT_TRUE(HasItem(list, ItemType::kWord, 2));
  EXPECT_TRUE(HasItem(list + 2, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(list + 6, ItemType::kOffset, 4));
  EXPECT_TRUE(HasItem(list + 10, ItemType::kAlign, 2));
}

// A class list pointer that leads nowhere in the program must neither
// shift the entries nor carry the result out of the program.
TEST_F(ClassTablesTest, FieldTableWhoseClassListIsNoAddress) {
  const ea_t table = kBase + 0x500;
  db.PutWord(table, 1);
  db.PutDword(table + 2, 0x8C520000);
  db.PutDword(table + 6, 4);
  db.PutWord(table + 10, 0);
  db.PutShortString(table + 12, "FOwner");

  EXPECT_EQ(table + 20, annotate_field_table(table, "TFoo"));

  EXPECT_EQ("TFoo_field_list", TestDb::Name(table));
  EXPECT_FALSE(TestDb::ItemAt(table + 2));
  EXPECT_TRUE(HasItem(table + 6, ItemType::kWord, 6));
  EXPECT_TRUE(HasItem(table + 12, ItemType::kPString, 7));
  EXPECT_TRUE(HasItem(table + 19, ItemType::kAlign, 1));
}

TEST_F(ClassTablesTest, FieldClassListWithCountZeroGetsNothing) {
  const ea_t table = kBase + 0x500, list = kBase + 0x541;
  db.PutWord(table, 0);
  db.PutDword(table + 2, list);

  EXPECT_EQ(list + 3, annotate_field_table(table, "TFoo"));

  EXPECT_EQ("", TestDb::Comment(table));
  EXPECT_TRUE(HasItem(list, ItemType::kAlign, 3));
  EXPECT_EQ("", TestDb::Comment(list));
  for (const auto &[ea, name] : db.db().Names()) EXPECT_NE(list, ea) << name;
}

// Every dword of the segment holds its own address: counts are huge and
// every table, slot and class list points back into itself.
TEST(ClassTablesHostileTest, SelfPointingBytesEndWithinTheSegment) {
  constexpr ea_t kStart = 0x00500000, kLength = 0x4000;
  TestDb db;
  SegmentBytes bytes(kStart, kLength);
  for (ea_t ea = kStart; ea < kStart + kLength; ea += 4) bytes.PutDword(ea, ea);
  const ea_t init = kStart + 0x1000;
  bytes.PutDword(init, 14);
  bytes.PutDword(init + 6, 0xFFFFFFFF);
  db.AddSegment(".text", bytes);
  const ea_t end = kStart + kLength;

  annotate_interface_table(kStart + 0x100, "TFoo");
  EXPECT_LE(annotate_init_table(init, "TFoo"), end + 8);
  EXPECT_LE(annotate_method_table(kStart + 0x2000, "TFoo"), end + 0x200);
  EXPECT_LE(annotate_dynamic_table(kStart + 0x2800, "TFoo"), end + 8);
  // The class list address read there lies in no segment: nothing to walk.
  annotate_field_table(kStart + 0x3000, "TFoo");
  EXPECT_EQ("TFoo_field_list", TestDb::Name(kStart + 0x3000));
  EXPECT_EQ("TFoo_cls_interface", TestDb::Name(kStart + 0x100));
  EXPECT_EQ("TFoo_cls_init_list", TestDb::Name(init));
}

TEST(ClassTablesHostileTest, HugeCountsOverAnEmptySegmentEnd) {
  constexpr ea_t kStart = 0x00500000, kLength = 0x1000;
  TestDb db;
  SegmentBytes bytes(kStart, kLength);
  bytes.PutDword(kStart, 0x7FFFFFFF);
  bytes.PutWord(kStart + 0x100, 0xFFFF);
  bytes.PutWord(kStart + 0x200, 0xFFFF);
  bytes.PutWord(kStart + 0x300, 0xFFFF);
  bytes.PutDword(kStart + 0x302, kStart + 0x300);  // the class list is the table
  db.AddSegment(".data", bytes);
  const ea_t end = kStart + kLength;

  annotate_interface_table(kStart, "TBar");
  EXPECT_LE(annotate_method_table(kStart + 0x100, "TBar"), end + 0x200);
  EXPECT_LE(annotate_dynamic_table(kStart + 0x200, "TBar"), end + 8);
  EXPECT_LE(annotate_field_table(kStart + 0x300, "TBar"), end + 0x200);
  EXPECT_EQ("TBar_cls_lst", TestDb::Name(kStart + 0x300));
}

}  // namespace
