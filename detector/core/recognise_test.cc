#include "detector/core/recognise.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "testing/test_db.h"

namespace {

constexpr ea_t kBase = 0x00401000;
constexpr ea_t kSize = 0x1000;
constexpr ea_t kEnd = kBase + kSize;

struct RecogniseTest : testing::Test {
  TestDb db;
  void SetUp() override { db.AddSegment("CODE", kBase, kSize); }
};

TEST_F(RecogniseTest, ClassRecordIsRecognisedByItsShape) {
  db.PutClassRecord(kBase + 0x40, kBase + 0x200, "TForm1");
  EXPECT_EQ(1, is_class_record(kBase + 0x40));
  EXPECT_EQ(0, is_type_info(kBase + 0x40));
  EXPECT_STREQ("TForm1", get_record_name(kBase + 0x200, kBase + 0x40));
  EXPECT_STREQ("Class TForm1 of VritualTable", get_group_label(kBase + 0x40));

  // SelfPtr is only tested for its range, not for pointing at the first slot.
  db.PutDword(kBase + 0x40, kBase);
  EXPECT_EQ(1, is_class_record(kBase + 0x40));
  db.PutDword(kBase + 0x40, kEnd - 1);
  EXPECT_EQ(1, is_class_record(kBase + 0x40));
}

TEST_F(RecogniseTest, ClassRecordWithAutoTableIsRejected) {
  db.PutClassRecord(kBase + 0x40, kBase + 0x200, "TForm1");
  db.PutDword(kBase + 0x48, 0x00401100);
  EXPECT_EQ(0, is_class_record(kBase + 0x40));
  EXPECT_EQ(nullptr, get_record_name(kBase + 0x200, kBase + 0x40));
}

TEST_F(RecogniseTest, ClassRecordPointersMustStayInTheRecordsRange) {
  const ea_t rec = kBase + 0x40;
  const ea_t name = kBase + 0x200;
  struct Case {
    const char *what;
    ea_t offset;  // field changed: 0 SelfPtr, 32 class name pointer
    ea_t value;
  } cases[] = {
      {"SelfPtr at the segment end", 0, kEnd},
      {"SelfPtr below the lowest address", 0, kBase - 4},
      {"SelfPtr far beyond", 0, 0x7FFFFFF0},
      {"name pointer at the segment end", 32, kEnd},
      {"name pointer below the lowest address", 32, kBase - 1},
      {"name pointer into another segment above", 32, 0x00410010},
  };
  db.AddSegment("DATA", 0x00410000, 0x100);
  db.PutShortString(0x00410010, "TOther");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    db.PutClassRecord(rec, name, "TForm1");
    ASSERT_EQ(1, is_class_record(rec));
    db.PutDword(rec + c.offset, c.value);
    EXPECT_EQ(0, is_class_record(rec));
    EXPECT_EQ(BADADDR, find_next_group(kBase));
  }
}

TEST_F(RecogniseTest, RangeReachesDownToTheLowestAddressAcrossSegments) {
  // The record lies in the second segment; a name in the first one is still
  // within its range, since the range starts at the program's lowest address.
  db.AddSegment("DATA", 0x00410000, 0x100);
  db.PutClassRecord(0x00410000, kBase + 0x10, "TLow");
  EXPECT_EQ(1, is_class_record(0x00410000));
  EXPECT_EQ(0x00410000u, find_next_group(kBase + 0x20));
}

TEST_F(RecogniseTest, TypeInfoKindsOneToSeventeenOnly) {
  const ea_t at = kBase + 0x100;
  for (int kind = 0; kind <= 0xFF; ++kind) {
    SCOPED_TRACE(kind);
    db.PutTypeInfo(at, static_cast<uint8_t>(kind), "TColor");
    const int expected = kind >= 1 && kind <= 17 ? 1 : 0;
    EXPECT_EQ(expected, is_type_info(at));
    EXPECT_EQ(expected ? at : BADADDR, find_next_group(at));
  }
  db.PutTypeInfo(at, 1, "TColor");
  EXPECT_STREQ("Type TColor of Integer", get_group_label(at));
  db.PutTypeInfo(at, 17, "TBytes");
  EXPECT_STREQ("Type TBytes of DynArray", get_group_label(at));
  EXPECT_EQ(nullptr, type_kind_name(0));
  EXPECT_EQ(nullptr, type_kind_name(18));
}

