// Type information and class tables of programs of the 88-byte class
// layout: the kinds of the newer compilers, the data they add to the older
// kinds, and bytes that break those shapes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "detector/annotate_type.h"
#include "detector/class_tables.h"
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "testing/item_expectations.h"
#include "testing/test_db.h"

namespace {

using kernel::ItemType;

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kSize = 0x4000;
constexpr ea_t kEnd = kBase + kSize;
constexpr ea_t kCode = kBase + 0x3000;  // lone returns, one per 16 bytes
constexpr ea_t kOtherSegment = 0x00500000;

/// An item the walk should make: where, what, and its comment ("" none).
struct Field {
  ea_t ea;
  ItemType type;
  asize_t size;
  std::string comment;
};

/// Writes fields one after another and keeps what the walk should make of
/// each.
class Layout {
 public:
  Layout(TestDb &db, ea_t at) : db_(db), p_(at) {}
  ea_t at() const { return p_; }

  Layout &Byte(uint8_t v, std::string comment = "") {
    db_.PutByte(p_, v);
    return Made(ItemType::kByte, 1, comment);
  }
  Layout &Word(uint16_t v, std::string comment = "") {
    db_.PutWord(p_, v);
    return Made(ItemType::kWord, 2, comment);
  }
  Layout &Dword(uint32_t v, std::string comment = "") {
    db_.PutDword(p_, v);
    return Made(ItemType::kDword, 4, comment);
  }
  /// A type reference or code pointer: an offset, or a dword when 0.
  Layout &Ref(uint32_t v, std::string comment = "") {
    db_.PutDword(p_, v);
    return Made(v == 0 ? ItemType::kDword : ItemType::kOffset, 4, comment);
  }
  Layout &Name(std::string_view text, std::string comment = "") {
    db_.PutShortString(p_, text);
    return Made(ItemType::kPString, 1 + static_cast<asize_t>(text.size()), comment);
  }
  /// Several dwords as one item.
  Layout &Dwords(std::vector<uint32_t> values, std::string comment) {
    for (size_t i = 0; i < values.size(); ++i) db_.PutDword(p_ + 4 * i, values[i]);
    return Made(ItemType::kDword, 4 * static_cast<asize_t>(values.size()), comment);
  }
  /// The 64-bit bounds of Int64.
  Layout &Made8Pair() {
    db_.PutDword(p_ + 4, 0x80000000);
    db_.PutDword(p_ + 8, 0xFFFFFFFF);
    db_.PutDword(p_ + 12, 0x7FFFFFFF);
    return Made(ItemType::kQword, 16, "MinInt64Value,MaxInt64Value");
  }
  Layout &NoAttributes() { return Word(2, "AttrData"); }
  /// An attribute block of one attribute whose constructor takes two bytes.
  Layout &OneAttribute(ea_t type_cell, ea_t constructor) {
    Word(14, "AttrData");
    Ref(type_cell, "AttrType:PPTypeInfo");
    Ref(constructor, "AttrCtor");
    Word(2, "ArgLen");
    db_.PutWord(p_, 0x0102);
    return Made(ItemType::kByte, 2, "ArgData");
  }
  /// Bytes that another walk annotates.
  Layout &Skip(asize_t n) {
    p_ += n;
    return *this;
  }

  std::vector<Field> fields;

 private:
  Layout &Made(ItemType type, asize_t size, const std::string &comment) {
    fields.push_back({p_, type, size, comment});
    p_ += size;
    return *this;
  }

  TestDb &db_;
  ea_t p_;
};

void ExpectFields(const std::vector<Field> &fields) {
  for (const Field &f : fields) {
    SCOPED_TRACE(testing::Message() << std::hex << f.ea << " " << f.comment);
    EXPECT_TRUE(HasItem(f.ea, f.type, f.size));
    EXPECT_EQ(f.comment, TestDb::Comment(f.ea));
  }
}

ea_t Align4(ea_t ea) { return (ea + 3) & ~3u; }

struct NewerLayoutTest : testing::Test {
  NewerLayoutTest() {
    set_class_layout(88);
    for (ea_t ea = kCode; ea < kEnd; ea += 16) db.PutByte(ea, 0xC3);
    db.AddSegment("DATA", kOtherSegment, 0x100);
  }
  ~NewerLayoutTest() override { set_class_layout(76); }

