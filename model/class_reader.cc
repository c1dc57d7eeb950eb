#include "model/class_reader.h"

#include <algorithm>

#include "detector/core/recognise.h"

namespace model {

namespace {

constexpr uint32_t kInterfaceEntrySize = 28;
constexpr uint32_t kPropRecordFixed = 26;
// An index or default of this value means the property has none.
constexpr uint32_t kNoValue = 0x80000000u;

/// True when `n` bytes at `ea` lie below `end`.
bool Fits(ea_t ea, uint64_t n, ea_t end) { return ea < end && n <= end - ea; }

/// "{00020400-0000-0000-C000-000000000046}": the first three groups are
/// little-endian numbers, the last two bytes in order. Written by hand, as
/// snprintf took thousands of instructions for each interface.
std::string GuidText(const uint8_t *g) {
  static constexpr int kOrder[16] = {3, 2, 1,  0,  5,  4,  7,  6,
                                     8, 9, 10, 11, 12, 13, 14, 15};
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += "0123456789ABCDEF"[g[kOrder[i]] >> 4];
    text += "0123456789ABCDEF"[g[kOrder[i]] & 0xF];
  }
  text += '}';
  return text;
}

/// The header field `field` of the record at `record`; 0 for a field the
/// layout lacks.
uint32_t FieldValue(ea_t record, int field) {
  const ea_t at = class_field_at(record, field);
  return at == BADADDR ? 0 : get_long(at);
}

void ReadVirtualMethods(const ProgramModel &model, ea_t record, ClassDetails *c) {
  const int header_size = model.header_size;
  // The standard methods lie in front of the table, from the field behind
  // ParentClass on.
  const ea_t first = class_field_at(record, FIELD_FIRST_STANDARD);
  const ea_t table = record + static_cast<ea_t>(header_size);
  // The slots are counted first: a table of a large program's class has
  // dozens, each with a name, which growing the list would move again and
  // again.
  const ea_t end = class_slots_end(record);
  ea_t last = c->vmt;
  while (Fits(last, 4, end) && in_record_range(get_long(last), record)) last += 4;
  c->virtual_methods.reserve((first < table ? (table - first) / 4 : 0) +
                             (last - c->vmt) / 4);
  for (ea_t at = first; at < table; at += 4) {
    const ea_t v = get_long(at);
    if (!in_record_range(v, record)) continue;
    c->virtual_methods.push_back(
        {-static_cast<int>((table - at) / 4), v, model.CodeName(v),
         standard_method_name(header_size, static_cast<int>((at - first) / 4))});
  }
  for (ea_t p = c->vmt; p < last; p += 4) {
    const ea_t v = get_long(p);
    c->virtual_methods.push_back(
        {static_cast<int>((p - c->vmt) / 4), v, model.CodeName(v), nullptr});
  }
}

void ReadDynamicMethods(const ProgramModel &model, ea_t table, ClassDetails *c) {
  const ea_t end = segment_end(table);
  const uint32_t n = get_word(table);
  if (!Fits(table, 2 + 6ull * n, end)) return;
  for (uint32_t i = 0; i < n; ++i) {
    const ea_t code = get_long(table + 2 + 2 * n + 4 * i);
    c->dynamic_methods.push_back(
        {get_word(table + 2 + 2 * i), code, model.CodeName(code)});
  }
}

void ReadFields(const ProgramModel &model, ea_t table, ClassDetails *c) {
  const ea_t end = segment_end(table);
  if (!Fits(table, 6, end)) return;
  const uint32_t n = get_word(table);
  const ea_t list = get_long(table + 2);
  const uint32_t classes =
      in_record_range(list, table) && Fits(list, 2, end) ? get_word(list) : 0;
  ea_t p = table + 6;
  for (uint32_t i = 0; i < n; ++i) {
    if (!Fits(p, 7, end) || !Fits(p + 6, 1u + get_byte(p + 6), end)) break;
    PublishedField f;
    f.offset = get_long(p);
    const uint16_t index = get_word(p + 4);
    f.name = ShortStringAt(p + 6);
    if (index < classes && Fits(list + 2, 4u * (index + 1), end)) {
      const ClassEntry *field_class =
          model.ResolveClassRef(get_long(list + 2 + 4 * index));
      if (field_class != nullptr) f.class_name = model.ClassNameOf(*field_class);
    }
    c->published_fields.push_back(std::move(f));
    p += 7 + get_byte(p + 6);
  }
}

void ReadInterfaces(const ProgramModel &model, ea_t table, ClassDetails *c) {
  const ea_t end = segment_end(table);
  const uint32_t n = get_long(table);
  if (!Fits(table, 4 + uint64_t{kInterfaceEntrySize} * n, end)) return;
  for (uint32_t i = 0; i < n; ++i) {
    const ea_t e = table + 4 + i * kInterfaceEntrySize;
    uint8_t guid[16];
    for (int k = 0; k < 16; ++k) guid[k] = get_byte(e + k);
    ImplementedInterface intf;
    intf.guid = GuidText(guid);
    const ea_t type = model.InterfaceNamed(guid);
    if (type != BADADDR) intf.name = NameAt(type + 5);
    intf.table = get_long(e + 16);
    intf.offset = get_long(e + 20);
    c->interfaces.push_back(std::move(intf));
  }
}

void ReadProperties(const ProgramModel &model, ea_t block, ClassDetails *c) {
  const ea_t end = segment_end(block);
  // Behind the name: ClassType, ParentInfo, PropCount, UnitName, then the
  // count of the class's own property records.
  const ea_t data = block + 6 + get_byte(block + 5);
  const ea_t unit = data + 10;
  ea_t p = unit + 1 + get_byte(unit);
  if (!Fits(p, 2, end)) return;
  const uint32_t n = get_word(p);
  p += 2;
  for (uint32_t i = 0; i < n; ++i) {
    if (!Fits(p, kPropRecordFixed + 1, end)) break;
    const uint8_t length = get_byte(p + kPropRecordFixed);
    if (!Fits(p + kPropRecordFixed, 1u + length, end)) break;
    Property prop;
    prop.type = model.TypeNameAt(get_long(p));
    prop.read = DecodeAccessor(get_long(p + 4), false);
    prop.write = DecodeAccessor(get_long(p + 8), false);
    prop.stored = DecodeAccessor(get_long(p + 12), true);
    const uint32_t index = get_long(p + 16);
    const uint32_t default_value = get_long(p + 20);
    prop.has_index = index != kNoValue;
    prop.index = static_cast<int32_t>(index);
    prop.has_default = default_value != kNoValue;
    prop.default_value = static_cast<int32_t>(default_value);
    prop.name_index = get_word(p + 24);
    prop.name = ShortStringAt(p + kPropRecordFixed);
    c->properties.push_back(std::move(prop));
    p += kPropRecordFixed + 1 + length;
  }
}

}  // namespace

