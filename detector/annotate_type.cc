// Annotation of runs of type information blocks.
//
// Behind the class records of a program lie its run-time type information
// blocks, each a reference cell holding the address of the kind byte that
// follows it, the type's name as a short string and type data laid out by
// kind. The walk turns each block's bytes into items with comments, names
// the block "_type_<name>" (classes and interfaces "_obj_<name>") and its
// cell "offset" plus that, and goes on at the next multiple of 4 for as
// long as the dword there is an address of the segment.
//
// Every step below makes an item at the position P and moves P to the
// item's end only when the host made it; a refused item leaves P where it
// was, so the next step tries the same bytes.
#include "detector/annotate_type.h"

#include <string.h>

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/prop_list.h"

namespace {

constexpr size_t kTextBufSize = 1024;

/// Names of the host's own making (or none) that a block's names replace.
const char *const kBlockMarkers[] = {"off_",  "unk_",   "unknown_", "byte_",
                                     "word_", "dword_", nullptr};

enum TypeKind {
  kInteger = 1,
  kChar = 2,
  kEnumeration = 3,
  kFloat = 4,
  kString = 5,
  kSet = 6,
  kClass = 7,
  kMethod = 8,
  kWChar = 9,
  kArray = 13,
  kRecord = 14,
  kInterface = 15,
  kInt64 = 16,
  kDynArray = 17,
};

typedef int (*maker_fn)(ea_t ea);

int make_one_word(ea_t ea) { return make_word_items(ea, 1); }
int make_two_words(ea_t ea) { return make_word_items(ea, 2); }
int make_one_dword(ea_t ea) { return make_dword_items(ea, 1); }
int make_two_dwords(ea_t ea) { return make_dword_items(ea, 2); }
int make_four_dwords(ea_t ea) { return make_dword_items(ea, 4); }
int make_two_qwords(ea_t ea) { return make_qword_items(ea, 2); }

/// Makes an item at *p with `make`; when made, puts `comment` (null: none)
/// on it and moves *p to its end. 1 when made.
int make_field(ea_t *p, maker_fn make, const char *comment) {
  const ea_t at = *p;
  if (!make(at)) return 0;
  if (comment != nullptr) set_cmt(at, comment, 0);
  *p = get_item_end(at);
  return 1;
}

/// Texts by value; entries past the end or null give no comment.
const char *text_of(const char *const *texts, size_t count, uint32_t value) {
  return value < count ? texts[value] : nullptr;
}

/// Puts `comment` on `ea` whether or not anything is made there.
void comment_always(ea_t ea, const char *comment) {
  if (comment != nullptr) set_cmt(ea, comment, 0);
}

/// 0, or an address between the lowest and the highest address, both
/// included.
bool is_in_range(uint32_t v) { return v == 0 || (v >= inf.min_ea && v <= inf.max_ea); }

/// Makes short strings one after another as long as they can be made.
void sweep_strings(ea_t *p) {
  while (make_field(p, make_pascal_string, nullptr)) {
  }
}

// ---- Ordinal types --------------------------------------------------------

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

void walk_ordinal(ea_t *p, int kind, uint8_t ord_type, ea_t block) {
  make_field(
      p, make_byte_item,
      text_of(kOrdTypeTexts, sizeof(kOrdTypeTexts) / sizeof(*kOrdTypeTexts), ord_type));
  if (kind == kSet) {
    make_field(p, make_offset_item, "CompType:PPTypeInfo");
    return;
  }
  make_field(p, make_two_dwords, "MinValue..MaxValue");
  if (kind == kEnumeration) walk_enumeration_tail(p, block);
}

// ---- Floats and short strings ---------------------------------------------

const char *const kFloatTypeTexts[] = {
    "FloatType:ftSingle", "FloatType:ftDouble",  "FloatType:ftExtended",
    "FloatType:ftComp",   "FloatType:ftCurrent",
};

void walk_float(ea_t *p, uint8_t float_type) {
  comment_always(
      *p, text_of(kFloatTypeTexts, sizeof(kFloatTypeTexts) / sizeof(*kFloatTypeTexts),
                  float_type));
  make_field(p, make_byte_item, nullptr);
}

void walk_short_string(ea_t *p, uint8_t max_length) {
  if (max_length != 0) comment_always(*p, "MaxLength (size of string)");
  make_field(p, make_byte_item, nullptr);
}

// ---- Classes --------------------------------------------------------------

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

// ---- Method types ---------------------------------------------------------

const char *const kMethodKindTexts[] = {
    "MethodKind:Procedure",     "MethodKind:Function",       "MethodKind:Constructor",
    "MethodKind:Destructor",    "MethodKind:ClassProcedure", "MethodKind:ClassFunction",
    "MethodKind:SafeProcedure", "MethodKind:SafeFunction",
};

struct FlagText {
  uint8_t flags;
  const char *text;
};

/// Every single parameter flag and every pair of two; other values (none,
/// three or more, or an unknown bit) have no text.
const FlagText kParamFlagTexts[] = {
    {1, "pfVar"},
    {2, "pfConst"},
    {4, "pfArray"},
    {8, "pfAddress"},
    {16, "pfReference"},
    {32, "pfOut"},
    {3, "pfVar | pfConst"},
    {5, "pfVar | pfArray"},
    {9, "pfVar | pfAddress"},
    {17, "pfVar | pfReference"},
    {33, "pfVar | pfOut"},
    {6, "pfConst | pfArray"},
    {10, "pfConst | pfAddress"},
    {18, "pfConst | pfReference"},
    {34, "pfConst | pfOut"},
    {12, "pfArray | pfAddress"},
    {20, "pfArray | pfReference"},
    {36, "pfArray | pfOut"},
    {24, "pfAddress | pfReference"},
    {40, "pfAddress | pfOut"},
    {48, "pfReference | pfOut"},
};

const char *param_flags_text(uint8_t flags) {
  for (const FlagText &entry : kParamFlagTexts) {
    if (entry.flags == flags) return entry.text;
  }
  return nullptr;
}

void walk_method(ea_t *p, uint8_t method_kind) {
  if (method_kind > 7) {
    sweep_strings(p);
    return;
  }
  comment_always(*p, kMethodKindTexts[method_kind]);
  make_field(p, make_byte_item, nullptr);

  const uint8_t params = get_byte(*p);
  if (params != 0) comment_always(*p, "mParamCount");
  if (make_field(p, make_byte_item, nullptr)) {
    for (int i = 0; i < params; ++i) {
      const ea_t flags_at = *p;
      make_field(p, make_byte_item, param_flags_text(get_byte(flags_at)));
      make_field(p, make_pascal_string, "ParamName");
      make_field(p, make_pascal_string, "ParamType");
    }
  }

  if (method_kind == 1 || method_kind == 5 || method_kind == 7) {
    make_field(p, make_pascal_string, "ResultType");
    *p = make_align4(*p);
    if (!is_class_record(*p) && !is_type_info(*p))
      make_field(p, make_offset_item, nullptr);
  }

  if (get_byte(*p) == 0 && is_in_range(get_long(*p + 1))) {
    bool all_in_range = true;
    for (int i = 0; i < params; ++i) {
      if (!is_in_range(get_long(*p + 1 + 4 * i))) all_in_range = false;
    }
    if (all_in_range) make_field(p, make_byte_item, nullptr);
    for (int i = 0; i < params; ++i) make_field(p, make_offset_item, nullptr);
  }
  sweep_strings(p);
}

// ---- Arrays, records, interfaces, 64-bit integers -------------------------

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

void walk_int64(ea_t *p) {
  make_field(p, make_two_qwords, "MinInt64Value,MaxInt64Value");
}

// ---- Dynamic arrays -------------------------------------------------------

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
  const char *text =
      text_of(kVarTypeTexts, sizeof(kVarTypeTexts) / sizeof(*kVarTypeTexts), var_type);
  return text != nullptr ? text : "varType:Unknown or Undefined";
}

