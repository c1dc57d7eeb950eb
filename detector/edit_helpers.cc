// The annotators never touch the host's item operations directly: every
// typed item, structure instance, offset, short string and alignment item
// they make, and every range they undefine, comes from here, so that the undefine flags,
// the string type and the order of host calls are the same everywhere. Each maker answers
// 1 (non-zero for offsets) when the host made the item and 0 otherwise; a refusal leaves
// the bytes as they were.
#include "detector/edit_helpers.h"

#include <string.h>

#include "detector/core/recognise.h"

namespace {

/// Undefines `count` elements of `width` bytes at `ea` and makes them one
/// item of `type`; 0 for a negative count or one too large for an address.
int make_items(ea_t ea, int count, uint32_t width, flags_t type) {
  if (count < 0) return 0;
  const uint64_t size = static_cast<uint64_t>(count) * width;
  if (size > 0xFFFFFFFFu) return 0;
  do_unknown_range(ea, static_cast<asize_t>(size), 2);
  return static_cast<uint8_t>(do_data_ex(ea, type, static_cast<asize_t>(size), BADNODE));
}

/// A short string the host can show: a length byte above 0 followed by
/// that many printable characters other than the blank.
bool is_printable_short_string(ea_t ea) {
  const uint32_t length = get_byte(ea);
  if (length == 0) return false;
  for (uint32_t j = 1; j <= length; ++j) {
    const uint8_t c = get_byte(ea + j);
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

/// Undefines the filler instruction at `ea`; false when none is there.
bool undefine_filler(ea_t ea) {
  const uint8_t b0 = get_byte(ea);
  const uint8_t b1 = get_byte(ea + 1);
  const uint8_t b2 = get_byte(ea + 2);
  if (b0 == 0x90) {  // nop
    do_unknown(ea, 1);
    return true;
  }
  if (b0 == 0x8D && b1 == 0x40 && b2 == 0x00) {  // lea eax, [eax+0]
    do_unknown_range(ea, 3, 2);
    return true;
  }
  if (b0 == 0x8B && b1 == 0xC0) {  // mov eax, eax
    do_unknown_range(ea, 2, 2);
    return true;
  }
  return false;
}

}  // namespace

int make_byte_item(ea_t ea) {
  do_unknown(ea, 1);
  return static_cast<uint8_t>(do_data_ex(ea, DATA_BYTE, 1, BADNODE));
}

int make_byte_items(ea_t ea, int count) { return make_items(ea, count, 1, DATA_BYTE); }

int make_word_items(ea_t ea, int count) { return make_items(ea, count, 2, DATA_WORD); }

int make_dword_items(ea_t ea, int count) { return make_items(ea, count, 4, DATA_DWORD); }

int make_qword_items(ea_t ea, int count) { return make_items(ea, count, 8, DATA_QWORD); }

int make_offset_item(ea_t ea) {
  const uint32_t value = get_long(ea);
  if (is_program_address(value)) {
    do_unknown_range(ea, 4, 1);
    return op_offset(ea, 0, 2, BADADDR, 0, 0);
  }
  if (value == 0) return make_dword_items(ea, 1);
  return 0;
}

int make_pascal_string(ea_t ea) {
  const int32_t saved_type = inf.strtype;
  inf.strtype = 1;
  int made = 0;
  if (is_printable_short_string(ea)) {
    const uint32_t length = get_byte(ea);
    for (uint32_t j = 0; j <= length; ++j) do_unknown(ea + j, 1);
    made = static_cast<uint8_t>(make_ascii_string(ea, 0, 1));
  }
  inf.strtype = saved_type;
  return made;
}

ea_t make_align4(ea_t ea) {
  if (ea % 4 == 0) return ea;
  const asize_t gap = 4 - ea % 4;
  // Four bytes that hold an address of this segment are data, not filler.
  if (in_record_range(get_long(ea), ea)) return ea;
  if (doAlign(ea, gap, 2)) return get_item_end(ea);
  // The compiler pads between routines with one-instruction fillers that
  // the host may already have decoded; free the first and try again.
  if (!undefine_filler(ea)) return ea;
  if (doAlign(ea, gap, 2)) return get_item_end(ea);
  return ea;
}

ea_t make_align4_before_block(ea_t ea) {
  const ea_t aligned = make_align4(ea);
  if (aligned != ea || ea % 4 == 0) return aligned;
  const ea_t boundary = ea + (4 - ea % 4);
  for (ea_t b = ea; b < boundary; ++b)
    if (get_byte(b) != 0) return ea;
  if (!is_class_record(boundary) && !is_type_info(boundary)) return ea;
  return doAlign(ea, boundary - ea, 2) ? get_item_end(ea) : ea;
}

int make_struct_item(ea_t ea, asize_t size, tid_t id) {
  return static_cast<uint8_t>(do_data_ex(ea, DATA_STRUCT, size, id));
}

void undefine_bytes(ea_t ea, asize_t size) {
  const ea_t end = segment_end(ea);
  if (end == BADADDR || ea >= end) return;
  do_unknown_range(ea, size < end - ea ? size : end - ea, 0);
}

ea_t field_end(ea_t ea, int made, asize_t width) {
  if (made) {
    const ea_t end = get_item_end(ea);
    if (end > ea) return end;
  }
  return ea + width;
}

void clear_field_name(ea_t ea) {
  static char name[kTextSize];
  const char *found = get_true_name(lowest_address(), ea, name, sizeof(name));
  if (found != nullptr && strstr(found, "unknown_") != nullptr) return;
  do_name_anyway(ea, "", 0);
}

const char *const kCodeDummies[] = {"sub_", "unknown_", "nullsub_", nullptr};
const char *const kAccessorDummies[] = {"sub_",  "unknown_", "nullsub_", "byte_",
                                        "word_", "dword_",   nullptr};
const char *const kBlockDummies[] = {"off_",  "unk_",   "unknown_", "byte_",
                                     "word_", "dword_", nullptr};
const char *const kRecordDummies[] = {"off_", "unk_", "unknown_", "word_", nullptr};
// "unk_" is what the host calls the unexplored bytes that the class record's
// DynamicTable field refers to; without it no table reached from a record
// would ever be named.
const char *const kDynamicTableDummies[] = {"word_",    "byte_",    "dword_", "unk_",
                                            "unknown_", "nullsub_", nullptr};

int is_dummy_name(const char *name, const char *const *dummies) {
  if (name == nullptr || name[0] == '\0') return 1;
  for (const char *const *dummy = dummies; dummy != nullptr && *dummy != nullptr;
       ++dummy) {
    if (strstr(name, *dummy) != nullptr) return 1;
  }
  return 0;
}

tid_t tpropinfo_id(void) {
  tid_t id = BADNODE;
  netnode_check(&id, "TPropInfo", 0, 0);
  return id;
}

void make_tpropinfo_struc(void) {
  add_struc(BADADDR, "TPropInfo", 0);
  struc_t *structure = get_struc(tpropinfo_id());
  opinfo_t type_info = -1;  // no fixed reference target, then the first word
  add_struc_member(structure, "PropType", 0, 0x25500400, &type_info, 4);
  add_struc_member(structure, "GetProc", 4, 0x25500400, &type_info, 4);
  add_struc_member(structure, "SetProc", 8, 0x25500400, &type_info, 4);
  add_struc_member(structure, "StoredProc", 12, 0x25500400, &type_info, 4);
  type_info = -1;
  add_struc_member(structure, "Index", 16, 0x21100400, &type_info, 4);
  add_struc_member(structure, "Default", 20, 0x21100400, &type_info, 4);
  add_struc_member(structure, "NameIndex", 24, 0x11100400, &type_info, 2);
  type_info = 1;  // a string with one length byte
  add_struc_member(structure, "Name", 26, 0x50000400, &type_info, 0);
}

void ensure_function(ea_t target) {
  if (get_func_num(target) != -1) return;
  do_unknown(target, 1);
  add_func(target, BADADDR);
}
