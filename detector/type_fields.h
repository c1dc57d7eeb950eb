// The field steps every type information walk is built from.
//
// Each step makes an item at the position P and moves P to the item's end
// only when the host made it; a refused item leaves P where it was, so the
// next step tries the same bytes.
#pragma once

#include <stddef.h>

#include "detector/core/host_api.h"

typedef int (*maker_fn)(ea_t ea);

int make_one_word(ea_t ea);
int make_two_words(ea_t ea);
int make_one_dword(ea_t ea);
int make_two_dwords(ea_t ea);
int make_four_dwords(ea_t ea);
int make_two_qwords(ea_t ea);

/// Makes an item at *p with `make`; when made, puts `comment` (null: none)
/// on it and moves *p to its end. 1 when made.
int make_field(ea_t *p, maker_fn make, const char *comment);
/// Puts `comment` (null: none) on `ea` whether or not anything is made
/// there.
void comment_always(ea_t ea, const char *comment);
/// Makes short strings one after another as long as they can be made.
void sweep_strings(ea_t *p);
/// A field holding a type reference (an address of the program) or a
/// plain number.
void make_reference_or_dword(ea_t *p);
/// A dword whose old field name goes before `comment` is put on it.
void make_unnamed_dword(ea_t *p, const char *comment);
/// 0, or an address between the lowest and the highest address, both
/// included.
bool is_zero_or_address(uint32_t value);

/// The text for `value` from a table of `count` texts; null past its end.
template <size_t N>
const char *text_of(const char *const (&texts)[N], uint32_t value) {
  return value < N ? texts[value] : nullptr;
}
