#include "samples/class_record.h"

#include <gtest/gtest.h>

namespace samples {
namespace {

struct ClassRecordTest : testing::Test {
  ClassRecordTest() {
    image.BeginSection("CODE", 0x60000020);
    spec.standard.assign(8, Code(0x401800));
    spec.name = "TForm1";
    spec.record = image.NewLabel();
    spec.instance_size = 0x2DC;
  }
  Label Code(Addr at) {
    Label l = image.NewLabel();
    image.BindAt(l, at);
    return l;
  }
  uint32_t Word(Addr a) { return image.Read8(a) | image.Read8(a + 1) << 8; }

  Image image;
  ClassRecordSpec spec;
};

TEST_F(ClassRecordTest, BareRecordHasSelfPointerZeroTablesAndNameBehindTheSlots) {
  spec.virtual_methods = {Code(0x401900), Code(0x401904)};
  ClassRecordAddrs at = WriteClassRecord(image, spec);
  image.Resolve();
  const Addr a = at.record;
  EXPECT_EQ(a + 76, image.Read32(a));
  EXPECT_EQ(a + 76, at.vmt);
  for (Addr f = 4; f <= 28; f += 4) EXPECT_EQ(0u, image.Read32(a + f)) << "field " << f;
  EXPECT_EQ(at.class_name, image.Read32(a + 32));
  EXPECT_EQ(0x2DCu, image.Read32(a + 36));
  EXPECT_EQ(0u, image.Read32(a + 40));
  for (Addr f = 44; f <= 72; f += 4) EXPECT_EQ(0x401800u, image.Read32(a + f));
  EXPECT_EQ(0x401900u, image.Read32(a + 76));
  EXPECT_EQ(0x401904u, image.Read32(a + 80));
  EXPECT_EQ(a + 84, at.class_name);
  EXPECT_EQ(6u, image.Read8(at.class_name));
  EXPECT_EQ('T', image.Read8(at.class_name + 1));
  // 7 name bytes end 1 byte short of the boundary: one nop.
  EXPECT_EQ(0x90u, image.Read8(at.class_name + 7));
  EXPECT_EQ(at.class_name + 8, at.end);
}

TEST_F(ClassRecordTest, TablesFollowInOrderWithTheirExactLayouts) {
  spec.type_cell = Code(0x402000);
  spec.parent = Ref::To(Code(0x400F00));
  InterfaceEntry e;
  e.guid[0] = 0xAA;
  e.methods = {Code(0x401A00), Code(0x401A04)};
  e.ioffset = 0x10;
  spec.interfaces = {e, e};
  spec.init_table = true;
  spec.init_entries = {{Code(0x402100), 0x2C}};
  spec.methods = {{Code(0x401B00), "Button1Click"}};
  spec.dynamics = {{0xB00B, Code(0x401C00)}, {0x0201, Code(0x401C10)}};
  spec.fields = {{0x2D0, 0, "Button1"}};
  spec.field_classes = {Code(0x401010)};
  const Addr t = WriteInterfaceTable(image, spec);
  ClassRecordAddrs at = WriteClassRecord(image, spec, t);
  image.Resolve();
  const Addr a = at.record;

  EXPECT_EQ(at.intf_table, image.Read32(a + 4));
  EXPECT_EQ(0u, image.Read32(a + 8));
  EXPECT_EQ(at.init_table, image.Read32(a + 12));
  EXPECT_EQ(0x402004u, image.Read32(a + 16));  // the kind byte behind the cell
  EXPECT_EQ(at.field_table, image.Read32(a + 20));
  EXPECT_EQ(at.method_table, image.Read32(a + 24));
  EXPECT_EQ(at.dynamic_table, image.Read32(a + 28));
  EXPECT_EQ(0x400F00u, image.Read32(a + 40));

  // Interface table before the record, behind its slot tables: count, then
  // 28 bytes an entry.
  EXPECT_EQ(t, at.intf_table);
  EXPECT_EQ(t + 60, at.record);
  EXPECT_EQ(t - 16, image.Read32(t + 20));  // entry 0's slots
  EXPECT_EQ(0x401A00u, image.Read32(t - 16));
  EXPECT_EQ(0x401A04u, image.Read32(t - 12));
  EXPECT_EQ(t - 8, image.Read32(t + 48));
  EXPECT_EQ(0x401A00u, image.Read32(t - 8));
  EXPECT_EQ(2u, image.Read32(t));
  EXPECT_EQ(0xAAu, image.Read8(t + 4));
  EXPECT_EQ(0x10u, image.Read32(t + 24));
  EXPECT_EQ(0u, image.Read32(t + 28));

  // Init table: 0E 00 and a zero size read as the doubleword 14, then the count.
  const Addr i = at.init_table;
  EXPECT_EQ(at.vmt, i);
  EXPECT_EQ(14u, image.Read32(i));
  EXPECT_EQ(0u, Word(i + 4));
  EXPECT_EQ(1u, image.Read32(i + 6));
  EXPECT_EQ(0x402100u, image.Read32(i + 10));
  EXPECT_EQ(0x2Cu, image.Read32(i + 14));

  const Addr m = at.method_table;
  EXPECT_EQ(i + 18, m);
  EXPECT_EQ(1u, Word(m));
  EXPECT_EQ(7u + 12, Word(m + 2));
  EXPECT_EQ(0x401B00u, image.Read32(m + 4));
  EXPECT_EQ(12u, image.Read8(m + 8));

  const Addr d = at.dynamic_table;
  EXPECT_EQ(m + 2 + 19, d);
  EXPECT_EQ(2u, Word(d));
  EXPECT_EQ(0xB00Bu, Word(d + 2));
  EXPECT_EQ(0x0201u, Word(d + 4));
  EXPECT_EQ(0x401C00u, image.Read32(d + 6));
  EXPECT_EQ(0x401C10u, image.Read32(d + 10));

  const Addr f = at.field_table;
  EXPECT_EQ(d + 14, f);
  EXPECT_EQ(1u, Word(f));
  EXPECT_EQ(at.field_class_list, image.Read32(f + 2));
  EXPECT_EQ(0x2D0u, image.Read32(f + 6));
  EXPECT_EQ(0u, Word(f + 10));
  EXPECT_EQ(7u, image.Read8(f + 12));
  const Addr k = at.field_class_list;
  EXPECT_EQ(f + 20, k);
  EXPECT_EQ(1u, Word(k));
  EXPECT_EQ(0x401010u, image.Read32(k + 2));
  // The name starts on the boundary behind the class list.
  EXPECT_EQ((k + 6 + 3) / 4 * 4, at.class_name);
  EXPECT_EQ(at.class_name, image.Read32(a + 32));
}

TEST_F(ClassRecordTest, RecordsMustBeAlignedAndFindTheirInterfaceTable) {
  spec.interfaces.resize(1);
  EXPECT_THROW(WriteClassRecord(image, spec), std::logic_error);  // table not written
  spec.interfaces.clear();
  image.Put8(0x90);
  EXPECT_THROW(WriteClassRecord(image, spec), std::logic_error);  // off the boundary
}

TEST_F(ClassRecordTest, EachLayoutPutsItsStandardSlotsBetweenParentAndOwnSlots) {
  const struct {
    uint32_t header;
    size_t standard;
  } kLayouts[] = {{64, 5}, {76, 8}, {88, 11}};
  for (const auto &layout : kLayouts) {
    SCOPED_TRACE(layout.header);
    ASSERT_EQ(layout.standard, StandardMethods(layout.header).size());
    EXPECT_EQ("Destroy", StandardMethods(layout.header).back());
    spec.record = image.NewLabel();
    spec.standard.assign(layout.standard, Code(0x401800));
    spec.virtual_methods = {Code(0x401900)};
    EXPECT_EQ(layout.header, HeaderSize(spec));
    ClassRecordAddrs at = WriteClassRecord(image, spec);
    image.Resolve();
    const Addr a = at.record;
    EXPECT_EQ(a + layout.header, image.Read32(a));
    EXPECT_EQ(a + layout.header, at.vmt);
    EXPECT_EQ(at.class_name, image.Read32(a + 32));
    EXPECT_EQ(0u, image.Read32(a + 40));  // ParentClass
    for (Addr f = 44; f < layout.header; f += 4)
      EXPECT_EQ(0x401800u, image.Read32(a + f));
    EXPECT_EQ(0x401900u, image.Read32(a + layout.header));
    EXPECT_EQ(a + layout.header + 4, at.class_name);
  }
  EXPECT_EQ(StandardMethods(88)[3], StandardMethods(76)[0]);  // "SafeCallException"
  EXPECT_EQ("Equals", StandardMethods(88)[0]);
  EXPECT_TRUE(StandardMethods(80).empty());
}

TEST_F(ClassRecordTest, MissingOrMiscountedStandardMethodsAreRefused) {
  spec.standard[3] = Label{};
  EXPECT_THROW(WriteClassRecord(image, spec), std::logic_error);
  for (size_t count : {0, 7, 9}) {
    spec.standard.assign(count, Code(0x401800));
    EXPECT_THROW(WriteClassRecord(image, spec), std::logic_error) << count;
  }
}

}  // namespace
}  // namespace samples
