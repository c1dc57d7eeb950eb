#include "detector/annotate_class.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "testing/item_expectations.h"
#include "testing/test_db.h"

namespace {

using kernel::ItemType;

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kSize = 0x3000;
constexpr ea_t kCode = 0x00403000;   // a ret every 16 bytes
constexpr ea_t kOther = 0x00410000;  // a second segment, above the first
constexpr ea_t kZeros = 0x00402800;  // tables with nothing in them

constexpr int kSelfPtr = 0, kIntf = 1, kInit = 3, kTypeInfo = 4, kField = 5, kMethod = 6,
              kDynamic = 7, kInstanceSize = 9, kParent = 10;

using Header = std::array<uint32_t, 19>;

struct AnnotateClassTest : testing::Test {
  TestDb db{kBase, kSize};
  RecordingUi ui;

  AnnotateClassTest() {
    db.AddSegment("DATA", kOther, 0x1000);
    for (ea_t ea = kCode; ea < kBase + kSize; ea += 0x10) db.PutByte(ea, 0xC3);
    for (ea_t ea = kOther; ea < kOther + 0x100; ea += 0x10) db.PutByte(ea, 0xC3);
  }

  /// A well-formed header for a record at `a`: no tables, an instance size,
  /// no parent, and the standard methods at code of their own.
  static Header Standard(ea_t a) {
    Header h{};
    h[kSelfPtr] = a + 76;
    h[kInstanceSize] = 0x10;
    for (int i = 0; i < 8; ++i) h[11 + i] = kCode + 0x10 * i;
    return h;
  }

  /// Writes the header, the virtual method slots and the class name behind
  /// them; the address behind the name.
  ea_t PutRecord(ea_t a, Header h, const std::vector<uint32_t> &slots,
                 const std::string &name) {
    const ea_t name_ea = a + 76 + 4 * static_cast<ea_t>(slots.size());
    h[8] = name_ea;
    for (size_t i = 0; i < h.size(); ++i) db.PutDword(a + 4 * static_cast<ea_t>(i), h[i]);
    for (size_t i = 0; i < slots.size(); ++i)
      db.PutDword(a + 76 + 4 * static_cast<ea_t>(i), slots[i]);
    db.PutShortString(name_ea, name);
    return name_ea + 1 + static_cast<ea_t>(name.size());
  }

  /// A record of the 88-byte layout at `a` with its name at `name`, an
  /// instance size and the standard methods at code of their own.
  void PutNewestRecord(ea_t a, ea_t name, const char *class_name) {
    db.PutClassRecord(a, name, class_name, 88);
    db.PutDword(a + 36, 0x10);
    for (ea_t i = 0; i < 11; ++i) db.PutDword(a + 44 + 4 * i, kCode + 0x10 * i);
  }

  /// A method table of no classic entries and one extended entry at `entry`.
  void PutOneEntryMethodTable(ea_t table, ea_t entry) {
    db.PutWord(table, 0);
    db.PutWord(table + 2, 1);
    db.PutDword(table + 4, entry);
    db.PutWord(table + 8, 0);        // flags
    db.PutWord(table + 10, 0xFFFF);  // no virtual index
    db.PutWord(table + 12, 0);       // VirtCount
  }

