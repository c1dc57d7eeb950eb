#include "samples/class_record.h"

#include <stdexcept>

namespace samples {

void Ref::Put(Image &image) const {
  if (label.valid())
    image.PutRef(label, addend);
  else
    image.Put32(raw);
}

namespace {

struct TableLabels {
  Label intf, init, method, dynamic, field, class_list, name;
};

void PutTableRef(Image &image, bool present, Label label) {
  if (present)
    image.PutRef(label);
  else
    image.Put32(0);
}

void WriteInterfaceTable(Image &image, const ClassRecordSpec &spec) {
  image.Put32(static_cast<uint32_t>(spec.interfaces.size()));
  std::vector<Label> slot_tables;
  for (const InterfaceEntry &e : spec.interfaces) {
    image.PutBytes(e.guid.data(), e.guid.size());
    slot_tables.push_back(image.NewLabel());
    image.PutRef(slot_tables.back());
    image.Put32(e.ioffset);
    e.getter.Put(image);
  }
  for (size_t i = 0; i < spec.interfaces.size(); ++i) {
    image.Bind(slot_tables[i]);
    for (Label m : spec.interfaces[i].methods) image.PutRef(m);
  }
}

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

void WriteMethodTable(Image &image, const ClassRecordSpec &spec) {
  image.Put16(static_cast<uint16_t>(spec.methods.size()));
  for (const PublishedMethod &m : spec.methods) {
    image.Put16(static_cast<uint16_t>(2 + 4 + 1 + m.name.size()));
    image.PutRef(m.code);
    image.PutShortString(m.name);
  }
}

void WriteDynamicTable(Image &image, const ClassRecordSpec &spec) {
  image.Put16(static_cast<uint16_t>(spec.dynamics.size()));
  for (const DynamicMethod &d : spec.dynamics) image.Put16(d.index);
  for (const DynamicMethod &d : spec.dynamics) image.PutRef(d.code);
}

void WriteFieldTable(Image &image, const ClassRecordSpec &spec, Label class_list) {
  image.Put16(static_cast<uint16_t>(spec.fields.size()));
  image.PutRef(class_list);
  for (const PublishedField &f : spec.fields) {
    image.Put32(f.offset);
    image.Put16(f.class_index);
    image.PutShortString(f.name);
  }
}

}  // namespace

ClassRecordAddrs WriteClassRecord(Image &image, const ClassRecordSpec &spec) {
  ClassRecordAddrs at;
  const bool has_intf = !spec.interfaces.empty();
  const bool has_methods = !spec.methods.empty();
  const bool has_dynamics = !spec.dynamics.empty();
  const bool has_fields = !spec.fields.empty();
  TableLabels t{image.NewLabel(), image.NewLabel(), image.NewLabel(), image.NewLabel(),
                image.NewLabel(), image.NewLabel(), image.NewLabel()};

  at.record = image.Here();
  image.Bind(spec.record);
  image.PutRef(spec.record, kClassHeaderSize);  // SelfPtr
  PutTableRef(image, has_intf, t.intf);
  image.Put32(0);  // AutoTable
  PutTableRef(image, spec.init_table, t.init);
  if (spec.type_cell.valid())
    image.PutRef(spec.type_cell, 4);  // the type's kind byte, behind its cell
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

  if (has_intf) {
    at.intf_table = image.Here();
    image.Bind(t.intf);
    WriteInterfaceTable(image, spec);
  }
  if (spec.init_table) {
    at.init_table = image.Here();
    image.Bind(t.init);
    WriteInitTable(image, spec);
  }
  if (has_methods) {
    at.method_table = image.Here();
    image.Bind(t.method);
    WriteMethodTable(image, spec);
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
    at.field_class_list = image.Here();
    image.Bind(t.class_list);
    image.Put16(static_cast<uint16_t>(spec.field_classes.size()));
    for (Label c : spec.field_classes) image.PutRef(c);
    image.AlignFiller();
  }
  at.class_name = image.Here();
  image.Bind(t.name);
  image.PutShortString(spec.name);
  image.AlignFiller();
  at.end = image.Here();
  return at;
}

}  // namespace samples
