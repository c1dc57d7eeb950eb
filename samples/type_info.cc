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

/// An attribute block: a length that counts itself, then the attributes.
void PutAttributes(Image &image, const std::vector<AttributeSpec> &attributes) {
  size_t length = 2;
  for (const AttributeSpec &a : attributes) length += 10 + a.args.size();
  image.Put16(static_cast<uint16_t>(length));
  for (const AttributeSpec &a : attributes) {
    image.PutRef(a.type_cell);
    image.PutRef(a.constructor);
    image.Put16(static_cast<uint16_t>(a.args.size()));
    image.PutBytes(a.args.data(), a.args.size());
  }
}

/// An attribute block without attributes.
void PutNoAttributes(Image &image) { image.Put16(2); }

/// A procedure signature: flags, calling convention, result type and the
/// parameters, each with its attribute block.
void PutSignature(Image &image, uint8_t cc, Label result,
                  const std::vector<ParamSpec> &params) {
  image.Put8(0);
  image.Put8(cc);
  PutRefOrZero(image, result);
  image.Put8(static_cast<uint8_t>(params.size()));
  for (const ParamSpec &p : params) {
    image.Put8(p.flags);
    PutRefOrZero(image, p.type_cell);
    image.PutShortString(p.name);
    PutNoAttributes(image);
  }
}

/// A property record: the fixed part, then the name.
void PutPropRecord(Image &image, const PropSpec &p) {
  PutRefOrZero(image, p.type_cell);
  p.get.Put(image);
  p.set.Put(image);
  p.stored.Put(image);
  image.Put32(p.index);
  image.Put32(p.default_value);
  image.Put16(p.name_index);
  image.PutShortString(p.name);
}