  static size_t ItemCount() {
    size_t n = 0;
    kernel::TheDatabase().ForEachItem([&](const kernel::Item &) { ++n; });
    return n;
  }
};

TEST_F(AnnotateClassTest, RecordBecomesCommentedItemsFunctionsAndNames) {
  const ea_t a = kBase + 0x100;
  const ea_t end = PutRecord(a, Standard(a), {kCode + 0x100, kCode + 0x110}, "TFoo");
  ASSERT_EQ(a + 89, end);

  int32_t found = -1;
  EXPECT_EQ(a + 92, annotate_class_records(a, &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(std::vector<ea_t>{a + 92}, ui.jumps);

  EXPECT_TRUE(HasItem(a, ItemType::kOffset, 4));
  EXPECT_EQ("SelfPtr", TestDb::Comment(a));
  EXPECT_TRUE(HasItem(a + 4, ItemType::kDword, 28));  // IntfTable to DynamicTable
  EXPECT_EQ("", TestDb::Comment(a + 4));
  EXPECT_TRUE(HasItem(a + 32, ItemType::kOffset, 4));
  EXPECT_EQ("ClassName Address", TestDb::Comment(a + 32));
  EXPECT_TRUE(HasItem(a + 36, ItemType::kDword, 4));
  EXPECT_EQ("InstanceSize", TestDb::Comment(a + 36));
  EXPECT_TRUE(HasItem(a + 40, ItemType::kDword, 4));
  EXPECT_EQ("", TestDb::Comment(a + 40));
  const char *const standard[] = {
      "SafeCallException", "AfterConstruction", "BeforeDestruction", "Dispatch",
      "DefaultHandler",    "NewInstance",       "FreeInstance",      "Destroy"};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(standard[i]);
    EXPECT_TRUE(HasItem(a + 44 + 4 * i, ItemType::kOffset, 4));
    EXPECT_EQ(standard[i], TestDb::Comment(a + 44 + 4 * i));
    EXPECT_TRUE(StartsFunction(kCode + 0x10 * i));
  }
  EXPECT_TRUE(HasItem(a + 76, ItemType::kOffset, 4));
  EXPECT_EQ("QueryInterface", TestDb::Comment(a + 76));
  EXPECT_EQ("AddRef", TestDb::Comment(a + 80));
  EXPECT_TRUE(StartsFunction(kCode + 0x100));
  EXPECT_TRUE(StartsFunction(kCode + 0x110));
  EXPECT_TRUE(HasItem(a + 84, ItemType::kPString, 5));
  EXPECT_TRUE(HasItem(a + 89, ItemType::kAlign, 3));

  EXPECT_EQ("_cls_TFoo", TestDb::Name(a + 76));
  EXPECT_EQ("offset_cls_TFoo", TestDb::Name(a));
  EXPECT_EQ(std::vector<ea_t>{a}, db.db().DataRefsTo(a + 76));
}

// Each layout's header: the eleven table fields up to ParentClass alike,
// then its own standard virtual methods, and the user slots behind them.
struct LayoutHeaderTest : AnnotateClassTest, testing::WithParamInterface<int> {
  ~LayoutHeaderTest() override { set_class_layout(76); }
};

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutHeaderTest, testing::Values(64, 76, 88));

TEST_P(LayoutHeaderTest, HeaderFieldsCarryTheirLayoutsComments) {
  const std::vector<std::string> standard =
      GetParam() == 64
          ? std::vector<std::string>{"SafeCallException", "DefaultHandler", "NewInstance",
                                     "FreeInstance", "Destroy"}
      : GetParam() == 76
          ? std::vector<std::string>{"SafeCallException", "AfterConstruction",
                                     "BeforeDestruction", "Dispatch",
                                     "DefaultHandler",    "NewInstance",
                                     "FreeInstance",      "Destroy"}
          : std::vector<std::string>{"Equals",
                                     "GetHashCode",
                                     "ToString",
                                     "SafeCallException",
                                     "AfterConstruction",
                                     "BeforeDestruction",
                                     "Dispatch",
                                     "DefaultHandler",
                                     "NewInstance",
                                     "FreeInstance",
                                     "Destroy"};
  const ea_t h = static_cast<ea_t>(GetParam());
  ASSERT_EQ(h, 44 + 4 * standard.size());
  set_class_layout(GetParam());

  const ea_t a = kBase + 0x100;
  const ea_t name = a + h + 8;
  db.PutClassRecord(a, name, "TFoo", h);
  db.PutDword(a + 36, 0x10);
  for (ea_t i = 0; i < standard.size(); ++i)
    db.PutDword(a + 44 + 4 * i, kCode + 0x10 * i);
  db.PutDword(a + h, kCode + 0x100);
  db.PutDword(a + h + 4, kCode + 0x110);

  int32_t found = -1;
  annotate_class_records(a, &found);
  EXPECT_EQ(1, found);
  EXPECT_EQ("SelfPtr", TestDb::Comment(a));
  EXPECT_EQ("ClassName Address", TestDb::Comment(a + 32));
  EXPECT_EQ("InstanceSize", TestDb::Comment(a + 36));
  for (ea_t i = 0; i < standard.size(); ++i) {
    SCOPED_TRACE(standard[i]);
    EXPECT_TRUE(HasItem(a + 44 + 4 * i, ItemType::kOffset, 4));
    EXPECT_EQ(standard[i], TestDb::Comment(a + 44 + 4 * i));
    EXPECT_TRUE(StartsFunction(kCode + 0x10 * i));
  }
  EXPECT_EQ("QueryInterface", TestDb::Comment(a + h));
  EXPECT_EQ("AddRef", TestDb::Comment(a + h + 4));
  EXPECT_TRUE(StartsFunction(kCode + 0x110));
  EXPECT_TRUE(HasItem(name, ItemType::kPString, 5));
  EXPECT_EQ("_cls_TFoo", TestDb::Name(a + h));
  EXPECT_EQ("offset_cls_TFoo", TestDb::Name(a));
}

TEST_P(LayoutHeaderTest, LaterRecordOfARunMustPointAtItsOwnTable) {
  set_class_layout(GetParam());
  const ea_t h = static_cast<ea_t>(GetParam());
  const ea_t a = kBase + 0x100;
  db.PutClassRecord(a, a + h, "TFoo", h);
  db.PutDword(a + 36, 0x10);
  const ea_t b = a + h + 8;  // behind the name and its alignment
  db.PutClassRecord(b, b + h, "TBar", h);
  db.PutDword(b + 36, 0x10);
  db.PutDword(b, b + h + 4);  // SelfPtr one slot off

  int32_t found = -1;
  annotate_class_records(a, &found);
  EXPECT_EQ("offset_cls_TFoo", TestDb::Name(a));
  // Only the classic layout takes any address of the range as SelfPtr.
  EXPECT_EQ(GetParam() == 76 ? "offset_cls_TBar" : "", TestDb::Name(b));
}

TEST_F(AnnotateClassTest, ZeroRunsAndLoneZerosOfTheHeader) {
  struct Field {
    int index;
    ItemType type;
    asize_t size;
    const char *comment;
  };
  struct Case {
    const char *name;
    std::vector<int> tables;  // fields pointing to a table
    std::vector<Field> expected;
  };
  const Case cases[] = {
      {"IntfTable 0, InitTable set",
       {kInit},
       {{1, ItemType::kDword, 8, ""},
        {3, ItemType::kOffset, 4, "InitTable"},
        {4, ItemType::kDword, 16, ""}}},
      {"IntfTable, AutoTable and InitTable 0",
       {kTypeInfo},
       {{1, ItemType::kDword, 12, ""},
        {4, ItemType::kOffset, 4, "TypeInfo"},
        {5, ItemType::kDword, 12, ""}}},
      {"IntfTable and InitTable set",
       {kIntf, kInit},
       {{1, ItemType::kOffset, 4, "IntfTable"},
        {2, ItemType::kDword, 4, "AutoTable"},
        {3, ItemType::kOffset, 4, "InitTable"}}},
      {"no tables", {}, {{1, ItemType::kDword, 28, ""}}},
      {"lone zeros between tables",
       {kIntf, kInit, kField, kDynamic},
       {{4, ItemType::kDword, 4, "TypeInfo"},
        {5, ItemType::kOffset, 4, "FieldTable"},
        {6, ItemType::kDword, 4, "MethodTable"},
        {7, ItemType::kOffset, 4, "DynamicTable"}}},
  };
  ea_t a = kBase;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Header h = Standard(a);
    for (int t : c.tables) h[t] = kZeros;
    PutRecord(a, h, {kCode + 0x100}, "TCase");
    int32_t found = 0;
    annotate_class_records(a, &found);
    EXPECT_EQ(1, found);
    for (const Field &f : c.expected) {
      SCOPED_TRACE(f.index);
      EXPECT_TRUE(HasItem(a + 4 * f.index, f.type, f.size));
      EXPECT_EQ(f.comment, TestDb::Comment(a + 4 * f.index));
    }
    a += 0x100;
  }
}