  /// A block's reference cell, kind and name at `s`; the layout of its
  /// type data.
  Layout Block(ea_t s, uint8_t kind, const std::string &name) {
    db.PutDword(s, s + 4);
    db.PutByte(s + 4, kind);
    db.PutShortString(s + 5, name);
    return Layout(db, s + 6 + static_cast<ea_t>(name.size()));
  }

  ea_t Run(ea_t start) { return annotate_type_infos(start, &more); }

  TestDb db{kBase, kSize};
  RecordingUi ui;
  int32_t more = -1;
};

TEST_F(NewerLayoutTest, KindsOfTheNewerCompilersBackToBack) {
  const ea_t text = kBase + 0x100;
  Layout ustring = Block(text, 18, "string");
  ustring.OneAttribute(text, kCode);

  const ea_t ref = Align4(ustring.at());
  Layout class_ref = Block(ref, 19, "TClass");
  class_ref.Ref(kBase + 0x800, "InstanceType:PPTypeInfo").NoAttributes();

  const ea_t pointer = Align4(class_ref.at());
  Layout pointer_to = Block(pointer, 20, "PInteger");
  pointer_to.Ref(kBase + 0x900, "RefType:PPTypeInfo").NoAttributes();

  // A procedure type whose signature lies right behind its attributes.
  const ea_t procedure = Align4(pointer_to.at());
  Layout proc = Block(procedure, 21, "TProc");
  const ea_t signature = proc.at() + 6;
  proc.Ref(signature, "ProcSig").NoAttributes();
  proc.Byte(0, "Flags").Byte(3, "CC:ccStdCall").Ref(ref, "ResultType:PPTypeInfo");
  proc.Byte(1, "ParamCount").Byte(2, "pfConst").Ref(text, "ParamType:PPTypeInfo");
  proc.Name("Value", "ParamName").NoAttributes();

  // A managed record with an operator and one field besides its managed one.
  const ea_t managed = Align4(proc.at());
  Layout mrecord = Block(managed, 22, "TManaged");
  mrecord.Dwords({8, 1}, "RecordSize, RecordCount");
  mrecord.Ref(text, "TypeRef:PPTypeInfo").Dword(0, "FldOffset");
  mrecord.Byte(1, "NumOps").Ref(kCode + 0x10, "RecOps");
  mrecord.Dword(1, "RecFldCnt");
  mrecord.Ref(text, "TypeRef:PPTypeInfo").Dword(0, "FldOffset").Byte(2, "Flags:mvPublic");
  mrecord.Name("FText", "FieldName").NoAttributes();
  mrecord.NoAttributes().Word(0, "RecMethCnt");

  const ea_t long_string = Align4(mrecord.at());
  Layout ansi = Block(long_string, 10, "AnsiString");
  ansi.Word(1252, "CodePage").NoAttributes();
  const ea_t end = Align4(ansi.at());

  EXPECT_EQ(end, Run(text));
  EXPECT_EQ(1, more);
  for (const Layout *layout :
       {&ustring, &class_ref, &pointer_to, &proc, &mrecord, &ansi}) {
    ExpectFields(layout->fields);
  }
  const struct {
    ea_t block;
    const char *name;
    const char *kind;
  } blocks[] = {{text, "string", "UString"},      {ref, "TClass", "ClassRef"},
                {pointer, "PInteger", "Pointer"}, {procedure, "TProc", "Procedure"},
                {managed, "TManaged", "MRecord"}, {long_string, "AnsiString", "LString"}};
  for (const auto &b : blocks) {
    SCOPED_TRACE(b.name);
    EXPECT_EQ(std::string("_type_") + b.name, TestDb::Name(b.block + 4));
    EXPECT_EQ(std::string("offset_type_") + b.name, TestDb::Name(b.block));
    EXPECT_EQ(b.kind, TestDb::Comment(b.block + 4));
  }
}

TEST_F(NewerLayoutTest, OlderKindsWithTheirNewerDataBackToBack) {
  std::vector<Layout> layouts;
  std::vector<ea_t> blocks;
  ea_t s = kBase + 0x100;
  const auto next = [&](uint8_t kind, const std::string &name) -> Layout & {
    if (!layouts.empty()) s = Align4(layouts.back().at());
    blocks.push_back(s);
    layouts.push_back(Block(s, kind, name));
    return layouts.back();
  };
  next(1, "Integer")
      .Byte(4, "OrdType:long - min/max")
      .Dwords({0x80000000, 0x7FFFFFFF}, "MinValue..MaxValue")
      .NoAttributes();
  next(3, "TColors")
      .Byte(1, "OrdType:uchar - min/max")
      .Dwords({0, 1}, "MinValue..MaxValue")
      .Ref(s, "BaseType:PPTypeInfo")
      .Name("clRed", "NameList")
      .Name("clBlue")
      .Name("Vcl.Graphics", "EnumUnitName")
      .NoAttributes();
  // The Boolean types span the whole 32-bit range: the names are the
  // strings in front of the unit name.
  next(3, "ByteBool")
      .Byte(1, "OrdType:uchar - min/max")
      .Dwords({0x80000000, 0x7FFFFFFF}, "MinValue..MaxValue")
      .Ref(s, "BaseType:PPTypeInfo")
      .Name("False", "NameList")
      .Name("True")
      .Name("System", "EnumUnitName")
      .NoAttributes();
  next(3, "TRed")
      .Byte(1, "OrdType:uchar - min/max")
      .Dwords({0, 0}, "MinValue..MaxValue")
      .Ref(blocks[1], "BaseType:PPTypeInfo")
      .Name("Vcl.Graphics", "EnumUnitName")
      .NoAttributes();
  next(4, "Double").Byte(1, "FloatType:ftDouble").NoAttributes();
  next(5, "ShortString").Byte(255, "MaxLength (size of string)").NoAttributes();
  next(6, "TColorSet")
      .Byte(1, "OrdType:uchar - min/max")
      .Ref(blocks[1], "CompType:PPTypeInfo")
      .NoAttributes()
      .Byte(0, "SetLoByte")
      .Byte(1, "SetSize");
  next(13, "TPair")
      .Dwords({8, 2}, "siezof array[Start..End]")
      .Ref(blocks[0], "ElType:PPTypeInfo")
      .Byte(1, "DimCount")
      .Ref(blocks[0], "Dims:PPTypeInfo")
      .NoAttributes();
  next(15, "IInterface")
      .Ref(0, "IntfParent")
      .Byte(1, "IntfFlags")
      .Dwords({0, 0, 0xC0, 0x46000000}, "TGUID")
      .Name("System", "IntfUnit")
      .Word(3, "MethodCount")
      .Word(0xFFFF, "RttiCount:none")
      .NoAttributes();
  next(16, "Int64").Made8Pair().NoAttributes();
  next(17, "TBytes")
      .Dword(1, "elSize")
      .Ref(0, "elType:^pDynArrayTypeInfo")
      .Dword(17, "varType:varByte")
      .Ref(blocks[0], "varAddress:PPTypeInfo")
      .Name("System.SysUtils", "DynUnitName")
      .Ref(blocks[0], "DynArrElType:PPTypeInfo")
      .NoAttributes();
  // An interface that describes its methods: they are not walked.
  next(15, "IInvokable")
      .Ref(0, "IntfParent")
      .Byte(1, "IntfFlags")
      .Dwords({1, 2, 3, 4}, "TGUID")
      .Name("System", "IntfUnit")
      .Word(1, "MethodCount")
      .Word(1, "RttiCount");
  const ea_t end = layouts.back().at();
  db.PutShortString(end, "Method");

  EXPECT_EQ(Align4(end), Run(blocks[0]));
  for (const Layout &layout : layouts) ExpectFields(layout.fields);
  EXPECT_TRUE(IsUnknown(end));
  EXPECT_EQ("_obj_IInvokable", TestDb::Name(blocks.back() + 4));
}

TEST_F(NewerLayoutTest, ClassWithPropertiesBeyondThePublishedOnes) {
  const ea_t s = kBase + 0x100;
  const ea_t getter = kCode + 0x20;
  Layout c = Block(s, 7, "TBox");
  c.Ref(kBase + 0x800, "ClassType").Ref(0, "ParentInfo").Word(1, "PropCount");
  c.Name("Shapes", "UnitName").Word(1, "PropCount of PropData");
  const ea_t published = c.at();
  db.PutDword(published, s);
  db.PutShortString(published + 26, "Color");
  c.Skip(26 + 6);
  c.Word(2, "PropCount of PropDataEx");
  c.Byte(3, "Flags:mvPublished").Ref(published, "Info:PPropInfo").NoAttributes();
  const ea_t public_info = c.at() + 5 + 2 + 2 + 2 + 5 + 6 + 2;
  c.Byte(2, "Flags:mvPublic").Ref(public_info, "Info:PPropInfo").NoAttributes();
  c.NoAttributes();  // the class's
  c.Word(1, "ArrayPropCount").Byte(5, "Flags").Word(3, "ReadIndex").Word(4, "WriteIndex");
  c.Name("Items", "ArrayPropName").NoAttributes();
  ASSERT_EQ(public_info, c.at());
  db.PutDword(public_info, s);
  db.PutDword(public_info + 4, getter);
  db.PutShortString(public_info + 26, "Size");
  const ea_t end = Align4(public_info + 31);

  EXPECT_EQ(end, Run(s));
  ExpectFields(c.fields);
  EXPECT_TRUE(HasItem(published, ItemType::kStruct, 26));
  EXPECT_TRUE(HasItem(public_info, ItemType::kStruct, 26));
  EXPECT_TRUE(HasItem(public_info + 26, ItemType::kPString, 5));
  EXPECT_TRUE(StartsFunction(getter));
  EXPECT_EQ("TBox@Shapes@GetSizeProc", TestDb::Name(getter));
  EXPECT_EQ("_obj_TBox", TestDb::Name(s + 4));
}

TEST_F(NewerLayoutTest, RecordWithFieldsAndAMethod) {
  const ea_t s = kBase + 0x100;
  const ea_t code = kCode + 0x30;
  Layout r = Block(s, 14, "TSpan");
  r.Dwords({8, 0}, "RecordSize, RecordCount").Byte(0, "NumOps").Dword(1, "RecFldCnt");
  r.Ref(s, "TypeRef:PPTypeInfo").Dword(0, "FldOffset").Byte(0, "Flags:mvPrivate");
  r.Name("FTicks", "FieldName").NoAttributes();
  r.NoAttributes().Word(1, "RecMethCnt");
  r.Byte(8, "Flags").Ref(code, "Code").Name("Create", "MethodName");
  r.Byte(0, "Flags").Byte(0, "CC:ccReg").Ref(0, "ResultType:PPTypeInfo");
  r.Byte(1, "ParamCount").Byte(8, "pfAddress").Ref(s, "ParamType:PPTypeInfo");
  r.Name("Self", "ParamName").NoAttributes();
  r.NoAttributes();

  EXPECT_EQ(Align4(r.at()), Run(s));
  ExpectFields(r.fields);
  EXPECT_TRUE(StartsFunction(code));
  EXPECT_EQ("TSpan@Create", TestDb::Name(code));
}

TEST_F(NewerLayoutTest, MethodTypeWithItsSignatureBehind) {
  const ea_t s = kBase + 0x100;
  Layout m = Block(s, 8, "TNotify");
  m.Byte(1, "MethodKind:Function").Byte(1, "mParamCount");
  m.Byte(0).Name("Sender", "ParamName").Name("TObject", "ParamType");
  m.Name("Boolean", "ResultType").Ref(s, "ResultTypeRef:PPTypeInfo");
  m.Byte(0, "CC:ccReg").Ref(s, "ParamTypeRef:PPTypeInfo");
  const ea_t signature = m.at() + 6;
  m.Ref(signature, "MethSig").NoAttributes();
  m.Byte(0, "Flags").Byte(0, "CC:ccReg").Ref(s, "ResultType:PPTypeInfo");
  m.Byte(0, "ParamCount");

  EXPECT_EQ(Align4(m.at()), Run(s));
  ExpectFields(m.fields);
}

// The first compilers of the layout wrote the classic data only (with a
// code page in front of a long string's): each walk ends where that data
// does, and the next block is taken from there.
TEST_F(NewerLayoutTest, BlocksOfTheFirstCompilersOfTheLayout) {
  const ea_t integer = kBase + 0x100;
  Layout i = Block(integer, 1, "Integer");
  i.Byte(4, "OrdType:long - min/max")
      .Dwords({0x80000000, 0x7FFFFFFF}, "MinValue..MaxValue");

  const ea_t event = Align4(i.at());
  Layout m = Block(event, 8, "TNotifyEvent");
  m.Byte(0, "MethodKind:Procedure").Byte(1, "mParamCount");
  m.Byte(8, "pfAddress").Name("Sender", "ParamName").Name("TObject", "ParamType");
  m.Byte(0, "CC:ccReg").Ref(integer, "ParamTypeRef:PPTypeInfo");

  const ea_t ansi = Align4(m.at());
  Layout a = Block(ansi, 10, "AnsiString");
  a.Word(0, "CodePage");

  const ea_t shape = Align4(a.at());
  Layout c = Block(shape, 7, "TShape");
  c.Ref(kBase + 0x800, "ClassType").Ref(0, "ParentInfo").Word(0, "PropCount");
  c.Name("Shapes", "UnitName").Word(0, "PropCount of PropData");
  const ea_t end = Align4(c.at());
  db.PutDword(end, 0x90909090);  // no block, no address

  EXPECT_EQ(end, Run(integer));
  for (const Layout *layout : {&i, &m, &a, &c}) ExpectFields(layout->fields);
}

// Bytes that break a newer shape end the walk in front of them; what came
// before is annotated and the block named.
TEST_F(NewerLayoutTest, BytesThatBreakTheShapeEndTheWalkInFrontOfThem) {
  // An attribute length that runs past the end of the segment.
  const ea_t pointer = kEnd - 16;
  Layout p = Block(pointer, 20, "PX");
  p.Ref(kBase + 0x900, "RefType:PPTypeInfo");
  db.PutWord(p.at(), 0x100);
  EXPECT_EQ(p.at(), Run(pointer));
  ExpectFields(p.fields);
  EXPECT_TRUE(IsUnknown(p.at()));
  EXPECT_EQ("_type_PX", TestDb::Name(pointer + 4));

  // A class whose extended property count is 65535 with no entries there.
  // (Names of lengths that end each walk on a multiple of 4, where no
  // alignment item follows.)
  const ea_t shape = kBase + 0x100;
  Layout c = Block(shape, 7, "TSh");
  c.Ref(kBase + 0x800, "ClassType").Ref(0, "ParentInfo").Word(0, "PropCount");
  c.Name("Shapes", "UnitName").Word(0, "PropCount of PropData");
  db.PutWord(c.at(), 0xFFFF);
  EXPECT_EQ(c.at(), Run(shape));
  ExpectFields(c.fields);
  EXPECT_TRUE(IsUnknown(c.at()));

  // A record whose field count is 65535 over zeros: no field has an
  // attribute block.
  const ea_t record = kBase + 0x200;
  Layout r = Block(record, 14, "TR");
  r.Dwords({4, 0}, "RecordSize, RecordCount");
  db.PutDword(r.at() + 1, 0xFFFF);
  EXPECT_EQ(r.at(), Run(record));
  ExpectFields(r.fields);
  EXPECT_TRUE(IsUnknown(r.at()));

  // A procedure whose signature pointer holds its own address: no
  // signature is walked behind it.
  const ea_t procedure = kBase + 0x300;
  Layout proc = Block(procedure, 21, "TProc");
  proc.Ref(proc.at(), "ProcSig").NoAttributes();
  EXPECT_EQ(Align4(proc.at()), Run(procedure));
  ExpectFields(proc.fields);

  // A class whose extended property entry points to itself: the records
  // behind the table are not walked.
  const ea_t box = kBase + 0x400;
  Layout b = Block(box, 7, "TB");
  b.Ref(kBase + 0x800, "ClassType").Ref(0, "ParentInfo").Word(0, "PropCount");
  b.Name("Shapes", "UnitName").Word(0, "PropCount of PropData");
  b.Word(1, "PropCount of PropDataEx").Byte(2, "Flags:mvPublic");
  b.Ref(b.at() - 1, "Info:PPropInfo").NoAttributes();
  b.NoAttributes().Word(0, "ArrayPropCount");
  EXPECT_EQ(b.at(), Run(box));
  ExpectFields(b.fields);
  EXPECT_TRUE(IsUnknown(b.at()));
}

// Method and field tables of classes: the extended entries behind the
// published ones.
struct NewerClassTablesTest : NewerLayoutTest {
  /// A method entry at `at` with a signature of one parameter; its end.
  Layout MethodEntry(ea_t at, ea_t code, const std::string &name) {
    Layout e(db, at);
    // The entry's head: its size, code address and name.
    e.Word(static_cast<uint16_t>(7 + name.size() + 9 + 14 + 2), "Len")
        .Ref(code, "Code")
        .Name(name, "Name");
    e.Byte(3, "Version").Byte(0, "CC:ccReg").Ref(0, "ResultType:PPTypeInfo");
    e.Word(8, "ParOff").Byte(1, "ParamCount");
    e.Byte(8, "pfAddress").Ref(kBase + 0x100, "ParamType:PPTypeInfo").Word(0, "ParOff");
    e.Name("Self", "ParamName").NoAttributes();
    e.NoAttributes();
    return e;
  }
};

TEST_F(NewerClassTablesTest, InitTableTakesTheOperatorCountUnlessATableStartsThere) {
  // Kind 14, no name, size 0, one managed field; then the operator count of
  // the compilers since managed records, or at once the field table (which
  // the record points at) of the earlier ones.
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "field table behind the entries" : "operator count");
    const ea_t table = kBase + (earlier ? 0x500 : 0x400);
    db.PutDword(table, 14);
    db.PutWord(table + 4, 0);
    db.PutDword(table + 6, 1);
    db.PutDword(table + 10, kBase + 0x100);
    db.PutDword(table + 14, 8);
    const ea_t behind = table + 18;
    if (earlier) {
      db.PutDword(kBase + 0x700, behind);  // the record's FieldTable field
      ASSERT_EQ(1, make_offset_item(kBase + 0x700));
    }
    EXPECT_EQ(earlier ? behind : behind + 1, annotate_init_table(table, "TFoo"));
    EXPECT_EQ(!earlier, HasItem(behind, ItemType::kByte, 1));
    EXPECT_EQ(earlier ? "" : "NumOps", TestDb::Comment(behind));
  }
}

