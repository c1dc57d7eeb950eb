#include "samples/type_info.h"

#include <stdexcept>

namespace samples {

const char *KindName(uint8_t kind) {
  static const char *const kNames[] = {
      "Unknown", "Integer",  "Char",    "Enumeration", "Float",   "String",
      "Set",     "Class",    "Method",  "WChar",       "LString", "WString",
      "Variant", "Array",    "Record",  "Interface",   "Int64",   "DynArray",
      "UString", "ClassRef", "Pointer", "Procedure",   "MRecord"};
  return kind < sizeof kNames / sizeof kNames[0] ? kNames[kind] : "Unknown";
}

namespace {

void PutRefOrZero(Image &image, Label label) { image.PutRefOrZero(label); }

void WriteOrdinal(Image &image, const TypeSpec &t) {
  image.Put8(t.ord_type);
  if (t.kind == kSet) {
    image.PutRef(t.comp_type);
    return;
  }
  image.Put32(static_cast<uint32_t>(t.min_value));
  image.Put32(static_cast<uint32_t>(t.max_value));
  if (t.kind != kEnumeration) return;
  if (t.base.valid()) {
    image.PutRef(t.base);
  } else {
    image.PutRef(t.cell);
    for (const std::string &n : t.enum_names) image.PutShortString(n);
  }
  image.PutShortString(t.unit);
}

void WriteClass(Image &image, const TypeSpec &t, std::vector<Addr> &props) {
  t.vmt.Put(image);
  PutRefOrZero(image, t.parent_info);
  image.Put16(static_cast<uint16_t>(t.inherited_props + t.props.size()));
  image.PutShortString(t.unit);
  image.Put16(static_cast<uint16_t>(t.props.size()));
  for (const PropSpec &p : t.props) {
    props.push_back(image.Here());
    PutRefOrZero(image, p.type_cell);
    p.get.Put(image);
    p.set.Put(image);
    p.stored.Put(image);
    image.Put32(p.index);
    image.Put32(p.default_value);
    image.Put16(p.name_index);
    image.PutShortString(p.name);
  }
}

bool IsFunctionKind(uint8_t k) { return k == 1 || k == 5 || k == 7; }

void WriteMethod(Image &image, const TypeSpec &t) {
  image.Put8(t.method_kind);
  image.Put8(static_cast<uint8_t>(t.params.size()));
  for (const ParamSpec &p : t.params) {
    image.Put8(p.flags);
    image.PutShortString(p.name);
    image.PutShortString(p.type_name);
  }
  if (IsFunctionKind(t.method_kind)) image.PutShortString(t.result_type);
  if (!t.ref_tail) return;
  if (IsFunctionKind(t.method_kind)) {
    image.AlignZero();
    image.PutRef(t.result_cell);
  }
  image.Put8(0);  // register calling convention
  for (const ParamSpec &p : t.params) image.PutRef(p.type_cell);
}

void WriteInterface(Image &image, const TypeSpec &t) {
  PutRefOrZero(image, t.intf_parent);
  image.Put8(t.intf_flags);
  image.PutBytes(t.guid.data(), t.guid.size());
  image.PutShortString(t.unit);
  image.Put16(t.intf_word0);
  image.Put16(t.intf_count);
  for (const IntfMemberSpec &m : t.intf_members) {
    image.PutShortString(m.name);
    image.Put16(m.index);
    image.Put8(m.kind);
    image.Put8(m.param_count);
    image.PutShortString(m.param_name);
    image.PutShortString(m.param_type);
    image.PutRef(m.param_cell);
    image.PutShortString(m.result_type);
    image.PutRef(m.result_cell);
  }
  if (t.intf_zero_tail) image.Put16(0);
}

void WriteRecord(Image &image, const TypeSpec &t) {
  image.Put32(t.record_size);
  image.Put32(static_cast<uint32_t>(t.managed_fields.size()));
  for (const InitEntry &f : t.managed_fields) {
    image.PutRef(f.type_cell);
    image.Put32(f.offset);
  }
}

/// An attribute block without attributes: its 2-byte length counts itself.
void PutNoAttributes(Image &image) { image.Put16(2); }

}  // namespace

TypeInfoAddrs WriteTypeInfo(Image &image, const TypeSpec &t) {
  if (image.Here() % 4 != 0) throw std::logic_error(t.name + ": block not aligned");
  TypeInfoAddrs at;
  at.cell = image.Here();
  image.Bind(t.cell);
  image.PutRef(t.cell, 4);
  image.Put8(t.kind);
  image.PutShortString(t.name);
  switch (t.kind) {
    case kInteger:
    case kChar:
    case kEnumeration:
    case kSet:
    case kWChar:
      WriteOrdinal(image, t);
      break;
    case kFloat:
      image.Put8(t.float_type);
      break;
    case kString:
      image.Put8(t.max_length);
      break;
    case kClass:
      WriteClass(image, t, at.props);
      break;
    case kMethod:
      WriteMethod(image, t);
      break;
    case kArray:
      image.Put32(t.array_size);
      image.Put32(t.array_count);
      image.PutRef(t.element);
      break;
    case kRecord:
    case kMRecord:
      WriteRecord(image, t);
      break;
    case kInterface:
      WriteInterface(image, t);
      break;
    case kInt64:
      image.Put64(static_cast<uint64_t>(t.min64));
      image.Put64(static_cast<uint64_t>(t.max64));
      break;
    case kDynArray:
      image.Put32(t.el_size);
      PutRefOrZero(image, t.el_type);
      image.Put32(t.var_type);
      PutRefOrZero(image, t.el_type2);
      image.PutShortString(t.unit);
      break;
    case kUString:
      PutNoAttributes(image);
      break;
    case kClassRef:
    case kPointer:
      image.PutRef(t.ref_type);
      PutNoAttributes(image);
      break;
    case kProcedure:
      t.signature.Put(image);
      PutNoAttributes(image);
      break;
    default:  // the classic string kinds and Variant carry no data
      break;
  }
  at.end = image.Here();
  image.AlignFiller();
  return at;
}

}  // namespace samples
