// Ordinal kinds (Integer, Char, WChar, Enumeration, Set) and the other
// kinds whose data is a few numbers: Float, short String and Int64.
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/field_walk.h"
#include "detector/type_fields.h"
#include "detector/type_walks.h"

namespace {

const char *const kOrdTypeTexts[] = {
    "OrdType:char - min/max",   "OrdType:uchar - min/max", "OrdType:short - min/max",
    "OrdType:ushort - min/max", "OrdType:long - min/max",  "OrdType:ulong - min/max",
};

void walk_enumeration_tail(ea_t *p, ea_t block) {
  const uint32_t names = get_long(*p - 4) - get_long(*p - 8) + 1;
  comment_always(*p, "BaseType:PPTypeInfo");
  const ea_t base = get_long(*p);
  make_field(p, make_offset_item, nullptr);
  // A subrange of another enumeration shares that one's names.
  if (base == block) {
    comment_always(*p, "NameList");
    // The count comes from the program and is unbounded; a pass that makes
    // no string leaves every later pass at the same bytes.
    for (uint32_t i = 0; i < names; ++i) {
      if (!make_field(p, make_pascal_string, nullptr)) break;
    }
  }
  make_field(p, make_pascal_string, "EnumUnitName");
  sweep_strings(p);
}

}  // namespace

void walk_ordinal(ea_t *p, int kind, uint8_t ord_type, ea_t block) {
  make_field(p, make_byte_item, text_of(kOrdTypeTexts, ord_type));
  if (kind == KIND_SET) {
    make_field(p, make_offset_item, "CompType:PPTypeInfo");
    return;
  }
  make_field(p, make_two_dwords, "MinValue..MaxValue");
  if (kind == KIND_ENUMERATION) walk_enumeration_tail(p, block);
}

const char *const kFloatTypeTexts[] = {
    "FloatType:ftSingle", "FloatType:ftDouble",  "FloatType:ftExtended",
    "FloatType:ftComp",   "FloatType:ftCurrent",
};

void walk_float(ea_t *p, uint8_t float_type) {
  comment_always(*p, text_of(kFloatTypeTexts, float_type));
  make_field(p, make_byte_item, nullptr);
}

void walk_short_string(ea_t *p, uint8_t max_length) {
  if (max_length != 0) comment_always(*p, "MaxLength (size of string)");
  make_field(p, make_byte_item, nullptr);
}

void walk_int64(ea_t *p) {
  make_field(p, make_two_qwords, "MinInt64Value,MaxInt64Value");
}

namespace {

/// Whether an attribute block begins at `ea`, read as part of the walk `w`.
bool attributes_at(const FieldWalk &w, ea_t ea) {
  FieldWalk probe = w;
  probe.p = ea;
  return holds(probe, [](FieldWalk &x) { attributes_field(x); });
}

/// Most value names taken without a count that can be true.
constexpr uint32_t kMostUncountedNames = 256;

/// The number of value names of an enumeration whose bounds give none that
/// can be true (the Boolean types span the whole 32-bit range): the short
/// strings up to an attribute block, less the last, which is the unit name.
/// 0 when there is no attribute block to end them.
uint32_t names_before_attributes(const FieldWalk &w) {
  uint32_t strings = 0;
  for (ea_t q = w.p; q < w.end && strings <= kMostUncountedNames; q += 1 + get_byte(q)) {
    if (strings > 0 && attributes_at(w, q)) return strings - 1;
    ++strings;
  }
  return 0;
}

void enumeration_fields(FieldWalk &w, ea_t block) {
  const uint32_t min = get_long(w.p);
  const uint32_t max = get_long(w.p + 4);
  numbers_field(w, 4, 2, "MinValue..MaxValue");
  // A subrange of another enumeration shares that one's names.
  if (reference_field(w, "BaseType:PPTypeInfo") == block) {
    uint32_t names = max - min + 1;
    if (names == 0 || names > 0x10000) names = going(w) ? names_before_attributes(w) : 0;
    if (names == 0) fail(w);
    for (uint32_t i = 0; i < names && going(w); ++i) {
      name_field(w, i == 0 ? "NameList" : nullptr, kAnyName);
    }
  }
  const auto unit_and_attributes = [](FieldWalk &x) {
    name_field(x, "EnumUnitName", kPrintableName);
    attributes_field(x);
  };
  // The first compilers of the layout wrote the unit name and no
  // attributes, and none for the Boolean types of the system unit.
  if (holds(w, unit_and_attributes)) {
    unit_and_attributes(w);
  } else {
    optional_fields(w,
                    [](FieldWalk &x) { name_field(x, "EnumUnitName", kPrintableName); });
  }
}

}  // namespace

bool walk_ordinal_newer(ea_t *p, int kind, ea_t block) {
  return walk_shape(p, [kind, block](FieldWalk &w) {
    const uint8_t ord_type = get_byte(w.p);
    if (kind != KIND_SET && ord_type > 5) fail(w);
    byte_field(w, text_of(kOrdTypeTexts, ord_type));
    if (kind == KIND_SET) {
      reference_field(w, "CompType:PPTypeInfo");
      optional_fields(w, [](FieldWalk &x) {
        attributes_field(x);
        byte_field(x, "SetLoByte");
        byte_field(x, "SetSize");
      });
    } else if (kind == KIND_ENUMERATION) {
      enumeration_fields(w, block);
    } else {
      numbers_field(w, 4, 2, "MinValue..MaxValue");
      optional_attributes(w);
    }
  });
}

bool walk_float_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    const char *text = text_of(kFloatTypeTexts, get_byte(w.p));
    if (text == nullptr) fail(w);
    byte_field(w, text);
    optional_attributes(w);
  });
}

bool walk_short_string_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    byte_field(w, get_byte(w.p) != 0 ? "MaxLength (size of string)" : nullptr);
    optional_attributes(w);
  });
}

bool walk_int64_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    numbers_field(w, 8, 2, "MinInt64Value,MaxInt64Value");
    optional_attributes(w);
  });
}
