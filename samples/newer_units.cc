// What programs of compilers of 2009 and later hold besides the classic
// content: generic classes with names of the wide character set, type
// blocks of the newer kinds, and runs of UTF-16 string literals among the
// type blocks, two of which read as class records.
#include "samples/catalogue.h"
#include "samples/catalogue_helpers.h"

namespace samples {

void AddNewerUnits(Catalogue &cat) {
  cat.BeginUnit("System.Generics.Collections");
  cat.BeginGroup();
  const std::string ints = "TEnumerable<System.Integer>";
  const std::string pairs =
      "TEnumerable<System.Generics.Collections.TPair<System.string,System.Integer>>";
  const std::string list_name = "TList<System.Integer>";
  const std::string dict_name = "TDictionary<System.string,System.Integer>";
  ClassRecordSpec &enumerable = cat.AddClass(ints, "TObject", 4);
  cat.AddVirtual(enumerable, "DoGetEnumerator");
  ClassRecordSpec &list = cat.AddClass(list_name, ints, 0x18);
  cat.OverrideStandard(list, "Destroy");
  cat.OverrideVirtual(list, 0, "DoGetEnumerator");
  cat.AddVirtual(list, "Notify");
  list.methods = {
      {cat.Function(list_name + ".Add", FunctionShape::kLocals), "Add"},
      {cat.Function(list_name + ".Remove", FunctionShape::kStackArgs), "Remove"}};
  // A nested class: the enumerator type declared inside the generic class.
  ClassRecordSpec &enumerator = cat.AddClass(ints + ".TEnumerator", "TObject", 0x10);
  cat.AddVirtual(enumerator, "DoGetCurrent");
  cat.AddVirtual(enumerator, "DoMoveNext");
  ClassRecordSpec &pair_enumerable = cat.AddClass(pairs, "TObject", 4);
  cat.AddVirtual(pair_enumerable, "DoGetEnumerator");
  ClassRecordSpec &dict = cat.AddClass(dict_name, pairs, 0x30);
  cat.OverrideStandard(dict, "Destroy");
  cat.OverrideStandard(dict, "Equals");
  cat.AddVirtual(dict, "KeyNotify");
  cat.AddVirtual(dict, "ValueNotify");
  dict.methods = {{cat.Function(dict_name + ".TryGetValue", FunctionShape::kStackArgs),
                   "TryGetValue"}};

  ClassType(cat, enumerable, "TObject", 0);
  TypeSpec &tlist = ClassType(cat, list, ints, 0);
  tlist.props = {
      Prop(cat, "Count", "Integer",
           Ref::To(cat.Function(list_name + ".GetCount", FunctionShape::kFieldGetter,
                                Label{}, 0x08)),
           Ref::To(cat.Function(list_name + ".SetCount", FunctionShape::kLocals)),
           Ref::Raw(1), 0)};
  // A public property, whose record follows the block, an array property
  // and an attribute of the class.
  tlist.public_props = {
      Prop(cat, "Capacity", "Integer",
           Ref::To(cat.Function(list_name + ".GetCapacity", FunctionShape::kFieldGetter,
                                Label{}, 0x0C)),
           FieldAccess(0x0C), Ref::Raw(1), 0xFFFF)};
  tlist.array_props = {{5, 0x2D, 0x2E, "Items"}};
  tlist.attributes = {
      {cat.TypeCell(ints),
       cat.Function(list_name + ".AttributeCreate", FunctionShape::kEmpty),
       {0x01, 0x00}}};
  ClassType(cat, enumerator, "TObject", 0);
  ClassType(cat, pair_enumerable, "TObject", 0);
  ClassType(cat, dict, pairs, 0);

  // The newer kinds.
  cat.AddType(kUString, "UnicodeString");
  cat.AddClassShapedText({u"MS Shell Dlg 2", u"Tahoma",
                          Ref::To(cat.TypeCell("Integer"), 4),
                          Ref::To(cat.TypeCell("UnicodeString"), 5)});
  cat.AddType(kClassRef, "TClass").ref_type = cat.TypeCell("TObject");
  cat.AddType(kPointer, "PInteger").ref_type = cat.TypeCell("Integer");
  cat.AddClassShapedText({u"(none)", u"Default", Ref::To(cat.TypeCell("TClass"), 4),
                          Ref::To(cat.TypeCell("Integer"), 5)});
  cat.AddType(kProcedure, "TProc").procedure_signature = true;
  TypeSpec &func = cat.AddType(kProcedure, "TIntFunc");
  func.procedure_signature = true;
  func.calling_convention = 3;  // stdcall
  func.result_cell = cat.TypeCell("Integer");
  func.params = {Param(cat, 2, "Value", "UnicodeString")};
  cat.AddType(kPointer, "PUnicodeString").ref_type = cat.TypeCell("UnicodeString");
  TypeSpec &managed = cat.AddType(kMRecord, "TManagedRecord");
  managed.record_size = 8;
  managed.managed_fields = {{cat.TypeCell("UnicodeString"), 4}};
  managed.record_ops = {cat.Function("TManagedRecord.Initialize", FunctionShape::kEmpty)};
  managed.record_fields = {{cat.TypeCell("Integer"), 0, 0, "FCount"},
                           {cat.TypeCell("UnicodeString"), 4, 2, "FName"}};
  RecordMethodSpec create;
  create.code = cat.Function("TManagedRecord.Create", FunctionShape::kLocals);
  create.name = "Create";
  create.params = {Param(cat, 2, "AName", "UnicodeString")};
  managed.record_methods = {create};

  // A class whose extended tables describe every field with its type and
  // every method with the place of each parameter: stack parameters, a
  // hidden result, a class method, var and out parameters, a real number.
  cat.BeginGroup();
  ClassRecordSpec &shapes = cat.AddClass("TShapeList", "TObject", 0x24);
  const Label notify = cat.AddVirtual(shapes, "Notify");
  ClassType(cat, shapes, "TObject", 0);
  shapes.extended_fields = {{0x01, cat.TypeCell("TComponent"), 0x04, "FOwner"},
                            {0x01, cat.TypeCell("UnicodeString"), 0x08, "FName"},
                            {0x01, cat.TypeCell("TAlign"), 0x0C, "FAlign"},
                            {0x01, cat.TypeCell("TManagedRecord"), 0x10, "FBounds"},
                            {0x01, cat.TypeCell("Integer"), 0x18, "FCount"}};
  const Label self = cat.TypeCell("TShapeList");
  const Label integer = cat.TypeCell("Integer");
  const Label text = cat.TypeCell("UnicodeString");
  auto method = [&](const char *name, FunctionShape shape) {
    MethodEntrySpec m;
    m.code = cat.Function(std::string("TShapeList.") + name, shape);
    m.name = name;
    return m;
  };
  MethodEntrySpec add = method("Add", FunctionShape::kStackArgs);
  add.result_cell = integer;
  add.par_off = 16;
  add.params = {{0x08, self, 0, "Self"},
                {0, integer, 1, "A"},
                {0, integer, 2, "B"},
                {0, integer, 12, "C"},
                {0, integer, 8, "D"}};
  MethodEntrySpec name = method("GetName", FunctionShape::kLocals);
  name.result_cell = text;
  name.params = {{0x08, self, 0, "Self"}, {0x41, text, 1, "\x01"}};
  MethodEntrySpec scale = method("Scale", FunctionShape::kStackArgs);
  scale.par_off = 16;
  scale.params = {{0x08, Label{}, 0, "Self"}, {0, cat.TypeCell("Double"), 8, "Factor"}};
  MethodEntrySpec swap = method("Swap", FunctionShape::kLocals);
  swap.params = {{0x08, self, 0, "Self"}, {0x01, integer, 1, "A"}, {0x20, text, 2, "B"}};
  MethodEntrySpec notified;
  notified.code = notify;
  notified.name = "Notify";
  notified.params = {{0x08, self, 0, "Self"}, {0, cat.TypeCell("TObject"), 1, "Sender"}};
  notified.virtual_index = 0;
  shapes.extended_methods = {add, name, scale, swap, notified};
}

}  // namespace samples
