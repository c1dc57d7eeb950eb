// Checks of the whole sample through its file alone: the PE headers, the
// candidates the plug-ins' recognition rules find, and the places where the
// annotators' walks decide by the value of the next doubleword.
#include "samples/sample_program.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "samples/manifest.h"
#include "samples/mapped_pe.h"
#include "samples/type_info.h"
#include "samples/wide_text.h"

namespace samples {
namespace {

// The recognition rules of the plug-ins for programs of one class record
// header size: in the classic layout SelfPtr is only range-tested; in the
// others it must hold the address behind the header, and in the newest the
// names take generic characters and the kinds go up to 22.
struct Rules {
  uint32_t layout = kClassicHeaderSize;

  bool NameByte(uint32_t c) const {
    const bool generic =
        layout == 88 && (c == 0x2C || c == 0x3C || c == 0x3E || c == 0x60);
    return generic || (c >= 0x24 && c <= 0x26) || c == 0x28 || c == 0x29 || c == 0x2E ||
           (c >= 0x30 && c <= 0x3A) || (c >= 0x3F && c <= 0x5B) || c == 0x5D ||
           c == 0x5F || (c >= 0x61 && c <= 0x7A);
  }
  bool Kind(uint32_t kind) const {
    return kind >= 1 && kind <= (layout == 88 ? 22u : 17u);
  }

  std::optional<std::string> PascalName(const MappedPe &pe, uint32_t ea) const {
    const uint32_t n = pe.Read8(ea);
    if (n == 0) return std::nullopt;
    for (uint32_t i = 1; i <= n; ++i)
      if (!NameByte(pe.Read8(ea + i))) return std::nullopt;
    return pe.ShortString(ea);
  }

  std::optional<std::string> RecordName(const MappedPe &pe, uint32_t n,
                                        uint32_t a) const {
    if (!pe.InRange(pe.Read32(a), a) || !pe.InRange(n, a)) return std::nullopt;
    const uint32_t kind = pe.Read8(a + 4);
    const bool type_shape = Kind(kind) && pe.Read32(a) == a + 4;
    const bool class_shape = pe.Read32(a + 8) == 0 && pe.Read32(a + 32) == n;
    if (!type_shape && !class_shape) return std::nullopt;
    if (auto name = PascalName(pe, n)) return name;
    if (kind == 8 && PascalName(pe, a + 9)) return std::string("unnamed_method");
    return std::nullopt;
  }

  bool IsClassRecord(const MappedPe &pe, uint32_t a) const {
    const uint32_t self = pe.Read32(a);
    return pe.InRange(self, a) && (layout == kClassicHeaderSize || self == a + layout) &&
           pe.Read32(a + 8) == 0 && RecordName(pe, pe.Read32(a + 32), a).has_value();
  }

