// Small database edits shared by the annotators: typed data items, offsets,
// short strings, alignment, field names, the dummy-name rule and the one
// structure type the detector creates.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Each gives 1 when the item was made, else 0.
int make_byte_item(ea_t ea);
int make_byte_items(ea_t ea, int count);
int make_word_items(ea_t ea, int count);
int make_dword_items(ea_t ea, int count);
int make_qword_items(ea_t ea, int count);
/// Non-zero when an offset or a zero dword was made; 0 changes nothing.
int make_offset_item(ea_t ea);
/// 1 when the short string at `ea` was made; the default string type is
/// left as it was found.
int make_pascal_string(ea_t ea);
/// The address after the alignment item made at `ea`, or `ea` unchanged.
ea_t make_align4(ea_t ea);
/// Alignment in front of a block: as make_align4, and also where the bytes
/// up to the next multiple of 4 are zero and a class record or a type
/// information block starts there (their four bytes read as an address only
/// because they run into the block's first field).
ea_t make_align4_before_block(ea_t ea);
/// Removes the name of `ea` unless it contains "unknown_".
void clear_field_name(ea_t ea);
/// 1 when `name` (null: none) may be replaced: missing, empty, or holding
/// one of the null-terminated list of `dummies`.
int is_dummy_name(const char *name, const char *const *dummies);

// Dummy names: the parts of the names the host makes up itself, which the
// detector's names replace, by what the name stands on. Null-terminated.
/// A function: sub_, unknown_, nullsub_.
extern const char *const kCodeDummies[];
/// A property accessor, which may point at code or data.
extern const char *const kAccessorDummies[];
/// A type information block and its reference cell.
extern const char *const kBlockDummies[];
/// A class record and its virtual method table.
extern const char *const kRecordDummies[];
/// A dynamic method table.
extern const char *const kDynamicTableDummies[];

/// The id of the structure type "TPropInfo"; BADNODE when the database has
/// none.
tid_t tpropinfo_id(void);
/// Lays an instance of the structure `id`, `size` bytes long, at `ea`; 1
/// when made.
int make_struct_item(ea_t ea, asize_t size, tid_t id);
/// Undefines every item over `size` bytes from `ea` on, no further than
/// the end of the segment holding `ea`.
void undefine_bytes(ea_t ea, asize_t size);
/// Where the walk goes on behind the field at `ea`: the end of the item
/// made there (`made` non-zero), or `width` bytes on when nothing was made
/// or the host reports no end beyond `ea`.
ea_t field_end(ea_t ea, int made, asize_t width);
/// Creates the structure type "TPropInfo".
void make_tpropinfo_struc(void);
/// Makes code behind a slot: when no function holds `target`, undefines it
/// and creates a function there.
void ensure_function(ea_t target);

#ifdef __cplusplus
}
#endif