void WriteOrdinal(Image &image, const TypeSpec &t) {
  image.Put8(t.ord_type);
  if (t.kind == kSet) {
    image.PutRef(t.comp_type);
    if (t.newer) {
      PutAttributes(image, t.attributes);
      image.Put8(0);  // the lowest element's byte
      image.Put8(1);  // the set's size
    }
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

/// Behind the published properties: every property with type information
/// (the records of those not published follow the block), the class's
/// attributes and its array properties.
void WriteClassTail(Image &image, const TypeSpec &t, std::vector<Addr> &props) {
  image.Put16(static_cast<uint16_t>(t.props.size() + t.public_props.size()));
  for (const Addr record : props) {
    image.Put8(3);  // published
    image.Put32(record);
    PutNoAttributes(image);
  }
  std::vector<Label> records;
  for (size_t i = 0; i < t.public_props.size(); ++i) {
    records.push_back(image.NewLabel());
    image.Put8(2);  // public
    image.PutRef(records.back());
    PutNoAttributes(image);
  }
  PutAttributes(image, t.attributes);
  image.Put16(static_cast<uint16_t>(t.array_props.size()));
  for (const ArrayPropSpec &a : t.array_props) {
    image.Put8(a.flags);
    image.Put16(a.read_index);
    image.Put16(a.write_index);
    image.PutShortString(a.name);
    PutNoAttributes(image);
  }
  for (size_t i = 0; i < t.public_props.size(); ++i) {
    image.Bind(records[i]);
    props.push_back(image.Here());
    PutPropRecord(image, t.public_props[i]);
  }
}

void WriteClass(Image &image, const TypeSpec &t, std::vector<Addr> &props) {
  t.vmt.Put(image);
  PutRefOrZero(image, t.parent_info);
  image.Put16(static_cast<uint16_t>(t.inherited_props + t.props.size()));
  image.PutShortString(t.unit);
  image.Put16(static_cast<uint16_t>(t.props.size()));
  for (const PropSpec &p : t.props) {
    props.push_back(image.Here());
    PutPropRecord(image, p);
  }
  if (t.newer) WriteClassTail(image, t, props);
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
  if (t.newer) {
    // The result type's reference right behind its name, the calling
    // convention, the parameters' types, and a signature behind the block.
    if (IsFunctionKind(t.method_kind)) PutRefOrZero(image, t.result_cell);
    image.Put8(t.calling_convention);
    for (const ParamSpec &p : t.params) PutRefOrZero(image, p.type_cell);
    const Label signature = image.NewLabel();
    image.PutRef(signature);
    PutAttributes(image, t.attributes);
    image.Bind(signature);
    PutSignature(image, t.calling_convention,
                 IsFunctionKind(t.method_kind) ? t.result_cell : Label{}, t.params);
    return;
  }
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
  if (t.newer) {
    // The method count, and no method described.
    image.Put16(t.intf_word0);
    image.Put16(0xFFFF);
    PutAttributes(image, t.attributes);
    return;
  }
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
  if (!t.newer) return;
  image.Put8(static_cast<uint8_t>(t.record_ops.size()));
  for (const Label &op : t.record_ops) image.PutRef(op);
  image.Put32(static_cast<uint32_t>(t.record_fields.size()));
  for (const RecordFieldSpec &f : t.record_fields) {
    PutRefOrZero(image, f.type_cell);
    image.Put32(f.offset);
    image.Put8(f.flags);
    image.PutShortString(f.name);
    PutNoAttributes(image);
  }
  PutAttributes(image, t.attributes);
  image.Put16(static_cast<uint16_t>(t.record_methods.size()));
  for (const RecordMethodSpec &m : t.record_methods) {
    image.Put8(m.flags);
    image.PutRef(m.code);
    image.PutShortString(m.name);
    PutSignature(image, 0, m.result_cell, m.params);
    PutNoAttributes(image);
  }
}

/// What the newer compilers put behind the data of the kinds that end
/// with an attribute block alone.
void WriteAttributesOf(Image &image, const TypeSpec &t) {
  if (t.newer) PutAttributes(image, t.attributes);
}

}  // namespace

TypeInfoAddrs WriteTypeInfo(Image &image, const TypeSpec &t) {
  if (image.Here() % 4 != 0) throw std::logic_error(t.name + ": block not aligned");
  TypeInfoAddrs at;
  at.cell = image.Here();
  image.Bind(t.cell);
  if (!t.no_cell) image.PutRef(t.cell, 4);
  image.Put8(t.kind);
  image.PutShortString(t.name);
  switch (t.kind) {
    case kInteger:
    case kChar:
    case kEnumeration:
    case kWChar:
      WriteOrdinal(image, t);
      WriteAttributesOf(image, t);
      break;
    case kSet:
      WriteOrdinal(image, t);
      break;
    case kFloat:
      image.Put8(t.float_type);
      WriteAttributesOf(image, t);
      break;
    case kString:
      image.Put8(t.max_length);
      WriteAttributesOf(image, t);
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
      if (t.newer) {
        image.Put8(1);  // one dimension, of an index type without a block
        image.Put32(0);
        PutAttributes(image, t.attributes);
      }
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
      WriteAttributesOf(image, t);
      break;
    case kDynArray:
      image.Put32(t.el_size);
      PutRefOrZero(image, t.el_type);
      image.Put32(t.var_type);
      PutRefOrZero(image, t.el_type2);
      image.PutShortString(t.unit);
      if (t.newer) {
        PutRefOrZero(image, t.el_type2.valid() ? t.el_type2 : t.el_type);
        PutAttributes(image, t.attributes);
      }
      break;
    case kLString:
      if (t.newer) {
        image.Put16(1252);  // the code page
        PutAttributes(image, t.attributes);
      }
      break;
    case kWString:
    case kVariant:
      WriteAttributesOf(image, t);
      break;
    case kUString:
      PutAttributes(image, t.attributes);
      break;
    case kClassRef:
    case kPointer:
      image.PutRef(t.ref_type);
      PutAttributes(image, t.attributes);
      break;
    case kProcedure:
      if (t.procedure_signature) {
        const Label signature = image.NewLabel();
        image.PutRef(signature);
        PutAttributes(image, t.attributes);
        image.Bind(signature);
        PutSignature(image, t.calling_convention, t.result_cell, t.params);
      } else {
        t.signature.Put(image);
        PutAttributes(image, t.attributes);
      }
      break;
    default:
      break;
  }
  at.end = image.Here();
  image.AlignFiller();
  return at;
}

}  // namespace samples