TEST_F(AnnotateClassTest, ParentClassAndInstanceSizeVariants) {
  constexpr uint32_t kTarget = 1;  // stands for code of the case's own
  struct Case {
    const char *name;
    uint32_t instance_size;
    uint32_t parent;
    int field;  // the field checked
    ItemType type;
    const char *comment;
    bool function_at_target;
  };
  const Case cases[] = {
      {"no parent", 0x10, 0, kParent, ItemType::kDword, "", false},
      {"parent with instances", 0x10, kTarget, kParent, ItemType::kOffset, "ParentClass",
       false},
      {"parent without instances", 0, kTarget, kParent, ItemType::kOffset, "ParentClass",
       true},
      {"parent in another segment", 0x10, kOther + 0x20, kParent, ItemType::kDword, "",
       false},
      {"instance size like an address", kTarget, 0, kInstanceSize, ItemType::kOffset, "",
       false},
  };
  ea_t a = kBase;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const ea_t target = kCode + 0x200 + (a - kBase) / 0x10;
    Header h = Standard(a);
    h[kInstanceSize] = c.instance_size == kTarget ? target : c.instance_size;
    h[kParent] = c.parent == kTarget ? target : c.parent;
    PutRecord(a, h, {kCode + 0x100}, "TCase");
    int32_t found = 0;
    annotate_class_records(a, &found);
    EXPECT_EQ(1, found);
    EXPECT_TRUE(HasItem(a + 4 * c.field, c.type, 4));
    EXPECT_EQ(c.comment, TestDb::Comment(a + 4 * c.field));
    EXPECT_EQ(c.function_at_target, StartsFunction(target));
    a += 0x100;
  }
}

