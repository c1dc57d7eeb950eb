#include "model/type_reader.h"

#include <cstdio>
#include <iterator>

#include "detector/core/recognise.h"
#include "model/cursor.h"

namespace model {

namespace {

// An enumeration of more names than this is not read name by name.
constexpr int64_t kMaxEnumNames = 4096;
constexpr uint32_t kMaxRecordFields = 4096;
constexpr int kOrdULong = 5;

const char *const kOrdTypes[] = {"otSByte", "otUByte", "otSWord",
                                 "otUWord", "otSLong", "otULong"};
const char *const kFloatTypes[] = {"ftSingle", "ftDouble", "ftExtended", "ftComp",
                                   "ftCurr"};
const char *const kMethodKinds[] = {
    "mkProcedure",        "mkFunction",        "mkConstructor",     "mkDestructor",
    "mkClassProcedure",   "mkClassFunction",   "mkSafeProcedure",   "mkSafeFunction",
    "mkClassConstructor", "mkClassDestructor", "mkOperatorOverload"};
const char *const kParamFlags[] = {"pfVar",       "pfConst", "pfArray", "pfAddress",
                                   "pfReference", "pfOut",   "pfResult"};
// Older compilers know the first eight method kinds and six parameter flags.
constexpr int kLastClassicMethodKind = 7;
constexpr size_t kClassicParamFlags = 6;

template <size_t N>
const char *NameOf(const char *const (&names)[N], int i) {
  return i >= 0 && static_cast<size_t>(i) < N ? names[i] : nullptr;
}

void ReadOrdinal(const ProgramModel &model, Cursor &c, TypeDetails *t) {
  uint8_t ord;
  uint32_t min, max;
  if (!c.Byte(&ord) || !c.Long(&min) || !c.Long(&max)) return;
  t->ord_type = ord;
  t->has_range = true;
  if (ord == kOrdULong) {
    t->min = min;
    t->max = max;
  } else {
    t->min = static_cast<int32_t>(min);
    t->max = static_cast<int32_t>(max);
  }
  if (t->kind != KIND_ENUMERATION) return;
  uint32_t base;
  if (!c.Long(&base)) return;
  if (base == t->cell) {
    const int64_t count = t->max - t->min + 1;
    if (count < 1 || count > kMaxEnumNames) return;
    for (int64_t i = 0; i < count; ++i) {
      std::string name;
      if (!c.String(&name)) return;
      t->values.push_back(std::move(name));
    }
  } else {
    t->base = model.TypeNameAt(base);
  }
  c.Name(&t->unit);
}

void ReadSet(const ProgramModel &model, Cursor &c, TypeDetails *t) {
  uint8_t ord;
  if (!c.Byte(&ord)) return;
  t->ord_type = ord;
  // Newer programs may put a size byte in front of the element reference.
  const ea_t at = c.at();
  for (ea_t ref_at : {at, at + 1}) {
    Cursor r(ref_at, segment_end(t->cell));
    uint32_t ref;
    if (!r.Long(&ref)) return;
    t->element = model.TypeNameAt(ref);
    if (!t->element.empty()) return;
  }
}

void ReadClassType(const ProgramModel &model, Cursor &c, TypeDetails *t) {
  uint32_t vmt, parent;
  uint16_t props;
  if (!c.Long(&vmt) || !c.Long(&parent) || !c.Word(&props)) return;
  const ea_t record = vmt - static_cast<ea_t>(model.header_size);
  if (model.FindClass(record) != nullptr) t->class_record = record;
  t->parent = model.TypeNameAt(parent);
  t->property_count = props;
  c.Name(&t->unit);
}

void ReadMethod(Cursor &c, TypeDetails *t) {
  uint8_t kind, count;
  if (!c.Byte(&kind) || !c.Byte(&count)) return;
  t->method_kind = kind;
  for (int i = 0; i < count; ++i) {
    MethodParam param;
    if (!c.Byte(&param.flags) || !c.String(&param.name) || !c.String(&param.type)) return;
    t->params.push_back(std::move(param));
  }
  // Functions: mkFunction, mkClassFunction, mkSafeFunction.
  if (kind == 1 || kind == 5 || kind == 7) c.String(&t->result);
}

/// The newest layout's full field list behind the managed fields: operator
/// count and pointers, field count, then per field a type reference, an
/// offset, a flag byte, a name and an attribute block.
bool ReadExtendedRecord(const ProgramModel &model, Cursor c, TypeDetails *t) {
  uint8_t ops;
  uint32_t count;
  if (!c.Byte(&ops) || !c.Has(4u * ops)) return false;
  c.Skip(4u * ops);
  if (!c.Long(&count) || count > kMaxRecordFields) return false;
  std::vector<RecordField> fields;
  for (uint32_t i = 0; i < count; ++i) {
    RecordField f;
    uint32_t ref;
    uint8_t flags;
    uint16_t attributes;
    if (!c.Long(&ref) || !c.Long(&f.offset) || !c.Byte(&flags) || !c.Name(&f.name) ||
        !c.Word(&attributes) || attributes < 2 || !c.Has(attributes - 2u))
      return false;
    if (t->size >= 0 && f.offset > t->size) return false;
    c.Skip(attributes - 2u);
    f.type = model.TypeNameAt(ref);
    fields.push_back(std::move(f));
  }
  t->fields = std::move(fields);
  return true;
}

void ReadRecord(const ProgramModel &model, Cursor &c, TypeDetails *t) {
  uint32_t size, managed;
  if (!c.Long(&size) || !c.Long(&managed)) return;
  t->size = size;
  if (!c.Has(8ull * managed)) return;
  for (uint32_t i = 0; i < managed; ++i) {
    uint32_t ref = 0, offset = 0;
    c.Long(&ref);
    c.Long(&offset);
    t->fields.push_back({"", model.TypeNameAt(ref), offset});
  }
  if (has_newer_type_data(model.header_size)) ReadExtendedRecord(model, c, t);
}

void ReadInterface(const ProgramModel &model, Cursor &c, TypeDetails *t) {
  uint32_t parent;
  uint8_t flags;
  if (!c.Long(&parent) || !c.Byte(&flags) || !c.Has(16)) return;
  t->parent = model.TypeNameAt(parent);
  t->flags = flags;
  uint8_t g[16];
  for (uint8_t &b : g) c.Byte(&b);
  char text[40];
  snprintf(text, sizeof text,
           "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
           g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12],
           g[13], g[14], g[15]);
  t->guid = text;
  c.Name(&t->unit);
}

void ReadDynArray(const ProgramModel &model, Cursor &c, TypeDetails *t) {
  uint32_t size, element, var_type, element2;
  if (!c.Long(&size) || !c.Long(&element) || !c.Long(&var_type) || !c.Long(&element2))
    return;
  t->size = size;
  // The second element reference is set for every element type, the first
  // only for managed ones.
  t->element = model.TypeNameAt(element2 != 0 ? element2 : element);
  t->var_type = static_cast<int32_t>(var_type);
  c.Name(&t->unit);
}

}  // namespace

