// The detector's group walk from every candidate the search reports over
// arbitrary bytes. Each walk must end, hand back 0 or an address not below
// the candidate, restore the default string type and leave items that never
// overlap or leave their segment.
#include "detector/core/recognise.h"
#include "detector/scan_loop.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/segment_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ClearDatabaseAfterInput clear;
  fuzz::SegmentInput input;
  if (!fuzz::LoadSegmentInput(data, size, &input)) return 0;
  kernel::Database &db = kernel::TheDatabase();
  // The class record layout, decided as the frame decides it before a scan.
  set_class_layout(decide_class_layout());

  ea_t search = input.start;
  for (;;) {
    const ea_t m = find_next_group(search);
    if (m == BADADDR) break;
    FUZZ_CHECK(m >= inf.min_ea && m < inf.max_ea && m % 4 == 0,
               "candidate 0x%X outside [0x%X, 0x%X) or not aligned", m, inf.min_ea,
               inf.max_ea);
    const int32_t strtype = inf.strtype;
    const ea_t next = process_group(m);
    FUZZ_CHECK(inf.strtype == strtype,
               "string type %d left as %d after the group at 0x%X", strtype, inf.strtype,
               m);
    // A group may end past the highest address (a record's declared size
    // reaching beyond the program): the scan loop stops there, so only the
    // direction is checked.
    FUZZ_CHECK(next == 0 || next >= m, "group at 0x%X returned 0x%X", m, next);
    // Unlike the scan loop, go on past a group that did not advance, so that
    // every candidate is walked.
    const ea_t resume = next > m ? next : m + 4;
    if (resume <= m) break;
    search = resume;
  }
  fuzz::CheckItemsDisjoint(db);
  return 0;
}
