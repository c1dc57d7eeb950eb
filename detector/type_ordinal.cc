// Ordinal kinds (Integer, Char, WChar, Enumeration, Set) and the other
// kinds whose data is a few numbers: Float, short String and Int64.
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
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