/// A field holding a type reference or a plain number.
void make_reference_or_dword(ea_t *p) {
  const uint32_t v = get_long(*p);
  if (v >= inf.min_ea && v <= inf.max_ea) {
    make_field(p, make_offset_item, nullptr);
  } else {
    make_field(p, make_one_dword, nullptr);
  }
}

/// A dword whose old field name goes before the comment is put on it.
void make_unnamed_dword(ea_t *p, const char *comment) {
  const ea_t at = *p;
  if (!make_one_dword(at)) return;
  clear_field_name(at);
  set_cmt(at, comment, 0);
  *p = get_item_end(at);
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

// ---- Blocks ---------------------------------------------------------------

/// True when the dword at `ea` is an address from the lowest address up to
/// the end of the segment holding `ea`: where a block can begin.
bool holds_block_address(ea_t ea) {
  const uint32_t v = get_long(ea);
  return v >= lowest_address() && v < segment_end(ea);
}

/// Names `ea` unless it carries a name somebody chose.
void name_unless_chosen(ea_t ea, const char *name) {
  static char current[kTextBufSize];
  if (is_dummy_name(get_true_name(ea, ea, current, sizeof(current)), kBlockMarkers)) {
    do_name_anyway(ea, name, 0);
  }
}

/// The size of TPropInfo, created the first time a database lacks it.
asize_t prop_info_size() {
  tid_t id = BADNODE;
  netnode_check(&id, "TPropInfo", 0, 0);
  if (id == BADNODE) make_tpropinfo_struc();
  id = BADNODE;
  netnode_check(&id, "TPropInfo", 0, 0);
  return get_struc_size(get_struc(id));
}

void walk_type_data(ea_t *p, int kind, const char *type_name, ea_t block,
                    asize_t prop_size) {
  const uint8_t b = get_byte(*p);
  switch (kind) {
    case kInteger:
    case kChar:
    case kWChar:
      if (b <= 5) walk_ordinal(p, kind, b, block);
      break;
    case kEnumeration:
      if (b <= 5) {
        walk_ordinal(p, kind, b, block);
      } else {
        sweep_strings(p);
      }
      break;
    case kSet:
      walk_ordinal(p, kind, b, block);
      break;
    case kFloat:
      walk_float(p, b);
      break;
    case kString:
      walk_short_string(p, b);
      break;
    case kClass:
      walk_class(p, type_name, prop_size);
      break;
    case kMethod:
      walk_method(p, b);
      break;
    case kArray:
      walk_array(p);
      break;
    case kRecord:
      walk_record(p);
      break;
    case kInterface:
      walk_interface(p);
      break;
    case kInt64:
      walk_int64(p);
      break;
    case kDynArray:
      walk_dyn_array(p);
      break;
    default:  // LString, WString, Variant and unknown kinds carry no data
      break;
  }
}

/// Names the block at `block` of `kind` after `type_name` and comments the
/// address its cell holds with the kind.
void finish_block(ea_t block, int kind, const char *type_name) {
  static char name[kTextBufSize];
  static char cell_name[kTextBufSize];
  qstrncpy(name, kind == kClass || kind == kInterface ? "_obj_" : "_type_", sizeof(name));
  qstrncat(name, type_name, sizeof(name));
  qstrncpy(cell_name, "offset", sizeof(cell_name));
  qstrncat(cell_name, name, sizeof(cell_name));

  const ea_t target = get_long(block);
  name_unless_chosen(target, name);
  const char *kind_name = type_kind_name(kind);
  if (kind_name != nullptr) set_cmt(target, kind_name, 0);
  name_unless_chosen(block, cell_name);
}

}  // namespace