TEST_F(AnnotateClassTest, FirstVirtualSlotVariants) {
  {
    SCOPED_TRACE("neither 0 nor an address of the program");
    const ea_t a = kBase;
    PutRecord(a, Standard(a), {0x12345678}, "TCase");
    int32_t found = 0;
    annotate_class_records(a, &found);
    EXPECT_TRUE(IsUnknown(a + 76));
    EXPECT_EQ("", TestDb::Comment(a + 76));
  }
  {
    SCOPED_TRACE("zero");
    const ea_t a = kBase + 0x100;
    PutRecord(a, Standard(a), {0}, "TCase");
    int32_t found = 0;
    annotate_class_records(a, &found);
    EXPECT_TRUE(HasItem(a + 76, ItemType::kDword, 4));
    EXPECT_EQ("QueryInterface", TestDb::Comment(a + 76));
  }
  {
    SCOPED_TRACE("another segment, then this one");
    const ea_t a = kBase + 0x200;
    PutRecord(a, Standard(a), {kOther + 0x10, kCode + 0x100, 0}, "TCase");
    int32_t found = 0;
    annotate_class_records(a, &found);
    EXPECT_TRUE(HasItem(a + 76, ItemType::kOffset, 4));
    EXPECT_EQ("QueryInterface", TestDb::Comment(a + 76));
    EXPECT_TRUE(StartsFunction(kOther + 0x10));
    EXPECT_TRUE(HasItem(a + 80, ItemType::kOffset, 4));
    EXPECT_EQ("AddRef", TestDb::Comment(a + 80));
    EXPECT_TRUE(IsUnknown(a + 84));
  }
  {
    SCOPED_TRACE("another segment twice");
    const ea_t a = kBase + 0x300;
    PutRecord(a, Standard(a), {kOther + 0x20, kOther + 0x30}, "TCase");
    int32_t found = 0;
    annotate_class_records(a, &found);
    EXPECT_TRUE(HasItem(a + 76, ItemType::kOffset, 4));
    EXPECT_TRUE(IsUnknown(a + 80));
    EXPECT_FALSE(StartsFunction(kOther + 0x30));
  }
}

