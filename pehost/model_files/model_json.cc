#include "pehost/model_files/model_json.h"

#include <map>

#include "detector/core/recognise.h"
#include "model/class_reader.h"
#include "model/type_reader.h"
#include "pehost/json_writer/json_writer.h"

namespace model_files {

using namespace model;
using json_writer::JsonWriter;

namespace {

void AddressOrNull(JsonWriter &w, const json_writer::MemberName &key, ea_t ea) {
  if (ea == 0 || ea == BADADDR) {
    w.MemberNull(key);
  } else {
    w.Member(key, static_cast<int64_t>(ea));
  }
}

void TextOrNull(JsonWriter &w, const json_writer::MemberName &key,
                std::string_view text) {
  if (text.empty()) {
    w.MemberNull(key);
  } else {
    w.Member(key, text);
  }
}

void NumberOrNull(JsonWriter &w, const json_writer::MemberName &key, int64_t value,
                  bool known) {
  if (known) {
    w.Member(key, value);
  } else {
    w.MemberNull(key);
  }
}

void NamedOrNull(JsonWriter &w, const json_writer::MemberName &key, const char *name) {
  if (name == nullptr) {
    w.MemberNull(key);
  } else {
    w.Member(key, name);
  }
}

void WriteAccessor(JsonWriter &w, const json_writer::MemberName &key, const Accessor &a) {
  w.Key(key);
  switch (a.kind) {
    case Accessor::kNone:
      w.Null();
      return;
    case Accessor::kConstant:
      w.Bool(a.value != 0);
      return;
    case Accessor::kField:
    case Accessor::kStatic:
    case Accessor::kVirtual:
      break;
  }
  w.BeginObject(true);
  if (a.kind == Accessor::kField)
    w.Member("field", a.value);
  else if (a.kind == Accessor::kStatic)
    w.Member("method", a.value);
  else
    w.Member("virtual", a.value);
  w.EndObject();
}

void WriteParent(JsonWriter &w, const ClassDetails &c) {
  w.Key("parent");
  if (c.parent == BADADDR) return w.Null();
  w.BeginObject(true);
  w.Member("name", c.parent_name);
  w.Member("record", static_cast<int64_t>(c.parent));
  w.EndObject();
}

void WriteTables(JsonWriter &w, const ClassDetails &c) {
  w.Key("tables");
  w.BeginObject(true);
  AddressOrNull(w, "interface", c.interface_table);
  AddressOrNull(w, "init", c.init_table);
  AddressOrNull(w, "field", c.field_table);
  AddressOrNull(w, "method", c.method_table);
  AddressOrNull(w, "dynamic", c.dynamic_table);
  w.EndObject();
}

/// The class's methods, fields, properties and interfaces, an array each.
void WriteMembers(JsonWriter &w, const ClassDetails &c) {
  w.ObjectArray("virtual_methods", c.virtual_methods, [&](const VirtualMethod &m) {
    w.Member("slot", m.slot);
    w.Member("address", static_cast<int64_t>(m.address));
    TextOrNull(w, "name", m.name);
    if (m.standard != nullptr) w.Member("standard", m.standard);
  });
  w.ObjectArray("dynamic_methods", c.dynamic_methods, [&](const DynamicMethod &m) {
    w.Member("index", static_cast<int64_t>(m.index));
    w.Member("address", static_cast<int64_t>(m.address));
    TextOrNull(w, "name", m.name);
  });
  w.ObjectArray("published_methods", c.published_methods, [&](const PublishedMethod &m) {
    w.Member("name", m.name);
    w.Member("address", static_cast<int64_t>(m.address));
  });
  w.ObjectArray("published_fields", c.published_fields, [&](const PublishedField &f) {
    w.Member("name", f.name);
    w.Member("offset", f.offset);
    TextOrNull(w, "class", f.class_name);
  });
  w.ObjectArray("properties", c.properties, [&](const Property &p) {
    w.Member("name", p.name);
    TextOrNull(w, "type", p.type);
    WriteAccessor(w, "read", p.read);
    WriteAccessor(w, "write", p.write);
    WriteAccessor(w, "stored", p.stored);
    NumberOrNull(w, "index", p.index, p.has_index);
    NumberOrNull(w, "default", p.default_value, p.has_default);
  });
  w.ObjectArray("interfaces", c.interfaces, [&](const ImplementedInterface &i) {
    w.Member("guid", i.guid);
    TextOrNull(w, "name", i.name);
    w.Member("table", static_cast<int64_t>(i.table));
    w.Member("offset", i.offset);
  });
}

const char *const kRegisters[] = {"eax", "edx", "ecx"};

void WriteMethodType(JsonWriter &w, const MethodType &m) {
  static const char *const kResults[] = {nullptr, "eax", "edx:eax", "st0"};
  const Prototype &p = m.prototype;
  w.Member("name", m.method);
  w.Member("address", static_cast<int64_t>(m.address));
  w.Member("declaration", m.pascal);
  w.Member("source", m.source);
  w.Member("c_name", m.name);
  w.ObjectArray("params", p.params, [&](const PlacedParam &q) {
    w.Member("name", q.name);
    w.Member("c_type", q.c_type);
    if (q.reg == Register::kStack) {
      w.Member("stack", static_cast<int64_t>(q.stack_offset));
      w.Member("size", static_cast<int64_t>(q.size));
    } else {
      w.Member("register", kRegisters[static_cast<int>(q.reg)]);
    }
    if (q.hidden) w.MemberBool("hidden", true);
  });
  w.Key("result");
  if (p.result == ResultPlace::kNone) {
    w.Null();
  } else {
    w.BeginObject(true);
    w.Member("c_type", p.result_type);
    w.Member("register", kResults[static_cast<int>(p.result)]);
    w.EndObject();
  }
  w.Member("stack_purge", static_cast<int64_t>(p.purge));
}

/// The fields and prototypes of a class, from its types.
void WriteClassTypes(JsonWriter &w, const ClassTypes &t,
                     const std::vector<const MethodType *> &methods) {
  w.Member("c_name", t.name);
  w.ObjectArray("fields", t.fields, [&](const FieldType &f) {
    w.Member("name", f.name);
    TextOrNull(w, "type", f.type);
    w.Member("offset", f.offset);
    NumberOrNull(w, "size", f.size, f.size != 0);
    if (f.size != 0) {
      w.Member("c_type", f.c_type);
    } else {
      w.MemberNull("c_type");
    }
  });
  w.Key("methods");
  w.BeginArray();
  for (const MethodType *m : methods) {
    w.BeginObject();
    WriteMethodType(w, *m);
    w.EndObject();
  }
  w.EndArray();
}

void WriteClass(JsonWriter &w, const ProgramModel &model, const ClassTypes &types,
                const std::vector<const MethodType *> &methods) {
  const ClassDetails &c = types.details;
  w.BeginObject();
  w.Member("name", c.name);
  TextOrNull(w, "unit", c.unit);
  w.Member("record", static_cast<int64_t>(c.record));
  w.Member("vmt", static_cast<int64_t>(c.vmt));
  w.Member("header_size", model.header_size);
  w.Member("instance_size", c.instance_size);
  WriteParent(w, c);
  AddressOrNull(w, "type_info",
                c.type_block == BADADDR ? BADADDR : model.BlockAddress(c.type_block));
  WriteTables(w, c);
  WriteMembers(w, c);
  WriteClassTypes(w, types, methods);
  w.EndObject();
}

void WriteOrdinalFacts(JsonWriter &w, const TypeDetails &t) {
  NamedOrNull(w, "ord_type", OrdTypeName(t.ord_type));
  NumberOrNull(w, "min", t.min, t.has_range);
  NumberOrNull(w, "max", t.max, t.has_range);
}

void WriteMethodFacts(JsonWriter &w, const TypeDetails &t, int header_size) {
  NamedOrNull(w, "method_kind", MethodKindName(t.method_kind, header_size));
  w.ObjectArray("params", t.params, [&](const MethodParam &p) {
    w.Array("flags", ParamFlagNames(p.flags, header_size),
            [&](const std::string &f) { w.String(f); });
    w.Member("name", p.name);
    w.Member("type", p.type);
  });
  TextOrNull(w, "result", t.result);
}

void WriteRecordFacts(JsonWriter &w, const TypeDetails &t) {
  NumberOrNull(w, "size", t.size, t.size >= 0);
  w.ObjectArray("fields", t.fields, [&](const RecordField &f) {
    TextOrNull(w, "name", f.name);
    TextOrNull(w, "type", f.type);
    w.Member("offset", f.offset);
  });
}

/// What the type data of the type's kind holds; nothing for kinds that
/// have none.
void WriteTypeFacts(JsonWriter &w, const TypeDetails &t, int header_size) {
  switch (t.kind) {
    case KIND_INTEGER:
    case KIND_CHAR:
    case KIND_WCHAR:
      return WriteOrdinalFacts(w, t);
    case KIND_ENUMERATION:
      WriteOrdinalFacts(w, t);
      TextOrNull(w, "base", t.base);
      return w.Array(
          "values", t.values, [&](const std::string &v) { w.String(v); }, true);
    case KIND_SET:
      NamedOrNull(w, "ord_type", OrdTypeName(t.ord_type));
      return TextOrNull(w, "element", t.element);
    case KIND_FLOAT:
      return NamedOrNull(w, "float_type", FloatTypeName(t.float_type));
    case KIND_STRING:
      return NumberOrNull(w, "max_length", t.max_length, t.max_length >= 0);
    case KIND_CLASS:
      AddressOrNull(w, "class_record", t.class_record);
      TextOrNull(w, "parent", t.parent);
      return NumberOrNull(w, "property_count", t.property_count, t.property_count >= 0);
    case KIND_METHOD:
      return WriteMethodFacts(w, t, header_size);
    case KIND_RECORD:
    case KIND_MRECORD:
      return WriteRecordFacts(w, t);
    case KIND_INTERFACE:
      TextOrNull(w, "parent", t.parent);
      NumberOrNull(w, "flags", t.flags, t.flags >= 0);
      return TextOrNull(w, "guid", t.guid);
    case KIND_INT64:
      NumberOrNull(w, "min", t.min, t.has_range);
      return NumberOrNull(w, "max", t.max, t.has_range);
    case KIND_DYN_ARRAY:
      NumberOrNull(w, "element_size", t.size, t.size >= 0);
      TextOrNull(w, "element", t.element);
      return NumberOrNull(w, "var_type", t.var_type, t.size >= 0);
    case KIND_ARRAY:
      NumberOrNull(w, "size", t.size, t.size >= 0);
      NumberOrNull(w, "count", t.count, t.count >= 0);
      return TextOrNull(w, "element", t.element);
    case KIND_LSTRING:
      if (t.code_page >= 0) w.Member("code_page", t.code_page);
      return;
    case KIND_CLASS_REF:
      return TextOrNull(w, "class", t.element);
    case KIND_POINTER:
      return TextOrNull(w, "target", t.element);
    case KIND_PROCEDURE:
      return AddressOrNull(w, "signature", t.signature);
    default:
      return;
  }
}

void WriteType(JsonWriter &w, const ProgramModel &model, const TypeEntry &entry) {
  const TypeDetails t = ReadType(model, entry);
  w.BeginObject();
  w.Member("address", static_cast<int64_t>(model.BlockAddress(t.cell)));
  NamedOrNull(w, "kind", type_kind_name(t.kind));
  w.Member("kind_code", static_cast<int64_t>(t.kind));
  w.Member("name", t.name);
  TextOrNull(w, "unit", t.unit);
  WriteTypeFacts(w, t, model.header_size);
  w.EndObject();
}

void WriteForm(JsonWriter &w, const FormEntry &f) {
  w.BeginObject();
  w.Member("resource", f.resource.name.Text());
  w.Member("language", f.resource.language);
  w.Member("address", static_cast<int64_t>(f.resource.data));
  w.Member("size", f.resource.size);
  w.MemberBool("decoded", f.decoded);
  TextOrNull(w, "error", f.error);
  TextOrNull(w, "name", f.root.name);
  TextOrNull(w, "class", f.root.class_name);
  AddressOrNull(w, "class_record", f.class_record);
  w.ObjectArray("components", f.components, [&](const FormComponent &c) {
    w.Member("name", c.name);
    w.Member("class", c.class_name);
    w.Member("depth", c.depth);
  });
  w.ObjectArray("events", f.events, [&](const FormEvent &e) {
    w.Member("component", e.component);
    w.Member("event", e.event);
    w.Member("handler", e.handler);
    AddressOrNull(w, "address", e.address);
  });
  w.EndObject();
}

}  // namespace

bool WriteModelJson(const ProgramModel &model, const ProgramTypes &types,
                    std::ostream &out) {
  std::map<ea_t, std::vector<const MethodType *>> methods;
  for (const MethodType &m : types.methods) methods[m.class_record].push_back(&m);
  JsonWriter w(out);
  w.BeginObject();
  w.Member("format", kJsonFormat);
  w.Key("program");
  w.BeginObject();
  w.Member("file", model.file);
  w.Member("class_header_size", model.header_size);
  w.Member("image_base", static_cast<int64_t>(model.image_base));
  w.Member("lowest", static_cast<int64_t>(model.lowest));
  w.Member("highest", static_cast<int64_t>(model.highest));
  w.Member("classes", static_cast<int64_t>(model.classes.size()));
  w.Member("types", static_cast<int64_t>(model.types.size()));
  w.Member("forms", static_cast<int64_t>(model.forms.size()));
  w.EndObject();

  w.Key("classes");
  w.BeginArray();
  for (size_t i = 0; i < model.classes.size(); ++i) {
    const ClassEntry &c = model.classes[i];
    WriteClass(w, model, types.classes[i], methods[c.record]);
    if (!out) return false;
  }
  w.EndArray();
  w.Key("types");
  w.BeginArray();
  for (const TypeEntry &t : model.types) {
    WriteType(w, model, t);
    if (!out) return false;
  }
  w.EndArray();
  w.Array("forms", model.forms, [&](const FormEntry &f) { WriteForm(w, f); });
  w.Array("problems", model.problems, [&](const std::string &p) { w.String(p); });
  w.EndObject();
  return w.Flush();
}

}  // namespace model_files
