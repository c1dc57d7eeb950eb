// The class finder's walk: every class record and type information block
// from the start address on, listed and never touched.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// The finder's scan loop for the shared frame: lists each record found
/// from `start` on and returns how many it found. Prints a trace line with
/// `cursor` and the candidate on every pass, found or not.
int finder_scan_loop(ea_t start, FILE *log, int log_choice, ea_t cursor);

/// The finder's scan driver: 0 when the user cancelled, else 1.
int pellora(void);

#ifdef __cplusplus
}
#endif