ea_t annotate_type_infos(ea_t start, int32_t *more) {
  static char type_name[kTextBufSize];
  if (!holds_block_address(start)) {
    *more = 0;
    return 0;
  }
  *more = 1;
  ea_t p = start;
  while (holds_block_address(p)) {
    const asize_t prop_size = prop_info_size();
    const char *record_name = get_record_name(p + 5, p);
    if (record_name == nullptr) {
      *more = 0;
      return p;
    }
    qstrncpy(type_name, record_name, sizeof(type_name));
    const ea_t block = p;

    make_field(&p, make_offset_item, nullptr);
    const int kind = get_byte(p);
    make_field(&p, make_byte_item, nullptr);
    // A method type without a name keeps its empty length byte; its "name"
    // came from the first parameter.
    const bool empty_method_name =
        kind == kMethod && strcmp(type_name, "unnamed_method") == 0 && get_byte(p) == 0;
    make_field(&p, empty_method_name ? make_byte_item : make_pascal_string, nullptr);

    walk_type_data(&p, kind, type_name, block, prop_size);
    p = make_align4(p);
    finish_block(block, kind, type_name);

    if (get_func_num(p) != -1) p = prevaddr(p);
    callui(UI_JUMP_TO, p, -1);
    // The step back out of a function may undo the whole advance of a block
    // whose fields could not be made; testing that position again would
    // walk the same bytes forever.
    if (p <= block) {
      *more = 0;
      return block;
    }
  }
  return p;
}
