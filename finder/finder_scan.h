// The class finder's walk: every class record and type information block
// from the start address on, listed and never touched.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// The first class record or type information block at or after `ea`, on
/// the same 4-byte steps and by the same tests as find_next_group, with the
/// same answer; BADADDR when there is none. Inside a segment the bytes are
/// read straight from memory, and only an address whose first words could
/// begin a record is handed to the full tests.
ea_t find_next_record(ea_t ea);

/// The finder's scan loop for the shared frame: lists each record found
/// from `start` on and returns how many it found. Prints a trace line with
/// `cursor` and the candidate on every pass, found or not.
int finder_scan_loop(ea_t start, FILE *log, int log_choice, ea_t cursor);

/// The finder's scan driver: 0 when the user cancelled, else 1.
int pellora(void);

#ifdef __cplusplus
}
#endif