// ---- Layouts ----------------------------------------------------------------

struct LayoutTest : RecogniseTest {
  ~LayoutTest() override { set_class_layout(LAYOUT_CLASSIC); }
};

TEST(LayoutPredicateTest, EachLayoutAnswersWhatItHolds) {
  struct Row {
    int size, classic, self_pointer, exact_self_pointer, newer_type_data;
  } rows[] = {
      {LAYOUT_OLDEST, 0, 0, 0, 0},
      {LAYOUT_OLDER, 0, 1, 1, 0},
      {LAYOUT_CLASSIC, 1, 1, 0, 0},
      {LAYOUT_NEWEST, 0, 1, 1, 1},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.size);
    EXPECT_EQ(r.classic, classic_layout(r.size));
    EXPECT_EQ(r.self_pointer, has_self_pointer(r.size));
    EXPECT_EQ(r.exact_self_pointer, exact_self_pointer(r.size));
    EXPECT_EQ(r.newer_type_data, has_newer_type_data(r.size));
  }
}

TEST_F(LayoutTest, TheHeaderSizeWithTheMostOfTheFirst32WitnessesWins) {
  struct Case {
    const char *what;
    std::vector<ea_t> headers;  // one witness each, in address order
    int expected;
  } cases[] = {
      {"no witness", {}, 76},
      {"only 88", {88, 88, 88}, 88},
      {"only 64", {64}, 64},
      {"most 88", {64, 76, 88, 88}, 88},
      {"a tie of the two most", {64, 88, 88, 64, 76}, 76},
      {"a tie of all three", {64, 76, 88}, 76},
      {"32 of 64 before 40 of 88",
       [] {
         std::vector<ea_t> h(32, 64);
         h.insert(h.end(), 40, 88);
         return h;
       }(),
       64},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestDb fresh{kBase, 0x8000};
    const ea_t name = kBase + 0x10;
    fresh.PutShortString(name, "TList<System.Integer>");  // the wide name set counts
    ea_t at = kBase + 0x100;
    for (ea_t header : c.headers) {
      fresh.PutClassRecord(at, name, "TList<System.Integer>", header);
      at += 0x100;
    }
    EXPECT_EQ(c.expected, decide_class_layout());
    EXPECT_EQ(76, class_layout());  // deciding changes nothing
  }
}

TEST_F(LayoutTest, ClassicRecordsWhoseInitTableStartsAtTheirTableStayClassic) {
  // Without virtual methods of its own, a class's init table lies right at
  // its table: InitTable at A + 12 then holds (A + 12) + 64, and with an
  // empty FieldTable at A + 20 and a standard method whose code reads as a
  // name, A + 12 is a witness of 64 as well. Every such record gives one of
  // each, and the tie keeps the classic layout.
  const ea_t code = kBase + 0x800;
  db.PutShortString(code, "U");  // code that happens to read as a name
  for (ea_t a = kBase + 0x100; a < kBase + 0x500; a += 0x100) {
    db.PutClassRecord(a, kBase + 0x20, "TFoo");
    db.PutDword(a + 12, a + 76);  // InitTable
    db.PutDword(a + 44, code);    // SafeCallException
  }
  EXPECT_EQ(76, decide_class_layout());
  // One record more of the 64-byte layout tips the balance.
  db.PutClassRecord(kBase + 0x600, kBase + 0x20, "TFoo", 64);
  EXPECT_EQ(64, decide_class_layout());
}

TEST_F(LayoutTest, WitnessesBehindAGapBetweenSegmentsCount) {
  // The walk passes the gap at once; a segment starting off a four-byte
  // boundary is walked from its first aligned address.
  const ea_t far = 0x40000002;
  db.AddSegment("FAR", far, 0x1000);
  for (ea_t a = far + 0x102; a < far + 0x402; a += 0x100) {
    db.PutClassRecord(a, kBase + 0x20, "TFar", 88);
  }
  EXPECT_EQ(88, decide_class_layout());
}