TEST_F(AnnotateClassTest, UsersNamesStayAndDummyNamesAreReplaced) {
  struct Case {
    const char *name;
    const char *vmt_name;     // given before the run, or null
    const char *record_name;  // given before the run, or null
    const char *expected_vmt;
    const char *expected_record;
  };
  const Case cases[] = {
      {"user's table name", "FooTable", nullptr, "FooTable", "offset_cls_TFoo"},
      {"table name beginning with a", "aFoo", nullptr, "_cls_TFoo", "offset_cls_TFoo"},
      {"dummy table name", "word_1", "unk_2", "_cls_TFoo", "offset_cls_TFoo"},
      {"user's record name", nullptr, "FooRecord", "_cls_TFoo", "FooRecord"},
  };
  ea_t a = kBase;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PutRecord(a, Standard(a), {kCode + 0x100}, "TFoo");
    if (c.vmt_name != nullptr) {
      ASSERT_EQ(1, do_name_anyway(a + 76, c.vmt_name, 0));
    }
    if (c.record_name != nullptr) {
      ASSERT_EQ(1, do_name_anyway(a, c.record_name, 0));
    }
    int32_t found = 0;
    annotate_class_records(a, &found);
    // Names used by an earlier case come back made unique.
    EXPECT_EQ(0u, TestDb::Name(a + 76).rfind(c.expected_vmt, 0)) << TestDb::Name(a + 76);
    EXPECT_EQ(0u, TestDb::Name(a).rfind(c.expected_record, 0)) << TestDb::Name(a);
    a += 0x100;
  }
}

TEST_F(AnnotateClassTest, RepeatableCommentOfOneWordNamesTheClass) {
  const ea_t a = kBase, b = kBase + 0x100;
  PutRecord(a, Standard(a), {kCode + 0x100}, "TFoo");
  PutRecord(b, Standard(b), {kCode + 0x100}, "TBar");
  ASSERT_EQ(1, set_cmt(a + 76, "MainWindow", 1));
  ASSERT_EQ(1, set_cmt(b + 76, "Data module", 1));
  int32_t found = 0;
  annotate_class_records(a, &found);
  annotate_class_records(b, &found);
  EXPECT_EQ("_cls_MainWindow", TestDb::Name(a + 76));
  EXPECT_EQ("offset_cls_MainWindow", TestDb::Name(a));
  EXPECT_EQ("_cls_TBar", TestDb::Name(b + 76));
  EXPECT_EQ("offset_cls_TBar", TestDb::Name(b));
}

