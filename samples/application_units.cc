// The application's own units: the modes unit with its enumerations, the
// main form and a data module, a unit of unusual types and classes, and the
// program's start code.
#include "samples/catalogue.h"
#include "samples/catalogue_helpers.h"

namespace samples {

namespace {

void AddModes(Catalogue &cat) {
  cat.BeginUnit("Modes");
  cat.BeginGroup();
  ClassRecordSpec &sel = cat.AddClass("TModeSelector", "TComponent", 0x40);
  cat.AddVirtual(sel, "ModeChanged");
  TypeSpec &tsel = ClassType(cat, sel, "TComponent", 2);
  tsel.props = {
      Prop(cat, "Mode", "TColorMode", FieldAccess(0x38),
           Ref::To(cat.Function("TModeSelector.SetMode", FunctionShape::kLocals)),
           Ref::Raw(1), 2),
      Prop(cat, "Modes", "TColorModes", FieldAccess(0x3C), FieldAccess(0x3C), Ref::Raw(1),
           3)};
  Enumeration(cat, "TColorMode", {"cmRed", "cmGreen"});
  TypeSpec &primary = Ordinal(cat, kEnumeration, "TPrimaryMode", 1, 0, 0);
  primary.base = cat.TypeCell("TColorMode");
  SetOf(cat, "TColorModes", "TColorMode");
}

void AddUnit1(Catalogue &cat) {
  cat.BeginUnit("Unit1");
  cat.BeginGroup();
  ClassRecordSpec &form = cat.AddClass("TForm1", "TForm", 0x2DC);
  form.fields = {{0x2D0, 0, "Button1"}, {0x2D4, 1, "Label1"}, {0x2D8, 2, "Edit1"}};
  form.field_classes = {cat.ClassRecord("TButton"), cat.ClassRecord("TLabel"),
                        cat.ClassRecord("TEdit")};
  Label create = cat.Function("TForm1.FormCreate", FunctionShape::kLocals);
  form.methods = {
      {cat.Function("TForm1.Button1Click", FunctionShape::kCall, create), "Button1Click"},
      {create, "FormCreate"},
      {cat.Function("TForm1.Edit1Change", FunctionShape::kJumpOverRet), "Edit1Change"}};
  // The user named the form's create handler and gave the class a display
  // name; both come through the database seed.
  cat.SeedName(create, 0, "InitialiseMainForm");
  cat.SeedComment(form.record, cat.header_size(), "MainWindow");
  TypeSpec &tform = ClassType(cat, form, "TForm", 16);
  if (cat.header_size() == 88) {
    // The newer programs' form binds an event with five parameters, three
    // of them on the stack (Shift, X, Y), which its handler removes.
    form.methods.push_back(
        {cat.Function("TForm1.FormMouseDown", FunctionShape::kStackArgs, Label{}, 12),
         "FormMouseDown"});
    tform.props = {Prop(cat, "OnMouseDown", "TMouseEvent", FieldAccess(0x2C0),
                        FieldAccess(0x2C0), Ref::Raw(1), 16)};
  }

  TypeSpec &settings = cat.AddType(kRecord, "TSettings");
  settings.record_size = 16;
  settings.managed_fields = {{cat.TypeCell("string"), 0},
                             {cat.TypeCell("WideString"), 4},
                             {cat.TypeCell("IInterface"), 8}};
  cat.AddType(kRecord, "TEmptyRecord").record_size = 8;
  TypeSpec &names = cat.AddType(kArray, "TNameArray");
  names.array_size = 16;
  names.array_count = 4;
  names.element = cat.TypeCell("string");
  TypeSpec &ints = cat.AddType(kDynArray, "TIntegerDynArray");
  ints.var_type = 3;
  ints.el_type2 = cat.TypeCell("Integer");
  TypeSpec &strs = cat.AddType(kDynArray, "TStringDynArray");
  strs.el_type = cat.TypeCell("string");
  strs.var_type = 256;
  strs.el_type2 = cat.TypeCell("string");
  TypeSpec &age = Ordinal(cat, kInteger, "TAgeRange", 1, 0, 150);
  cat.SeedName(age.cell, 4, "TAgeRange");
  TypeSpec &scores = Ordinal(cat, kInteger, "TScoreRange", 3, 0, 1000);
  cat.SeedName(scores.cell, 4, "my_dword_list");
  TypeSpec &format = cat.AddType(kMethod, "TFormatFunc");
  format.method_kind = 1;
  format.params = {Param(cat, 2, "Value", "Integer"), Param(cat, 1, "Text", "string")};
  format.result_type = "string";
  format.result_cell = cat.TypeCell("string");
  format.ref_tail = true;
  TypeSpec &validate = cat.AddType(kMethod, "TValidateFunc");
  validate.method_kind = 1;
  validate.params = {Param(cat, 0, "Sender", "TObject")};
  validate.result_type = "Boolean";
}

void AddUnit2(Catalogue &cat) {
  cat.BeginUnit("Unit2");
  cat.BeginGroup();
  // Published fields without published methods: the field table follows the
  // virtual method slots directly.
  ClassRecordSpec &dm = cat.AddClass("TDataModule1", "TComponent", 0x48);
  cat.OverrideStandard(dm, "AfterConstruction");
  dm.fields = {{0x38, 0, "Settings"}, {0x3C, 1, "Selector"}, {0x40, 0, "Backup"}};
  dm.field_classes = {cat.ClassRecord("TComponent"), cat.ClassRecord("TModeSelector")};
  cat.SeedComment(dm.record, cat.header_size(), "Data module");
  ClassType(cat, dm, "TComponent", 2);
}

void AddExtras(Catalogue &cat) {
  cat.BeginUnit("Extras");
  cat.BeginGroup();
  // Published methods and nothing else: five zero fields from IntfTable.
  ClassRecordSpec &sink = cat.AddClass("TEventSink", "TObject", 8);
  sink.methods = {{cat.Function("TEventSink.Notify", FunctionShape::kLocals), "Notify"}};
  // A field table whose class list pointer leads nowhere in the program, as
  // the tables of a newer compiler read in this layout do; the records
  // behind it must still be walked.
  ClassRecordSpec &foreign = cat.AddClass("TForeignFields", "TObject", 12);
  foreign.methods = {
      {cat.Function("TForeignFields.Changed", FunctionShape::kEmpty), "Changed"}};
  foreign.fields = {{0x4, 0, "Owner"}, {0x8, 0, "Link"}};
  foreign.foreign_class_list = 0x8C520000;
  // An interface whose getter is code: six zero fields from AutoTable.
  ClassRecordSpec &agg = cat.AddClass("TAggregatedObject", "TObject", 8);
  InterfaceEntry e;
  e.guid = MakeGuid(7);
  e.methods = {
      cat.Function("TAggregatedObject.QueryInterface", FunctionShape::kStackArgs),
      cat.Function("TAggregatedObject._AddRef", FunctionShape::kEmpty),
      cat.Function("TAggregatedObject._Release", FunctionShape::kEmpty)};
  e.ioffset = 0;
  e.getter =
      Ref::To(cat.Function("TAggregatedObject.GetController", FunctionShape::kLocals));
  agg.interfaces.push_back(e);
  // A class whose parent lives in another module, reached through an import
  // cell of the data section.
  ClassRecordSpec &pkg = cat.AddClass("TPackagedPart", "TComponent", 0x3C);
  pkg.parent = Ref::To(cat.DataCell(Ref::To(cat.ClassRecord("TComponent"))));
  ClassType(cat, pkg, "TComponent", 2);

  Ordinal(cat, kInteger, "TOddInteger", 7, 0, 9);
  SetOf(cat, "TOddSet", "TAlign", 7);
  TypeSpec &unnamed = cat.AddType(kMethod, "");
  unnamed.params = {Param(cat, 0, "Sender", "TObject")};
  TypeSpec &strange = cat.AddType(kMethod, "TStrangeMethod");
  strange.method_kind = 9;
  strange.params = {Param(cat, 0, "Sender", "TObject")};
  const char *kinds[] = {"TCtorProc",  "TDtorProc", "TClassProc",
                         "TClassFunc", "TSafeProc", "TSafeFunc"};
  for (uint8_t k = 2; k <= 7; ++k) {
    TypeSpec &m = cat.AddType(kMethod, kinds[k - 2]);
    m.method_kind = k;
    m.params = {Param(cat, 2, "Source", "TObject")};
    if (k == 5) m.result_type = "Integer";
    if (k == 7) m.result_type = "WideString";
  }
  TypeSpec &flags = cat.AddType(kMethod, "TFlagsProc");
  const uint8_t kFlags[] = {3, 0, 7, 64, 32, 4, 17, 48};
  const char *kParams[] = {"Both",   "Plain", "Three", "High",
                           "Result", "Items", "Ref",   "RefOut"};
  for (int i = 0; i < 8; ++i)
    flags.params.push_back(Param(cat, kFlags[i], kParams[i], "Integer"));
  const uint32_t kVarTypes[] = {15, 21, 0xFFFFFFFF};
  const char *kArrays[] = {"TUndefinedArray", "TOverflowArray", "TMinusArray"};
  for (int i = 0; i < 3; ++i) {
    TypeSpec &a = cat.AddType(kDynArray, kArrays[i]);
    a.el_size = 8;
    a.var_type = kVarTypes[i];
  }
  TypeSpec &odd = cat.AddType(kInterface, "IOddIntf");
  odd.intf_parent = cat.TypeCell("IInterface");
  odd.guid = MakeGuid(8);
  odd.intf_count = 0x0100;
  TypeSpec &empty = cat.AddType(kInterface, "IEmptyIntf");
  empty.intf_parent = cat.TypeCell("IInterface");
  empty.guid = MakeGuid(9);
  empty.intf_count = 0;
  empty.intf_zero_tail = true;
  TypeSpec &size = cat.AddType(kInt64, "TFileSize");
  size.min64 = 0;
  size.max64 = INT64_MAX;
  cat.AddType(kString, "TShortName").max_length = 40;
}

void AddProject(Catalogue &cat) {
  cat.BeginUnit("Project1");
  Label init = cat.Function("Project1.InitExe", FunctionShape::kStackArgs);
  cat.SetEntry(cat.Function("Project1.Main", FunctionShape::kCall, init));
}

}  // namespace

void AddApplicationUnits(Catalogue &cat) {
  AddModes(cat);
  AddUnit1(cat);
  AddUnit2(cat);
  AddExtras(cat);
}

void AddProgramStart(Catalogue &cat) { AddProject(cat); }

}  // namespace samples
