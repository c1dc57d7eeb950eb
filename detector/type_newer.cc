// The type data of programs of the 88-byte class layout, by kind, and the
// kinds only these programs hold: Unicode strings, class references,
// pointers, procedure types and managed records.
//
// The newer compilers put an attribute block behind the data of most kinds
// and add tables and signatures to others; the first compilers of the
// layout wrote the classic data only (with a code page in front of a long
// string's). The walks take what the bytes hold and end in front of the
// first part they do not.
#include "detector/core/recognise.h"
#include "detector/field_walk.h"
#include "detector/type_walks.h"

namespace {

bool walk_attributes_only(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) { optional_attributes(w); });
}

bool walk_long_string(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    word_field(w, "CodePage");
    optional_attributes(w);
  });
}

/// A class reference or a pointer type: the one type it refers to.
bool walk_referring(ea_t *p, const char *comment) {
  return walk_shape(p, [comment](FieldWalk &w) {
    reference_field(w, comment);
    optional_attributes(w);
  });
}

bool walk_procedure(ea_t *p) {
  return walk_shape(p, [](FieldWalk &w) {
    const uint32_t signature = reference_field(w, "ProcSig");
    optional_fields(w, [signature](FieldWalk &x) {
      attributes_field(x);
      // The signature the pointer leads to lies right behind the block.
      if (signature != 0 && signature == x.p) signature_fields(x);
    });
  });
}

}  // namespace

bool walk_newer_type_data(ea_t *p, int kind, const char *type_name, ea_t block,
                          asize_t prop_info_size) {
  switch (kind) {
    case KIND_INTEGER:
    case KIND_CHAR:
    case KIND_ENUMERATION:
    case KIND_SET:
    case KIND_WCHAR:
      return walk_ordinal_newer(p, kind, block);
    case KIND_FLOAT:
      return walk_float_newer(p);
    case KIND_STRING:
      return walk_short_string_newer(p);
    case KIND_CLASS:
      return walk_class_newer(p, type_name, prop_info_size);
    case KIND_METHOD:
      return walk_method_newer(p);
    case KIND_LSTRING:
      return walk_long_string(p);
    case KIND_WSTRING:
    case KIND_VARIANT:
    case KIND_USTRING:
      return walk_attributes_only(p);
    case KIND_ARRAY:
      return walk_array_newer(p);
    case KIND_RECORD:
    case KIND_MRECORD:
      return walk_record_newer(p, type_name);
    case KIND_INTERFACE:
      return walk_interface_newer(p);
    case KIND_INT64:
      return walk_int64_newer(p);
    case KIND_DYN_ARRAY:
      return walk_dyn_array_newer(p);
    case KIND_CLASS_REF:
      return walk_referring(p, "InstanceType:PPTypeInfo");
    case KIND_POINTER:
      return walk_referring(p, "RefType:PPTypeInfo");
    case KIND_PROCEDURE:
      return walk_procedure(p);
    default:
      return false;
  }
}