TEST_F(LayoutTest, NewerLayoutsDemandSelfPtrAtTheFirstSlot) {
  const ea_t rec = kBase + 0x40;
  for (int header : {64, 76, 88}) {
    SCOPED_TRACE(header);
    set_class_layout(header);
    for (ea_t self : {76u, 64u, 88u, 0u, 4u}) {
      db.PutClassRecord(rec, kBase + 0x300, "TForm1", self);
      const int expected = header == 76 || static_cast<int>(self) == header ? 1 : 0;
      EXPECT_EQ(expected, is_class_record(rec)) << self;
    }
  }
}

// ---- The oldest layout: no SelfPtr, recognised by its link to TObject ----------

/// What recognition looks at in a record of the oldest layout at `at`: an
/// empty AutoTable and tables, the name pointer at +24, an instance size, the
/// parent's table (or 0) at +32 and four standard methods at code.
template <typename Db>
void PutOldestRecord(Db &db, ea_t at, ea_t name_at, std::string_view name,
                     ea_t parent_vmt) {
  for (ea_t f = 0; f < 24; f += 4) db.PutDword(at + f, 0);
  db.PutDword(at + 24, name_at);
  db.PutDword(at + 28, 8);
  db.PutDword(at + 32, parent_vmt);
  for (ea_t f = 36; f < 52; f += 4) db.PutDword(at + f, kBase + 0x10);
  db.PutShortString(name_at, name);
}

TEST_F(LayoutTest, ALinkedHierarchyWithoutAnyWitnessIsOfTheOldestLayout) {
  struct Case {
    const char *what;
    // Records at kBase + 0x100 * (i + 1), named by `names`; parent i (-1 for
    // none, -2 for code, -3 for the record's own table).
    std::vector<std::pair<std::string, int>> records;
    std::vector<ea_t> witnesses;  // SelfPtr witnesses of other layouts
    int expected;
  } cases[] = {
      {"a linked hierarchy",
       {{"TObject", -1}, {"TChild", 0}, {"TGrandChild", 1}},
       {},
       52},
      {"a child listed before its root", {{"TChild", 1}, {"TObject", -1}}, {}, 52},
      {"a lone TObject is no hierarchy", {{"TObject", -1}}, {}, 76},
      {"a root not named TObject", {{"TRoot", -1}, {"TChild", 0}}, {}, 76},
      {"a parent in code", {{"TObject", -1}, {"TChild", -2}}, {}, 76},
      {"a record its own parent", {{"TObject", -1}, {"TSelf", -3}}, {}, 76},
      {"two records each the other's parent", {{"TA", 1}, {"TB", 0}}, {}, 76},
      {"a hierarchy and one witness of 88", {{"TObject", -1}, {"TChild", 0}}, {88}, 88},
      {"a hierarchy and one witness of 76", {{"TObject", -1}, {"TChild", 0}}, {76}, 76},
      {"a hierarchy and one witness of 64", {{"TObject", -1}, {"TChild", 0}}, {64}, 64},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestDb fresh{kBase, 0x8000};
    auto record = [](size_t i) { return kBase + 0x100 * static_cast<ea_t>(i + 1); };
    for (size_t i = 0; i < c.records.size(); ++i) {
      const int parent = c.records[i].second;
      const ea_t vmt = parent >= 0    ? record(static_cast<size_t>(parent)) + 52
                       : parent == -1 ? 0
                       : parent == -2 ? kBase + 0x10
                                      : record(i) + 52;
      PutOldestRecord(fresh, record(i), record(i) + 0x80, c.records[i].first, vmt);
    }
    ea_t at = kBase + 0x4000;
    for (ea_t header : c.witnesses) {
      fresh.PutClassRecord(at, at + 0x80, "TWitness", header);
      at += 0x100;
    }
    EXPECT_EQ(c.expected, decide_class_layout());
  }
}