TEST_F(NewerClassTablesTest, MethodTableNamesTheMethodsOfItsExtendedEntries) {
  const ea_t table = kBase + 0x400;
  const ea_t click = kCode + 0x40, create = kCode + 0x50;
  Layout t(db, table);
  t.Word(1, "MethodTable Count").Word(12, "Len").Ref(click, "Code").Name("Click", "Name");
  const ea_t behind = kBase + 0x600;  // behind the class name, say
  t.Word(2, "MethodTable ExCount");
  t.Ref(behind, "MethodEntry").Word(0x42, "Flags").Word(0xFFF4, "VirtualIndex");
  // A method the linker left out points to data of another segment.
  const ea_t left_out = behind + 0x40;
  t.Ref(left_out, "MethodEntry").Word(0x42, "Flags").Word(0xFFF4, "VirtualIndex");
  t.Word(3, "VirtCount");
  const Layout created = MethodEntry(behind, create, "Create");
  const Layout dropped = MethodEntry(left_out, kOtherSegment, "Dispose");

  EXPECT_EQ(t.at(), annotate_method_table(table, "TForm1"));
  ExpectFields(t.fields);
  ExpectFields(created.fields);
  ExpectFields(dropped.fields);
  EXPECT_EQ("TForm1_method_list", TestDb::Name(table));
  EXPECT_EQ("TForm1@Click", TestDb::Name(click));
  EXPECT_EQ("TForm1@Create", TestDb::Name(create));
  EXPECT_TRUE(StartsFunction(create));
  EXPECT_EQ(std::string::npos, TestDb::Name(kOtherSegment).find('@'));
  EXPECT_FALSE(StartsFunction(kOtherSegment));
}

