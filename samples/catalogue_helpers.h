// Small shorthands the unit files use to declare properties, parameters,
// enumerations and interface identifiers.
#pragma once

#include <initializer_list>
#include <string>

#include "samples/catalogue.h"

namespace samples {

/// An accessor that reads or writes the object's field at `offset` directly.
inline Ref FieldAccess(uint32_t offset) { return Ref::Raw(0xFF000000u | offset); }

inline PropSpec Prop(Catalogue &cat, const std::string &name, const std::string &type,
                     Ref get, Ref set, Ref stored, uint16_t name_index) {
  PropSpec p;
  p.name = name;
  p.type_cell = cat.TypeCell(type);
  p.get = get;
  p.set = set;
  p.stored = stored;
  p.name_index = name_index;
  return p;
}

inline ParamSpec Param(Catalogue &cat, uint8_t flags, const std::string &name,
                       const std::string &type) {
  return ParamSpec{flags, name, type, cat.TypeCell(type)};
}

inline TypeSpec &Ordinal(Catalogue &cat, uint8_t kind, const std::string &name,
                         uint8_t ord_type, int32_t min, int32_t max) {
  TypeSpec &t = cat.AddType(kind, name);
  t.ord_type = ord_type;
  t.min_value = min;
  t.max_value = max;
  return t;
}

inline TypeSpec &Enumeration(Catalogue &cat, const std::string &name,
                             std::initializer_list<const char *> names) {
  TypeSpec &t = cat.AddType(kEnumeration, name);
  t.ord_type = 1;
  t.min_value = 0;
  t.max_value = static_cast<int32_t>(names.size()) - 1;
  for (const char *n : names) t.enum_names.emplace_back(n);
  return t;
}

inline TypeSpec &SetOf(Catalogue &cat, const std::string &name,
                       const std::string &element, uint8_t ord_type = 1) {
  TypeSpec &t = cat.AddType(kSet, name);
  t.ord_type = ord_type;
  t.comp_type = cat.TypeCell(element);
  return t;
}

/// A class type block for `cls`, whose parent's block is `parent_type`.
inline TypeSpec &ClassType(Catalogue &cat, ClassRecordSpec &cls,
                           const std::string &parent_type, uint16_t inherited_props) {
  TypeSpec &t = cat.AddType(kClass, cls.name);
  t.vmt = cat.Vmt(cls.name);
  if (!parent_type.empty()) t.parent_info = cat.TypeCell(parent_type);
  t.inherited_props = inherited_props;
  cls.type_cell = t.cell;
  return t;
}

/// A made-up but stable interface identifier.
/// The type blocks of TPersistent and TComponent (with TComponent's Name and
/// Tag properties), TComponentName and TNotifyEvent, as every layout's
/// Classes unit declares them; `set_name` is TComponent's SetName.
inline void ComponentTypes(Catalogue &cat, ClassRecordSpec &pers, ClassRecordSpec &comp,
                           Label set_name) {
  ClassType(cat, pers, "TObject", 0);
  TypeSpec &tcomp = ClassType(cat, comp, "TPersistent", 0);
  Label get_tag =
      cat.Function("TComponent.GetTag", FunctionShape::kFieldGetter, Label{}, 0x0C);
  tcomp.props = {
      Prop(cat, "Name", "TComponentName", FieldAccess(0x08), Ref::To(set_name),
           Ref::Raw(0), 0),
      Prop(cat, "Tag", "Integer", Ref::To(get_tag), FieldAccess(0x0C), Ref::Raw(1), 1)};
  tcomp.props[1].default_value = 0;
  cat.AddType(kLString, "TComponentName");
  TypeSpec &notify = cat.AddType(kMethod, "TNotifyEvent");
  notify.params = {Param(cat, 0, "Sender", "TObject")};
}

inline Guid MakeGuid(uint32_t seed) {
  Guid g{};
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (auto &b : g) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  g[7] = static_cast<uint8_t>((g[7] & 0x0F) | 0x40);
  return g;
}

}  // namespace samples
