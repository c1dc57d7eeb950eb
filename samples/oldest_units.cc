// The units of a sample of the oldest class layout (52-byte headers): a
// small hierarchy of several depths from TObject down to the main form, with
// published methods, fields and properties and the types they use, and
// decoys that have a record's shape but link to no class.
//
// Its records have no SelfPtr and no interface table, the compilers of that
// generation knew no interfaces, and every reference is direct: to a
// parent's table, to a type's kind byte.
#include "samples/catalogue.h"
#include "samples/catalogue_helpers.h"

namespace samples {

namespace {

void AddOldestSystem(Catalogue &cat) {
  cat.BeginUnit("System");
  cat.BeginGroup();
  ClassRecordSpec &obj = cat.AddClass("TObject", "", 4);
  ClassRecordSpec &exc = cat.AddClass("Exception", "TObject", 12);
  cat.OverrideStandard(exc, "Destroy");
  cat.AddVirtual(exc, "GetMessage");
  ClassType(cat, obj, "", 0);
  ClassType(cat, exc, "TObject", 0);
  Ordinal(cat, kInteger, "Integer", 4, INT32_MIN, INT32_MAX);
  Ordinal(cat, kInteger, "Byte", 1, 0, 255);
  Ordinal(cat, kChar, "Char", 1, 0, 255);
  Enumeration(cat, "Boolean", {"False", "True"});
  cat.AddType(kLString, "string");
}

void AddOldestClasses(Catalogue &cat) {
  cat.BeginUnit("Classes");
  cat.BeginGroup();
  ClassRecordSpec &pers = cat.AddClass("TPersistent", "TObject", 4);
  cat.OverrideStandard(pers, "Destroy");
  cat.AddVirtual(pers, "AssignTo");
  cat.AddVirtual(pers, "DefineProperties");
  cat.AddVirtual(pers, "Assign");

  ClassRecordSpec &comp = cat.AddClass("TComponent", "TPersistent", 0x30);
  cat.OverrideStandard(comp, "Destroy");
  cat.OverrideVirtual(comp, 0, "AssignTo");
  Label set_name = cat.AddVirtual(comp, "SetName");
  cat.AddVirtual(comp, "Loaded");
  cat.AddVirtual(comp, "Notification");
  comp.init_table = true;
  comp.init_entries = {{cat.TypeCell("TComponentName"), 0x08}};

  ComponentTypes(cat, pers, comp, set_name);
}

void AddOldestControls(Catalogue &cat) {
  cat.BeginUnit("Controls");
  cat.BeginGroup();
  ClassRecordSpec &ctl = cat.AddClass("TControl", "TComponent", 0x120);
  cat.OverrideStandard(ctl, "Destroy");
  cat.OverrideStandard(ctl, "DefaultHandler");
  Label click = cat.AddVirtual(ctl, "Click");
  cat.AddVirtual(ctl, "Resize");
  ctl.dynamics = {
      {0xB00B, cat.Function("TControl.CMEnabledChanged", FunctionShape::kCall, click)},
      {0x0201, cat.Function("TControl.WMLButtonDown", FunctionShape::kLocals)}};
  ClassRecordSpec &win = cat.AddClass("TWinControl", "TControl", 0x180);
  cat.OverrideStandard(win, "Destroy");
  cat.AddVirtual(win, "CreateParams");
  cat.AddVirtual(win, "CreateWnd");

  TypeSpec &tctl = ClassType(cat, ctl, "TComponent", 2);
  Label set_coord = cat.Function("TControl.SetCoordinate", FunctionShape::kStackArgs);
  Label get_text = cat.Function("TControl.GetText", FunctionShape::kLocals);
  Label set_text = cat.Function("TControl.SetText", FunctionShape::kCall, get_text);
  tctl.props = {
      Prop(cat, "Left", "Integer", FieldAccess(0x40), Ref::To(set_coord), Ref::Raw(1), 2),
      Prop(cat, "Top", "Integer", FieldAccess(0x44), Ref::To(set_coord), Ref::Raw(1), 3),
      Prop(cat, "Caption", "TCaption", Ref::To(get_text), Ref::To(set_text), Ref::Raw(1),
           4),
      Prop(cat, "OnClick", "TNotifyEvent", FieldAccess(0x108), FieldAccess(0x108),
           Ref::Raw(1), 5)};
  ClassType(cat, win, "TControl", 6);
  cat.AddType(kLString, "TCaption");
}

void AddOldestStdCtrls(Catalogue &cat) {
  cat.BeginUnit("StdCtrls");
  cat.BeginGroup();
  ClassRecordSpec &label = cat.AddClass("TLabel", "TControl", 0x130);
  ClassRecordSpec &edit = cat.AddClass("TEdit", "TWinControl", 0x1A0);
  cat.AddVirtual(edit, "Change");
  ClassRecordSpec &button = cat.AddClass("TButton", "TWinControl", 0x190);
  cat.OverrideVirtual(button, 0, "CreateParams");
  ClassType(cat, label, "TControl", 6);
  ClassType(cat, edit, "TWinControl", 6);
  ClassType(cat, button, "TWinControl", 6);
}

void AddOldestForms(Catalogue &cat) {
  cat.BeginUnit("Forms");
  cat.BeginGroup();
  ClassRecordSpec &form = cat.AddClass("TForm", "TWinControl", 0x2A0);
  cat.OverrideStandard(form, "Destroy");
  cat.AddVirtual(form, "DoCreate");
  ClassRecordSpec &module = cat.AddClass("TDataModule", "TComponent", 0x40);
  ClassType(cat, form, "TWinControl", 6);
  ClassType(cat, module, "TComponent", 2);
}

void AddOldestUnit1(Catalogue &cat) {
  cat.BeginUnit("Unit1");
  cat.BeginGroup();
  ClassRecordSpec &form = cat.AddClass("TForm1", "TForm", 0x2AC);
  form.fields = {{0x2A0, 0, "Button1"}, {0x2A4, 1, "Label1"}, {0x2A8, 2, "Edit1"}};
  form.field_classes = {cat.ClassRecord("TButton"), cat.ClassRecord("TLabel"),
                        cat.ClassRecord("TEdit")};
  Label create = cat.Function("TForm1.FormCreate", FunctionShape::kLocals);
  form.methods = {
      {cat.Function("TForm1.Button1Click", FunctionShape::kCall, create), "Button1Click"},
      {create, "FormCreate"},
      {cat.Function("TForm1.Edit1Change", FunctionShape::kJumpOverRet), "Edit1Change"},
      {cat.Function("TForm1.FormDblClick", FunctionShape::kEmpty), "FormDblClick"}};
  ClassType(cat, form, "TForm", 6);
  Enumeration(cat, "TDrawMode", {"dmPlain", "dmShaded", "dmOutline"});
  SetOf(cat, "TDrawModes", "TDrawMode");
}

void AddOldestUnit2(Catalogue &cat) {
  cat.BeginUnit("Unit2");
  cat.BeginGroup();
  ClassRecordSpec &module = cat.AddClass("TDataModule1", "TDataModule", 0x44);
  ClassType(cat, module, "TDataModule", 2);
}

/// Records of the right shape that link to no class: a root not named
/// TObject, a record that is its own parent, and one whose parent is code.
void AddOldestDecoys(Catalogue &cat) {
  cat.BeginUnit("Shapes");
  cat.BeginGroup();
  cat.AddClass("TLoneRoot", "", 8).decoy = true;
  ClassRecordSpec &own = cat.AddClass("TOwnParent", "", 8);
  own.parent = cat.Vmt("TOwnParent");
  own.decoy = true;
  ClassRecordSpec &code = cat.AddClass("TCodeParent", "", 8);
  code.parent = Ref::To(cat.Function("Shapes.Helper", FunctionShape::kLocals));
  code.decoy = true;
}

}  // namespace

void AddOldestUnits(Catalogue &cat) {
  AddOldestSystem(cat);
  AddOldestClasses(cat);
  AddOldestControls(cat);
  AddOldestStdCtrls(cat);
  AddOldestForms(cat);
  AddOldestUnit1(cat);
  AddOldestUnit2(cat);
  AddOldestDecoys(cat);
}

}  // namespace samples
