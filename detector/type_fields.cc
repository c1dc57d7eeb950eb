#include "detector/type_fields.h"

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"

int make_one_word(ea_t ea) { return make_word_items(ea, 1); }
int make_two_words(ea_t ea) { return make_word_items(ea, 2); }
int make_one_dword(ea_t ea) { return make_dword_items(ea, 1); }
int make_two_dwords(ea_t ea) { return make_dword_items(ea, 2); }
int make_four_dwords(ea_t ea) { return make_dword_items(ea, 4); }
int make_two_qwords(ea_t ea) { return make_qword_items(ea, 2); }

int make_field(ea_t *p, maker_fn make, const char *comment) {
  const ea_t at = *p;
  if (!make(at)) return 0;
  if (comment != nullptr) set_cmt(at, comment, 0);
  *p = get_item_end(at);
  return 1;
}

void comment_always(ea_t ea, const char *comment) {
  if (comment != nullptr) set_cmt(ea, comment, 0);
}

void sweep_strings(ea_t *p) {
  while (make_field(p, make_pascal_string, nullptr)) {
  }
}

bool is_zero_or_address(uint32_t value) {
  return value == 0 || is_program_address(value);
}

void make_reference_or_dword(ea_t *p) {
  const uint32_t v = get_long(*p);
  if (is_program_address(v)) {
    make_field(p, make_offset_item, nullptr);
  } else {
    make_field(p, make_one_dword, nullptr);
  }
}

void make_unnamed_dword(ea_t *p, const char *comment) {
  const ea_t at = *p;
  if (!make_one_dword(at)) return;
  clear_field_name(at);
  set_cmt(at, comment, 0);
  *p = get_item_end(at);
}
