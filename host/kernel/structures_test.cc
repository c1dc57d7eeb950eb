#include <gtest/gtest.h>

#include "testing/test_db.h"

namespace {

constexpr ea_t kBase = 0x00401000;

struct StructuresTest : testing::Test {
  TestDb db{kBase, 0x1000};
};

TEST_F(StructuresTest, AddLookUpAndMeasure) {
  tid_t id = 0;
  EXPECT_EQ(0, netnode_check(&id, "TPropInfo", 0, 0));
  EXPECT_EQ(BADNODE, id);
  const tid_t added = add_struc(BADADDR, "TPropInfo", 0);
  ASSERT_NE(BADNODE, added);
  EXPECT_EQ(BADNODE, add_struc(BADADDR, "TPropInfo", 0));  // a used name
  EXPECT_EQ(BADNODE, add_struc(BADADDR, "", 0));
  EXPECT_EQ(BADNODE, add_struc(BADADDR, nullptr, 0));
  ASSERT_EQ(1, netnode_check(&id, "TPropInfo", 0, 0));
  EXPECT_EQ(added, id);
  EXPECT_EQ(1, netnode_check(&id, "TPropInfoXYZ", 9, 0));  // only the first 9 count

  struc_t *s = get_struc(id);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(nullptr, get_struc(BADNODE));
  EXPECT_EQ(0u, get_struc_size(s));
  EXPECT_EQ(0u, get_struc_size(nullptr));
  const opinfo_t ti = -1;
  EXPECT_EQ(0, add_struc_member(s, "PropType", 0, 0x25500400, &ti, 4));
  EXPECT_EQ(0, add_struc_member(s, "NameIndex", 24, 0x11100400, &ti, 2));
  EXPECT_EQ(26u, get_struc_size(s));
  EXPECT_EQ(0, add_struc_member(s, "Name", 26, 0x50000400, nullptr, 0));
  EXPECT_EQ(26u, get_struc_size(s));  // a member of size 0 adds nothing
}

TEST_F(StructuresTest, MembersMayNotOverlapOrShareNames) {
  struc_t *s = get_struc(add_struc(BADADDR, "S", 0));
  ASSERT_NE(nullptr, s);
  ASSERT_EQ(0, add_struc_member(s, "A", 4, 0, nullptr, 4));
  EXPECT_LT(add_struc_member(s, "B", 6, 0, nullptr, 4), 0);           // inside A
  EXPECT_LT(add_struc_member(s, "B", 2, 0, nullptr, 4), 0);           // runs into A
  EXPECT_LT(add_struc_member(s, "A", 12, 0, nullptr, 4), 0);          // a used name
  EXPECT_LT(add_struc_member(s, "C", 4, 0, nullptr, 0), 0);           // at A's offset
  EXPECT_LT(add_struc_member(s, "D", 0xFFFFFFFE, 0, nullptr, 4), 0);  // wraps
  EXPECT_LT(add_struc_member(s, "D", kernel::kMaxStructureSize, 0, nullptr, 0), 0);
  EXPECT_LT(add_struc_member(s, "D", 16, 0, nullptr, kernel::kMaxStructureSize), 0);
  EXPECT_LT(add_struc_member(s, nullptr, 20, 0, nullptr, 4), 0);
  EXPECT_LT(add_struc_member(nullptr, "E", 20, 0, nullptr, 4), 0);
  EXPECT_EQ(0, add_struc_member(s, "B", 0, 0, nullptr, 4));  // just before A
  EXPECT_EQ(0, add_struc_member(s, "C", 8, 0, nullptr, 0));  // just after A
  EXPECT_EQ(8u, get_struc_size(s));
  const std::vector<kernel::Structure> all = db.db().Structures();
  ASSERT_EQ(1u, all.size());
  ASSERT_EQ(3u, all[0].members.size());
  EXPECT_EQ("B", all[0].members[0].name);  // kept by offset
}

TEST_F(StructuresTest, InstancesNeedAKnownStructureAndWholeCopies) {
  const tid_t id = add_struc(BADADDR, "Pair", 0);
  struc_t *s = get_struc(id);
  EXPECT_EQ(0, do_data_ex(kBase, DATA_STRUCT, 8, id));  // no members, no size
  ASSERT_EQ(0, add_struc_member(s, "A", 0, 0, nullptr, 4));
  ASSERT_EQ(0, add_struc_member(s, "B", 4, 0, nullptr, 4));
  EXPECT_EQ(0, do_data_ex(kBase, DATA_STRUCT, 12, id));
  EXPECT_EQ(0, do_data_ex(kBase, DATA_STRUCT, 8, id + 1));
  ASSERT_EQ(1, do_data_ex(kBase, DATA_STRUCT, 16, id));
  EXPECT_EQ(kBase + 16, get_item_end(kBase + 3));
  const auto item = TestDb::ItemAt(kBase + 9);
  ASSERT_TRUE(item);
  EXPECT_EQ(kernel::ItemType::kStruct, item->type);
  EXPECT_EQ(id, item->struct_id);
  db.PutDword(kBase + 0x100, kBase);
  ASSERT_NE(0, op_offset(kBase + 0x100, 0, 2, BADADDR, 0, 0));
  EXPECT_EQ("stru_401000", TestDb::Name(kBase));
}

}  // namespace
