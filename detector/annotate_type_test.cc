#include "detector/annotate_type.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "samples/sample_program.h"
#include "samples/type_info.h"
#include "testing/item_expectations.h"
#include "testing/sample_db.h"

namespace {

using kernel::ItemType;

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kEnd = 0x00411000;

struct AnnotateTypeTest : testing::Test {
  /// Lays a block's reference cell, kind and name at `s`; the address of
  /// its type data.
  ea_t PutBlock(ea_t s, uint8_t kind, const std::string &name) {
    db.PutDword(s, s + 4);
    db.PutByte(s + 4, kind);
    db.PutShortString(s + 5, name);
    return s + 6 + static_cast<ea_t>(name.size());
  }

  ea_t Run(ea_t start) { return annotate_type_infos(start, &more); }

  TestDb db{kBase, kEnd - kBase};
  RecordingUi ui;
  int32_t more = -1;
};

/// An item expected after a walk: where, what, and its comment ("" none).
struct Field {
  ea_t ea;
  ItemType type;
  asize_t size;
  const char *comment;
};

void ExpectFields(const std::vector<Field> &fields) {
  for (const Field &f : fields) {
    SCOPED_TRACE(testing::Message() << std::hex << f.ea);
    EXPECT_TRUE(HasItem(f.ea, f.type, f.size));
    EXPECT_EQ(f.comment, TestDb::Comment(f.ea));
  }
}

TEST_F(AnnotateTypeTest, EnumerationOfTheWorkedExample) {
  const ea_t s = kBase + 0x100;
  ASSERT_EQ(s + 16, PutBlock(s, 3, "TColorMode"));
  db.PutByte(s + 16, 1);
  db.PutDword(s + 17, 0);
  db.PutDword(s + 21, 1);
  db.PutDword(s + 25, s);
  db.PutShortString(s + 29, "cmRed");
  db.PutShortString(s + 35, "cmGreen");
  db.PutShortString(s + 43, "Modes");

  EXPECT_EQ(s + 52, Run(s));
  EXPECT_EQ(1, more);
  ExpectFields({
      {s, ItemType::kOffset, 4, ""},
      {s + 5, ItemType::kPString, 11, ""},
      {s + 16, ItemType::kByte, 1, "OrdType:uchar - min/max"},
      {s + 17, ItemType::kDword, 8, "MinValue..MaxValue"},
      {s + 25, ItemType::kOffset, 4, "BaseType:PPTypeInfo"},
      {s + 29, ItemType::kPString, 6, "NameList"},
      {s + 35, ItemType::kPString, 8, ""},
      {s + 43, ItemType::kPString, 6, "EnumUnitName"},
      {s + 49, ItemType::kAlign, 3, ""},
  });
  EXPECT_TRUE(HasItem(s + 4, ItemType::kByte, 1));
  EXPECT_EQ("Enumeration", TestDb::Comment(s + 4));
  EXPECT_EQ("_type_TColorMode", TestDb::Name(s + 4));
  EXPECT_EQ("offset_type_TColorMode", TestDb::Name(s));
  EXPECT_EQ(std::vector<ea_t>{s + 52}, ui.jumps);
}

TEST_F(AnnotateTypeTest, StartWithoutABlockAddressChangesNothing) {
  for (uint32_t cell : {0u, kBase - 1, kEnd, 0xFFFFFFFFu}) {
    SCOPED_TRACE(cell);
    db.PutDword(kBase + 0x100, cell);
    more = -1;
    EXPECT_EQ(0u, Run(kBase + 0x100));
    EXPECT_EQ(0, more);
  }
  int items = 0;
  db.db().ForEachItem([&](const kernel::Item &) { ++items; });
  EXPECT_EQ(0, items);
  EXPECT_TRUE(db.db().Structures().empty());
  EXPECT_TRUE(ui.jumps.empty());
}

TEST_F(AnnotateTypeTest, RunOfThreeBlocksEndsAtTheAlignedEnd) {
  const ea_t a = kBase + 0x200;
  ea_t p = PutBlock(a, 1, "TAge");
  db.PutByte(p, 4);
  db.PutDword(p + 1, 0);
  db.PutDword(p + 5, 150);
  const ea_t b = a + 20;
  PutBlock(b, 10, "AnsiString");  // 16 bytes
  const ea_t c = b + 16;
  p = PutBlock(c, 4, "Real");
  db.PutByte(p, 1);

  EXPECT_EQ(c + 12, Run(a));
  EXPECT_EQ(1, more);
  ExpectFields({{a + 10, ItemType::kByte, 1, "OrdType:long - min/max"},
                {a + 11, ItemType::kDword, 8, "MinValue..MaxValue"},
                {a + 19, ItemType::kAlign, 1, ""},
                {c + 10, ItemType::kByte, 1, "FloatType:ftDouble"},
                {c + 11, ItemType::kAlign, 1, ""}});
  const struct {
    ea_t s;
    const char *name, *kind;
  } blocks[] = {{a, "_type_TAge", "Integer"},
                {b, "_type_AnsiString", "LString"},
                {c, "_type_Real", "Float"}};
  for (const auto &block : blocks) {
    SCOPED_TRACE(block.name);
    EXPECT_EQ(block.name, TestDb::Name(block.s + 4));
    EXPECT_EQ(std::string("offset") + block.name, TestDb::Name(block.s));
    EXPECT_EQ(block.kind, TestDb::Comment(block.s + 4));
  }
}

TEST_F(AnnotateTypeTest, BlockEndingWhereAFunctionBeginsStepsBackOneAddress) {
  const ea_t s = kBase + 0x100;
  PutBlock(s, 10, "X");  // ends at s + 7
  db.PutByte(s + 8, 0xC3);
  ASSERT_EQ(1, add_func(s + 8, BADADDR));
  EXPECT_EQ(s + 7, Run(s));
  EXPECT_EQ(1, more);
  EXPECT_EQ(std::vector<ea_t>{s + 7}, ui.jumps);
}

TEST_F(AnnotateTypeTest, BlockFailingTheNameTestEndsTheRunWithoutGoingOn) {
  const ea_t a = kBase + 0x100, b = a + 8, c = b + 8;
  PutBlock(a, 11, "W");
  PutBlock(b, 12, "V");
  db.PutDword(c, kBase);  // an address, but not of the kind byte behind it
  db.PutByte(c + 4, 1);
  db.PutShortString(c + 5, "Bad");
  EXPECT_EQ(c, Run(a));
  EXPECT_EQ(0, more);
  EXPECT_EQ("_type_W", TestDb::Name(a + 4));
  EXPECT_EQ("_type_V", TestDb::Name(b + 4));
  EXPECT_EQ("WString", TestDb::Comment(a + 4));
  EXPECT_EQ("Variant", TestDb::Comment(b + 4));
  EXPECT_TRUE(IsUnknown(c));
}

TEST_F(AnnotateTypeTest, KindsWithoutTypeDataWalkNoField) {
  const char *const kinds[] = {"LString", "WString", "Variant"};
  for (uint8_t kind = 10; kind <= 12; ++kind) {
    SCOPED_TRACE(kind);
    const ea_t s = kBase + 0x100 * kind;
    const ea_t data = PutBlock(s, kind, "Ab");
    db.PutDword(data, 0x01020304);  // a byte a walk would take, no address
    EXPECT_EQ(data, Run(s));
    EXPECT_TRUE(IsUnknown(data));
    EXPECT_EQ(kinds[kind - 10], TestDb::Comment(s + 4));
    EXPECT_EQ("offset_type_Ab", TestDb::Name(s).substr(0, 14));
  }
}

TEST_F(AnnotateTypeTest, EnumerationNamesAreWalkedOnlyForItsOwnBaseType) {
  const ea_t own = kBase + 0x100, sub = kBase + 0x200;
  for (ea_t s : {own, sub}) {
    const ea_t p = PutBlock(s, 3, "TE");
    db.PutByte(p, 0);
    db.PutDword(p + 1, 0);
    db.PutDword(p + 5, 2);
    db.PutDword(p + 9, s == own ? own : kBase + 0x400);
    db.PutShortString(p + 13, "a");
    db.PutShortString(p + 15, "bb");
    db.PutShortString(p + 18, "c");
    db.PutShortString(p + 20, "Unit");
    db.PutShortString(p + 25, "Extra");
  }
  Run(own);
  const ea_t names = own + 8 + 13;
  ExpectFields({{names, ItemType::kPString, 2, "NameList"},
                {names + 2, ItemType::kPString, 3, ""},
                {names + 5, ItemType::kPString, 2, ""},
                {names + 7, ItemType::kPString, 5, "EnumUnitName"},
                {names + 12, ItemType::kPString, 6, ""}});

  Run(sub);
  const ea_t after_base = sub + 8 + 13;
  ExpectFields({{after_base, ItemType::kPString, 2, "EnumUnitName"},
                {after_base + 2, ItemType::kPString, 3, ""}});
}

TEST_F(AnnotateTypeTest, OrdTypeSevenSkipsAnIntegerButNotASet) {
  const ea_t integer = kBase + 0x100, set = kBase + 0x200;
  db.PutByte(PutBlock(integer, 1, "TOdd_7"), 7);
  const ea_t set_data = PutBlock(set, 6, "TOddSet");
  db.PutByte(set_data, 7);
  db.PutDword(set_data + 1, integer);
  Run(integer);
  EXPECT_TRUE(IsUnknown(integer + 12));
  EXPECT_EQ("", TestDb::Comment(integer + 12));
  EXPECT_EQ("Integer", TestDb::Comment(integer + 4));
  EXPECT_EQ("_type_TOdd_7", TestDb::Name(integer + 4));
  Run(set);
  ExpectFields({{set_data, ItemType::kByte, 1, ""},
                {set_data + 1, ItemType::kOffset, 4, "CompType:PPTypeInfo"}});
}

TEST_F(AnnotateTypeTest, UnnamedMethodKeepsItsEmptyNameByte) {
  const ea_t s = kBase + 0x100;
  PutBlock(s, 8, "");
  db.PutByte(s + 6, 0);  // procedure
  db.PutByte(s + 7, 1);
  db.PutByte(s + 8, 0);
  db.PutShortString(s + 9, "Sender");
  db.PutShortString(s + 16, "TObject");
  Run(s);
  ExpectFields({{s + 5, ItemType::kByte, 1, ""},
                {s + 6, ItemType::kByte, 1, "MethodKind:Procedure"},
                {s + 7, ItemType::kByte, 1, "mParamCount"},
                {s + 8, ItemType::kByte, 1, ""},
                {s + 9, ItemType::kPString, 7, "ParamName"},
                {s + 16, ItemType::kPString, 8, "ParamType"}});
  EXPECT_EQ("_type_unnamed_method", TestDb::Name(s + 4));
  EXPECT_EQ("offset_type_unnamed_method", TestDb::Name(s));
}

TEST_F(AnnotateTypeTest, MethodKindNineOnlySweepsStrings) {
  const ea_t s = kBase + 0x100;
  const ea_t p = PutBlock(s, 8, "TBadFn");
  db.PutByte(p, 9);
  db.PutByte(p + 1, 1);
  db.PutShortString(p + 3, "Sender");
  Run(s);
  EXPECT_TRUE(IsUnknown(p));
  EXPECT_TRUE(IsUnknown(p + 1));
  EXPECT_EQ("", TestDb::Comment(p));
  EXPECT_EQ("", TestDb::Comment(p + 1));
  EXPECT_EQ("Method", TestDb::Comment(s + 4));
}

TEST_F(AnnotateTypeTest, FunctionParametersFlagsAndResultType) {
  const ea_t s = kBase + 0x100;
  ea_t p = PutBlock(s, 8, "TFn");  // s + 9
  db.PutByte(p, 1);
  db.PutByte(p + 1, 4);
  p += 2;
  std::vector<ea_t> flags;
  for (uint8_t value : {3, 0, 7, 64}) {
    flags.push_back(p);
    db.PutByte(p, value);
    db.PutShortString(p + 1, "A");
    db.PutShortString(p + 3, "B");
    p += 5;
  }
  const ea_t result = p;
  db.PutShortString(result, "Integer");  // s + 31 to s + 38, then filler
  const ea_t reference = s + 40;
  db.PutDword(reference, kBase);
  Run(s);
  EXPECT_EQ("pfVar | pfConst", TestDb::Comment(flags[0]));
  for (int i = 1; i < 4; ++i) {
    EXPECT_TRUE(HasItem(flags[i], ItemType::kByte, 1));
    EXPECT_EQ("", TestDb::Comment(flags[i]));
  }
  ExpectFields({{s + 9, ItemType::kByte, 1, "MethodKind:Function"},
                {s + 10, ItemType::kByte, 1, "mParamCount"},
                {result, ItemType::kPString, 8, "ResultType"},
                {s + 39, ItemType::kAlign, 1, ""},
                {reference, ItemType::kOffset, 4, ""},
                // A zero byte and four zero parameter type references.
                {reference + 4, ItemType::kByte, 1, ""},
                {reference + 5, ItemType::kDword, 4, ""},
                {reference + 17, ItemType::kDword, 4, ""}});
}

TEST_F(AnnotateTypeTest, OnlyFunctionKindsHaveAResultType) {
  const struct {
    uint8_t kind;
    const char *kind_text, *result_text;
  } cases[] = {{5, "MethodKind:ClassFunction", "ResultType"},
               {7, "MethodKind:SafeFunction", "ResultType"},
               {6, "MethodKind:SafeProcedure", ""},
               {4, "MethodKind:ClassProcedure", ""}};
  ea_t s = kBase + 0x100;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.kind_text);
    const ea_t p = PutBlock(s, 8, "TFn");  // s + 9
    db.PutByte(p, c.kind);
    db.PutShortString(p + 2, "Integer");
    Run(s);
    ExpectFields({{p, ItemType::kByte, 1, c.kind_text},
                  {p + 2, ItemType::kPString, 8, c.result_text}});
    s += 0x40;
  }
}

