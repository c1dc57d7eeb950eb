// The structured kinds: classes with their published properties, static
// arrays, records, interfaces and dynamic arrays.
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/field_walk.h"
#include "detector/prop_list.h"
#include "detector/type_fields.h"
#include "detector/type_walks.h"

namespace {

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
  static char unit_name[kTextSize];
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
  // "siezof" is spelt so in every database annotated before; keep it.
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

namespace {

/// The fixed part of a property record before its name.
constexpr asize_t kPropInfoFixedSize = 26;

/// What the names of a class's property accessors are made of.
struct ClassNames {
  const char *type_name;
  const char *unit_name;  // null when the block has none
  asize_t prop_info_size;
};

/// Checks one property record (a type reference, the fixed part and the
/// name) and steps over it; nothing is made.
void step_over_property(FieldWalk &w) {
  if (!going(w)) return;
  FieldWalk probe = w;
  probe.annotate = false;
  reference_field(probe, nullptr);
  skip_field(probe, kPropInfoFixedSize - 4);
  name_field(probe, nullptr, kAnyName);
  if (probe.state == FieldWalk::kFailed) {
    fail(w);
    return;
  }
  w.p = probe.p;
}

/// One property record laid out as TPropInfo, its accessors named.
void property_record(FieldWalk &w, const ClassNames &names) {
  if (w.annotate && going(w)) {
    annotate_prop_list(w.p, 1, names.type_name, names.unit_name, names.prop_info_size);
  }
  step_over_property(w);
}

/// What newer compilers put behind the published properties of a class:
/// the table of all properties with type information, the class's
/// attributes, its array properties, and the records of the properties
/// that are not published, in the order of the table.
void extended_class_fields(FieldWalk &w, const ClassNames &names, ea_t list_start,
                           ea_t list_end) {
  const uint16_t count = word_field(w, "PropCount of PropDataEx");
  const ea_t table = w.p;
  for (uint32_t i = 0; i < count && going(w); ++i) {
    byte_field(w, visibility_text(get_byte(w.p)));
    address_field(w, "Info:PPropInfo");
    attributes_field(w);
  }
  attributes_field(w);
  const uint16_t arrays = word_field(w, "ArrayPropCount");
  for (uint32_t i = 0; i < arrays && going(w); ++i) {
    byte_field(w, "Flags");
    word_field(w, "ReadIndex");
    word_field(w, "WriteIndex");
    name_field(w, "ArrayPropName", kAnyName);
    attributes_field(w);
  }
  ea_t entry = table;
  for (uint32_t i = 0; i < count && going(w); ++i) {
    const ea_t info = get_long(entry + 1);
    entry += 5 + get_word(entry + 5);
    if (info >= list_start && info < list_end) continue;  // published
    if (info != w.p) {
      stop_here(w);
      return;
    }
    property_record(w, names);
  }
}

/// Names the code of a record's method "<type>@<method>" unless somebody
/// named it.
void name_record_method(uint32_t code, const char *type_name, ea_t name_at) {
  static char current[kTextSize];
  static char name[kTextSize];
  const char *method = get_pascal_name(name_at, 0);
  if (method == nullptr) return;
  if (!is_dummy_name(get_true_name(code, code, current, sizeof(current)), kCodeDummies))
    return;
  qstrncpy(name, type_name, sizeof(name));
  qstrncat(name, "@", sizeof(name));
  qstrncat(name, method, sizeof(name));
  do_name_anyway(code, name, 0);
}

void record_method(FieldWalk &w, const char *type_name) {
  byte_field(w, "Flags");
  const uint32_t code = code_field(w, "Code");
  const ea_t name_at = w.p;
  name_field(w, "MethodName", kAnyName);
  signature_fields(w);
  attributes_field(w);
  if (w.annotate && going(w) && is_code_of(code, name_at - 4)) {
    name_record_method(code, type_name, name_at);
  }
}

/// What newer compilers put behind a record's managed fields: operators,
/// all fields with their names, the record's attributes and its methods.
void extended_record_fields(FieldWalk &w, const char *type_name) {
  const uint8_t operators = byte_field(w, "NumOps");
  for (uint32_t i = 0; i < operators && going(w); ++i) reference_field(w, "RecOps");
  const uint32_t fields = dword_field(w, "RecFldCnt");
  for (uint32_t i = 0; i < fields && going(w); ++i) {
    reference_field(w, "TypeRef:PPTypeInfo");
    dword_field(w, "FldOffset");
    byte_field(w, visibility_text(get_byte(w.p)));
    name_field(w, "FieldName", kAnyName);
    attributes_field(w);
  }
  attributes_field(w);
  const uint16_t methods = word_field(w, "RecMethCnt");
  for (uint32_t i = 0; i < methods && going(w); ++i) record_method(w, type_name);
}

}  // namespace

bool walk_class_newer(ea_t *p, const char *type_name, asize_t prop_info_size) {
  return walk_shape(p, [type_name, prop_info_size](FieldWalk &w) {
    static char unit_name[kTextSize];
    reference_field(w, "ClassType");
    reference_field(w, "ParentInfo");
    word_field(w, "PropCount");
    const ea_t unit_at = w.p;
    name_field(w, "UnitName", kPrintableName);
    const char *unit = going(w) ? get_pascal_name(unit_at, 0) : nullptr;
    if (unit != nullptr) qstrncpy(unit_name, unit, sizeof(unit_name));
    const ClassNames names{type_name, unit != nullptr ? unit_name : nullptr,
                           prop_info_size};

    const uint16_t props = get_word(w.p);
    if (w.annotate && going(w)) clear_field_name(w.p);
    word_field(w, "PropCount of PropData");
    const ea_t list_start = w.p;
    if (w.annotate && going(w) && props > 0) {
      annotate_prop_list(w.p, props, type_name, names.unit_name, prop_info_size);
    }
    for (uint32_t i = 0; i < props && going(w); ++i) step_over_property(w);
    const ea_t list_end = w.p;
    optional_fields(w, [&names, list_start, list_end](FieldWalk &x) {
      extended_class_fields(x, names, list_start, list_end);
    });
  });
}

bool walk_record_newer(ea_t *p, const char *type_name) {
  return walk_shape(p, [type_name](FieldWalk &w) {
    if (w.annotate) clear_field_name(w.p);
    const uint32_t managed = get_long(w.p + 4);
    numbers_field(w, 4, 2, "RecordSize, RecordCount");
    for (uint32_t i = 0; i < managed && going(w); ++i) {
      reference_field(w, "TypeRef:PPTypeInfo");
      dword_field(w, "FldOffset");
    }
    optional_fields(w,
                    [type_name](FieldWalk &x) { extended_record_fields(x, type_name); });
  });
}

bool walk_array_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    numbers_field(w, 4, 2, "siezof array[Start..End]");
    reference_field(w, "ElType:PPTypeInfo");
    optional_fields(w, [](FieldWalk &x) {
      const uint8_t dimensions = byte_field(x, "DimCount");
      for (uint32_t i = 0; i < dimensions && going(x); ++i) {
        reference_field(x, "Dims:PPTypeInfo");
      }
      attributes_field(x);
    });
  });
}

bool walk_interface_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    reference_field(w, "IntfParent");
    byte_field(w, "IntfFlags");
    numbers_field(w, 4, 4, "TGUID");
    name_field(w, "IntfUnit", kPrintableName);
    optional_fields(w, [](FieldWalk &x) {
      word_field(x, "MethodCount");
      const uint16_t described = get_word(x.p);
      word_field(x, described == 0xFFFF ? "RttiCount:none" : "RttiCount");
      // No program at hand describes an interface's methods; their layout
      // is not walked.
      if (described != 0xFFFF && described != 0) {
        stop_here(x);
        return;
      }
      optional_attributes(x);
    });
  });
}

bool walk_dyn_array_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    if (w.annotate) clear_field_name(w.p);
    dword_field(w, "elSize");
    reference_field(w, "elType:^pDynArrayTypeInfo");
    if (w.annotate) clear_field_name(w.p);
    dword_field(w, var_type_text(get_long(w.p)));
    reference_field(w, "varAddress:PPTypeInfo");
    name_field(w, "DynUnitName", kPrintableName);
    optional_fields(w, [](FieldWalk &x) {
      reference_field(x, "DynArrElType:PPTypeInfo");
      attributes_field(x);
    });
  });
}
