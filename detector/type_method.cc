// Method types: the kind of method, its parameters with their flags, names
// and types, and for functions the result type.
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/type_fields.h"
#include "detector/type_walks.h"

namespace {

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

}  // namespace

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

  if (get_byte(*p) == 0 && is_zero_or_address(get_long(*p + 1))) {
    bool all_in_range = true;
    for (int i = 0; i < params; ++i) {
      if (!is_zero_or_address(get_long(*p + 1 + 4 * i))) all_in_range = false;
    }
    if (all_in_range) make_field(p, make_byte_item, nullptr);
    for (int i = 0; i < params; ++i) make_field(p, make_offset_item, nullptr);
  }
  sweep_strings(p);
}
