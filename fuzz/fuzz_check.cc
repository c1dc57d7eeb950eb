#include "fuzz/fuzz_check.h"

#include <algorithm>

namespace fuzz {

void CheckItemsDisjoint(const kernel::Database &db) {
  const std::vector<kernel::Segment> &segments = db.segments();
  uint64_t previous_end = 0;
  db.ForEachItem([&](const kernel::Item &item) {
    const uint64_t end = uint64_t{item.start} + item.size;
    FUZZ_CHECK(item.size > 0, "empty %s item at 0x%X", kernel::ItemTypeName(item.type),
               item.start);
    FUZZ_CHECK(item.start >= previous_end,
               "%s item at 0x%X overlaps the item before it (ending at 0x%llX)",
               kernel::ItemTypeName(item.type), item.start,
               static_cast<unsigned long long>(previous_end));
    const auto seg =
        std::find_if(segments.begin(), segments.end(), [&](const kernel::Segment &s) {
          return item.start >= s.start && item.start < s.end;
        });
    FUZZ_CHECK(seg != segments.end() && end <= seg->end,
               "%s item at 0x%X, 0x%X bytes, leaves its segment",
               kernel::ItemTypeName(item.type), item.start, item.size);
    previous_end = end;
  });
}

}  // namespace fuzz
