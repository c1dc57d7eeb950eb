// Published property records of a class type.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Walks `count` property records from `ea`, laying TPropInfo (of
/// `fixed_size` bytes) over each and naming accessors after `type_name` and
/// `unit_name` (null: none). Returns the address after the last record.
ea_t annotate_prop_list(ea_t ea, int count, const char *type_name, const char *unit_name,
                        asize_t fixed_size);

#ifdef __cplusplus
}
#endif
