#include "model/program_model.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "detector/core/recognise.h"
#include "model/class_reader.h"
#include "model/form_binding.h"
#include "samples/form_writer.h"
#include "samples/resource_section.h"
#include "samples/sample_program.h"
#include "testing/sample_db.h"
#include "testing/test_db.h"

namespace model {
namespace {

class ProgramModelTest : public testing::TestWithParam<int> {};

TEST_P(ProgramModelTest, TheSampleModelHoldsWhatTheSampleWasBuiltWith) {
  const int layout = GetParam();
  samples::SampleOptions options;
  options.layout = layout;
  options.forms = true;
  const samples::SampleProgram program = samples::BuildSample(options);
  TestDb db;
  LoadSample(db, program);
  const ProgramModel model = BuildModel();
  EXPECT_TRUE(model.problems.empty()) << model.problems[0];
  EXPECT_EQ(layout, model.header_size);

  ASSERT_EQ(program.classes.size(), model.classes.size());
  std::map<std::string, ea_t> methods;  // "TForm1.Button1Click" -> code
  for (const samples::ClassEntry &want : program.classes) {
    SCOPED_TRACE(want.name);
    const ClassEntry *entry = model.FindClass(want.at.record);
    ASSERT_NE(nullptr, entry);
    const ClassDetails c = ReadClass(model, *entry);
    EXPECT_EQ(want.name, c.name);
    EXPECT_EQ(want.at.vmt, c.vmt);
    // A record without a TypeInfo field still has the class type block that
    // names it (TObject's).
    ea_t type_cell = want.type_cell != 0 ? want.type_cell : BADADDR;
    for (const samples::TypeEntry &t : program.types)
      if (type_cell == BADADDR && t.kind == 7 && t.name == want.name) type_cell = t.cell;
    EXPECT_EQ(type_cell, c.type_block);
    EXPECT_EQ(type_cell == BADADDR ? "" : want.unit, c.unit);
    EXPECT_EQ(want.at.method_table, c.method_table);
    EXPECT_EQ(want.at.dynamic_table, c.dynamic_table);
    EXPECT_EQ(want.at.field_table, c.field_table);
    EXPECT_EQ(want.at.intf_table, c.interface_table);
    ASSERT_EQ(want.methods.size(), c.published_methods.size());
    for (size_t i = 0; i < want.methods.size(); ++i) {
      EXPECT_EQ(want.methods[i].name, c.published_methods[i].name);
      EXPECT_EQ(want.methods[i].code, c.published_methods[i].address);
      methods[want.name + "." + want.methods[i].name] = want.methods[i].code;
    }
    // The standard methods sit in front of the table, Destroy last.
    const int standard = (layout - 44) / 4;
    ASSERT_GE(c.virtual_methods.size(), static_cast<size_t>(standard));
    EXPECT_EQ(-standard, c.virtual_methods[0].slot);
    EXPECT_STREQ("Destroy", c.virtual_methods[standard - 1].standard);
    EXPECT_EQ(-1, c.virtual_methods[standard - 1].slot);
  }
  ASSERT_EQ(program.types.size(), model.types.size());
  for (size_t i = 0; i < program.types.size(); ++i) {
    EXPECT_EQ(program.types[i].cell, model.types[i].cell);
    EXPECT_EQ(program.types[i].kind, model.types[i].kind);
  }

  ASSERT_EQ(2u, model.forms.size());
  const FormEntry &main = model.forms[1];
  EXPECT_EQ("TFORM1", main.resource.name.Text());
  for (const samples::ClassEntry &c : program.classes) {
    if (c.name == "TForm1") {
      EXPECT_EQ(c.at.record, main.class_record);
    }
  }
  std::map<std::string, ea_t> bound;
  for (const FormEvent &e : main.events) bound[e.component + "." + e.event] = e.address;
  EXPECT_EQ(methods["TForm1.FormCreate"], bound["Form1.OnCreate"]);
  EXPECT_EQ(methods["TForm1.Button1Click"],
            bound["Button2.OnClick"]);  // a shared handler
  EXPECT_EQ(methods["TForm1.Edit1Change"], bound["Edit1.OnChange"]);
  EXPECT_EQ(BADADDR, bound["Form1.OnDblClick"]);  // no such published method
  // The newer programs' form also binds a mouse event.
  const bool newer = GetParam() == 88;
  EXPECT_EQ(newer ? 8u : 7u, bound.size());
  if (newer) {
    ASSERT_EQ(1u, methods.count("TForm1.FormMouseDown"));
    EXPECT_EQ(methods["TForm1.FormMouseDown"], bound["Form1.OnMouseDown"]);
  }
  EXPECT_EQ(12u, main.components.size());
  EXPECT_EQ(2, main.components[5].depth);  // Button2 inside Panel1
}

INSTANTIATE_TEST_SUITE_P(Layouts, ProgramModelTest, testing::Values(64, 76, 88));

// A program of the 88-byte layout written by hand: TBase publishes Click
// and BaseOnly, TDerived (its child) click and Other, the frame class
// TFrameX FrameClick; a resource section holds a form of TDerived, a form
// whose class the program lacks and a form cut short.
class HandWrittenProgram : public testing::Test {
 protected:
  static constexpr ea_t kText = 0x00401000;
  static constexpr ea_t kResources = 0x00402000;
  static constexpr ea_t kBase = 0x00401000, kDerived = 0x00401100, kFrame = 0x00401180;