  bool IsTypeInfo(const MappedPe &pe, uint32_t a) const {
    return pe.InRange(pe.Read32(a), a) && RecordName(pe, a + 5, a).has_value() &&
           Kind(pe.Read8(a + 4)) && pe.Read32(a) == a + 4;
  }
};

uint32_t Align4(uint32_t a) { return (a + 3) / 4 * 4; }

struct Sample {
  explicit Sample(const SampleOptions &options) : program(BuildSample(options)) {
    std::string err;
    loaded = pe.Load(program.file, &err);
    EXPECT_TRUE(loaded) << err;
  }
  SampleProgram program;
  MappedPe pe;
  bool loaded = false;
};

const Sample &Default() {
  static const Sample *s = new Sample(SampleOptions{});
  return *s;
}

const Sample &WithForms() {
  static const Sample *s = [] {
    SampleOptions o;
    o.forms = true;
    return new Sample(o);
  }();
  return *s;
}

const Sample &OfLayout(uint32_t layout) {
  // Kept for the whole run, as Default() keeps its sample.
  static auto &samples = *new std::map<uint32_t, const Sample *>;
  const Sample *&s = samples[layout];
  if (s == nullptr) {
    SampleOptions o;
    o.layout = layout;
    s = new Sample(o);
  }
  return *s;
}

// Large enough that a filler followed by the start of the next record or
// block can read as an address of the program.
const Sample &Scaled() {
  static const Sample *s = [] {
    SampleOptions o;
    o.min_code_bytes = 24u << 20;
    o.classes_per_unit = 9;
    return new Sample(o);
  }();
  return *s;
}

TEST(SampleProgramTest, HeadersDescribeAnI386ProgramWithAlignedSectionsInsideTheFile) {
  // Without forms the program has no resource section at all.
  EXPECT_EQ(3u, Default().pe.sections.size());
  EXPECT_EQ(0u, Default().program.resource_directory);
  const SampleProgram &p = WithForms().program;
  const std::vector<uint8_t> &f = p.file;
  auto le = [&](size_t off, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | f[off + i];
    return v;
  };
  const size_t pe = le(0x3C, 4);
  const size_t opt = pe + 24;
  EXPECT_EQ(0x400000u, le(opt + 28, 4));
  EXPECT_EQ(0x1000u, le(opt + 32, 4));
  EXPECT_EQ(0x200u, le(opt + 36, 4));
  EXPECT_EQ(p.highest - 0x400000u, le(opt + 56, 4));  // SizeOfImage
  EXPECT_EQ(0u, f.size() % 0x200);
  const uint32_t count = le(pe + 6, 2);
  ASSERT_EQ(4u, count);
  uint32_t previous_end = 0x401000;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t h = opt + 0xE0 + 40 * i;
    const uint32_t vsize = le(h + 8, 4), rva = le(h + 12, 4);
    const uint32_t raw = le(h + 16, 4), ptr = le(h + 20, 4);
    SCOPED_TRACE(i);
    EXPECT_EQ(0u, rva % 0x1000);
    EXPECT_EQ(previous_end, 0x400000 + rva);  // contiguous, no overlap
    EXPECT_EQ(0u, raw % 0x200);
    EXPECT_EQ(0u, ptr % 0x200);
    EXPECT_LE(uint64_t{ptr} + raw, f.size());
    EXPECT_GE(raw, i == 2 ? 0u : vsize - vsize % 0x200);
    previous_end = 0x400000 + rva + (vsize + 0xFFF) / 0x1000 * 0x1000;
  }
  const MappedPe &m = WithForms().pe;
  EXPECT_EQ("CODE", m.sections[0].name);
  EXPECT_EQ("DATA", m.sections[1].name);
  EXPECT_EQ("BSS", m.sections[2].name);
  EXPECT_EQ(".rsrc", m.sections[3].name);
  // The resource directory is declared where the resource section starts.
  EXPECT_EQ(p.resource_directory - 0x400000u, le(opt + 96 + 16, 4));
  EXPECT_EQ(p.resource_size, le(opt + 96 + 20, 4));
  EXPECT_EQ(m.sections[3].start, p.resource_directory);
  EXPECT_EQ(p.entry, m.entry);
  EXPECT_EQ(0x55u, m.Read8(m.entry));  // the start code's frame prologue
  EXPECT_EQ(p.lowest, m.lowest);
  EXPECT_EQ(p.highest, m.highest);
}

TEST(SampleProgramTest, SameOptionsGiveTheSameBytes) {
  SampleOptions o;
  o.units = 3;
  const SampleProgram a = BuildSample(o);
  const SampleProgram b = BuildSample(o);
  EXPECT_EQ(a.file, b.file);
  EXPECT_EQ(ManifestJson(a), ManifestJson(b));
  EXPECT_EQ(SeedJson(a), SeedJson(b));
  EXPECT_NE(a.file, Default().program.file);
}

// `inside_blocks_allowed`: in a large sample, bytes inside a block (property
// records packed without alignment) may by chance read as a record, as they
// may in any real program; such chance candidates are tolerated there, but
// nowhere else.
void ExpectCandidatesAreExactlyTheManifest(const Sample &s, bool inside_blocks_allowed) {
  const Rules rules{s.program.layout};
  std::map<uint32_t, std::string> want;
  for (const ClassEntry &c : s.program.classes) want[c.at.record] = "class " + c.name;
  for (const TypeEntry &t : s.program.types)
    want[t.cell] = "type " + (t.name.empty() ? std::string("unnamed_method") : t.name);
  std::map<uint32_t, std::string> found;
  for (uint32_t x = s.pe.lowest; x < s.pe.highest; x += 4) {
    if (rules.IsClassRecord(s.pe, x))
      found[x] = "class " + *rules.PascalName(s.pe, s.pe.Read32(x + 32));
    else if (rules.IsTypeInfo(s.pe, x))
      found[x] = "type " + *rules.RecordName(s.pe, x + 5, x);
  }
  // Report the differences only: the maps of a scaled sample are large.
  std::vector<std::string> missing, extra;
  for (const auto &[ea, what] : want)
    if (!found.count(ea) || found[ea] != what)
      missing.push_back(std::to_string(ea) + " " + what);
  std::map<uint32_t, uint32_t> block_span;
  for (const TypeEntry &t : s.program.types) block_span[t.cell] = t.end;
  for (const auto &[ea, what] : found) {
    if (want.count(ea)) continue;
    auto b = block_span.upper_bound(ea);
    const bool inside = b != block_span.begin() && ea < std::prev(b)->second;
    if (!(inside && inside_blocks_allowed))
      extra.push_back(std::to_string(ea) + " " + what);
  }
  if (!missing.empty())
    ADD_FAILURE() << missing.size() << " missing, first " << missing[0];
  if (!extra.empty()) ADD_FAILURE() << extra.size() << " extra, first " << extra[0];
}

TEST(SampleProgramTest, RecognitionFindsEveryRecordAndBlockAndNothingElse) {
  ExpectCandidatesAreExactlyTheManifest(Default(), false);
}

TEST(SampleProgramTest, EveryLayoutIsRecognisedExactly) {
  for (uint32_t layout : {64u, 88u}) {
    SCOPED_TRACE(layout);
    ExpectCandidatesAreExactlyTheManifest(OfLayout(layout), false);
  }
}

// The string literals of the newest layout pass every test of a class
// record but the exact SelfPtr: the plug-ins would take them for records in
// a classic program.
TEST(SampleProgramTest, LiteralsShapedLikeRecordsFailOnlyTheHeaderSizeTest) {
  const Sample &s = OfLayout(88);
  ASSERT_EQ(2u, s.program.texts.size());
  for (const TextEntry &t : s.program.texts) {
    SCOPED_TRACE(t.text);
    EXPECT_TRUE(Rules{kClassicHeaderSize}.IsClassRecord(s.pe, t.address));
    // The class walk also demands an IntfTable below the segment's end.
    EXPECT_LT(s.pe.Read32(t.address + 4), s.pe.SegmentEnd(t.address));
    EXPECT_FALSE(Rules{88}.IsClassRecord(s.pe, t.address));
    EXPECT_EQ(kWideLiteralStart, s.pe.Read32(t.address - 12 - 2 * (t.text.size() - 4)));
    EXPECT_EQ(t.text.back(), s.pe.Read16(t.address + 6));  // "2" of "MS Shell Dlg 2"
  }
  EXPECT_EQ("MS Shell Dlg 2", s.program.texts[0].text);
  EXPECT_TRUE(OfLayout(64).program.texts.empty());
  EXPECT_TRUE(Default().program.texts.empty());
}

TEST(SampleProgramTest, ScaledSampleIsRecognisedExactlyToo) {
  ExpectCandidatesAreExactlyTheManifest(Scaled(), true);
  EXPECT_GE(Scaled().program.sections[0].end - Scaled().program.sections[0].start,
            24u << 20);
  EXPECT_GT(Scaled().program.units, 1000);
}

// The class walk takes slots while they hold addresses, so the first table
// (or the name) must not read as one; a filler's first doubleword must not
// read as an address, or the alignment would stop there.
void ExpectWalksStopWhereTheLayoutEnds(const Sample &s) {
  const MappedPe &pe = s.pe;
  const Rules rules{s.program.layout};
  for (const ClassEntry &c : s.program.classes) {
    SCOPED_TRACE(c.name);
    const uint32_t a = c.at.record;
    const uint32_t v = a + s.program.layout;
    EXPECT_EQ(v, pe.Read32(a));
    EXPECT_EQ(v, c.at.vmt);
    uint32_t p = v;
    do p += 4;
    while (pe.InRange(pe.Read32(p), p));
    if (!pe.InRange(pe.Read32(v), v)) p = v;
    uint32_t first = c.at.class_name;
    for (uint32_t t :
         {c.at.init_table, c.at.method_table, c.at.dynamic_table, c.at.field_table})
      if (t != 0 && t < first) first = t;
    EXPECT_EQ(first, p);
    // Interface tables lie before the run, where the walk's furthest address
    // never jumps over unannotated records.
    if (c.at.intf_table != 0) {
      EXPECT_LT(c.at.intf_table, a);
      EXPECT_EQ(0u, c.at.intf_table % 4);
    }
    // Behind the name, the extended method entries of the newest layout,
    // each as long as its first word says.
    uint32_t name_end = c.at.class_name + 1 + pe.Read8(c.at.class_name);
    while (Align4(name_end) < c.at.end && pe.Read16(name_end) != 0)
      name_end += pe.Read16(name_end);
    if (name_end % 4 != 0) {
      EXPECT_FALSE(pe.InRange(pe.Read32(name_end), name_end));
    }
    EXPECT_EQ(Align4(name_end), c.at.end);
    // The walk on to the next record reads the candidate's SelfPtr and its
    // AutoTable; a type block behind the run must fail that head test.
    if (rules.IsTypeInfo(pe, c.at.end)) {
      EXPECT_NE(0u, pe.Read32(c.at.end + 8));
    }
  }
  for (const TypeEntry &t : s.program.types) {
    SCOPED_TRACE(t.name);
    if (t.end % 4 != 0) {
      EXPECT_FALSE(pe.InRange(pe.Read32(t.end), t.end));
    }
  }
}

TEST(SampleProgramTest, WalksStopWhereTheLayoutEnds) {
  ExpectWalksStopWhereTheLayoutEnds(Default());
  ExpectWalksStopWhereTheLayoutEnds(Scaled());
  ExpectWalksStopWhereTheLayoutEnds(OfLayout(64));
  ExpectWalksStopWhereTheLayoutEnds(OfLayout(88));
}

// One program in three layouts: the same classes, each header holding its
// layout's standard methods in order, and only the newest layout with
// generic names, scoped unit names and the newer kinds. The classic layout
// is what the sample has always been.
TEST(SampleProgramTest, LayoutsDifferInTheHeaderAndWhatOnlyNewerProgramsHold) {
  EXPECT_EQ(Default().program.file, OfLayout(76).program.file);
  std::set<std::string> classic_classes;
  for (const ClassEntry &c : Default().program.classes) classic_classes.insert(c.name);
  for (uint32_t layout : {64u, 76u, 88u}) {
    SCOPED_TRACE(layout);
    const Sample &s = OfLayout(layout);
    EXPECT_EQ(layout, s.program.layout);
    std::map<uint32_t, std::string> function_at;
    for (const FunctionEntry &f : s.program.functions) function_at[f.start] = f.name;
    const std::vector<std::string> &standard = StandardMethods(layout);
    ASSERT_EQ((layout - 44) / 4, standard.size());
    std::set<std::string> classes, generic, units;
    for (const ClassEntry &c : s.program.classes) {
      classes.insert(c.name);
      if (c.name.find('<') != std::string::npos) generic.insert(c.name);
      units.insert(c.unit);
      for (size_t k = 0; k < standard.size(); ++k) {
        const std::string &f = function_at[s.pe.Read32(c.at.record + 44 + 4 * k)];
        EXPECT_EQ("." + standard[k], f.substr(f.rfind('.'))) << c.name << " slot " << k;
      }
    }
    std::set<int> newer_kinds;
    for (const TypeEntry &t : s.program.types)
      if (t.kind > 17) newer_kinds.insert(t.kind);
    const bool newest = layout == 88;
    const std::set<int> kNewerKinds = {18, 19, 20, 21, 22};
    EXPECT_EQ(newest ? kNewerKinds : std::set<int>(), newer_kinds);
    EXPECT_EQ(newest, units.count("System.Classes") == 1);
    EXPECT_EQ(!newest, units.count("Classes") == 1);
    EXPECT_EQ(newest ? 5u : 0u, generic.size());
    EXPECT_EQ(newest ? 1u : 0u, generic.count("TList<System.Integer>"));
    for (const std::string &g : generic) classes.erase(g);
    // The class of the extended field and method tables.
    EXPECT_EQ(newest, classes.erase("TShapeList") == 1);
    EXPECT_EQ(classic_classes, classes);
  }
}

TEST(SampleProgramTest, ClassRecordsPointAtTheirNamesParentsAndTypes) {
  const MappedPe &pe = Default().pe;
  std::map<std::string, uint32_t> record_of;
  for (const ClassEntry &c : Default().program.classes) record_of[c.name] = c.at.record;
  std::map<uint32_t, const TypeEntry *> type_at;
  for (const TypeEntry &t : Default().program.types) type_at[t.cell] = &t;
  for (const ClassEntry &c : Default().program.classes) {
    SCOPED_TRACE(c.name);
    const uint32_t a = c.at.record;
    EXPECT_EQ(0u, pe.Read32(a + 8));
    EXPECT_EQ(c.name, pe.ShortString(pe.Read32(a + 32)));
    if (c.type_cell != 0) {
      EXPECT_EQ(c.type_cell + 4, pe.Read32(a + 16));
      ASSERT_TRUE(type_at.count(c.type_cell));
      EXPECT_EQ(kClass, type_at[c.type_cell]->kind);
      EXPECT_EQ(c.name, type_at[c.type_cell]->name);
      EXPECT_EQ(c.at.vmt, pe.Read32(c.type_cell + 5 + 1 + c.name.size()));  // ClassType
    }
    for (const MethodEntry &m : c.methods) EXPECT_EQ(0x55u, pe.Read8(m.code));
  }
  EXPECT_EQ(0u, pe.Read32(record_of["TObject"] + 40));
  EXPECT_EQ(record_of["TComponent"], pe.Read32(record_of["TControl"] + 40));
  // The packaged class reaches its parent through a data cell.
  const uint32_t cell = pe.Read32(record_of["TPackagedPart"] + 40);
  EXPECT_EQ("DATA", pe.sections[1].name);
  EXPECT_GE(cell, pe.sections[1].start);
  EXPECT_EQ(record_of["TComponent"], pe.Read32(cell));
}

TEST(SampleProgramTest, HeaderZeroRunsOfEveryLengthOccur) {
  const MappedPe &pe = Default().pe;
  std::set<int> lengths;
  for (const ClassEntry &c : Default().program.classes) {
    int run = 0;
    for (uint32_t off = 4; off <= 32; off += 4) {
      if (off < 32 && pe.Read32(c.at.record + off) == 0) {
        ++run;
      } else if (run > 0) {
        lengths.insert(run);
        run = 0;
      }
    }
  }
  EXPECT_EQ((std::set<int>{1, 2, 3, 4, 5, 6, 7}), lengths);
}

TEST(SampleProgramTest, TypesOfEveryKindAndTheWorkedExampleArePresent) {
  std::set<int> kinds;
  const TypeEntry *color = nullptr;
  for (const TypeEntry &t : Default().program.types) {
    kinds.insert(t.kind);
    if (t.name == "TColorMode") color = &t;
  }
  for (int k = 1; k <= 17; ++k)
    EXPECT_TRUE(kinds.count(k)) << KindName(static_cast<uint8_t>(k));
  ASSERT_NE(nullptr, color);
  const MappedPe &pe = Default().pe;
  const uint32_t s = color->cell;
  EXPECT_EQ(s + 4, pe.Read32(s));
  EXPECT_EQ("TColorMode", pe.ShortString(s + 5));
  EXPECT_EQ(s, pe.Read32(s + 25));
  EXPECT_EQ("cmRed", pe.ShortString(s + 29));
  EXPECT_EQ("cmGreen", pe.ShortString(s + 35));
  EXPECT_EQ("Modes", pe.ShortString(s + 43));
  EXPECT_EQ(s + 49, color->end);
}

TEST(SampleProgramTest, SeedNamesAFunctionAndCommentsTableOfSlots) {
  const SampleProgram &p = Default().program;
  std::map<std::string, uint32_t> vmt_of;
  for (const ClassEntry &c : p.classes) vmt_of[c.name] = c.at.vmt;
  std::map<std::string, uint32_t> seeded;
  for (const SeedEntry &s : p.seeds) seeded[s.text] = s.ea;
  EXPECT_EQ(vmt_of["TForm1"], seeded["MainWindow"]);
  bool method_named = false;
  for (const ClassEntry &c : p.classes)
    for (const MethodEntry &m : c.methods)
      if (m.code == seeded["InitialiseMainForm"]) method_named = true;
  EXPECT_TRUE(method_named);
  const std::string json = SeedJson(p);
  EXPECT_NE(std::string::npos,
            json.find("\"text\": \"Data module\", \"repeatable\": true"));
}

}  // namespace
}  // namespace samples