Accessor DecodeAccessor(uint32_t value, bool stored) {
  if (stored && (value & 0xFFFFFF00u) == 0) return {Accessor::kConstant, value};
  if (value == 0) return {};
  switch (value >> 24) {
    case 0xFF:
      return {Accessor::kField, value & 0x00FFFFFFu};
    case 0xFE:
      return {Accessor::kVirtual, static_cast<int16_t>(value & 0xFFFF) / 4};
    default:
      return {Accessor::kStatic, value};
  }
}

std::vector<PublishedMethod> ReadPublishedMethods(ea_t record) {
  std::vector<PublishedMethod> methods;
  const ea_t table = FieldValue(record, FIELD_METHOD_TABLE);
  if (table == 0 || !in_record_range(table, record)) return methods;
  const ea_t end = segment_end(table);
  if (!Fits(table, 2, end)) return methods;
  const uint32_t n = get_word(table);
  ea_t p = table + 2;
  for (uint32_t i = 0; i < n; ++i) {
    if (!Fits(p, 7, end)) break;
    const uint32_t size = get_word(p);
    const uint32_t length = get_byte(p + 6);
    // Newer compilers let an entry run past its name; an entry shorter than
    // its own name means the table is not what it seems.
    if (size < 7 + length || !Fits(p, size, end)) break;
    methods.push_back({ShortStringAt(p + 6), get_long(p + 2)});
    p += size;
  }
  return methods;
}

ClassDetails ReadClass(const ProgramModel &model, const ClassEntry &entry, bool methods) {
  const ea_t a = entry.record;
  ClassDetails c;
  c.name = model.ClassNameOf(entry);
  c.unit = model.units[entry.unit];
  c.record = a;
  c.vmt = class_vmt(a);
  c.instance_size = FieldValue(a, FIELD_INSTANCE_SIZE);
  c.parent = entry.parent;
  if (entry.parent != BADADDR) {
    const ClassEntry *parent = model.FindClass(entry.parent);
    c.parent_name = parent != nullptr ? std::string(model.ClassNameOf(*parent))
                                      : ClassName(entry.parent);
  }
  c.type_block = entry.type_block;
  // A table field counts only when it leads into the program.
  auto table = [a](int field) {
    const ea_t v = FieldValue(a, field);
    return v != 0 && in_record_range(v, a) ? v : 0;
  };
  c.interface_table = table(FIELD_INTF_TABLE);
  c.init_table = table(FIELD_INIT_TABLE);
  c.field_table = table(FIELD_FIELD_TABLE);
  c.method_table = table(FIELD_METHOD_TABLE);
  c.dynamic_table = table(FIELD_DYNAMIC_TABLE);

  if (methods) ReadVirtualMethods(model, a, &c);
  if (methods && c.dynamic_table != 0) ReadDynamicMethods(model, c.dynamic_table, &c);
  c.published_methods = ReadPublishedMethods(a);
  if (c.field_table != 0) ReadFields(model, c.field_table, &c);
  if (c.interface_table != 0) ReadInterfaces(model, c.interface_table, &c);
  if (entry.type_block != BADADDR) ReadProperties(model, entry.type_block, &c);
  return c;
}

}  // namespace model