TEST_F(LayoutTest, OldestRecordsLinkWithinSixtyFourParents) {
  // A chain of 70 classes below TObject, each record's parent the one before.
  TestDb fresh{kBase, 0x10000};
  auto record = [](int i) { return kBase + 0x100 * static_cast<ea_t>(i + 1); };
  PutOldestRecord(fresh, record(0), record(0) + 0x80, "TObject", 0);
  for (int i = 1; i <= 70; ++i)
    PutOldestRecord(fresh, record(i), record(i) + 0x80, "TLevel", record(i - 1) + 52);
  set_class_layout(LAYOUT_OLDEST);
  EXPECT_EQ(1, is_class_record(record(0)));
  EXPECT_EQ(1, is_class_record(record(63)));
  EXPECT_EQ(1, is_class_record(record(64)));
  EXPECT_EQ(0, is_class_record(record(65)));
  EXPECT_EQ(0, is_class_record(record(70)));
  EXPECT_EQ(record(0), find_next_group(kBase));
  EXPECT_STREQ("Class TLevel of VritualTable", get_group_label(record(1)));
  EXPECT_STREQ("TLevel", get_record_name(record(1) + 0x80, record(1)));
  EXPECT_EQ(record(1) + 52, class_vmt(record(1)));
  EXPECT_EQ(record(1) + 24, class_field_at(record(1), FIELD_CLASS_NAME));
  EXPECT_EQ(BADADDR, class_field_at(record(1), FIELD_SELF_PTR));

  // A field that fails anywhere up the chain unlinks everything below it.
  fresh.PutDword(record(10) + 28, 0);  // no instance size
  EXPECT_EQ(1, is_class_record(record(9)));
  EXPECT_EQ(0, is_class_record(record(10)));
  EXPECT_EQ(0, is_class_record(record(11)));
  fresh.PutDword(record(10) + 28, 8);
  fresh.PutDword(record(5), 4);  // AutoTable not empty
  EXPECT_EQ(0, is_class_record(record(12)));
  fresh.PutDword(record(5), 0);
  fresh.PutDword(record(5) + 36, 0);  // a standard method outside the program
  EXPECT_EQ(0, is_class_record(record(12)));
  fresh.PutDword(record(5) + 36, kBase + 0x10);
  fresh.PutDword(record(5) + 8, kBase + 0x20);  // TypeInfo at no class block
  EXPECT_EQ(0, is_class_record(record(12)));
  fresh.PutByte(kBase + 0x20, KIND_CLASS);
  fresh.PutShortString(kBase + 0x21, "TLevel");
  EXPECT_EQ(1, is_class_record(record(12)));
}

TEST_F(LayoutTest, GenericNamesAndNewerKindsOnlyInTheNewestLayout) {
  const ea_t rec = kBase + 0x40, type = kBase + 0x400;
  for (int header : {64, 76, 88}) {
    SCOPED_TRACE(header);
    set_class_layout(header);
    const bool newest = header == 88;
    db.PutClassRecord(rec, kBase + 0x300, "TDictionary<System.string,System.`1>",
                      static_cast<ea_t>(header));
    EXPECT_EQ(newest ? 1 : 0, is_class_record(rec));
    EXPECT_STREQ(
        newest ? "Class TDictionary<System.string,System.`1> of VritualTable" : "",
        get_group_label(rec));
    const char *const kNewer[] = {"UString", "ClassRef", "Pointer", "Procedure",
                                  "MRecord"};
    for (int kind = 18; kind <= 22; ++kind) {
      db.PutTypeInfo(type, static_cast<uint8_t>(kind), "TNewer");
      EXPECT_EQ(newest ? 1 : 0, is_type_info(type)) << kind;
      EXPECT_STREQ(newest ? kNewer[kind - 18] : nullptr, type_kind_name(kind));
    }
    db.PutTypeInfo(type, 23, "TNewer");
    EXPECT_EQ(0, is_type_info(type));
  }
}

TEST_F(LayoutTest, Utf16TextIsNoClassRecordOfTheNewestLayout) {
  // "MenuText" in UTF-16 at an image base where "T\0e\0" reads as an
  // address of the program and the terminator as an empty AutoTable; a
  // pointer to a name happens to follow.
  TestDb wide{0x00650000, 0x10000};
  const ea_t text = 0x00650100;
  const std::u16string menu = u"MenuText";
  for (size_t i = 0; i <= menu.size(); ++i) {
    wide.PutWord(text + 2 * static_cast<ea_t>(i), i < menu.size() ? menu[i] : 0);
  }
  wide.PutDword(text + 8 + 32, 0x00650800);
  wide.PutShortString(0x00650800, "Caption");
  const ea_t candidate = text + 8;  // "T\0e\0x\0t\0", then the terminator
  ASSERT_EQ(0x00650054u, get_long(candidate));
  EXPECT_EQ(1, is_class_record(candidate));  // a classic record by its shape
  set_class_layout(88);
  EXPECT_EQ(0, is_class_record(candidate));
  EXPECT_EQ(BADADDR, find_next_group(0x00650000));
}

