// The detector's walk from group to group.
#pragma once

#include <stdio.h>

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Annotates the group of class records and type information blocks that
/// starts at the candidate `start`, alternating the two annotators until
/// neither advances. Returns where the search for the next group goes on
/// (`start` itself when nothing advanced), or 0.
ea_t process_group(ea_t start);

/// The detector's scan loop: from `start` to the end of the program, one
/// process_group per candidate. Returns the number of groups.
int detect_scan_loop(ea_t start, FILE *log, int log_choice, ea_t cursor);

/// The detector's scan driver: 0 when the user cancelled, else 1.
int detect_classes(void);

#ifdef __cplusplus
}
#endif
