#include "model/class_members.h"

#include "detector/core/recognise.h"
#include "model/cursor.h"

namespace model {

namespace {

constexpr uint8_t kSignatureVersion = 3;
constexpr uint8_t kLastConvention = 4;

/// The table a record's header field points to, or 0.
ea_t TableAt(ea_t record, int field) {
  const ea_t v = get_long(class_field_at(record, field));
  return v != 0 && in_record_range(v, record) ? v : 0;
}

/// The extended entries behind the published fields. The first compilers of
/// the layout wrote none: a table whose entries are not all names at
/// offsets inside the instance is not one.
void ReadExtendedFields(ea_t table, uint32_t instance_size, ClassMembers *m) {
  Cursor c(table, segment_end(table));
  uint16_t count;
  uint32_t list;
  if (!c.Word(&count) || !c.Long(&list)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t offset;
    uint16_t index;
    std::string name;
    if (!c.Long(&offset) || !c.Word(&index) || !c.String(&name)) return;
  }
  uint16_t extended;
  if (!c.Word(&extended)) return;
  std::vector<ExtendedField> fields;
  for (uint32_t i = 0; i < extended; ++i) {
    ExtendedField f;
    uint32_t ref;
    if (!c.Byte(&f.flags) || !c.Long(&ref) || !c.Long(&f.offset) || !c.Name(&f.name) ||
        !c.Attributes() || f.offset >= instance_size ||
        (ref != 0 && !in_record_range(ref, table)))
      return;
    f.type_ref = ref;
    fields.push_back(std::move(f));
  }
  m->fields = std::move(fields);
}

/// A method entry: its size, code, name and the signature its size leaves
/// room for.
bool ReadMethodEntry(ea_t entry, MethodEntry *m) {
  const ea_t segment = segment_end(entry);
  Cursor c(entry, segment);
  uint16_t size;
  uint32_t code;
  if (!c.Word(&size) || !c.Long(&code) || !c.Name(&m->name)) return false;
  if (size < c.at() - entry || !Cursor(entry, segment).Has(size)) return false;
  m->code = code;
  // Methods the linker dropped share one cell of zeros outside the code.
  m->dropped = !in_record_range(code, entry) || get_long(code) == 0;
  if (entry + size > c.at())
    m->has_signature = ReadSignature(c.at(), entry + size, &m->signature);
  return true;
}

void ReadExtendedMethods(ea_t table, ClassMembers *m) {
  Cursor c(table, segment_end(table));
  uint16_t count;
  if (!c.Word(&count)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t size;
    if (!c.Word(&size) || size < 2 || !c.Has(size - 2u)) return;
    c.Skip(size - 2u);
  }
  uint16_t extended;
  if (!c.Word(&extended)) return;
  std::vector<MethodEntry> methods;
  for (uint32_t i = 0; i < extended; ++i) {
    uint32_t entry;
    uint16_t flags, index;
    if (!c.Long(&entry) || !c.Word(&flags) || !c.Word(&index)) return;
    MethodEntry method;
    if (!in_record_range(entry, table) || !ReadMethodEntry(entry, &method)) continue;
    method.virtual_index = static_cast<int16_t>(index);
    methods.push_back(std::move(method));
  }
  m->methods = std::move(methods);
}

}  // namespace

bool ReadSignature(ea_t at, ea_t end, Signature *s) {
  Cursor c(at, end);
  uint8_t version, count;
  uint32_t result;
  if (!c.Byte(&version) || version != kSignatureVersion || !c.Byte(&s->convention) ||
      s->convention > kLastConvention || !c.Long(&result) || !c.Word(&s->par_off) ||
      !c.Byte(&count))
    return false;
  s->result_ref = result;
  s->params.clear();
  for (uint32_t i = 0; i < count; ++i) {
    SignatureParam p;
    uint32_t ref;
    if (!c.Byte(&p.flags) || !c.Long(&ref) || !c.Word(&p.location) ||
        !c.String(&p.name) || !c.Attributes() || (ref != 0 && !in_record_range(ref, at)))
      return false;
    p.type_ref = ref;
    s->params.push_back(std::move(p));
  }
  return c.Attributes() && c.at() == end;
}

ClassMembers ReadClassMembers(const ProgramModel &model, ea_t record) {
  ClassMembers m;
  if (!has_newer_type_data(model.header_size)) return m;
  if (const ea_t fields = TableAt(record, FIELD_FIELD_TABLE))
    ReadExtendedFields(fields, get_long(class_field_at(record, FIELD_INSTANCE_SIZE)), &m);
  if (const ea_t methods = TableAt(record, FIELD_METHOD_TABLE))
    ReadExtendedMethods(methods, &m);
  return m;
}

}  // namespace model