TEST_F(AnnotateTypeTest, DynamicArrayVarTypeTexts) {
  const struct {
    uint32_t var_type;
    const char *text;
  } cases[] = {{3, "varType:varInteger"},
               {15, "varType:undefined"},
               {20, "varType:varInt64"},
               {21, "varType:Unknown or Undefined"},
               {256, "varType:Unknown or Undefined"},
               {0xFFFFFFFF, "varType:Unknown or Undefined"}};
  ea_t s = kBase + 0x100;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.var_type);
    const ea_t p = PutBlock(s, 17, "TDyn");  // s + 10
    db.PutDword(p, 4);
    db.PutDword(p + 4, kBase);
    db.PutDword(p + 8, c.var_type);
    db.PutDword(p + 12, 0);
    db.PutShortString(p + 16, "Dyn");
    Run(s);
    ExpectFields({{p, ItemType::kDword, 4, "elSize"},
                  {p + 4, ItemType::kOffset, 4, "elType:^pDynArrayTypeInfo"},
                  {p + 8, ItemType::kDword, 4, c.text},
                  {p + 12, ItemType::kDword, 4, "varAddress:PPTypeInfo"},
                  {p + 16, ItemType::kPString, 4, "DynUnitName"}});
    s += 0x40;
  }
}

TEST_F(AnnotateTypeTest, InterfaceWithoutPropertyData) {
  const ea_t s = kBase + 0x100;
  const ea_t p = PutBlock(s, 15, "IFoo");  // s + 10
  db.PutDword(p, 0);
  db.PutByte(p + 4, 1);
  db.PutShortString(p + 21, "Units");
  const ea_t count = p + 27;
  db.PutWord(count + 2, 0xFFFF);
  Run(s);
  ExpectFields({{p, ItemType::kDword, 4, "IntfParent"},
                {p + 4, ItemType::kByte, 1, "IntfFlags"},
                {p + 5, ItemType::kDword, 16, "TGUID"},
                {p + 21, ItemType::kPString, 6, "IntfUnit"},
                {count, ItemType::kWord, 4, "PropCount"}});
  EXPECT_EQ("_obj_IFoo", TestDb::Name(s + 4));
}