TEST_F(RecogniseTest, ReferenceCellMustHoldItsOwnAddressPlusFour) {
  const ea_t at = kBase + 0x100;
  for (int delta : {-8, -4, -1, 1, 2, 3, 4, 8, 0x100}) {
    SCOPED_TRACE(delta);
    db.PutTypeInfo(at, 7, "TForm1");
    db.PutDword(at, at + 4 + delta);
    EXPECT_EQ(0, is_type_info(at));
  }
}

TEST_F(RecogniseTest, MethodTypeWithoutNameUsesItsFirstParameter) {
  const ea_t at = kBase + 0x100;
  // Kind 8, empty name, method kind, one parameter: flags, then its name.
  db.PutTypeInfo(at, 8, "");
  db.PutByte(at + 6, 0);
  db.PutByte(at + 7, 1);
  db.PutByte(at + 8, 0);
  db.PutShortString(at + 9, "Sender");
  EXPECT_EQ(1, is_type_info(at));
  EXPECT_STREQ("unnamed_method", get_record_name(at + 5, at));
  EXPECT_STREQ("Type UnnamedMethod of Method", get_group_label(at));

  // The fallback belongs to method types alone, and needs a valid name.
  db.PutByte(at + 4, 7);
  EXPECT_EQ(0, is_type_info(at));
  db.PutByte(at + 4, 8);
  db.PutByte(at + 9, 0);
  EXPECT_EQ(0, is_type_info(at));
}

TEST_F(RecogniseTest, PascalNameAcceptsOnlyIdentifierBytes) {
  const std::string accepted =
      "$%&().0123456789:?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]_abcdefghijklmnopqrstuvwxyz";
  const ea_t at = kBase + 0x300;
  for (int c = 0; c <= 0xFF; ++c) {
    SCOPED_TRACE(c);
    // The byte under test last, behind an accepted one, so that a check that
    // stops early is caught as well.
    db.PutByte(at, 2);
    db.PutByte(at + 1, 'A');
    db.PutByte(at + 2, static_cast<uint8_t>(c));
    const bool ok = c != 0 && accepted.find(static_cast<char>(c)) != std::string::npos;
    const char *name = get_pascal_name(at, 0);
    if (ok) {
      ASSERT_NE(nullptr, name);
      EXPECT_EQ(std::string("A") + static_cast<char>(c), name);
    } else {
      EXPECT_EQ(nullptr, name);
    }
  }
}

TEST_F(RecogniseTest, PascalNameExamples) {
  const ea_t at = kBase + 0x300;
  for (const char *good : {"TForm1", "@Ptr", "Set$1", "1st", "Unit1.TForm1", "a:b[0]"}) {
    db.PutShortString(at, good);
    EXPECT_STREQ(good, get_pascal_name(at, 0));
  }
  for (const char *bad : {"T Form", "T-Form", "T+Form", "\xE9t\xE9", "TF\x7F"}) {
    db.PutShortString(at, bad);
    EXPECT_EQ(nullptr, get_pascal_name(at, 0)) << bad;
  }
  db.PutByte(at, 0);
  EXPECT_EQ(nullptr, get_pascal_name(at, 0));

  // The longest name a length byte can give.
  const std::string longest(255, 'x');
  db.PutShortString(at, longest);
  EXPECT_EQ(longest, get_pascal_name(at, 0));

  // Through a pointer.
  db.PutShortString(at, "TButton");
  db.PutDword(kBase + 0x10, at);
  EXPECT_STREQ("TButton", get_pascal_name(kBase + 0x10, 1));

  // A name running off the end of the segment reads 0xFF there.
  db.PutByte(kEnd - 2, 5);
  db.PutByte(kEnd - 1, 'A');
  EXPECT_EQ(nullptr, get_pascal_name(kEnd - 2, 0));
}

TEST_F(RecogniseTest, SegmentEndAndLowestAddress) {
  EXPECT_EQ(kEnd, segment_end(kBase));
  EXPECT_EQ(kEnd, segment_end(kEnd - 1));
  EXPECT_EQ(BADADDR, segment_end(kEnd));
  EXPECT_EQ(BADADDR, segment_end(0x10));
  EXPECT_EQ(kBase, lowest_address());
}

