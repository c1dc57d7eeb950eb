// The runtime and component library units of the sample: the base classes
// every program carries (TObject, TInterfacedObject, TPersistent,
// TComponent), the control classes and the form classes, with the types
// their published properties and events use.
#include "samples/catalogue.h"
#include "samples/catalogue_helpers.h"

namespace samples {

namespace {

void AddSystem(Catalogue &cat) {
  cat.BeginUnit("System");
  cat.BeginGroup();
  // TObject: no tables, no type information, no parent: the header's longest
  // zero run (IntfTable to DynamicTable) and a lone zero ParentClass.
  cat.AddClass("TObject", "", 4);

  ClassRecordSpec &intf = cat.AddClass("TInterfacedObject", "TObject", 12);
  cat.OverrideStandard(intf, "AfterConstruction");
  cat.OverrideStandard(intf, "BeforeDestruction");
  cat.OverrideStandard(intf, "NewInstance");
  InterfaceEntry unknown;
  unknown.guid = MakeGuid(1);
  unknown.methods = {
      cat.Function("TInterfacedObject.QueryInterface", FunctionShape::kStackArgs),
      cat.Function("TInterfacedObject._AddRef", FunctionShape::kLocals),
      cat.Function("TInterfacedObject._Release", FunctionShape::kJumpOverRet)};
  unknown.ioffset = 8;
  intf.interfaces.push_back(unknown);

  ClassType(cat, intf, "TObject", 0);
  // TObject's own block: the record does not point at it, so that its header
  // keeps the zero run over all seven table fields.
  TypeSpec &tobj = cat.AddType(kClass, "TObject");
  tobj.vmt = cat.Vmt("TObject");
  Ordinal(cat, kInteger, "Integer", 4, INT32_MIN, INT32_MAX);
  Ordinal(cat, kInteger, "Byte", 1, 0, 255);
  Ordinal(cat, kInteger, "ShortInt", 0, -128, 127);
  Ordinal(cat, kInteger, "SmallInt", 2, -32768, 32767);
  Ordinal(cat, kInteger, "Word", 3, 0, 65535);
  Ordinal(cat, kInteger, "Cardinal", 5, 0, -1);
  Ordinal(cat, kChar, "Char", 1, 0, 255);
  Ordinal(cat, kWChar, "WideChar", 3, 0, 65535);
  Enumeration(cat, "Boolean", {"False", "True"});
  cat.AddType(kLString, "string");
  cat.AddType(kWString, "WideString");
  cat.AddType(kVariant, "Variant");
  TypeSpec &i64 = cat.AddType(kInt64, "Int64");
  i64.min64 = INT64_MIN;
  i64.max64 = INT64_MAX;
  const char *floats[] = {"Single", "Double", "Extended", "Comp", "Currency"};
  for (uint8_t i = 0; i < 5; ++i) cat.AddType(kFloat, floats[i]).float_type = i;
  cat.AddType(kFloat, "TDateTime").float_type = 1;
  cat.AddType(kString, "ShortString").max_length = 255;
  TypeSpec &iunknown = cat.AddType(kInterface, "IInterface");
  iunknown.guid = MakeGuid(1);
  iunknown.intf_word0 = 3;
  iunknown.intf_count = 0xFFFF;
  TypeSpec &tguid = cat.AddType(kRecord, "TGUID");
  tguid.record_size = 16;
}

void AddClasses(Catalogue &cat) {
  cat.BeginUnit("Classes", "System");
  cat.BeginGroup();
  ClassRecordSpec &pers = cat.AddClass("TPersistent", "TObject", 4);
  cat.OverrideStandard(pers, "Destroy");
  cat.AddVirtual(pers, "AssignTo");
  cat.AddVirtual(pers, "DefineProperties");
  cat.AddVirtual(pers, "Assign");

  ClassRecordSpec &comp = cat.AddClass("TComponent", "TPersistent", 0x38);
  cat.OverrideStandard(comp, "BeforeDestruction");
  cat.OverrideStandard(comp, "Destroy");
  cat.OverrideVirtual(comp, 0, "AssignTo");
  Label set_name = cat.AddVirtual(comp, "SetName");
  cat.AddVirtual(comp, "Loaded");
  cat.AddVirtual(comp, "Notification");
  cat.AddVirtual(comp, "ReadState");
  cat.AddVirtual(comp, "ValidateRename");
  cat.AddVirtual(comp, "WriteState");
  cat.AddVirtual(comp, "Create");
  InterfaceEntry e0;
  e0.guid = MakeGuid(1);
  e0.methods = {cat.Function("TComponent.QueryInterface", FunctionShape::kStackArgs),
                cat.Function("TComponent._AddRef", FunctionShape::kEmpty),
                cat.Function("TComponent._Release", FunctionShape::kEmpty)};
  e0.ioffset = 0x30;
  InterfaceEntry e1;
  e1.guid = MakeGuid(2);
  e1.methods = {e0.methods[0], e0.methods[1], e0.methods[2],
                cat.Function("TComponent.GetComponent", FunctionShape::kLocals)};
  e1.ioffset = 0x34;
  comp.interfaces = {e0, e1};
  comp.init_table = true;
  comp.init_entries = {{cat.TypeCell("TComponentName"), 0x08},
                       {cat.TypeCell("IInterface"), 0x24}};

  // A class with an interface and published methods but no type information:
  // the zero run from AutoTable to FieldTable has four fields.
  ClassRecordSpec &adapter = cat.AddClass("TStreamAdapter", "TInterfacedObject", 20);
  InterfaceEntry stream;
  stream.guid = MakeGuid(3);
  stream.methods = {
      cat.Function("TStreamAdapter.QueryInterface", FunctionShape::kStackArgs),
      cat.Function("TStreamAdapter.Read", FunctionShape::kLocals),
      cat.Function("TStreamAdapter.Write", FunctionShape::kLocals)};
  stream.ioffset = 12;
  adapter.interfaces.push_back(stream);
  adapter.methods = {
      {cat.Function("TStreamAdapter.Seek", FunctionShape::kStackArgs), "Seek"},
      {cat.Function("TStreamAdapter.Stat", FunctionShape::kEmpty), "Stat"}};

  ComponentTypes(cat, pers, comp, set_name);
  Enumeration(
      cat, "TShiftStateItem",
      {"ssShift", "ssAlt", "ssCtrl", "ssLeft", "ssRight", "ssMiddle", "ssDouble"});
  SetOf(cat, "TShiftState", "TShiftStateItem");
  Enumeration(cat, "TOperation", {"opInsert", "opRemove"});
  TypeSpec &ref = cat.AddType(kInterface, "IInterfaceComponentReference");
  ref.intf_parent = cat.TypeCell("IInterface");
  ref.guid = MakeGuid(2);
  ref.intf_word0 = 1;
  ref.intf_count = 1;
  IntfMemberSpec get;
  get.name = "GetComponent";
  get.index = 3;
  get.kind = 1;
  get.param_count = 1;
  get.param_name = "Self";
  get.param_type = "IInterfaceComponentReference";
  get.param_cell = cat.TypeCell("IInterfaceComponentReference");
  get.result_type = "TComponent";
  get.result_cell = cat.TypeCell("TComponent");
  ref.intf_members.push_back(get);
}

void AddControls(Catalogue &cat) {
  cat.BeginUnit("Controls", "Vcl");
  cat.BeginGroup();
  ClassRecordSpec &ctl = cat.AddClass("TControl", "TComponent", 0x160);
  cat.OverrideStandard(ctl, "Destroy");
  cat.OverrideStandard(ctl, "DefaultHandler");
  Label click = cat.AddVirtual(ctl, "Click");
  cat.AddVirtual(ctl, "Resize");
  cat.AddVirtual(ctl, "SetEnabled");
  ctl.init_table = true;
  ctl.init_entries = {{cat.TypeCell("TCaption"), 0x64}, {cat.TypeCell("string"), 0x88}};
  ctl.dynamics = {
      {0xB00B, cat.Function("TControl.CMEnabledChanged", FunctionShape::kCall, click)},
      {0x0201, cat.Function("TControl.WMLButtonDown", FunctionShape::kLocals)},
      {0x0202, cat.Function("TControl.WMLButtonUp", FunctionShape::kLocals)},
      {0xFFFF, cat.Function("TControl.MouseWheelHandler", FunctionShape::kEmpty)}};

  ClassRecordSpec &win = cat.AddClass("TWinControl", "TControl", 0x1F8);
  cat.OverrideStandard(win, "Destroy");
  cat.AddVirtual(win, "CreateParams");
  cat.AddVirtual(win, "CreateWnd");
  win.dynamics = {
      {0x0014, cat.Function("TWinControl.WMEraseBkgnd", FunctionShape::kLocals)},
      {0x0100, cat.Function("TWinControl.WMKeyDown", FunctionShape::kJumpOverRet)}};

  TypeSpec &tctl = ClassType(cat, ctl, "TComponent", 2);
  Label set_coord = cat.Function("TControl.SetCoordinate", FunctionShape::kStackArgs);
  Label get_text = cat.Function("TControl.GetText", FunctionShape::kLocals);
  Label set_text = cat.Function("TControl.SetText", FunctionShape::kCall, get_text);
  Label set_color =
      cat.Function("TControl.SetColor", FunctionShape::kFieldSetter, Label{}, 0x44);
  Label color_stored =
      cat.Function("TControl.IsColorStored", FunctionShape::kJumpOverRet);
  Label get_color =
      cat.Function("TControl.GetColor", FunctionShape::kFieldGetter, Label{}, 0x44);
  Label set_visible = cat.Function("TControl.SetVisible", FunctionShape::kLocals);
  tctl.props = {
      // Left and Top share one setter, as the library's coordinates do.
      Prop(cat, "Left", "Integer", FieldAccess(0x40), Ref::To(set_coord), Ref::Raw(1), 2),
      Prop(cat, "Top", "Integer", FieldAccess(0x44), Ref::To(set_coord), Ref::Raw(1), 3),
      Prop(cat, "Caption", "TCaption", Ref::To(get_text), Ref::To(set_text), Ref::Raw(1),
           4),
      Prop(cat, "Color", "TColor", Ref::To(get_color), Ref::To(set_color),
           Ref::To(color_stored), 5),
      Prop(cat, "Visible", "Boolean", FieldAccess(0x57), Ref::To(set_visible),
           Ref::Raw(1), 6),
      Prop(cat, "Hint", "string", FieldAccess(0x88), FieldAccess(0x88), Ref::Raw(0), 7),
      Prop(cat, "OnClick", "TNotifyEvent", FieldAccess(0x108), FieldAccess(0x108),
           Ref::Raw(1), 8)};
  cat.SeedName(get_color, 0, "ColorGetter");
  TypeSpec &twin = ClassType(cat, win, "TControl", 9);
  twin.props = {
      Prop(cat, "TabStop", "Boolean", FieldAccess(0x1E0),
           Ref::To(cat.Function("TWinControl.SetTabStop", FunctionShape::kLocals)),
           Ref::Raw(1), 9)};
  Ordinal(cat, kInteger, "TColor", 4, INT32_MIN, INT32_MAX);
  Ordinal(cat, kInteger, "TCursor", 2, -32768, 32767);
  cat.AddType(kLString, "TCaption");
  Enumeration(
      cat, "TAlign",
      {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"});
  Enumeration(cat, "TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"});
  SetOf(cat, "TAnchors", "TAnchorKind");
  Enumeration(cat, "TMouseButton", {"mbLeft", "mbRight", "mbMiddle"});
  TypeSpec &mouse = cat.AddType(kMethod, "TMouseEvent");
  mouse.params = {Param(cat, 0, "Sender", "TObject"),
                  Param(cat, 0, "Button", "TMouseButton"),
                  Param(cat, 0, "Shift", "TShiftState"), Param(cat, 0, "X", "Integer"),
                  Param(cat, 0, "Y", "Integer")};
  mouse.ref_tail = true;
  TypeSpec &key = cat.AddType(kMethod, "TKeyEvent");
  key.params = {Param(cat, 0, "Sender", "TObject"), Param(cat, 1, "Key", "Word"),
                Param(cat, 2, "Shift", "TShiftState")};

  // A second run of records behind the first run's types.
  cat.BeginGroup();
  ClassRecordSpec &graphic = cat.AddClass("TGraphicControl", "TControl", 0x168);
  cat.OverrideStandard(graphic, "Destroy");
  cat.AddVirtual(graphic, "Paint");
  ClassRecordSpec &custom = cat.AddClass("TCustomControl", "TWinControl", 0x200);
  cat.OverrideStandard(custom, "Destroy");
  cat.AddVirtual(custom, "Paint");
  custom.dynamics = {{0x000F, cat.Function("TCustomControl.WMPaint", FunctionShape::kCall,
                                           custom.virtual_methods.back())}};
  ClassType(cat, graphic, "TControl", 9);
  ClassType(cat, custom, "TWinControl", 10);
  TypeSpec &press = cat.AddType(kMethod, "TKeyPressEvent");
  press.params = {Param(cat, 0, "Sender", "TObject"), Param(cat, 1, "Key", "Char")};
}

void AddStdCtrls(Catalogue &cat) {
  cat.BeginUnit("StdCtrls", "Vcl");
  cat.BeginGroup();
  ClassRecordSpec &button = cat.AddClass("TButton", "TWinControl", 0x210);
  cat.OverrideVirtual(button, 10, "Click");
  cat.AddVirtual(button, "SetButtonStyle");
  button.dynamics = {
      {0xBD11, cat.Function("TButton.CNCommand", FunctionShape::kLocals)},
      {0xB005, cat.Function("TButton.CMDialogKey", FunctionShape::kJumpOverRet)}};
  ClassRecordSpec &label = cat.AddClass("TLabel", "TGraphicControl", 0x170);
  cat.OverrideVirtual(label, 13, "Paint");
  ClassRecordSpec &edit = cat.AddClass("TEdit", "TWinControl", 0x220);
  cat.AddVirtual(edit, "Change");
  edit.init_table = true;
  edit.init_entries = {{cat.TypeCell("string"), 0x218}};

  TypeSpec &tbutton = ClassType(cat, button, "TWinControl", 10);
  tbutton.props = {
      Prop(cat, "Default", "Boolean", FieldAccess(0x209),
           Ref::To(cat.Function("TButton.SetDefault", FunctionShape::kLocals)),
           Ref::Raw(1), 10),
      Prop(cat, "ModalResult", "TModalResult", FieldAccess(0x20C), FieldAccess(0x20C),
           Ref::Raw(1), 11)};
  tbutton.props[1].default_value = 0;
  TypeSpec &tlabel = ClassType(cat, label, "TGraphicControl", 9);
  Label set_align =
      cat.Function("TLabel.SetAlignment", FunctionShape::kFieldSetter, Label{}, 0x68);
  tlabel.props = {
      Prop(cat, "Alignment", "TAlignment", FieldAccess(0x168), Ref::To(set_align),
           Ref::Raw(1), 9),
      Prop(cat, "WordWrap", "Boolean", FieldAccess(0x16C),
           Ref::To(cat.Function("TLabel.SetWordWrap", FunctionShape::kLocals)),
           Ref::Raw(0), 10),
      Prop(cat, "AutoSize", "Boolean", FieldAccess(0x16D),
           Ref::To(cat.Function("TLabel.SetAutoSize", FunctionShape::kLocals)),
           Ref::Raw(1), 11)};
  TypeSpec &tedit = ClassType(cat, edit, "TWinControl", 10);
  tedit.props = {Prop(cat, "Text", "TCaption",
                      Ref::To(cat.Function("TEdit.GetText", FunctionShape::kLocals)),
                      Ref::To(cat.Function("TEdit.SetText", FunctionShape::kLocals)),
                      Ref::Raw(1), 10),
                 Prop(cat, "CharCase", "TEditCharCase", FieldAccess(0x214),
                      Ref::To(cat.Function("TEdit.SetCharCase", FunctionShape::kLocals)),
                      Ref::Raw(1), 11),
                 Prop(cat, "OnChange", "TNotifyEvent", FieldAccess(0x1F0),
                      FieldAccess(0x1F0), Ref::Raw(1), 12)};
  Ordinal(cat, kInteger, "TModalResult", 4, INT32_MIN, INT32_MAX);
  Enumeration(cat, "TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"});
  Enumeration(cat, "TEditCharCase", {"ecNormal", "ecUpperCase", "ecLowerCase"});
}

void AddForms(Catalogue &cat) {
  cat.BeginUnit("Forms", "Vcl");
  cat.BeginGroup();
  ClassRecordSpec &custom = cat.AddClass("TCustomForm", "TWinControl", 0x2D0);
  cat.OverrideStandard(custom, "Destroy");
  cat.OverrideStandard(custom, "AfterConstruction");
  cat.AddVirtual(custom, "DoCreate");
  cat.AddVirtual(custom, "DoClose");
  custom.init_table = true;
  custom.init_entries = {{cat.TypeCell("string"), 0x230},
                         {cat.TypeCell("TCaption"), 0x234}};
  custom.dynamics = {
      {0x0010, cat.Function("TCustomForm.WMClose", FunctionShape::kLocals)}};
  ClassRecordSpec &form = cat.AddClass("TForm", "TCustomForm", 0x2D0);
  (void)form;

  TypeSpec &tcustom = ClassType(cat, custom, "TWinControl", 10);
  tcustom.props = {
      Prop(cat, "BorderStyle", "TFormBorderStyle", FieldAccess(0x240),
           Ref::To(cat.Function("TCustomForm.SetBorderStyle", FunctionShape::kLocals)),
           Ref::To(
               cat.Function("TCustomForm.IsBorderStored", FunctionShape::kJumpOverRet)),
           10),
      Prop(cat, "OnClose", "TCloseEvent", FieldAccess(0x2A0), FieldAccess(0x2A0),
           Ref::Raw(1), 11),
      Prop(cat, "OnCloseQuery", "TCloseQueryEvent", FieldAccess(0x2A8),
           FieldAccess(0x2A8), Ref::Raw(1), 12)};
  ClassType(cat, form, "TCustomForm", 13);
  Enumeration(
      cat, "TFormBorderStyle",
      {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"});
  Enumeration(cat, "TCloseAction", {"caNone", "caHide", "caFree", "caMinimize"});
  TypeSpec &close = cat.AddType(kMethod, "TCloseEvent");
  close.params = {Param(cat, 0, "Sender", "TObject"),
                  Param(cat, 1, "Action", "TCloseAction")};
  TypeSpec &query = cat.AddType(kMethod, "TCloseQueryEvent");
  query.params = {Param(cat, 0, "Sender", "TObject"),
                  Param(cat, 1, "CanClose", "Boolean")};
  query.ref_tail = true;
  Enumeration(cat, "TBorderIcon", {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"});
  SetOf(cat, "TBorderIcons", "TBorderIcon");
}

}  // namespace

void AddLibraryUnits(Catalogue &cat) {
  AddSystem(cat);
  AddClasses(cat);
  AddControls(cat);
  AddStdCtrls(cat);
  AddForms(cat);
}

}  // namespace samples
