#include "samples/class_record.h"

#include <stdexcept>
#include <string>

namespace samples {

const std::vector<std::string> &StandardMethods(uint32_t header_size) {
  static const std::vector<std::string> k64 = {"SafeCallException", "DefaultHandler",
                                               "NewInstance", "FreeInstance", "Destroy"};
  static const std::vector<std::string> k76 = {
      "SafeCallException", "AfterConstruction", "BeforeDestruction", "Dispatch",
      "DefaultHandler",    "NewInstance",       "FreeInstance",      "Destroy"};
  // The newest compilers put three methods in front of the classic eight.
  static const std::vector<std::string> k88 = [] {
    std::vector<std::string> methods = {"Equals", "GetHashCode", "ToString"};
    methods.insert(methods.end(), k76.begin(), k76.end());
    return methods;
  }();
  static const std::vector<std::string> k52 = {"DefaultHandler", "NewInstance",
                                               "FreeInstance", "Destroy"};
  static const std::vector<std::string> kNone;
  switch (header_size) {
    case 52:
      return k52;
    case 64:
      return k64;
    case 76:
      return k76;
    case 88:
      return k88;
    default:
      return kNone;
  }
}

void Ref::Put(Image &image) const {
  if (label.valid())
    image.PutRef(label, addend);
  else
    image.Put32(raw);
}

namespace {

struct TableLabels {
  Label init, method, dynamic, field, class_list, name;
};

void PutTableRef(Image &image, bool present, Label label) {
  if (present)
    image.PutRef(label);
  else
    image.Put32(0);
}

}  // namespace

Addr WriteInterfaceTable(Image &image, const ClassRecordSpec &spec) {
  if (spec.interfaces.empty()) return 0;
  image.AlignFiller();
  // The slot tables come first: a walk over the slots of the first entry goes
  // on while the doublewords hold addresses, and the small entry count behind
  // the last table is where it has to stop.
  std::vector<Addr> slot_tables;
  for (const InterfaceEntry &e : spec.interfaces) {
    slot_tables.push_back(image.Here());
    for (Label m : e.methods) image.PutRef(m);
  }
  const Addr at = image.Here();
  image.Put32(static_cast<uint32_t>(spec.interfaces.size()));
  for (size_t i = 0; i < spec.interfaces.size(); ++i) {
    const InterfaceEntry &e = spec.interfaces[i];
    image.PutBytes(e.guid.data(), e.guid.size());
    image.Put32(slot_tables[i]);
    image.Put32(e.ioffset);
    e.getter.Put(image);
  }
  return at;
}

namespace {

void WriteInitTable(Image &image, const ClassRecordSpec &spec) {
  image.Put8(14);  // the kind of a record type, with an empty name
  image.Put8(0);
  image.Put32(0);  // record size: a class's init table describes no record
  image.Put32(static_cast<uint32_t>(spec.init_entries.size()));
  for (const InitEntry &e : spec.init_entries) {
    image.PutRef(e.type_cell);
    image.Put32(e.offset);
  }
}

void WriteMethodTable(Image &image, const ClassRecordSpec &spec,
                      const std::vector<Label> &entries) {
  image.Put16(static_cast<uint16_t>(spec.methods.size()));
  for (const PublishedMethod &m : spec.methods) {
    image.Put16(static_cast<uint16_t>(2 + 4 + 1 + m.name.size()));
    image.PutRef(m.code);
    image.PutShortString(m.name);
  }
  if (spec.extended_methods.empty()) return;
  image.Put16(static_cast<uint16_t>(spec.extended_methods.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    image.PutRef(entries[i]);
    image.Put16(0);  // flags
    image.Put16(static_cast<uint16_t>(spec.extended_methods[i].virtual_index));
  }
  image.Put16(0);  // VirtCount
}

/// The method entries of the extended table: size, code, name, then the
/// signature (version 3, convention, result, stack total, parameters).
void WriteMethodEntries(Image &image, const ClassRecordSpec &spec,
                        const std::vector<Label> &entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const MethodEntrySpec &m = spec.extended_methods[i];
    size_t size = 2 + 4 + 1 + m.name.size() + 1 + 1 + 4 + 2 + 1 + 2;
    for (const SignatureParamSpec &p : m.params)
      size += 1 + 4 + 2 + 1 + p.name.size() + 2;
    image.Bind(entries[i]);
    image.Put16(static_cast<uint16_t>(size));
    image.PutRef(m.code);
    image.PutShortString(m.name);
    image.Put8(3);
    image.Put8(m.convention);
    image.PutRefOrZero(m.result_cell);
    image.Put16(m.par_off);
    image.Put8(static_cast<uint8_t>(m.params.size()));
    for (const SignatureParamSpec &p : m.params) {
      image.Put8(p.flags);
      image.PutRefOrZero(p.type_cell);
      image.Put16(p.location);
      image.PutShortString(p.name);
      image.Put16(2);  // no attributes
    }
    image.Put16(2);
  }
}

void WriteDynamicTable(Image &image, const ClassRecordSpec &spec) {
  image.Put16(static_cast<uint16_t>(spec.dynamics.size()));
  for (const DynamicMethod &d : spec.dynamics) image.Put16(d.index);
  for (const DynamicMethod &d : spec.dynamics) image.PutRef(d.code);
}

void WriteFieldTable(Image &image, const ClassRecordSpec &spec, Label class_list) {
  image.Put16(static_cast<uint16_t>(spec.fields.size()));
  if (spec.foreign_class_list != 0) {
    image.Put32(spec.foreign_class_list);
  } else {
    image.PutRef(class_list);
  }
  for (const PublishedField &f : spec.fields) {
    image.Put32(f.offset);
    image.Put16(f.class_index);
    image.PutShortString(f.name);
  }
  if (spec.extended_fields.empty()) return;
  image.Put16(static_cast<uint16_t>(spec.extended_fields.size()));
  for (const ExtendedFieldSpec &f : spec.extended_fields) {
    image.Put8(f.flags);
    image.PutRefOrZero(f.type_cell);
    image.Put32(f.offset);
    image.PutShortString(f.name);
    image.Put16(2);  // no attributes
  }
}

}  // namespace

ClassRecordAddrs WriteClassRecord(Image &image, const ClassRecordSpec &spec,
                                  Addr intf_table) {
  ClassRecordAddrs at;
  if (spec.interfaces.empty() != (intf_table == 0))
    throw std::logic_error(spec.name + ": interface table not written before the record");
  at.intf_table = intf_table;
  // The plug-ins look for records on 4-byte boundaries only.
  if (image.Here() % 4 != 0) throw std::logic_error(spec.name + ": record not aligned");
  const uint32_t header = HeaderSize(spec);
  if (StandardMethods(header).empty() || spec.oldest != (header == kOldestHeaderSize))
    throw std::logic_error(spec.name + ": no layout has " +
                           std::to_string(spec.standard.size()) + " standard methods");
  const bool has_methods = !spec.methods.empty() || !spec.extended_methods.empty();
  const bool has_dynamics = !spec.dynamics.empty();
  const bool has_fields = !spec.fields.empty() || !spec.extended_fields.empty();
  std::vector<Label> entries;
  for (size_t i = 0; i < spec.extended_methods.size(); ++i)
    entries.push_back(image.NewLabel());
  TableLabels t{image.NewLabel(), image.NewLabel(), image.NewLabel(),
                image.NewLabel(), image.NewLabel(), image.NewLabel()};

  at.record = image.Here();
  image.Bind(spec.record);
  if (!spec.oldest) {
    image.PutRef(spec.record, static_cast<int32_t>(header));  // SelfPtr
    image.Put32(intf_table);
  }
  image.Put32(0);  // AutoTable
  PutTableRef(image, spec.init_table, t.init);
  if (spec.type_cell.valid())  // the type's kind byte, behind its cell if it has one
    image.PutRef(spec.type_cell, spec.oldest ? 0 : 4);
  else
    image.Put32(0);
  PutTableRef(image, has_fields, t.field);
  PutTableRef(image, has_methods, t.method);
  PutTableRef(image, has_dynamics, t.dynamic);
  image.PutRef(t.name);
  image.Put32(spec.instance_size);
  spec.parent.Put(image);
  for (Label m : spec.standard) {
    if (!m.valid()) throw std::logic_error(spec.name + ": standard method missing");
    image.PutRef(m);
  }
  at.vmt = image.Here();
  for (Label m : spec.virtual_methods) image.PutRef(m);

  if (spec.init_table) {
    at.init_table = image.Here();
    image.Bind(t.init);
    WriteInitTable(image, spec);
  }
  if (has_methods) {
    at.method_table = image.Here();
    image.Bind(t.method);
    WriteMethodTable(image, spec, entries);
  }
  if (has_dynamics) {
    at.dynamic_table = image.Here();
    image.Bind(t.dynamic);
    WriteDynamicTable(image, spec);
  }
  if (has_fields) {
    at.field_table = image.Here();
    image.Bind(t.field);
    WriteFieldTable(image, spec, t.class_list);
    if (spec.foreign_class_list == 0) {
      at.field_class_list = image.Here();
      image.Bind(t.class_list);
      image.Put16(static_cast<uint16_t>(spec.field_classes.size()));
      // The oldest compilers list the classes by their tables.
      for (Label c : spec.field_classes)
        image.PutRef(c, spec.oldest ? static_cast<int32_t>(header) : 0);
    }
    image.AlignFiller();
  }
  at.class_name = image.Here();
  image.Bind(t.name);
  image.PutShortString(spec.name);
  WriteMethodEntries(image, spec, entries);
  image.AlignFiller();
  at.end = image.Here();
  return at;
}

}  // namespace samples
