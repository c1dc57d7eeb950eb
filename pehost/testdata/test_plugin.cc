// A plug-in for testing pehost: it asks both questions, reports the answers
// and what it finds in the output window, makes a few items, a name and a
// comment, walks the cursor across the program and brings it back.
//
// Built three times: as it is; with TEST_PLUGIN_VERSION set to a foreign
// interface version; with TEST_PLUGIN_NO_DESCRIPTOR, exporting nothing.
//
// The start answer "sleep" makes it open its log (when asked for one), write
// FILE.sleeping beside the program and then wait, so that a test can
// interrupt pehost in the middle of a run.
#include <string.h>
#include <time.h>

#include "detector/core/host_api.h"

#ifndef TEST_PLUGIN_VERSION
#define TEST_PLUGIN_VERSION PLUGIN_INTERFACE_VERSION
#endif

static void out_msg(const char *format, ...) {
  va_list va;
  va_start(va, format);
  callui(UI_MESSAGE, format, &va);
  va_end(va);
}

static int ask_yes_no(int default_answer, const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int answer =
      callui(UI_ASK_YES_NO, NULL, NULL, NULL, default_answer, format, &va).i;
  va_end(va);
  return answer;
}

static const char *ask_string(int history, const char *default_text, const char *prompt,
                              ...) {
  va_list va;
  va_start(va, prompt);
  const char *answer = callui(UI_ASK_TEXT, history, default_text, prompt, &va).cptr;
  va_end(va);
  return answer;
}

static void log_printf(FILE *fp, const char *format, ...) {
  va_list va;
  va_start(va, format);
  qvfprintf(fp, format, va);
  va_end(va);
}

/// Opens the program's path followed by `suffix` for writing.
static FILE *open_beside(const char *suffix) {
  static char path[1024];
  netnode_valstr(RootNode, path, sizeof path);
  qstrncat(path, suffix, sizeof path);
  return fopenWT(path);
}

/// Writes `text` to the program's path followed by `suffix`.
static void write_file(const char *suffix, const char *text) {
  FILE *fp = open_beside(suffix);
  if (fp == NULL) return;
  log_printf(fp, "%s", text);
  qfclose(fp);
}

static int init(void) { return ph.id == 0 ? 1 : 0; }

static void term(void) {}

static void run(int arg) {
  (void)arg;
  static char start[1024];
  const char *answer =
      ask_string(6, "0", "Where to start (0=start of program, 1=current position) ?");
  qstrncpy(start, answer != NULL ? answer : "(cancelled)", sizeof start);
  out_msg("start=[%s]\n", start);
  const int log = ask_yes_no(1, "Save log file for reference?");
  out_msg("log=%d\n", log);

  ea_t cursor = BADADDR;
  callui(UI_GET_CURSOR, &cursor);
  static char text[1024];
  out_msg("cursor=%08X\n", cursor);
  out_msg("name=%s\n", get_true_name(BADADDR, inf.min_ea, text, sizeof text) != NULL
                           ? text
                           : "(none)");
  out_msg("comment=%s\n",
          get_cmt(inf.min_ea, 0, text, sizeof text) >= 0 ? text : "(none)");

  do_data_ex(inf.min_ea, DATA_DWORD, 4, BADNODE);
  do_name_anyway(inf.min_ea, "test_plugin_first", 0);
  set_cmt(inf.min_ea, "made by the test plug-in", 0);
  op_offset(inf.min_ea + 4, 0, 2, BADADDR, 0, 0);
  add_func(cursor, BADADDR);

  if (strcmp(start, "sleep") == 0) {
    // The log stays open while the run waits, as a scan's log does.
    FILE *fp = log == 1 ? open_beside("_test.log") : NULL;
    if (fp != NULL) log_printf(fp, "%s", "the interrupted run's log\n");
    write_file(".sleeping", "");
    for (int i = 0; i < 300; ++i) {
      struct timespec ts = {0, 100 * 1000 * 1000};
      nanosleep(&ts, NULL);
    }
    if (fp != NULL) qfclose(fp);
  } else if (log == 1) {
    write_file("_test.log", "the test plug-in's log\n");
  }

  for (ea_t ea = inf.min_ea; ea < inf.max_ea; ea += 0x100) callui(UI_JUMP_TO, ea, -1);
  callui(UI_JUMP_TO, cursor, -1);
  out_msg("done\n");
}

#ifndef TEST_PLUGIN_NO_DESCRIPTOR
extern "C" {
PLUGIN_EXPORT plugin_t PLUGIN = {
    TEST_PLUGIN_VERSION,   0,  init,           term,         run,
    "pehost test plug-in", "", "Test plug-in", "Ctrl-Alt-T",
};
}
#else
// Keeps the entries used, so that the library builds without a descriptor.
extern "C" {
PLUGIN_EXPORT void *test_plugin_entries[] = {(void *)init, (void *)term, (void *)run};
}
#endif
