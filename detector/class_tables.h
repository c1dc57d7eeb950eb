// The five tables a class record points to.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Annotates the interface table at `table` and the method slots of its
/// first interface; a count of 0 leaves everything untouched.
void annotate_interface_table(ea_t table, const char *class_name);
/// Annotates the init table at `table` and the address and offset pairs
/// behind it; the position behind the last item annotated.
ea_t annotate_init_table(ea_t table, const char *class_name);
/// Annotates and names the published method table at `table`; the position
/// behind the last entry made, `table` when its entries were not made.
ea_t annotate_method_table(ea_t table, const char *class_name);
/// What a reading of a method table of the 88-byte layout found. Reading
/// depends on the program's bytes alone, so one reading serves every use
/// of the same table.
typedef struct {
  ea_t table;
  int held;       // 0: the bytes are not a method table of this shape
  ea_t end;       // behind the table, when held
  ea_t extended;  // the extended part, BADADDR when it has none
} MethodTableReading;

/// Reads the method table at `table` (88-byte layout).
MethodTableReading read_method_table(ea_t table);
/// Annotates and names the published method table that `reading` read, in
/// a program of the 88-byte layout; as annotate_method_table.
ea_t annotate_read_method_table(const MethodTableReading *reading,
                                const char *class_name);
/// In programs of the 88-byte layout: the position behind the method
/// entries that the extended part of the method table `reading` read
/// points to and that lie one behind the other from `pos` on (the compiler
/// puts them behind the class name); `pos` when none starts there.
ea_t method_entries_behind(const MethodTableReading *reading, ea_t pos);
/// Annotates the dynamic method table at `table`; the position behind the
/// last code slot made, `table` when its entries were not made.
ea_t annotate_dynamic_table(ea_t table, const char *class_name);
/// Annotates the published field table at `table` and its field class
/// list; the aligned position behind the class list.
ea_t annotate_field_table(ea_t table, const char *class_name);

#ifdef __cplusplus
}
#endif