TEST_F(AnnotateClassTest, RunOfTwoRecordsWithAMethodTable) {
  const ea_t first = kBase + 0x100;
  Header h = Standard(first);
  h[kMethod] = first + 80;
  const ea_t table = first + 80;
  // Header, one slot, the method table, then the name behind it.
  for (size_t i = 0; i < h.size(); ++i)
    db.PutDword(first + 4 * static_cast<ea_t>(i), h[i]);
  db.PutDword(first + 76, kCode + 0x100);
  db.PutWord(table, 1);
  db.PutWord(table + 2, 12);
  db.PutDword(table + 4, kCode + 0x120);
  db.PutShortString(table + 8, "Click");
  const ea_t name = table + 14;
  db.PutDword(first + 32, name);
  db.PutShortString(name, "TFirst");
  const ea_t second = name + 7 + 3;  // behind the name and its filler
  const ea_t end = PutRecord(second, Standard(second), {kCode + 0x130}, "TSecond");

  int32_t found = 0;
  EXPECT_EQ(end, annotate_class_records(first, &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ((std::vector<ea_t>{second, end}), ui.jumps);
  EXPECT_EQ("_cls_TFirst", TestDb::Name(first + 76));
  EXPECT_EQ("TFirst_method_list", TestDb::Name(table));
  EXPECT_EQ("TFirst@Click", TestDb::Name(kCode + 0x120));
  EXPECT_TRUE(HasItem(name, ItemType::kPString, 7));
  EXPECT_TRUE(HasItem(name + 7, ItemType::kAlign, 3));
  EXPECT_EQ("_cls_TSecond", TestDb::Name(second + 76));
  EXPECT_EQ("offset_cls_TSecond", TestDb::Name(second));
}

TEST_F(AnnotateClassTest, MethodTableAtTheFirstSlotEndsTheSlotsBeforeTheyStart) {
  // A class without slots of its own whose method table starts where they
  // would, and whose first words (no classic entries, then a method entry's
  // address) read as two addresses: they are the table, not two slots.
  // The record lies in the upper segment, so that its range holds 0x00410000.
  const ea_t a = kOther + 0x200;
  const ea_t table = a + 76;
  Header h = Standard(a);
  h[kMethod] = table;
  for (size_t i = 0; i < h.size(); ++i) db.PutDword(a + 4 * static_cast<ea_t>(i), h[i]);
  db.PutDword(table, kOther);  // count 0, then the high word of an address
  db.PutDword(table + 4, kOther + 0x10);
  db.PutWord(table + 8, 0xFFFF);
  const ea_t name = table + 10;
  db.PutDword(a + 32, name);
  db.PutShortString(name, "TNoSlots");

  int32_t found = 0;
  annotate_class_records(a, &found);
  EXPECT_EQ(1, found);
  EXPECT_FALSE(HasItem(table, ItemType::kOffset, 4));
  EXPECT_FALSE(HasItem(table + 4, ItemType::kOffset, 4));
  EXPECT_EQ("", TestDb::Comment(table));  // no "QueryInterface"
  EXPECT_FALSE(StartsFunction(kOther + 0x10));
  EXPECT_TRUE(HasItem(table, ItemType::kWord, 2));  // the table's count
  EXPECT_EQ(class_slots_end(a), table);
}

TEST_F(AnnotateClassTest, MethodEntriesBehindTheNameKeepTheRunGoingInTheNewestLayout) {
  // The first record's method table has no classic entries and one
  // extended entry, whose method entry the compiler put behind the class
  // name; the second record follows that entry.
  set_class_layout(LAYOUT_NEWEST);
  const ea_t a = kBase + 0x100;
  const ea_t table = a + 88;
  PutNewestRecord(a, table + 14, "TFoo");
  db.PutDword(a + 24, table);
  const ea_t entry = table + 14 + 5 + 1;  // behind the name "TFoo" and its filler
  PutOneEntryMethodTable(table, entry);
  db.PutWord(entry, 2 + 4 + 4);
  db.PutDword(entry + 2, kCode + 0x100);
  db.PutShortString(entry + 6, "Run");
  const ea_t b = entry + 12;  // behind the entry and its filler
  PutNewestRecord(b, b + 88, "TBar");

  int32_t found = -1;
  annotate_class_records(a, &found);
  set_class_layout(LAYOUT_CLASSIC);
  EXPECT_EQ(1, found);
  EXPECT_EQ("offset_cls_TFoo", TestDb::Name(a));
  EXPECT_EQ("offset_cls_TBar", TestDb::Name(b));
  EXPECT_EQ("TFoo@Run", TestDb::Name(kCode + 0x100));
}

TEST_F(AnnotateClassTest, MethodEntriesRightBehindTheNameAfterTablesOutOfOrder) {
  // The newest compilers may put the field table in front of the method
  // table, with no gap between them, and the method entries right behind
  // the class name, which lies behind the method table. The entry's length
  // word is no filler, and the padding behind the entry is.
  set_class_layout(LAYOUT_NEWEST);
  const ea_t a = kBase + 0x100;
  const ea_t fields = a + 88;
  db.PutWord(fields, 0);        // no classic entries
  db.PutDword(fields + 2, 0);   // no class list
  db.PutWord(fields + 6, 1);    // one extended entry:
  db.PutByte(fields + 8, 0);    // flags
  db.PutDword(fields + 9, 0);   // no type
  db.PutDword(fields + 13, 4);  // offset
  db.PutShortString(fields + 17, "Abc");
  db.PutWord(fields + 21, 2);  // no attributes
  const ea_t table = fields + 23;
  const ea_t name = table + 14;
  const ea_t entry = name + 5;
  ASSERT_NE(0u, entry % 4);
  PutNewestRecord(a, name, "TFoo");
  db.PutDword(a + 20, fields);
  db.PutDword(a + 24, table);
  PutOneEntryMethodTable(table, entry);
  // An entry whose size (0x90, a nop's byte first) steps over a signature
  // of no known shape.
  db.PutWord(entry, 0x90);
  db.PutDword(entry + 2, kCode + 0x100);
  db.PutShortString(entry + 6, "Run");
  const ea_t padding = entry + 0x90;
  const ea_t b = (padding + 3) & ~3u;
  ASSERT_NE(padding, b);
  PutNewestRecord(b, b + 88, "TBar");

  int32_t found = -1;
  annotate_class_records(a, &found);
  set_class_layout(LAYOUT_CLASSIC);
  EXPECT_TRUE(HasItem(entry, ItemType::kWord, 2));
  EXPECT_EQ("Len", TestDb::Comment(entry));
  EXPECT_TRUE(HasItem(padding, ItemType::kAlign, b - padding));
  EXPECT_EQ("offset_cls_TBar", TestDb::Name(b));
  EXPECT_EQ("TFoo@Run", TestDb::Name(kCode + 0x100));
}

TEST_F(AnnotateClassTest, LaterRecordWithoutNameStopsTheRun) {
  const ea_t a = kBase;
  const ea_t end = PutRecord(a, Standard(a), {kCode + 0x100}, "TFoo");
  const ea_t next = (end + 3) & ~3u;
  Header h = Standard(next);
  for (size_t i = 0; i < h.size(); ++i)
    db.PutDword(next + 4 * static_cast<ea_t>(i), h[i]);
  db.PutDword(next + 32, kBase + 0x800);
  db.PutShortString(kBase + 0x800, "Not valid");

  int32_t found = 1;
  annotate_class_records(a, &found);
  EXPECT_EQ(0, found);
  EXPECT_EQ("_cls_TFoo", TestDb::Name(a + 76));
  EXPECT_TRUE(IsUnknown(next));
}

TEST_F(AnnotateClassTest, StartThatIsNoRecordChangesNothing) {
  struct Case {
    const char *name;
    int field;
    uint32_t value;
  };
  const Case cases[] = {
      {"AutoTable set", 2, kZeros},
      {"SelfPtr below the program", kSelfPtr, kBase - 4},
      {"SelfPtr in another segment", kSelfPtr, kOther},
      {"IntfTable past the segment", kIntf, kOther},
      {"class name not valid", 8, kBase + 0x800},
  };
  db.PutShortString(kBase + 0x800, "T Foo");
  db.PutShortString(kBase + 0x900, "TFoo");
  ea_t a = kBase;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Header h = Standard(a);
    h[8] = kBase + 0x900;
    h[c.field] = c.value;
    for (size_t i = 0; i < h.size(); ++i) db.PutDword(a + 4 * static_cast<ea_t>(i), h[i]);
    int32_t found = 1;
    EXPECT_EQ(0u, annotate_class_records(a, &found));
    EXPECT_EQ(0, found);
    a += 0x100;
  }
  EXPECT_EQ(0u, ItemCount());
  EXPECT_TRUE(db.db().Names().empty());
  EXPECT_TRUE(db.db().Comments().empty());
}

TEST_F(AnnotateClassTest, FurthestAddressOnAFunctionStartIsOneLower) {
  const ea_t a = kBase;
  const ea_t end = PutRecord(a, Standard(a), {kCode + 0x100}, "TFn");
  ASSERT_EQ(a + 84, end);
  db.PutByte(end, 0xC3);
  ASSERT_EQ(1, add_func(end, BADADDR));
  int32_t found = 0;
  EXPECT_EQ(end - 1, annotate_class_records(a, &found));
  EXPECT_EQ(1, found);
}

TEST_F(AnnotateClassTest, InitTableBelowTheFurthestAddressIsLookedForThere) {
  const ea_t a = kBase + 0x100;
  const ea_t early = kBase + 0x10;  // an init table the walk has passed
  db.PutDword(early, 14);
  Header h = Standard(a);
  h[kInit] = early;
  for (size_t i = 0; i < h.size(); ++i) db.PutDword(a + 4 * static_cast<ea_t>(i), h[i]);
  db.PutDword(a + 76, kCode + 0x100);
  const ea_t init = a + 80;  // the furthest address once the slot is made
  db.PutDword(init, 14);
  db.PutDword(init + 6, 0);
  db.PutDword(a + 32, init + 10);
  db.PutShortString(init + 10, "TFoo");

  int32_t found = 0;
  EXPECT_EQ(init + 16, annotate_class_records(a, &found));
  EXPECT_EQ("TFoo_cls_init_list", TestDb::Name(init));
  EXPECT_TRUE(HasItem(init, ItemType::kWord, 6));
  EXPECT_EQ("InitTable Count", TestDb::Comment(init + 6));
  EXPECT_NE("TFoo_cls_init_list", TestDb::Name(early));
  EXPECT_TRUE(IsUnknown(early));
}

TEST_F(AnnotateClassTest, RecordCutOffByTheSegmentEndStaysAtItsStart) {
  const ea_t a = kOther + 0x1000 - 40;
  Header h = Standard(a);
  for (int i = 0; i < 10; ++i) db.PutDword(a + 4 * i, h[i]);
  db.PutDword(a, kOther + 0x100);
  db.PutDword(a + 32, kOther + 0x200);
  db.PutShortString(kOther + 0x200, "TCut");
  int32_t found = 0;
  EXPECT_EQ(a, annotate_class_records(a, &found));
  EXPECT_EQ(1, found);
  EXPECT_TRUE(HasItem(a + 32, ItemType::kOffset, 4));
  EXPECT_TRUE(IsUnknown(a));
}

// An empty field class list two bytes before the record: its alignment ends
// at the record's start, where the walk would begin again.
TEST_F(AnnotateClassTest, WalkThatReturnsToItsRecordEnds) {
  const ea_t a = kBase + 0x100, table = kBase + 0x800;
  Header h = Standard(a);
  h[kField] = table;
  PutRecord(a, h, {}, "TLoop");
  db.PutDword(table + 2, a - 2);
  int32_t found = 0;
  annotate_class_records(a, &found);
  EXPECT_EQ(1, found);
  EXPECT_EQ("TLoop_field_list", TestDb::Name(table));
  EXPECT_TRUE(HasItem(a - 2, ItemType::kAlign, 2));
}

TEST(AnnotateClassHostileTest, ZerosAndSelfPointersToTheSegmentEnd) {
  constexpr ea_t kStart = 0x00500000, kLength = 0x8000;
  TestDb db;
  SegmentBytes bytes(kStart, kLength);
  // Every table is the record itself, and no field ends the zero run that
  // starts at InstanceSize.
  const ea_t a = kStart + 0x100;
  bytes.PutDword(a, a + 76);
  for (int i = 1; i <= 7; ++i) bytes.PutDword(a + 4 * i, i == 2 ? 0 : a);
  bytes.PutDword(a + 32, kStart + 0x10);
  bytes.PutShortString(kStart + 0x10, "THostile");
  // A second record whose slots all point at themselves.
  const ea_t b = kStart + 0x4000;
  for (ea_t ea = b; ea < kStart + kLength; ea += 4) bytes.PutDword(ea, ea);
  bytes.PutDword(b, b + 76);
  bytes.PutDword(b + 8, 0);
  bytes.PutDword(b + 32, kStart + 0x10);
  db.AddSegment(".text", bytes);

  // The runs end; where they reach depends on addresses read from the
  // hostile tables (the field class list is taken as read).
  int32_t found = 0;
  annotate_class_records(a, &found);
  EXPECT_EQ(1, found);
  // The record is its own field table, whose name is no dummy.
  EXPECT_EQ("THostile_field_list", TestDb::Name(a));
  found = 0;
  annotate_class_records(b, &found);
  EXPECT_EQ(1, found);
  EXPECT_EQ(0u, TestDb::Name(b).rfind("offset_cls_THostile", 0)) << TestDb::Name(b);
}

}  // namespace
