// The finder only lists what it recognises. Each class record and each type
// information block counts on its own: there is no group walk, so the search
// goes on just behind the record found, at the end of whatever item the
// database holds there.
#include "finder/finder_scan.h"

#include "detector/core/plugin_frame.h"
#include "detector/core/recognise.h"

namespace {

uint32_t Le32(const uint8_t *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}

// The bytes a step reads before the full tests: the first field and the
// AutoTable field at +8.
constexpr asize_t kStepBytes = 12;

/// Whether the record tests can pass at `x` (with `lowest` and the end of
/// its segment `end`) given its first field and the field at +8: every class
/// record of a layout with SelfPtr has a first field in range and an empty
/// AutoTable, one of the oldest layout a first field of 0, and every type
/// information block a first field holding the address right behind it.
bool MayBeRecord(ea_t x, uint32_t first, uint32_t at8, ea_t lowest, ea_t end,
                 bool self_pointer) {
  if (first == x + 4 && first >= lowest && first < end) return true;
  if (!self_pointer) return first == 0;
  return at8 == 0 && first >= lowest && first < end;
}

bool IsRecord(ea_t x) { return is_class_record(x) || is_type_info(x); }

}  // namespace

extern "C" {

ea_t find_next_record(ea_t ea) {
  const ea_t lowest = lowest_address();
  const ea_t highest = inf.max_ea;
  const bool self_pointer = has_self_pointer(class_layout()) != 0;
  ea_t x = ea - ea % 4;
  if (x < lowest) return BADADDR;
  while (x < highest) {
    asize_t left = 0;
    const uint8_t *bytes = get_segment_bytes(x, &left);
    if (bytes != nullptr && left >= kStepBytes) {
      // Every step whose words lie inside the segment, from memory.
      const ea_t end = x + left;
      const ea_t last = end - kStepBytes;
      const ea_t from = x;
      for (; x <= last && x < highest; x += 4) {
        const uint8_t *p = bytes + (x - from);
        if (MayBeRecord(x, Le32(p), Le32(p + 8), lowest, end, self_pointer) &&
            IsRecord(x))
          return x;
      }
      continue;
    }
    // Outside every segment or at a segment's end the words straddle a
    // border: the full tests read them as they lie.
    if (IsRecord(x)) return x;
    if (bytes == nullptr) {
      // Between segments every word fails: on to the last step at or below
      // the start of the next segment.
      const area_t *next = areacb_t_get_next_area(&segs, x);
      if (next == nullptr) return BADADDR;
      if ((next->start_ea & ~3u) > x) {
        x = next->start_ea & ~3u;
        continue;
      }
    }
    if (x + 4 < x) return BADADDR;
    x += 4;
  }
  return BADADDR;
}

int finder_scan_loop(ea_t start, FILE *log, int log_choice, ea_t cursor) {
  (void)log_choice;  // the open log file is what decides
  int found = 0;
  ea_t search = start;
  for (;;) {
    const ea_t m = find_next_record(search);
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
    // find_next_record takes back down to m + 4.
    search = get_item_end(m) + 4;
    if (search <= lowest_address() || search >= inf.max_ea) break;
  }
  return found;
}

int pellora(void) { return run_scan_driver(finder_scan_loop); }

}  // extern "C"
