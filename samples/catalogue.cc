#include "samples/catalogue.h"

#include <algorithm>
#include <stdexcept>

namespace samples {

Catalogue::Catalogue(Image &image, uint32_t header_size)
    : image_(image), header_size_(header_size) {
  if (StandardMethods(header_size).empty())
    throw std::logic_error("no class record layout of " + std::to_string(header_size) +
                           " bytes");
}

UnitSpec &Catalogue::BeginUnit(const std::string &name, const std::string &scope) {
  units_.emplace_back();
  units_.back().name = header_size_ == 88 && !scope.empty() ? scope + "." + name : name;
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

Ref Catalogue::Vmt(const std::string &name) {
  return Ref::To(ClassRecord(name), static_cast<int32_t>(header_size_));
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
  c.oldest = oldest();
  if (!parent.empty()) {
    auto it = inherited_.find(parent);
    if (it == inherited_.end()) throw std::logic_error(name + ": parent not defined yet");
    // The oldest compilers point at the parent's table.
    c.parent =
        Ref::To(ClassRecord(parent), oldest() ? static_cast<int32_t>(header_size_) : 0);
    c.standard = it->second.standard;
    c.virtual_methods = it->second.virtuals;
  } else {
    const std::vector<std::string> &standard = StandardMethods(header_size_);
    for (uint32_t i = 0; i < standard.size(); ++i)
      c.standard.push_back(Function(name + "." + standard[i], ShapeForSeed(i)));
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
  t.newer = header_size_ == 88;
  t.no_cell = oldest();
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

void Catalogue::OverrideStandard(ClassRecordSpec &c, const std::string &method) {
  const std::vector<std::string> &standard = StandardMethods(header_size_);
  const auto it = std::find(standard.begin(), standard.end(), method);
  if (it == standard.end()) {
    const std::vector<std::string> &all = StandardMethods(88);
    if (std::find(all.begin(), all.end(), method) == all.end())
      throw std::logic_error(c.name + ": no standard method " + method);
    return;  // an older layout without that method
  }
  const size_t slot = static_cast<size_t>(it - standard.begin());
  c.standard[slot] = Function(c.name + "." + method,
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

void Catalogue::AddClassShapedText(const ClassShapedText &text) {
  if (unit().groups.empty()) BeginGroup();
  GroupSpec &g = unit().groups.back();
  g.texts.emplace_back(g.types.size(), text);
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