TEST_F(NewerClassTablesTest, ReadingFindsTheExtendedPartAndTheEntriesBehindTheName) {
  // Two listed entries one behind the other, then an entry of the same
  // shape the table does not list.
  const ea_t table = kBase + 0x400;
  const ea_t behind = kBase + 0x600;
  Layout t(db, table);
  t.Word(1).Word(12).Ref(kCode).Name("Click");
  const ea_t extended = t.at();
  const Layout first = MethodEntry(behind, kCode + 0x10, "Create");
  const Layout second = MethodEntry(first.at(), kCode + 0x20, "Destroy");
  MethodEntry(second.at(), kCode + 0x30, "Free");
  t.Word(2).Ref(first.at()).Word(0).Word(0).Ref(behind).Word(0).Word(0).Word(0);

  const MethodTableReading reading = read_method_table(table);
  EXPECT_EQ(table, reading.table);
  EXPECT_TRUE(reading.held);
  EXPECT_EQ(t.at(), reading.end);
  EXPECT_EQ(extended, reading.extended);
  EXPECT_EQ(second.at(), method_entries_behind(&reading, behind));
  EXPECT_EQ(second.at(), method_entries_behind(&reading, first.at()));
  EXPECT_EQ(behind + 2, method_entries_behind(&reading, behind + 2));

  // Without an extended part nothing lies behind the name; bytes of
  // another shape are not held and lead nowhere either.
  const ea_t plain = kBase + 0x800;
  Layout p(db, plain);
  p.Word(1).Word(12).Ref(kCode).Name("Click");
  db.PutShortString(p.at(), "TForm1");
  const MethodTableReading published = read_method_table(plain);
  EXPECT_TRUE(published.held);
  EXPECT_EQ(BADADDR, published.extended);
  EXPECT_EQ(p.at(), method_entries_behind(&published, p.at()));

  const ea_t overrun = kBase + 0x900;
  db.PutWord(overrun, 3);
  db.PutWord(overrun + 2, 0x7000);
  const MethodTableReading other = read_method_table(overrun);
  EXPECT_FALSE(other.held);
  EXPECT_EQ(behind, method_entries_behind(&other, behind));
}