TEST_F(AnnotateTypeTest, UsersNameStaysUnlessItHoldsAMarker) {
  const struct {
    const char *before, *after;
  } cases[] = {{"TAgeRange", "TAgeRange"}, {"my_dword_list", "_type_TAge"}};
  ea_t s = kBase + 0x100;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.before);
    PutBlock(s, 10, "TAge");
    ASSERT_EQ(1, do_name_anyway(s + 4, c.before, 0));
    Run(s);
    EXPECT_EQ(c.after, TestDb::Name(s + 4));
    EXPECT_EQ("LString", TestDb::Comment(s + 4));
    s += 0x40;
  }
}

/// Class types, with their published property records.
struct ClassTypeTest : AnnotateTypeTest {
  /// A class type at `s` in unit "Shapes" with `count` in its property
  /// data word and `records` records named "P" behind it; the address of
  /// the first record.
  ea_t PutClassType(ea_t s, const std::string &name, uint16_t count, int records,
                    uint32_t getter = 0) {
    const ea_t p = PutBlock(s, 7, name);
    db.PutDword(p, kBase);
    db.PutDword(p + 4, 0);
    db.PutWord(p + 8, count);
    db.PutShortString(p + 10, "Shapes");
    db.PutWord(p + 17, count);
    ea_t r = p + 19;
    for (int i = 0; i < records; ++i, r += 28) {
      db.PutDword(r, kBase);
      db.PutDword(r + 4, getter);
      db.PutShortString(r + 26, "P");
    }
    return p + 19;
  }

