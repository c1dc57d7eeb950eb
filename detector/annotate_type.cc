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
// The walks of the type data itself are split by family of kinds
// (type_walks.h).
#include "detector/annotate_type.h"

#include <string.h>

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/type_fields.h"
#include "detector/type_walks.h"

namespace {

/// Where a block can begin: the dword at `ea` is an address in its range.
bool holds_block_address(ea_t ea) { return in_record_range(get_long(ea), ea); }

/// Names `ea` unless it carries a name somebody chose.
void name_unless_chosen(ea_t ea, const char *name) {
  static char current[kTextSize];
  if (is_dummy_name(get_true_name(ea, ea, current, sizeof(current)), kBlockDummies)) {
    do_name_anyway(ea, name, 0);
  }
}

/// The size of TPropInfo, created the first time a database lacks it.
asize_t prop_info_size() {
  if (tpropinfo_id() == BADNODE) make_tpropinfo_struc();
  return get_struc_size(get_struc(tpropinfo_id()));
}

void walk_type_data(ea_t *p, int kind, const char *type_name, ea_t block,
                    asize_t prop_size) {
  // Newer compilers add to the classic data; where the bytes hold no shape
  // the newer walk knows, the classic walk takes the block.
  if (has_newer_type_data(class_layout()) &&
      walk_newer_type_data(p, kind, type_name, block, prop_size))
    return;
  const uint8_t b = get_byte(*p);
  switch (kind) {
    case KIND_INTEGER:
    case KIND_CHAR:
    case KIND_WCHAR:
      if (b <= 5) walk_ordinal(p, kind, b, block);
      break;
    case KIND_ENUMERATION:
      if (b <= 5) {
        walk_ordinal(p, kind, b, block);
      } else {
        sweep_strings(p);
      }
      break;
    case KIND_SET:
      walk_ordinal(p, kind, b, block);
      break;
    case KIND_FLOAT:
      walk_float(p, b);
      break;
    case KIND_STRING:
      walk_short_string(p, b);
      break;
    case KIND_CLASS:
      walk_class(p, type_name, prop_size);
      break;
    case KIND_METHOD:
      walk_method(p, b);
      break;
    case KIND_ARRAY:
      walk_array(p);
      break;
    case KIND_RECORD:
      walk_record(p);
      break;
    case KIND_INTERFACE:
      walk_interface(p);
      break;
    case KIND_INT64:
      walk_int64(p);
      break;
    case KIND_DYN_ARRAY:
      walk_dyn_array(p);
      break;
    default:  // LString, WString, Variant and unknown kinds carry no classic data
      break;
  }
}

/// Names the block whose kind byte is at `target` after `type_name` and
/// comments it with the kind; names the block's cell `cell` too unless it is
/// BADADDR.
void name_block(ea_t target, ea_t cell, int kind, const char *type_name) {
  static char name[kTextSize];
  static char cell_name[kTextSize];
  qstrncpy(name, kind == KIND_CLASS || kind == KIND_INTERFACE ? "_obj_" : "_type_",
           sizeof(name));
  qstrncat(name, type_name, sizeof(name));
  qstrncpy(cell_name, "offset", sizeof(cell_name));
  qstrncat(cell_name, name, sizeof(cell_name));

  name_unless_chosen(target, name);
  const char *kind_name = type_kind_name(kind);
  if (kind_name != nullptr) set_cmt(target, kind_name, 0);
  if (cell != BADADDR) name_unless_chosen(cell, cell_name);
}

/// Names the block at `block` of `kind` after `type_name` and comments the
/// address its cell holds with the kind.
void finish_block(ea_t block, int kind, const char *type_name) {
  name_block(get_long(block), block, kind, type_name);
}

/// The run of blocks without reference cells (the oldest layout) from
/// `start` on, as annotate_type_infos walks a run of blocks with cells: the
/// compiler lays a unit's blocks back to back behind its class records, and
/// not every one is reached through a record's TypeInfo or a property.
/// A block starts with a known kind and a readable name, and never inside a
/// function.
ea_t annotate_cellless_run(ea_t start, int32_t *more) {
  ea_t p = start;
  while (get_func_num(p) == -1) {
    const ea_t next = annotate_type_block(p);
    if (next <= p) break;
    p = next;
    callui(UI_JUMP_TO, p, -1);
  }
  if (p == start) {
    *more = 0;
    return 0;
  }
  // A class record behind the run goes back to the class step.
  *more = is_class_record(p) ? 0 : 1;
  return p;
}

}  // namespace

ea_t annotate_type_infos(ea_t start, int32_t *more) {
  static char type_name[kTextSize];
  if (!has_self_pointer(class_layout())) return annotate_cellless_run(start, more);
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
    const bool empty_method_name = kind == KIND_METHOD &&
                                   strcmp(type_name, "unnamed_method") == 0 &&
                                   get_byte(p) == 0;
    make_field(&p, empty_method_name ? make_byte_item : make_pascal_string, nullptr);

    walk_type_data(&p, kind, type_name, block, prop_size);
    // The classic walk keeps to the plain alignment rule.
    p = classic_layout(class_layout()) ? make_align4(p) : make_align4_before_block(p);
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

ea_t annotate_type_block(ea_t kind_at) {
  static char type_name[kTextSize];
  const int kind = get_byte(kind_at);
  const char *name = get_pascal_name(kind_at + 1, 0);
  if (type_kind_name(kind) == nullptr || name == nullptr) return kind_at;
  qstrncpy(type_name, name, sizeof(type_name));
  const asize_t prop_size = prop_info_size();
  ea_t p = kind_at;
  make_field(&p, make_byte_item, nullptr);
  make_field(&p, make_pascal_string, nullptr);
  // References are direct: a block that names itself as its own base type
  // points at its kind byte.
  walk_type_data(&p, kind, type_name, kind_at, prop_size);
  p = make_align4(p);
  name_block(kind_at, BADADDR, kind, type_name);
  return p;
}
