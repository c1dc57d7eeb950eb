// The finder's scan loop over arbitrary bytes in one or several segments.
// Every pass must report a candidate on a 4-byte boundary inside the program,
// each further on than the one before (so the loop ends), with a terminated,
// non-empty label, and the database must be left as it was. The finder's
// search must find what the detector's shared search finds.
#include <cstring>
#include <string>
#include <vector>

#include "detector/core/recognise.h"
#include "finder/finder_scan.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/segment_input.h"

namespace {

/// Keeps what the scan prints: the candidate of each trace line and the
/// label lines.
class ScanUi : public kernel::UserInterface {
 public:
  void Message(std::string_view text) override {
    const std::string line(text);
    unsigned long ea0 = 0;
    unsigned long ea1 = 0;
    if (sscanf(line.c_str(), "pellora: ea0=%lx   ea1=%lx", &ea0, &ea1) == 2)
      passes.push_back(static_cast<ea_t>(ea1));
    else
      found_lines.push_back(line);
  }
  int AskYesNo(int default_answer, std::string_view) override { return default_answer; }
  bool AskText(int, std::string_view, std::string_view, std::string *) override {
    return false;
  }

  std::vector<ea_t> passes;
  std::vector<std::string> found_lines;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ClearDatabaseAfterInput clear;
  fuzz::SegmentInput input;
  if (!fuzz::LoadSegmentInput(data, size, &input)) return 0;
  kernel::Database &db = kernel::TheDatabase();
  static FILE *log = fopen("/dev/null", "w");

  ScanUi ui;
  kernel::SetUserInterface(&ui);
  const int found = finder_scan_loop(input.start, log, 1, input.cursor);
  kernel::SetUserInterface(nullptr);

  const ea_t lowest = inf.min_ea;
  const ea_t highest = inf.max_ea;
  FUZZ_CHECK(!ui.passes.empty(), "the scan printed no trace line");
  std::vector<ea_t> candidates;
  for (size_t i = 0; i < ui.passes.size(); ++i) {
    const ea_t m = ui.passes[i];
    if (m == BADADDR) {
      FUZZ_CHECK(i + 1 == ui.passes.size(),
                 "the scan went on after pass %zu found nothing", i);
      break;
    }
    FUZZ_CHECK(m % 4 == 0, "candidate 0x%X is not on a 4-byte boundary", m);
    FUZZ_CHECK(m >= lowest && m < highest, "candidate 0x%X outside [0x%X, 0x%X)", m,
               lowest, highest);
    FUZZ_CHECK(m >= input.start - input.start % 4, "candidate 0x%X before the start 0x%X",
               m, input.start);
    FUZZ_CHECK(candidates.empty() || m > candidates.back(),
               "candidate 0x%X does not follow 0x%X", m, candidates.back());
    candidates.push_back(m);
  }
  FUZZ_CHECK(found == static_cast<int>(candidates.size()),
             "%d found, %zu candidates traced", found, candidates.size());
  FUZZ_CHECK(ui.found_lines.size() == candidates.size(),
             "%zu label lines, %zu candidates", ui.found_lines.size(), candidates.size());

  for (size_t i = 0; i < candidates.size(); ++i) {
    const char *label = get_group_label(candidates[i]);
    FUZZ_CHECK(memchr(label, '\0', kTextSize) != nullptr,
               "label of 0x%X not terminated in its buffer", candidates[i]);
    FUZZ_CHECK(label[0] != '\0', "candidate 0x%X has no label", candidates[i]);
    char expected[kTextSize + 32];
    snprintf(expected, sizeof expected, "%s @ %.8lX\n", label,
             static_cast<unsigned long>(candidates[i]));
    FUZZ_CHECK(ui.found_lines[i] == expected, "printed \"%s\", expected \"%s\"",
               ui.found_lines[i].c_str(), expected);
  }

  // The finder's own search reads the segments' bytes from memory; it must
  // answer as the shared search does, from the start and from behind each
  // candidate, whatever the segments' borders and gaps.
  ea_t search = input.start;
  for (size_t i = 0;; ++i) {
    const ea_t shared = find_next_group(search);
    FUZZ_CHECK(find_next_record(search) == shared,
               "from 0x%X the finder's search gives 0x%X, the shared one 0x%X", search,
               find_next_record(search), shared);
    if (i >= candidates.size()) break;
    search = candidates[i] + 4;
  }

  // The finder only reads.
  size_t items = 0;
  db.ForEachItem([&](const kernel::Item &) { ++items; });
  FUZZ_CHECK(items == 0 && db.Names().empty() && db.Comments().empty() &&
                 db.Functions().empty() && db.Structures().empty(),
             "the finder changed the database");
  FUZZ_CHECK(db.cursor() == input.cursor, "the cursor moved");
  return 0;
}