  static int TPropInfoCount() {
    int n = 0;
    for (const kernel::Structure &s : kernel::TheDatabase().Structures())
      n += s.name == "TPropInfo";
    return n;
  }
};

TEST_F(ClassTypeTest, PropertyCountsFromOneTo512AreWalked) {
  const struct {
    uint16_t count;
    bool walked;
  } cases[] = {{0, false}, {512, true}, {513, false}};
  ea_t s = kBase + 0x100;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.count);
    const ea_t records = PutClassType(s, "TBox", c.count, 513);
    Run(s);
    EXPECT_EQ("PropCount of PropData", TestDb::Comment(records - 2));
    EXPECT_EQ(c.walked, HasItem(records, ItemType::kStruct, 26));
    EXPECT_EQ(c.walked, HasItem(records + 511 * 28, ItemType::kStruct, 26));
    EXPECT_TRUE(IsUnknown(records + 512 * 28));
    s = (records + 513 * 28 + 3) & ~3u;
  }
}

TEST_F(ClassTypeTest, ClassTypeNamesItsAccessorsAfterItsUnitAndReusesTPropInfo) {
  const ea_t getter = kBase + 0x1800;
  db.PutByte(getter, 0xC3);
  const ea_t first = kBase + 0x100;
  const ea_t p = first + 12;
  PutClassType(first, "TShape", 1, 1, getter);
  EXPECT_EQ(first + 60, Run(first));
  ExpectFields({{p, ItemType::kOffset, 4, "ClassType"},
                {p + 4, ItemType::kDword, 4, "ParentInfo"},
                {p + 8, ItemType::kWord, 2, "PropCount"},
                {p + 10, ItemType::kPString, 7, "UnitName"},
                {p + 17, ItemType::kWord, 2, "PropCount of PropData"},
                {p + 19, ItemType::kStruct, 26, ""},
                {p + 45, ItemType::kPString, 2, ""}});
  EXPECT_EQ("_obj_TShape", TestDb::Name(first + 4));
  EXPECT_EQ("offset_obj_TShape", TestDb::Name(first));
  EXPECT_EQ("Class", TestDb::Comment(first + 4));
  EXPECT_TRUE(StartsFunction(getter));
  EXPECT_EQ("TShape@Shapes@GetPProc", TestDb::Name(getter));
  EXPECT_EQ(1, TPropInfoCount());

  const ea_t second = kBase + 0x200;
  const ea_t records = PutClassType(second, "TCircle", 1, 1);
  Run(second);
  EXPECT_TRUE(HasItem(records, ItemType::kStruct, 26));
  EXPECT_EQ(1, TPropInfoCount());
}

