// Method types: the kind of method, its parameters with their flags, names
// and types, and for functions the result type.
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/field_walk.h"
#include "detector/type_fields.h"
#include "detector/type_walks.h"

namespace {

const char *const kMethodKindTexts[] = {
    "MethodKind:Procedure",     "MethodKind:Function",       "MethodKind:Constructor",
    "MethodKind:Destructor",    "MethodKind:ClassProcedure", "MethodKind:ClassFunction",
    "MethodKind:SafeProcedure", "MethodKind:SafeFunction",
};

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

bool walk_method_newer(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    const uint8_t method_kind = get_byte(w.p);
    if (method_kind > 7) {
      fail(w);
      return;
    }
    byte_field(w, kMethodKindTexts[method_kind]);
    const uint8_t params = get_byte(w.p);
    byte_field(w, params != 0 ? "mParamCount" : nullptr);
    for (uint32_t i = 0; i < params && going(w); ++i) {
      byte_field(w, param_flags_text(get_byte(w.p)));
      name_field(w, "ParamName", kAnyName);
      name_field(w, "ParamType", kAnyName);
    }
    if (method_kind == 1 || method_kind == 5 || method_kind == 7) {
      name_field(w, "ResultType", kAnyName);
      reference_field(w, "ResultTypeRef:PPTypeInfo");
    }
    const char *cc = calling_convention_text(get_byte(w.p));
    if (cc == nullptr) fail(w);
    byte_field(w, cc);
    for (uint32_t i = 0; i < params && going(w); ++i) {
      reference_field(w, "ParamTypeRef:PPTypeInfo");
    }
    optional_fields(w, [](FieldWalk &x) {
      const uint32_t signature = reference_field(x, "MethSig");
      attributes_field(x);
      // The signature the pointer leads to lies right behind the block.
      if (signature != 0 && signature == x.p) signature_fields(x);
    });
  });
}