const char *OrdTypeName(int ord_type) { return NameOf(kOrdTypes, ord_type); }
const char *FloatTypeName(int float_type) { return NameOf(kFloatTypes, float_type); }
const char *MethodKindName(int method_kind, int header_size) {
  if (!has_newer_type_data(header_size) && method_kind > kLastClassicMethodKind)
    return nullptr;
  return NameOf(kMethodKinds, method_kind);
}

std::vector<std::string> ParamFlagNames(uint8_t flags, int header_size) {
  const size_t known =
      has_newer_type_data(header_size) ? std::size(kParamFlags) : kClassicParamFlags;
  std::vector<std::string> names;
  for (size_t bit = 0; bit < 8; ++bit) {
    if ((flags & (1u << bit)) == 0) continue;
    if (bit < known) {
      names.emplace_back(kParamFlags[bit]);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "0x%X", 1u << bit);
      names.emplace_back(hex);
    }
  }
  return names;
}

TypeDetails ReadType(const ProgramModel &model, const TypeEntry &entry) {
  TypeDetails t;
  t.cell = entry.cell;
  t.kind = entry.kind;
  t.name = model.TypeName(entry);
  Cursor c(entry.cell + 6 + get_byte(entry.cell + 5), segment_end(entry.cell));
  uint8_t byte;
  uint32_t value;
  switch (entry.kind) {
    case KIND_INTEGER:
    case KIND_CHAR:
    case KIND_WCHAR:
    case KIND_ENUMERATION:
      ReadOrdinal(model, c, &t);
      break;
    case KIND_SET:
      ReadSet(model, c, &t);
      break;
    case KIND_FLOAT:
      if (c.Byte(&byte)) t.float_type = byte;
      break;
    case KIND_STRING:
      if (c.Byte(&byte)) t.max_length = byte;
      break;
    case KIND_CLASS:
      ReadClassType(model, c, &t);
      break;
    case KIND_METHOD:
      ReadMethod(c, &t);
      break;
    case KIND_LSTRING:
      if (has_newer_type_data(model.header_size)) {
        uint16_t code_page;
        if (c.Word(&code_page)) t.code_page = code_page;
      }
      break;
    case KIND_ARRAY: {
      uint32_t size, count, element;
      if (c.Long(&size) && c.Long(&count) && c.Long(&element)) {
        t.size = size;
        t.count = count;
        t.element = model.TypeNameAt(element);
      }
      break;
    }
    case KIND_RECORD:
    case KIND_MRECORD:
      ReadRecord(model, c, &t);
      break;
    case KIND_INTERFACE:
      ReadInterface(model, c, &t);
      break;
    case KIND_INT64:
      if (c.Quad(&t.min) && c.Quad(&t.max)) t.has_range = true;
      break;
    case KIND_DYN_ARRAY:
      ReadDynArray(model, c, &t);
      break;
    case KIND_CLASS_REF:
    case KIND_POINTER:
      if (c.Long(&value)) t.element = model.TypeNameAt(value);
      break;
    case KIND_PROCEDURE:
      if (c.Long(&value)) t.signature = value;
      break;
    default:
      break;
  }
  return t;
}

}  // namespace model
