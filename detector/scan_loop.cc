// The detector walks the program group by group. A group is a run of
// adjacent class records followed by the type information blocks the
// linker placed behind them; the two annotators take turns, class records
// first, until neither moves the position on. Where the group ended is
// where the search for the next one starts.
#include "detector/scan_loop.h"

#include "detector/annotate_class.h"
#include "detector/annotate_type.h"
#include "detector/core/plugin_frame.h"
#include "detector/core/recognise.h"

extern "C" {

ea_t process_group(ea_t start) {
  const int32_t saved_strtype = inf.strtype;
  ea_t q = start;
  for (;;) {
    int32_t flag = 0;
    for (;;) {
      const ea_t r = annotate_class_records(q, &flag);
      if (r <= q || flag <= 0) break;
      q = r;
    }
    bool advanced = true;
    for (;;) {
      const ea_t r = annotate_type_infos(q, &flag);
      if (r <= q) {
        advanced = false;
        break;
      }
      // The type step keeps an advance even when the annotator stopped at
      // something it does not handle.
      q = r;
      if (flag <= 0) break;
    }
    if (!advanced) break;
    if (!(inf.min_ea < q && q < inf.max_ea - 3)) break;
  }
  inf.strtype = saved_strtype;
  return q == BADADDR ? 0 : q;
}

int detect_scan_loop(ea_t start, FILE *log, int log_choice, ea_t cursor) {
  (void)log_choice;
  (void)cursor;
  int groups = 0;
  ea_t search = start;
  for (;;) {
    const ea_t m = find_next_group(search);
    if (m == BADADDR) break;
    const char *label = get_group_label(m);
    ++groups;
    if (log != nullptr) {
      log_printf(log, "%8d  0x%.8lX  %s\n", groups, (unsigned long)m, label);
      out_msg("%s @ %.8lX\n", label, (unsigned long)m);
    }
    const ea_t next = process_group(m);
    // A candidate that starts no group is passed over, as the finder passes
    // over every record: the rest of the program still gets searched.
    if (next == m) {
      search = get_item_end(m) + 4;
      if (search <= inf.min_ea || search >= inf.max_ea) break;
      continue;
    }
    if (next <= m || next <= inf.min_ea || next >= inf.max_ea) break;
    search = next;
  }
  return groups;
}

int detect_classes(void) { return run_scan_driver(detect_scan_loop); }

}  // extern "C"
