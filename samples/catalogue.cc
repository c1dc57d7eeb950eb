#include "samples/catalogue.h"

#include <stdexcept>

namespace samples {

const char *const kStandardMethodNames[kStandardMethodCount] = {
    "SafeCallException", "AfterConstruction", "BeforeDestruction", "Dispatch",
    "DefaultHandler",    "NewInstance",       "FreeInstance",      "Destroy"};

Catalogue::Catalogue(Image &image) : image_(image) {}

UnitSpec &Catalogue::BeginUnit(const std::string &name) {
  units_.emplace_back();
  units_.back().name = name;
  return units_.back();
}

GroupSpec &Catalogue::BeginGroup() {
  unit().groups.emplace_back();
  return unit().groups.back();
}

Label Catalogue::ClassRecord(const std::string &name) {
  auto it = class_labels_.find(name);
  if (it != class_labels_.end()) return it->second;
  Label l = image_.NewLabel();
  class_labels_.emplace(name, l);
  return l;
}

Label Catalogue::TypeCell(const std::string &name) {
  auto it = type_labels_.find(name);
  if (it != type_labels_.end()) return it->second;
  Label l = image_.NewLabel();
  type_labels_.emplace(name, l);
  return l;
}

const ClassRecordSpec *Catalogue::FindClass(const std::string &name) const {
  auto it = classes_.find(name);
  return it == classes_.end() ? nullptr : it->second;
}

ClassRecordSpec &Catalogue::AddClass(const std::string &name, const std::string &parent,
                                     uint32_t instance_size) {
  if (unit().groups.empty()) BeginGroup();
  if (classes_.count(name)) throw std::logic_error("class defined twice: " + name);
  GroupSpec &g = unit().groups.back();
  g.classes.emplace_back();
  ClassRecordSpec &c = g.classes.back();
  c.name = name;
  c.record = ClassRecord(name);
  c.instance_size = instance_size;
  if (!parent.empty()) {
    auto it = inherited_.find(parent);
    if (it == inherited_.end()) throw std::logic_error(name + ": parent not defined yet");
    c.parent = Ref::To(ClassRecord(parent));
    c.standard = it->second.standard;
    c.virtual_methods = it->second.virtuals;
  } else {
    for (int i = 0; i < kStandardMethodCount; ++i)
      c.standard[i] = Function(name + "." + kStandardMethodNames[i], ShapeForSeed(i));
  }
  classes_[name] = &c;
  // Descendants copy the slots as they stand when the class is complete; the
  // catalogue finishes a class before deriving from it, so refresh lazily.
  inherited_[name] = Inherited{c.standard, c.virtual_methods};
  return c;
}

TypeSpec &Catalogue::AddType(uint8_t kind, const std::string &name) {
  if (unit().groups.empty()) BeginGroup();
  GroupSpec &g = unit().groups.back();
  g.types.emplace_back();
  TypeSpec &t = g.types.back();
  t.kind = kind;
  t.name = name;
  t.cell = name.empty() ? image_.NewLabel() : TypeCell(name);
  t.unit = unit().name;
  return t;
}

Label Catalogue::Function(const std::string &name, FunctionShape shape, Label callee,
                          uint8_t operand) {
  FunctionSpec f;
  f.label = image_.NewLabel();
  f.shape = shape;
  f.name = name;
  f.callee = callee;
  f.operand = operand;
  unit().functions.push_back(f);
  return f.label;
}

void Catalogue::OverrideStandard(ClassRecordSpec &c, int slot) {
  c.standard[slot] = Function(c.name + "." + kStandardMethodNames[slot],
                              ShapeForSeed(static_cast<uint32_t>(slot + c.name.size())));
  inherited_[c.name] = Inherited{c.standard, c.virtual_methods};
}

Label Catalogue::AddVirtual(ClassRecordSpec &c, const std::string &method) {
  Label l = Function(
      c.name + "." + method,
      ShapeForSeed(static_cast<uint32_t>(c.virtual_methods.size() + method.size())));
  c.virtual_methods.push_back(l);
  inherited_[c.name] = Inherited{c.standard, c.virtual_methods};
  return l;
}

void Catalogue::OverrideVirtual(ClassRecordSpec &c, size_t index,
                                const std::string &method) {
  if (index >= c.virtual_methods.size()) throw std::logic_error(c.name + ": no slot");
  c.virtual_methods[index] =
      Function(c.name + "." + method, ShapeForSeed(static_cast<uint32_t>(index + 1)));
  inherited_[c.name] = Inherited{c.standard, c.virtual_methods};
}

void Catalogue::SeedName(Label label, int32_t addend, const std::string &name) {
  seeds_.push_back({label, addend, name, false});
}

void Catalogue::SeedComment(Label label, int32_t addend, const std::string &text) {
  seeds_.push_back({label, addend, text, true});
}

Label Catalogue::DataCell(Ref value) {
  Label l = image_.NewLabel();
  data_cells_.emplace_back(l, value);
  return l;
}

}  // namespace samples