  void SetUp() override {
    SegmentBytes text(kText, 0x1000);
    Class(text, kBase, "TBase", 0, 0x00401300,
          {{"Click", 0x00401800}, {"BaseOnly", 0x00401804}});
    Class(text, kDerived, "TDerived", kBase, 0x00401340,
          {{"click", 0x00401810}, {"Other", 0x00401820}});
    Class(text, kFrame, "TFrameX", 0, 0x00401380, {{"FrameClick", 0x00401830}});
    db_.AddSegment(".text", text);

    std::vector<uint8_t> cut = Form("TDerived", "Main");
    cut.resize(cut.size() - 3);
    const std::vector<samples::ResourceSpec> specs = {
        {{10, {}}, {0, u"TDERIVED"}, 0, Form("TDerived", "Main")},
        {{10, {}}, {0, u"TNOWHERE"}, 0, Form("TNowhere", "Lost")},
        {{10, {}}, {0, u"TCUT"}, 0, cut},
    };
    std::vector<samples::ResourcePlace> places;
    const std::vector<uint8_t> section =
        samples::BuildResourceSection(kResources - 0x00400000, specs, &places);
    SegmentBytes resources(kResources, 0x1000);
    resources.PutBytes(kResources, section);
    db_.AddSegment(".rsrc", resources);
    db_.db().SetImageBase(0x00400000);
    db_.db().SetResourceDirectory(kResources, static_cast<uint32_t>(section.size()));
  }

  static void Class(SegmentBytes &b, ea_t at, const std::string &name, ea_t parent,
                    ea_t methods, std::vector<std::pair<std::string, ea_t>> published) {
    const ea_t name_at = at + 0x60;
    b.PutClassRecord(at, name_at, name, 88);
    b.PutDword(at + 24, methods);
    b.PutDword(at + 40, parent);
    for (ea_t off = 44; off < 88; off += 4) b.PutDword(at + off, 0x00401900 + off);
    b.PutDword(at + 88, 0x00401A00);  // one virtual method of its own
    b.PutWord(methods, static_cast<uint16_t>(published.size()));
    ea_t p = methods + 2;
    for (const auto &[method, code] : published) {
      b.PutWord(p, static_cast<uint16_t>(7 + method.size()));
      b.PutDword(p + 2, code);
      b.PutShortString(p + 6, method);
      p += 7 + static_cast<ea_t>(method.size());
    }
  }

  static std::vector<uint8_t> Form(const std::string &class_name,
                                   const std::string &name) {
    samples::FormWriter f;
    f.BeginComponent(class_name, name);
    auto event = [&](const char *property, const char *handler) {
      f.Property(property);
      f.Ident(handler);
    };
    event("OnClick", "Click");       // the class's own click hides its parent's
    event("OnShow", "OTHER");        // names are compared without regard to case
    event("OnKeyDown", "BaseOnly");  // published by the parent
    event("OnHide", "Missing");      // published by no class
    f.Property("Items");
    f.BeginCollection();
    f.BeginItem();
    event("OnDraw", "Other");
    f.EndItem();
    f.EndCollection();
    f.EndProperties();
    f.BeginComponent("TFrameX", "Frame1", samples::FormWriter::kInline);
    event("OnEnter", "FrameClick");
    f.EndProperties();
    f.BeginComponent("TButton", "Inner");
    event("OnClick", "FrameClick");  // inside the frame: the frame's method
    event("OnExit", "Other");        // which the frame does not publish
    f.EndProperties();
    f.EndComponent();
    f.EndComponent();
    f.BeginComponent("TButton", "Outer");
    event("OnClick", "Click");
    f.EndProperties();
    f.EndComponent();
    f.EndComponent();
    return f.bytes();
  }