TEST_F(AnnotateTypeTest, CountsFromTheProgramEndWithinTheSegment) {
  // An enumeration that is its own base with 2^32 - 1 names and none there.
  const ea_t e = kBase + 0x100;
  const ea_t p = PutBlock(e, 3, "TE");
  db.PutDword(p + 1, 1);
  db.PutDword(p + 5, 0);
  db.PutDword(p + 9, e);
  EXPECT_EQ(p + 16, Run(e));
  EXPECT_EQ("NameList", TestDb::Comment(p + 13));

  // A record of 2^31 - 1 fields over zeros: every pass makes two dwords
  // until the segment ends.
  const ea_t r = kBase + 0x200;
  db.PutDword(PutBlock(r, 14, "TR") + 4, 0x7FFFFFFF);
  EXPECT_EQ(kEnd, Run(r));
  EXPECT_TRUE(HasItem(kEnd - 4, ItemType::kDword, 4));
}

TEST(AnnotateTypeBytesTest, AnyBytesBehindABlockHeaderEnd) {
  constexpr asize_t kSize = 0x1000;
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1103515245u + 12345u, state >> 8; };
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    TestDb db{kBase, kSize};
    // Mostly zeros, addresses of the segment, small counts and text: what
    // makes the walks go on longest.
    for (ea_t ea = kBase; ea < kBase + kSize; ea += 4) {
      const uint32_t r = next();
      const uint32_t v[] = {0, kBase + r % kSize, r % 9, 0x41424300u | (r % 7), r};
      db.PutDword(ea, v[r % 5]);
    }
    std::vector<ea_t> starts;
    for (int i = 0; i < 6; ++i) {
      const ea_t s = kBase + (next() % (kSize - 0x40)) / 4 * 4;
      db.PutDword(s, s + 4);
      db.PutByte(s + 4, static_cast<uint8_t>(1 + next() % 17));
      db.PutShortString(s + 5, "T" + std::string(1, static_cast<char>('a' + i)));
      starts.push_back(s);
    }
    for (ea_t s : starts) {
      int32_t more = -1;
      const ea_t end = annotate_type_infos(s, &more);
      EXPECT_TRUE(end == 0 || (end <= kBase + kSize && end >= kBase)) << std::hex << end;
      EXPECT_TRUE(more == 0 || more == 1);
    }
  }
}

