// The run dialogue both plug-ins share: where to start, whether to keep a
// log beside the input file, the start line, the plug-in's own scan loop,
// the cursor brought back where the user left it, and the totals.
//
// Every text passes through 1024-byte buffers with bounded copies, so a
// path too long for them is cut rather than written past the end.
#include "detector/core/plugin_frame.h"

#include <string.h>

#include "detector/core/recognise.h"

namespace {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

extern "C" {

const char *log_base_path(const char *input_path) {
  static char path[kTextSize];
  static char base[kTextSize];
  qstrncpy(path, input_path, kTextSize);
  base[0] = '\0';
  if (qdirname(base, kTextSize, path) && base[0] != '\0') {
    const size_t dir_len = strlen(base);
    // Keep the separator the path was written with, so that a path from
    // either system names the file beside it; a root directory already
    // ends in one.
    if (!is_separator(base[dir_len - 1])) {
      const char sep[2] = {is_separator(path[dir_len]) ? path[dir_len] : kPathSeparator,
                           '\0'};
      qstrncat(base, sep, kTextSize);
    }
  } else {
    // A bare file name lies in the current directory: no separator, or the
    // log would land in the root directory.
    base[0] = '\0';
  }
  qstrncat(base, qsplitfile(path + (qbasename(path) - path), nullptr, nullptr),
           kTextSize);
  return base;
}

int log_printf(FILE *log, const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int n = qvfprintf(log, format, va);
  va_end(va);
  return n;
}

int out_msg(const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int n = callui(UI_MESSAGE, format, &va).i;
  va_end(va);
  return n;
}

int ask_yes_no(int default_answer, const char *format, ...) {
  va_list va;
  va_start(va, format);
  const int answer =
      callui(UI_ASK_YES_NO, nullptr, nullptr, nullptr, default_answer, format, &va).i;
  va_end(va);
  return answer;
}

const char *ask_string(int history, const char *default_text, const char *prompt, ...) {
  va_list va;
  va_start(va, prompt);
  const char *answer = callui(UI_ASK_TEXT, history, default_text, prompt, &va).cptr;
  va_end(va);
  return answer;
}

int run_scan_driver(scan_loop_fn scan_loop) {
  char question[kTextSize];
  char log_path[kTextSize];
  char input_path[kTextSize];
  char start_text[kTextSize];

  const char *answer =
      ask_string(6, "0", "Where to start (0=start of program, 1=current position) ?");
  // Cancelling the first question ends the run, as Cancel at the second does.
  if (answer == nullptr) return 0;
  const bool from_cursor = strcmp(answer, "1") == 0;

  qstrncpy(question,
           from_cursor ? "This script will explore from current position."
                       : "This script will explore the entire file.",
           kTextSize);
  qstrncat(question, " Save log file for reference?", kTextSize);
  const int log_choice = ask_yes_no(1, question);
  if (log_choice == -1) return 0;

  FILE *log = nullptr;
  if (log_choice == 1) {
    // Without an input path there is nowhere beside the file to write to;
    // the run goes on without a log, as when the file cannot be opened.
    if (netnode_valstr(RootNode, input_path, kTextSize) > 0 && input_path[0] != '\0') {
      qstrncpy(log_path, log_base_path(input_path), kTextSize);
      qstrncat(log_path, "_classes.log", kTextSize);
      log = fopenWT(log_path);
    }
    if (log != nullptr) {
      log_printf(log, "File Name: %s\n", input_path);
      log_printf(log, "%s", "Groups of Delphi Class or Type List:\n");
      // "Sart Addr" is spelt so in every log the system has written; readers of
      // the logs match it as it is.
      log_printf(log, "%s", "Group No.  Sart Addr  Class Name\n");
    }
  }

  ea_t cursor = BADADDR;
  callui(UI_GET_CURSOR, &cursor);
  const ea_t start = from_cursor ? cursor : lowest_address();
  ea2str(start, start_text, kTextSize);
  out_msg("Start from address %s ...\n", start_text);

  // The header size is the same for every class record of a program, so it
  // is decided once, from the whole program, before the first candidate.
  const int header_size = decide_class_layout();
  set_class_layout(header_size);
  if (!classic_layout(header_size))
    out_msg("Class record header: %d bytes\n", header_size);

  const int groups = scan_loop(start, log, log_choice, cursor);

  callui(UI_JUMP_TO, cursor, -1);
  if (groups > 0) {
    out_msg("Total %d groups of classes or types found.\n", groups);
  } else {
    out_msg("No groups of classes or types found.\n");
  }
  if (log != nullptr) {
    log_printf(log, "Total %d groups of classes or types found.\n", groups);
    qfclose(log);
    out_msg("Log file %s saved.\n", log_path);
  }
  return 1;
}

int plugin_init(void) { return ph.id == 0 ? 1 : 0; }

void plugin_term(void) {}

}  // extern "C"
