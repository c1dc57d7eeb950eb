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
  ClassType(cat, enumerator, "TObject", 0);
  ClassType(cat, pair_enumerable, "TObject", 0);
  ClassType(cat, dict, pairs, 0);

  // The newer kinds, with the least data each may have.
  cat.AddType(kUString, "UnicodeString");
  cat.AddClassShapedText({u"MS Shell Dlg 2", u"Tahoma",
                          Ref::To(cat.TypeCell("Integer"), 4),
                          Ref::To(cat.TypeCell("UnicodeString"), 5)});
  cat.AddType(kClassRef, "TClass").ref_type = cat.TypeCell("TObject");
  cat.AddType(kPointer, "PInteger").ref_type = cat.TypeCell("Integer");
  cat.AddClassShapedText({u"(none)", u"Default", Ref::To(cat.TypeCell("TClass"), 4),
                          Ref::To(cat.TypeCell("Integer"), 5)});
  cat.AddType(kProcedure, "TProc");
  TypeSpec &managed = cat.AddType(kMRecord, "TManagedRecord");
  managed.record_size = 8;
  managed.managed_fields = {{cat.TypeCell("UnicodeString"), 4}};
}

}  // namespace samples
