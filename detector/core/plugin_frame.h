// The frame both plug-ins share: the two questions, the log file, the start
// line, the cursor brought back, and the totals. Each plug-in supplies only
// its scan loop.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// A plug-in's scan loop: walks from `start`, writes its per-group lines to
/// `log` (null: no log) and returns the group counter.
typedef int (*scan_loop_fn)(ea_t start, FILE *log, int log_choice, ea_t cursor);

/// The scan driver: 0 when the user cancelled, else 1.
int run_scan_driver(scan_loop_fn scan_loop);

/// The log file's path without "_classes.log": the input file's directory,
/// the separator and its file name without extension (static buffer).
const char *log_base_path(const char *input_path);
int log_printf(FILE *log, const char *format, ...) __attribute__((format(printf, 2, 3)));
int out_msg(const char *format, ...) __attribute__((format(printf, 1, 2)));
/// 1 Yes, 0 No, -1 Cancel.
int ask_yes_no(int default_answer, const char *format, ...);
/// The text entered, or null.
const char *ask_string(int history, const char *default_text, const char *prompt, ...);

/// init of both plug-ins: 1 for an x86 database, else 0.
int plugin_init(void);
/// term of both plug-ins: nothing to do.
void plugin_term(void);

#ifdef __cplusplus
}
#endif
