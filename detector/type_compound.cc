// The structured kinds: classes with their published properties, static
// arrays, records, interfaces and dynamic arrays.
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/prop_list.h"
#include "detector/type_fields.h"
#include "detector/type_walks.h"

namespace {

constexpr size_t kTextBufSize = 1024;

const char *const kVarTypeTexts[] = {
    "varType:varEmpty",    "varType:varNull",     "varType:varSmallint",
    "varType:varInteger",  "varType:varSingle",   "varType:varDouble",
    "varType:varCurrency", "varType:varDate",     "varType:varOleStr",
    "varType:varDispatch", "varType:varError",    "varType:varBoolean",
    "varType:varVariant",  "varType:varUnknown",  "varType:varDecimal",
    "varType:undefined",   "varType:varShortInt", "varType:varByte",
    "varType:varWord",     "varType:varLongWord", "varType:varInt64",
};

const char *var_type_text(uint32_t var_type) {
  const char *text = text_of(kVarTypeTexts, var_type);
  return text != nullptr ? text : "varType:Unknown or Undefined";
}

}  // namespace

void walk_class(ea_t *p, const char *type_name, asize_t prop_info_size) {
  static char unit_name[kTextBufSize];
  make_field(p, make_offset_item, "ClassType");
  make_field(p, make_offset_item, "ParentInfo");
  make_field(p, make_one_word, "PropCount");

  bool has_unit = false;
  const ea_t unit_at = *p;
  if (make_pascal_string(unit_at)) {
    set_cmt(unit_at, "UnitName", 0);
    const char *unit = get_pascal_name(unit_at, 0);
    if (unit != nullptr) {
      qstrncpy(unit_name, unit, sizeof(unit_name));
      has_unit = true;
    }
    *p = get_item_end(unit_at);
  }

  const uint16_t props = get_word(*p);
  clear_field_name(*p);
  comment_always(*p, "PropCount of PropData");
  make_field(p, make_one_word, nullptr);
  if (props >= 1 && props <= 512) {
    *p = annotate_prop_list(*p, props, type_name, has_unit ? unit_name : nullptr,
                            prop_info_size);
  }
}

void walk_array(ea_t *p) {
  make_field(p, make_two_dwords, "siezof array[Start..End]");
  make_field(p, make_offset_item, nullptr);
}

void walk_record(ea_t *p) {
  clear_field_name(*p);
  const ea_t sizes_at = *p;
  if (!make_two_dwords(sizes_at)) return;
  const int32_t fields = static_cast<int32_t>(get_long(sizes_at + 4));
  set_cmt(sizes_at, "RecordSize, RecordCount", 0);
  *p = get_item_end(sizes_at);
  // The count comes from the program and is unbounded: stop as soon as a
  // pass makes nothing or runs out of the segment.
  const ea_t end = segment_end(sizes_at);
  for (int32_t i = 0; i < fields; ++i) {
    const ea_t before = *p;
    make_field(p, make_offset_item, nullptr);
    make_field(p, make_one_dword, nullptr);
    if (*p == before || *p >= end) break;
  }
}

void walk_interface(ea_t *p) {
  make_field(p, make_offset_item, "IntfParent");
  make_field(p, make_byte_item, "IntfFlags");
  make_field(p, make_four_dwords, "TGUID");
  make_field(p, make_pascal_string, "IntfUnit");

  const uint16_t count = get_word(*p + 2);
  if (count == 0xFFFF) {
    comment_always(*p, "PropCount");
    make_field(p, make_two_words, nullptr);
  } else if (count < 255) {
    comment_always(*p, "PropCount of PropData");
    if (make_one_word(*p + 2)) *p = get_item_end(*p + 2);
    comment_always(*p, "PropList");
    for (int i = 0; i < count; ++i) {
      make_field(p, make_pascal_string, nullptr);
      make_field(p, make_one_word, nullptr);
      make_field(p, make_byte_item, nullptr);
      make_field(p, make_byte_item, nullptr);
      make_field(p, make_pascal_string, nullptr);
      make_field(p, make_pascal_string, nullptr);
      make_field(p, make_offset_item, nullptr);
      make_field(p, make_pascal_string, nullptr);
      make_field(p, make_offset_item, nullptr);
    }
  }
  if (get_word(*p) == 0) make_field(p, make_one_word, nullptr);
}

void walk_dyn_array(ea_t *p) {
  make_unnamed_dword(p, "elSize");
  comment_always(*p, "elType:^pDynArrayTypeInfo");
  make_reference_or_dword(p);
  make_unnamed_dword(p, var_type_text(get_long(*p)));
  comment_always(*p, "varAddress:PPTypeInfo");
  make_reference_or_dword(p);
  make_field(p, make_pascal_string, "DynUnitName");
}
