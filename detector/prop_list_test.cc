#include "detector/prop_list.h"

#include <gtest/gtest.h>

#include <string>

#include "detector/edit_helpers.h"
#include "testing/item_expectations.h"
#include "testing/test_db.h"

namespace {

using kernel::ItemType;

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kEnd = 0x00403000;
constexpr ea_t kRecords = kBase + 0x100;

struct Accessors {
  uint32_t get = 0;
  uint32_t set = 0;
  uint32_t stored = 1;
};

struct PropListTest : testing::Test {
  void SetUp() override {
    make_tpropinfo_struc();
    tid_t id = BADNODE;
    netnode_check(&id, "TPropInfo", 0, 0);
    size = get_struc_size(get_struc(id));
  }

  /// Lays one property record at `ea`; the address of the next one.
  ea_t PutProp(ea_t ea, const Accessors &a, const std::string &name) {
    db.PutDword(ea, kBase);  // PropType
    db.PutDword(ea + 4, a.get);
    db.PutDword(ea + 8, a.set);
    db.PutDword(ea + 12, a.stored);
    db.PutDword(ea + 16, 0x80000000);
    db.PutDword(ea + 20, 0x80000000);
    db.PutWord(ea + 24, 0);
    db.PutShortString(ea + 26, name);
    return ea + 27 + static_cast<ea_t>(name.size());
  }

  /// A return instruction that is not yet a function.
  void PutCode(ea_t ea) { db.PutByte(ea, 0xC3); }

  TestDb db{kBase, kEnd - kBase};
  asize_t size = 0;
};

TEST_F(PropListTest, RecordsOfDifferentNameLengthsFollowWithoutGaps) {
  EXPECT_EQ(26u, size);
  const ea_t second = PutProp(kRecords, {}, "Color");
  const ea_t third = PutProp(second, {}, "Caption");
  const ea_t end = PutProp(third, {}, "X");
  EXPECT_EQ(kRecords + 32, second);
  EXPECT_EQ(second + 34, third);
  PutProp(end, {}, "Never");

  EXPECT_EQ(end, annotate_prop_list(kRecords, 3, "TShape", "Shapes", size));
  EXPECT_TRUE(HasItem(kRecords, ItemType::kStruct, 26));
  EXPECT_TRUE(HasItem(kRecords + 26, ItemType::kPString, 6));
  EXPECT_TRUE(HasItem(second, ItemType::kStruct, 26));
  EXPECT_TRUE(HasItem(second + 26, ItemType::kPString, 8));
  EXPECT_TRUE(HasItem(third, ItemType::kStruct, 26));
  EXPECT_TRUE(HasItem(third + 26, ItemType::kPString, 2));
  EXPECT_TRUE(IsUnknown(end));  // a count of 3 walks exactly three records
}

TEST_F(PropListTest, AccessorsBecomeNamedFunctionsUnlessSomebodyNamedThem) {
  const ea_t getter = kBase + 0x800, setter = kBase + 0x810, user = kBase + 0x820,
             nullsub = kBase + 0x830, longer = kBase + 0x840;
  for (ea_t ea : {getter, setter, user, nullsub, longer}) PutCode(ea);
  ASSERT_EQ(1, add_func(user, BADADDR));
  ASSERT_EQ(1, do_name_anyway(user, "ColorGetter", 0));
  ASSERT_EQ(1, add_func(nullsub, BADADDR));
  ASSERT_EQ(1, do_name_anyway(nullsub, "nullsub_3", 0));
  ASSERT_EQ(1, do_name_anyway(longer, "my_sub_helper", 0));

  ea_t ea = PutProp(kRecords, {getter, setter, 1}, "Color");
  ea = PutProp(ea, {user, setter, 0}, "Width");  // the setter is shared
  PutProp(ea, {nullsub, longer, 1}, "Hint");
  annotate_prop_list(kRecords, 3, "TShape", "Shapes", size);

  EXPECT_TRUE(StartsFunction(getter));
  EXPECT_EQ("TShape@Shapes@GetColorProc", TestDb::Name(getter));
  EXPECT_TRUE(StartsFunction(setter));
  EXPECT_EQ("TShape@Shapes@SetColorProc", TestDb::Name(setter));
  EXPECT_EQ("ColorGetter", TestDb::Name(user));
  EXPECT_EQ("TShape@Shapes@GetHintProc", TestDb::Name(nullsub));
  EXPECT_EQ("TShape@Shapes@SetHintProc", TestDb::Name(longer));
  EXPECT_EQ("", TestDb::Name(0));
  EXPECT_EQ("", TestDb::Name(1));
}

TEST_F(PropListTest, AccessorsOutsideTheRecordsSegmentAreLeftAlone) {
  constexpr ea_t kOther = 0x00500000;
  db.AddSegment("DATA", kOther, 0x100);
  db.PutByte(kOther, 0xC3);
  PutCode(kBase + 0x800);
  PutProp(kRecords, {kOther, kEnd, kBase - 4}, "Color");
  annotate_prop_list(kRecords, 1, "TShape", "Shapes", size);
  EXPECT_TRUE(db.db().Functions().empty());
  EXPECT_EQ("", TestDb::Name(kOther));
}

TEST_F(PropListTest, RecordWithoutNameNamesNothingAndTheNextStartsAtItsLengthByte) {
  const ea_t getter = kBase + 0x800, other = kBase + 0x810;
  PutCode(getter);
  PutCode(other);
  PutProp(kRecords, {getter, 0, 1}, "");
  const ea_t next = kRecords + 26;
  const ea_t end = PutProp(next, {other, 0, 1}, "Align");

  EXPECT_EQ(end, annotate_prop_list(kRecords, 2, "TShape", "Shapes", size));
  EXPECT_TRUE(db.db().Functions().size() == 1 && StartsFunction(other));
  EXPECT_EQ("", TestDb::Name(getter));
  EXPECT_TRUE(HasItem(next, ItemType::kStruct, 26));
  EXPECT_EQ("TShape@Shapes@GetAlignProc", TestDb::Name(other));
}

TEST_F(PropListTest, AHugeRecordSizeUndefinesNoFurtherThanTheSegmentEnd) {
  // A saved database may bring its own TPropInfo of any size; the walk stays
  // in the record's segment and ends after `count` records all the same.
  db.AddSegment("DATA", kEnd, 0x100);
  ASSERT_EQ(1, do_data_ex(kEnd - 8, DATA_DWORD, 4, BADNODE));
  ASSERT_EQ(1, do_data_ex(kEnd, DATA_DWORD, 4, BADNODE));
  PutProp(kRecords, {}, "Color");
  annotate_prop_list(kRecords, 512, "TShape", "Shapes", 0xFFFFFFFF);
  EXPECT_TRUE(IsUnknown(kEnd - 8));
  EXPECT_TRUE(HasItem(kEnd, ItemType::kDword, 4));
  EXPECT_FALSE(HasItem(kRecords, ItemType::kStruct, 26));
}

TEST_F(PropListTest, WithoutAUnitNameAccessorsBecomeFunctionsButStayUnnamed) {
  const ea_t getter = kBase + 0x800;
  PutCode(getter);
  PutProp(kRecords, {getter, 0, 1}, "Color");
  annotate_prop_list(kRecords, 1, "TShape", nullptr, size);
  EXPECT_TRUE(StartsFunction(getter));
  EXPECT_EQ("sub_401800", TestDb::Name(getter));
}

}  // namespace