TEST_F(RecogniseTest, ProgramAddressesIncludeTheHighestButNotBelowTheLowest) {
  // A second segment above a gap: the program test spans the gap and takes
  // the highest address (0x00410100) itself; the record range of an address
  // in the first segment ends at that segment's end.
  db.AddSegment("DATA", 0x00410000, 0x100);
  struct Case {
    ea_t value;
    int in_program;
    int in_range_of_base;
  } cases[] = {
      {kBase - 1, 0, 0},  {kBase, 1, 1},      {kEnd - 1, 1, 1},   {kEnd, 1, 0},
      {0x00410000, 1, 0}, {0x004100FF, 1, 0}, {0x00410100, 1, 0}, {0x00410101, 0, 0},
      {0, 0, 0},          {BADADDR, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(c.in_program, is_program_address(c.value));
    EXPECT_EQ(c.in_range_of_base, in_record_range(c.value, kBase));
  }
}

TEST_F(RecogniseTest, SearchRoundsDownToFourAndSkipsUnalignedRecords) {
  db.PutTypeInfo(kBase + 0x100, 1, "TColor");
  EXPECT_EQ(kBase + 0x100, find_next_group(kBase));
  EXPECT_EQ(kBase + 0x100, find_next_group(kBase + 0x102));
  EXPECT_EQ(kBase + 0x100, find_next_group(kBase + 0x103));
  EXPECT_EQ(BADADDR, find_next_group(kBase + 0x104));

  // A record two bytes off a boundary is never found.
  db.PutTypeInfo(kBase + 0x100, 0, "");
  db.PutTypeInfo(kBase + 0x202, 1, "TColor");
  EXPECT_EQ(1, is_type_info(kBase + 0x202));
  EXPECT_EQ(BADADDR, find_next_group(kBase));
  EXPECT_EQ(BADADDR, find_next_group(kBase + 0x202));
}

TEST_F(RecogniseTest, SearchOutsideTheProgramFindsNothing) {
  db.PutTypeInfo(kBase + 0x100, 1, "TColor");
  EXPECT_EQ(BADADDR, find_next_group(kBase - 4));
  EXPECT_EQ(BADADDR, find_next_group(0));
  EXPECT_EQ(BADADDR, find_next_group(kEnd));
  EXPECT_EQ(BADADDR, find_next_group(BADADDR));
}

TEST_F(RecogniseTest, LabelOfNoCandidateIsEmpty) {
  EXPECT_STREQ("", get_group_label(BADADDR));
  EXPECT_STREQ("", get_group_label(kBase + 0x10));
}

TEST(RecogniseGapTest, SearchJumpsGapsBetweenSegmentsAndFindsWhatStepsWould) {
  TestDb db;
  db.AddSegment("CODE", kBase, kSize);
  db.AddSegment("FAR", 0x40000000, 0x100);
  db.AddSegment("ODD", 0xF0000002, 0x100);  // starts off a four-byte boundary
  db.PutTypeInfo(0x40000000, 1, "TFar");
  EXPECT_EQ(0x40000000u, find_next_group(kBase));
  EXPECT_EQ(0x40000000u, find_next_group(kEnd + 0x10));
  EXPECT_EQ(BADADDR, find_next_group(0x40000004));

  // The last step below an odd start reads two bytes of the gap (0xFF) and
  // two of the segment: a record there is found, as the steps found it.
  db.PutBytes(0xF0000002, {0x00, 0xF0});  // SelfPtr 0xF000FFFF
  db.PutDword(0xF0000008, 0);
  db.PutDword(0xF0000020, 0xF0000040);
  db.PutShortString(0xF0000040, "TOdd");
  EXPECT_EQ(0xF0000000u, find_next_group(0x40000004));
}

TEST(RecogniseWrapTest, SearchNeverWrapsPastTheTopOfTheAddressSpace) {
  TestDb db;
  db.AddSegment("LOW", 0, 0x1000);
  db.AddSegment("TOP", 0xFFFFF000, 0xFFF);
  db.PutTypeInfo(0x100, 1, "TLow");
  EXPECT_EQ(0x100u, find_next_group(0));
  EXPECT_EQ(BADADDR, find_next_group(0xFFFFF000));
}

}  // namespace
