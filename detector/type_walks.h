// The type data walks, one per family of kinds. Each starts at the byte
// behind the type's name and moves *p over what it annotated.
#pragma once

#include "detector/core/host_api.h"

// Ordinal and simple kinds (type_ordinal.cc).
/// Integer, Char, WChar, Enumeration and Set; `ord_type` is the byte at *p.
void walk_ordinal(ea_t *p, int kind, uint8_t ord_type, ea_t block);
void walk_float(ea_t *p, uint8_t float_type);
void walk_short_string(ea_t *p, uint8_t max_length);
void walk_int64(ea_t *p);

// Method types (type_method.cc).
void walk_method(ea_t *p, uint8_t method_kind);

// Classes, records, arrays and interfaces (type_compound.cc).
void walk_class(ea_t *p, const char *type_name, asize_t prop_info_size);
void walk_array(ea_t *p);
void walk_record(ea_t *p);
void walk_interface(ea_t *p);
void walk_dyn_array(ea_t *p);

// The type data of programs of the 88-byte class layout: the classic
// fields and what newer compilers add behind them (attribute blocks, code
// pages, extended tables, signatures). Each gives false, having changed
// nothing, when the bytes do not hold the kind's fields; the classic walk
// then takes the block. Parts that are missing in a program (those of the
// first compilers of the layout) end the walk in front of them.

/// Integer, Char, WChar, Enumeration and Set (type_ordinal.cc).
bool walk_ordinal_newer(ea_t *p, int kind, ea_t block);
bool walk_float_newer(ea_t *p);
bool walk_short_string_newer(ea_t *p);
bool walk_int64_newer(ea_t *p);
/// Method types (type_method.cc).
bool walk_method_newer(ea_t *p);
/// Classes, records and managed records, arrays, interfaces and dynamic
/// arrays (type_compound.cc).
bool walk_class_newer(ea_t *p, const char *type_name, asize_t prop_info_size);
bool walk_record_newer(ea_t *p, const char *type_name);
bool walk_array_newer(ea_t *p);
bool walk_interface_newer(ea_t *p);
bool walk_dyn_array_newer(ea_t *p);
/// Dispatch by kind, and the kinds that only these programs hold: UString,
/// ClassRef, Pointer, Procedure and MRecord (type_newer.cc).
bool walk_newer_type_data(ea_t *p, int kind, const char *type_name, ea_t block,
                          asize_t prop_info_size);
