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