TEST_F(NewerClassTablesTest, MethodTableWithoutExtendedEntriesOrOfAnotherShape) {
  // The first compilers of the layout: the published entries, then the
  // class name.
  const ea_t table = kBase + 0x400;
  Layout t(db, table);
  t.Word(1, "MethodTable Count").Word(12, "Len").Ref(kCode, "Code").Name("Click", "Name");
  db.PutShortString(t.at(), "TForm1");
  EXPECT_EQ(t.at(), annotate_method_table(table, "TForm1"));
  ExpectFields(t.fields);
  EXPECT_TRUE(IsUnknown(t.at()));

  // An extended entry that points into itself leads to no method entry;
  // bytes taken for a table whose entries overrun it are left alone.
  const ea_t self = kBase + 0x500;
  Layout s(db, self);
  s.Word(0).Word(1).Ref(self + 4).Word(0).Word(0).Word(0);
  EXPECT_EQ(self + 2, annotate_method_table(self, "TForm2"));
  EXPECT_TRUE(HasItem(self, ItemType::kWord, 2));
  EXPECT_TRUE(IsUnknown(self + 2));

  const ea_t overrun = kBase + 0x600;
  db.PutWord(overrun, 3);
  db.PutWord(overrun + 2, 0x7000);
  EXPECT_EQ(overrun, annotate_method_table(overrun, "TForm3"));
  EXPECT_TRUE(IsUnknown(overrun));
  EXPECT_EQ("", TestDb::Name(overrun));
}

TEST_F(NewerClassTablesTest, FieldTableWithExtendedEntries) {
  const ea_t table = kBase + 0x400;
  Layout t(db, table);
  t.Word(1, "FieldTable Count").Dword(0);
  // The published entry: its offset and class index share three words.
  db.PutDword(t.at(), 0x10);
  t.Skip(6).Name("Button1");
  t.Word(1, "FieldTable ExCount");
  t.Byte(0, "Flags:mvPrivate").Ref(kBase + 0x100, "TypeRef:PPTypeInfo");
  t.Dword(0x14, "Offset").Name("FCount").NoAttributes();

  EXPECT_EQ(Align4(t.at()), annotate_field_table(table, "TForm1"));
  ExpectFields(t.fields);
  EXPECT_TRUE(HasItem(table + 6, ItemType::kWord, 6));
}

}  // namespace
