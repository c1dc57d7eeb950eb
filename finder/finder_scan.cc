// The finder only lists what it recognises. Each class record and each type
// information block counts on its own: there is no group walk, so the search
// goes on just behind the record found, at the end of whatever item the
// database holds there.
#include "finder/finder_scan.h"

#include "detector/core/plugin_frame.h"
#include "detector/core/recognise.h"

extern "C" {

int finder_scan_loop(ea_t start, FILE *log, int log_choice, ea_t cursor) {
  (void)log_choice;  // the open log file is what decides
  int found = 0;
  ea_t search = start;
  for (;;) {
    const ea_t m = find_next_group(search);
    if (m != BADADDR) {
      ++found;
      if (log != nullptr) {
        const char *label = get_group_label(m);
        log_printf(log, "%8d  0x%.8lX  %s\n", found, (unsigned long)m, label);
        out_msg("%s @ %.8lX\n", label, (unsigned long)m);
      }
    }
    out_msg("pellora: ea0=%lx   ea1=%lx\n", (unsigned long)cursor, (unsigned long)m);
    if (m == BADADDR) break;
    // An unknown byte ends at m + 1, so the search resumes at m + 5, which
    // find_next_group takes back down to m + 4.
    search = get_item_end(m) + 4;
    if (search <= lowest_address() || search >= inf.max_ea) break;
  }
  return found;
}

int pellora(void) { return run_scan_driver(finder_scan_loop); }

}  // extern "C"