  TestDb db_;
};

TEST_F(HandWrittenProgram, EventsBindToPublishedMethodsOfTheClassItsAncestorsOrTheFrame) {
  const ProgramModel model = BuildModel();
  EXPECT_EQ(88, model.header_size);
  ASSERT_EQ(3u, model.forms.size());
  // Resources come in name order: TCUT, TDERIVED, TNOWHERE.
  const FormEntry &form = model.forms[1];
  ASSERT_TRUE(form.decoded) << form.error;
  EXPECT_EQ(kDerived, form.class_record);
  std::vector<std::string> seen;
  for (const FormEvent &e : form.events) {
    char line[128];
    snprintf(line, sizeof line, "%s.%s=%s@%X", e.component.c_str(), e.event.c_str(),
             e.handler.c_str(), e.address);
    seen.push_back(line);
  }
  EXPECT_EQ((std::vector<std::string>{
                "Main.OnClick=Click@401810", "Main.OnShow=OTHER@401820",
                "Main.OnKeyDown=BaseOnly@401804", "Main.OnHide=Missing@FFFFFFFF",
                "Main.Items[0].OnDraw=Other@401820", "Frame1.OnEnter=FrameClick@401830",
                "Inner.OnClick=FrameClick@401830", "Inner.OnExit=Other@FFFFFFFF",
                "Outer.OnClick=Click@401810"}),
            seen);
}

TEST_F(HandWrittenProgram, AFormWithoutItsClassOrCutShortIsReportedAndTheRestStays) {
  const ProgramModel model = BuildModel();
  ASSERT_EQ(3u, model.forms.size());
  EXPECT_TRUE(model.forms[2].decoded);
  EXPECT_EQ(BADADDR, model.forms[2].class_record);
  // Only the frame, whose class the program has, binds its events.
  for (const FormEvent &e : model.forms[2].events)
    EXPECT_EQ(e.component == "Frame1" || (e.event == "OnClick" && e.component == "Inner"),
              e.address != BADADDR)
        << e.component << "." << e.event;
  EXPECT_FALSE(model.forms[0].decoded);
  EXPECT_TRUE(model.forms[0].components.empty());
  ASSERT_EQ(2u, model.problems.size());
  EXPECT_EQ(0u, model.problems[0].find("form TCUT: offset 0x")) << model.problems[0];
  EXPECT_NE(std::string::npos, model.problems[0].find("runs past the end of the form"));
  EXPECT_EQ("form TNOWHERE: its class TNowhere is not among the program's classes",
            model.problems[1]);
}

TEST_F(HandWrittenProgram,
       ClassesOfTheNewestLayoutHaveElevenStandardSlotsAndTheirParent) {
  const ProgramModel model = BuildModel();
  ASSERT_EQ(3u, model.classes.size());
  const ClassDetails derived = ReadClass(model, *model.FindClass(kDerived));
  EXPECT_EQ(kDerived + 88, derived.vmt);
  EXPECT_EQ(kBase, derived.parent);
  EXPECT_EQ("TBase", derived.parent_name);
  ASSERT_EQ(12u, derived.virtual_methods.size());
  EXPECT_EQ(-11, derived.virtual_methods[0].slot);
  EXPECT_STREQ("Equals", derived.virtual_methods[0].standard);
  EXPECT_STREQ("Destroy", derived.virtual_methods[10].standard);
  EXPECT_EQ(0, derived.virtual_methods[11].slot);
  EXPECT_EQ(0x00401A00u, derived.virtual_methods[11].address);
  EXPECT_EQ(nullptr, derived.virtual_methods[11].standard);
  EXPECT_EQ(BADADDR, ReadClass(model, *model.FindClass(kBase)).parent);
}

TEST(AccessorTest, DecodesFieldsStaticAndVirtualMethodsAndStoredConstants) {
  struct Row {
    uint32_t value;
    bool stored;
    Accessor::Kind kind;
    int64_t decoded;
  };
  const Row rows[] = {
      {0, false, Accessor::kNone, 0},
      {0xFF000040, false, Accessor::kField, 0x40},
      {0xFE000008, false, Accessor::kVirtual, 2},
      {0xFE00FFFC, false, Accessor::kVirtual, -1},
      {0x00401234, false, Accessor::kStatic, 0x00401234},
      {0, true, Accessor::kConstant, 0},
      {1, true, Accessor::kConstant, 1},
      {0xFF000057, true, Accessor::kField, 0x57},
      {0x00401234, true, Accessor::kStatic, 0x00401234},
  };
  for (const Row &r : rows) {
    const Accessor a = DecodeAccessor(r.value, r.stored);
    EXPECT_EQ(r.kind, a.kind) << std::hex << r.value;
    EXPECT_EQ(r.decoded, a.value) << std::hex << r.value;
  }
}

}  // namespace
}  // namespace model