/// The sample program loaded into the database with the user's names and
/// comments, as the host shows it before the detector runs.
struct SampleTest : testing::Test {
  void SetUp() override {
    LoadSample(db, program);
    ApplySeed(program);
    for (const samples::SeedEntry &seed : program.seeds) {
      if (!seed.is_comment) seeded_names.push_back(seed.text);
    }
  }

  /// True when `name` is `expected` or the host's unique form of it.
  static bool IsNameOrUniqueForm(const std::string &name, const std::string &expected) {
    return name == expected || name.rfind(expected + "_", 0) == 0;
  }

  bool IsSeeded(const std::string &name) const {
    for (const std::string &s : seeded_names)
      if (s == name) return true;
    return false;
  }

  const samples::SampleProgram program = samples::BuildSample({});
  TestDb db;
  std::vector<std::string> seeded_names;
};

TEST_F(SampleTest, EveryTypeInformationBlockIsAnnotatedAndNamed) {
  ASSERT_FALSE(program.types.empty());
  // Each run of adjacent blocks is walked as the detector walks it: again
  // from the position reached for as long as the walk advances and may go
  // on. A block the walk cannot step over (an integer whose OrdType it does
  // not know) ends the walk inside it; the search for candidates then finds
  // the next block.
  for (size_t i = 0; i < program.types.size(); ++i) {
    if (i > 0 && program.types[i].cell == ((program.types[i - 1].end + 3) & ~3u))
      continue;
    size_t last = i;
    while (last + 1 < program.types.size() &&
           program.types[last + 1].cell == ((program.types[last].end + 3) & ~3u))
      ++last;
    const ea_t run_end = program.types[last].end;
    ea_t q = program.types[i].cell;
    while (q < run_end) {
      const ea_t from = q;
      int32_t more = 1;
      while (more > 0) {
        const ea_t r = annotate_type_infos(q, &more);
        if (r <= q) break;
        q = r;
      }
      if (q < run_end) q = find_next_group(q > from ? q : from + 4);
    }
  }

  for (const samples::TypeEntry &t : program.types) {
    SCOPED_TRACE(t.name.empty() ? "unnamed method" : t.name);
    const std::string name =
        std::string(t.kind == 7 || t.kind == 15 ? "_obj_" : "_type_") +
        (t.name.empty() ? "unnamed_method" : t.name);
    const std::string given = TestDb::Name(t.cell + 4);
    // A user's name stays unless it holds a marker such as "dword_".
    EXPECT_TRUE(IsNameOrUniqueForm(given, name) ||
                (IsSeeded(given) && given.find("dword_") == std::string::npos))
        << given;
    EXPECT_TRUE(IsNameOrUniqueForm(TestDb::Name(t.cell), "offset" + name));
    EXPECT_EQ(samples::KindName(t.kind), TestDb::Comment(t.cell + 4));
    EXPECT_TRUE(HasItem(t.cell, ItemType::kOffset, 4));
    EXPECT_TRUE(HasItem(t.cell + 4, ItemType::kByte, 1));

    for (const samples::PropEntry &prop : t.props) {
      SCOPED_TRACE(prop.name);
      EXPECT_TRUE(HasItem(prop.record, ItemType::kStruct, 26));
      EXPECT_TRUE(HasItem(prop.record + 26, ItemType::kPString,
                          static_cast<asize_t>(prop.name.size() + 1)));
      for (uint32_t accessor : {prop.get, prop.set, prop.stored}) {
        if (accessor < lowest_address() || accessor >= segment_end(prop.record)) continue;
        EXPECT_TRUE(StartsFunction(accessor));
        const std::string accessor_name = TestDb::Name(accessor);
        EXPECT_TRUE(accessor_name.rfind(t.name + "@" + t.unit + "@", 0) == 0 ||
                    IsSeeded(accessor_name))
            << accessor_name;
      }
    }
  }
}

}  // namespace
