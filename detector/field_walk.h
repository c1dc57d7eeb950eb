// Field walks over the data that compilers of the 88-byte class layout add
// to type information and class tables.
//
// That data is only partly fixed: attribute blocks, code pages, extended
// tables and signatures follow the classic fields in some programs and not
// in others (the first compilers of the layout wrote none of them). So each
// shape is walked twice by the same routine: first reading only, to see
// whether the bytes hold it, then, when they do, annotating it. A walk that
// meets bytes that cannot be the shape fails and nothing is changed; a part
// of a shape that the bytes do not hold ends the walk in front of it.
//
// The fields have fixed widths or carry their own length, so both passes
// step alike: the annotating pass moves by the field's width whether or not
// the host made the item.
#pragma once

#include <stddef.h>

#include "detector/core/host_api.h"

struct FieldWalk {
  enum State { kGoing, kStopped, kFailed };
  ea_t p;         // the next field
  ea_t end;       // fields may not reach past the end of the walk's segment
  bool annotate;  // false: read only
  State state;
};

/// A reading walk from `start`.
FieldWalk reading_walk(ea_t start);
inline bool going(const FieldWalk &w) { return w.state == FieldWalk::kGoing; }
/// The bytes cannot be the shape.
void fail(FieldWalk &w);
/// The shape is walked no further than here.
void stop_here(FieldWalk &w);

// Fields. Each reads its value, checks it, makes its item (annotating pass)
// with `comment` (null: none) and steps over it. They do nothing once the
// walk is not going, and give the value read (0 then).

uint8_t byte_field(FieldWalk &w, const char *comment);
uint16_t word_field(FieldWalk &w, const char *comment);
uint32_t dword_field(FieldWalk &w, const char *comment);
/// `count` numbers of `width` bytes (2, 4 or 8) as one item.
void numbers_field(FieldWalk &w, int width, int count, const char *comment);
/// `count` bytes as one item.
void bytes_field(FieldWalk &w, asize_t count, const char *comment);
/// Steps over `width` bytes that something else annotates.
void skip_field(FieldWalk &w, asize_t width);
/// A type reference: 0 or an address of the program, made an offset.
uint32_t reference_field(FieldWalk &w, const char *comment);
/// A pointer that must hold an address of the program.
uint32_t address_field(FieldWalk &w, const char *comment);
/// A code pointer: 0 or an address of the program. A function is made
/// where it points into the field's own segment; methods the linker left
/// out point elsewhere (to a shared cell of zeros).
uint32_t code_field(FieldWalk &w, const char *comment);
/// Whether `value`, read from the code pointer at `field`, leads to code.
bool is_code_of(uint32_t value, ea_t field);

enum NameRule {
  kAnyName,        // any bytes, empty included
  kPrintableName,  // at least one character, all printable and no blank
};
/// A short string; fails when its bytes break `rule`.
void name_field(FieldWalk &w, const char *comment, NameRule rule);

/// An attribute block: a length that counts itself, then entries of an
/// attribute type reference, a constructor and the constructor's
/// arguments, which fill the block exactly.
void attributes_field(FieldWalk &w);
/// An attribute block where the program has one; the walk ends in front
/// of the bytes otherwise.
void optional_attributes(FieldWalk &w);
/// A procedure signature: flags (255: nothing follows), calling
/// convention, result type and the parameters.
void signature_fields(FieldWalk &w);

/// The comment for a parameter's flags: one flag or a pair of two; null
/// for other values.
const char *param_flags_text(uint8_t flags);
/// The comment for a calling convention byte; null for an unknown one.
const char *calling_convention_text(uint8_t cc);
/// The comment for the visibility in the low bits of a member's flags.
const char *visibility_text(uint8_t flags);

/// Whether the bytes at the position of a going walk `w` hold `fields`;
/// reads only.
template <typename Fields>
bool holds(const FieldWalk &w, Fields &&fields) {
  if (!going(w)) return false;
  FieldWalk probe = w;
  probe.annotate = false;
  fields(probe);
  return probe.state != FieldWalk::kFailed;
}

/// Walks `fields` when the bytes hold them and gives true; gives false,
/// with `w` as it was, when they do not. A reading walk takes the reading
/// already done instead of reading the bytes again: reading changes
/// nothing and depends on the bytes alone.
template <typename Fields>
bool walk_if_held(FieldWalk &w, Fields &&fields) {
  if (!going(w)) return false;
  FieldWalk probe = w;
  probe.annotate = false;
  fields(probe);
  if (probe.state == FieldWalk::kFailed) return false;
  if (w.annotate) {
    fields(w);
  } else {
    w = probe;
  }
  return true;
}

/// Walks `fields` when the bytes hold them; otherwise `w` stops in front
/// of them. true when walked.
template <typename Fields>
bool optional_fields(FieldWalk &w, Fields &&fields) {
  if (walk_if_held(w, fields)) return true;
  stop_here(w);
  return false;
}

/// Annotates the shape `fields` at *p, which a reading walk from *p has
/// found there, and moves *p behind it.
template <typename Fields>
void annotate_read_shape(ea_t *p, Fields &&fields) {
  FieldWalk w = reading_walk(*p);
  w.annotate = true;
  fields(w);
  *p = w.p;
}

/// Reads the shape `fields` at *p and, when the bytes hold it, annotates it
/// and moves *p behind it; false, with nothing changed, when they do not.
template <typename Fields>
bool walk_shape(ea_t *p, Fields &&fields) {
  FieldWalk probe = reading_walk(*p);
  fields(probe);
  if (probe.state == FieldWalk::kFailed) return false;
  annotate_read_shape(p, fields);
  return true;
}
