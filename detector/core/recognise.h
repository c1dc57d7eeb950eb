// Recognition of class records and type information blocks by their shape,
// and the readers every annotator rests on.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// The class record layouts of the compiler generations, by the size of the
/// header in front of the virtual method table. Code that depends on the
/// layout asks the predicates below rather than comparing sizes.
enum class_layout_size {
  LAYOUT_OLDEST = 52,   ///< no SelfPtr and no IntfTable; references are direct
  LAYOUT_OLDER = 64,    ///< five standard virtual methods
  LAYOUT_CLASSIC = 76,  ///< eight standard virtual methods
  LAYOUT_NEWEST = 88,   ///< eleven standard virtual methods and newer type data
};

/// 1 for the classic layout, whose SelfPtr is only range-tested and whose
/// output is the reference every other layout is compared with.
int classic_layout(int header_size);
/// 1 when the records of the layout start with a SelfPtr field (every
/// layout but the oldest).
int has_self_pointer(int header_size);
/// 1 when the SelfPtr of every record must hold exactly the address behind
/// the header (the layouts with a SelfPtr other than the classic one).
int exact_self_pointer(int header_size);
/// 1 when the program's type information may hold what the newest compilers
/// add: kinds 18 to 22, generic names, attribute blocks and extended tables.
int has_newer_type_data(int header_size);

/// The fields of a class record header, by their offsets in the layouts
/// that start with a SelfPtr. The oldest layout has neither SelfPtr nor
/// IntfTable, and every other field 8 bytes nearer the record's start.
enum class_field {
  FIELD_SELF_PTR = 0,
  FIELD_INTF_TABLE = 4,
  FIELD_AUTO_TABLE = 8,
  FIELD_INIT_TABLE = 12,
  FIELD_TYPE_INFO = 16,
  FIELD_FIELD_TABLE = 20,
  FIELD_METHOD_TABLE = 24,
  FIELD_DYNAMIC_TABLE = 28,
  FIELD_CLASS_NAME = 32,
  FIELD_INSTANCE_SIZE = 36,
  FIELD_PARENT = 40,
  FIELD_FIRST_STANDARD = 44,  ///< the first standard virtual method
};
/// The address of `field` in the record at `record` in the layout in use;
/// BADADDR for a field the layout lacks.
ea_t class_field_at(ea_t record, int field);
/// The field (a class_field value) at `ea` of the record at `record` in the
/// layout in use; -1 for an address in front of the record or not on a
/// field's first byte.
int class_field_of(ea_t record, ea_t ea);
/// The virtual method table of the record at `record`: the value of its
/// SelfPtr, or in the oldest layout the address behind the header.
ea_t class_vmt(ea_t record);

/// Where the virtual method slots of the record at `record` must end: at the
/// nearest of its tables and its name that lies at or behind its table
/// (a class without slots of its own may have a table right there), else at
/// the end of the record's segment.
ea_t class_slots_end(ea_t record);

/// Decides the program's class record header size from its first 32
/// witnesses: addresses A whose first field holds A + H (64, 76 or 88) in
/// A's range, with an empty AutoTable and a class name (of the wide
/// character set) behind the pointer at A + 32. The size with the most
/// witnesses wins; a tie gives 76. Without any witness the program is of the
/// oldest layout when a record of that layout links through its parents to
/// a root named TObject (see is_class_record), else classic. Does not change
/// the layout in use.
int decide_class_layout(void);
/// Sets the header size the recognition and the annotators use from now on
/// (76 until set).
void set_class_layout(int header_size);
/// The header size in use.
int class_layout(void);

/// The name of the standard virtual method `index` (0 for the first, at
/// A + 44) of the layout with `header_size`; null past the layout's last.
const char *standard_method_name(int header_size, int index);

/// Calls `visit` with each property record's PropType value of the class
/// type block whose kind byte is at `kind_at`: in the oldest layout the
/// kind byte of the property's type block. Stops at the end of the block's
/// segment; does nothing for a block of another kind.
void for_each_prop_type(ea_t kind_at, void (*visit)(ea_t prop_type, void *context),
                        void *context);

/// 1 when a class record starts at `ea`, else 0. In the oldest layout, with
/// no SelfPtr to test, the record must also link into the class hierarchy:
/// its chain of parents, each a record whose fields pass, must end at a root
/// (no parent) named TObject within 64 steps.
int is_class_record(ea_t ea);
/// 1 when a type information block starts at `ea`, else 0.
int is_type_info(ea_t ea);
/// The name of the record at `record` whose name lies at `name_ea`, in a
/// static buffer; "unnamed_method" for a method type without a name; null
/// when the record has neither shape or no valid name.
const char *get_record_name(ea_t name_ea, ea_t record);
/// First class record or type block at or after `ea` rounded down to 4;
/// BADADDR when none is left before the highest address.
ea_t find_next_group(ea_t ea);
/// Group label in a 1024-byte static buffer owned here; valid until the
/// next call.
const char *get_group_label(ea_t ea);
/// The short string at `ea` (at get_long(ea) when `deref` is 1) in a
/// 1024-byte static buffer; null when it is empty or holds a byte outside
/// the identifier set (which takes generic names in programs of the 88-byte
/// layout).
const char *get_pascal_name(ea_t ea, int deref);
/// End of the segment holding `ea`, or BADADDR.
ea_t segment_end(ea_t ea);
/// The lowest address of the program.
ea_t lowest_address(void);

/// 1 when `value` is an address of the program: from its lowest address up
/// to its highest, the highest (the exclusive end) included, since a
/// reference may point just behind a table that ends the program. The test
/// for values held in fields; the range of a record is narrower (below).
int is_program_address(uint32_t value);

/// 1 when `value` is an address in the range of a record at `at`: from the
/// lowest address of the program up to the end of the segment holding `at`.
int in_record_range(uint32_t value, ea_t at);

/// The kind byte of a type information block.
enum type_kind {
  KIND_INTEGER = 1,
  KIND_CHAR = 2,
  KIND_ENUMERATION = 3,
  KIND_FLOAT = 4,
  KIND_STRING = 5,
  KIND_SET = 6,
  KIND_CLASS = 7,
  KIND_METHOD = 8,
  KIND_WCHAR = 9,
  KIND_LSTRING = 10,
  KIND_WSTRING = 11,
  KIND_VARIANT = 12,
  KIND_ARRAY = 13,
  KIND_RECORD = 14,
  KIND_INTERFACE = 15,
  KIND_INT64 = 16,
  KIND_DYN_ARRAY = 17,
  KIND_USTRING = 18,
  KIND_CLASS_REF = 19,
  KIND_POINTER = 20,
  KIND_PROCEDURE = 21,
  KIND_MRECORD = 22,
};

/// "Integer" ... "DynArray" for kinds 1 to 17, and "UString" ... "MRecord"
/// for 18 to 22 in programs of the 88-byte layout; null for any other kind.
const char *type_kind_name(int kind);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
/// The size of the plug-ins' text buffers for names, strings and comments:
/// the host cuts what it copies into one there.
constexpr size_t kTextSize = 1024;
#endif
