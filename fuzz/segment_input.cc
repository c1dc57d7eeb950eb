#include "fuzz/segment_input.h"

#include <algorithm>
#include <string>

namespace fuzz {
namespace {

constexpr size_t kMaxSegments = 4;
// The search for records steps through every address of the program, gaps
// included, so its time grows with the spread of the segments. The loader
// bounds that spread; here a smaller bound keeps each run short.
constexpr uint64_t kMaxSpread = 256u << 10;

uint32_t Le32(const uint8_t *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}

void PutLe32(std::vector<uint8_t> *out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool LoadSegmentInput(const uint8_t *data, size_t size, SegmentInput *input) {
  kernel::Database &db = kernel::TheDatabase();
  db.Clear();
  if (size < 5) return false;
  const size_t count = (data[0] & 3u) + 1;
  input->start_at_cursor = (data[0] & 4u) != 0;
  input->strtype = data[0] >> 3;
  input->cursor = Le32(data + 1);
  size_t pos = 5;
  if (size - pos < count * 8) return false;
  const uint8_t *header = data + pos;
  pos += count * 8;

  db.SetProcessor(0);
  db.SetInputPath("C:\\fuzz\\input.exe");
  bool added = false;
  for (size_t i = 0; i < count && i < kMaxSegments; ++i) {
    const ea_t start = Le32(header + 8 * i);
    const size_t declared = Le32(header + 8 * i + 4);
    const size_t n = std::min(declared, size - pos);
    kernel::Segment seg;
    seg.name = "seg" + std::to_string(i);
    seg.start = start;
    seg.end = static_cast<ea_t>(start + n);
    seg.bytes.assign(data + pos, data + pos + n);
    pos += n;
    // Refusals (empty, wrapping, overlapping) are part of what is fuzzed:
    // the run goes on with the segments that were taken.
    const uint64_t end = uint64_t{start} + n;
    if (end > BADADDR) continue;
    if (added &&
        std::max<uint64_t>(end, db.max_ea()) - std::min<uint64_t>(start, db.min_ea()) >
            kMaxSpread)
      continue;
    added |= db.AddSegment(std::move(seg), nullptr);
  }
  if (!added) return false;
  db.SetCursor(input->cursor);
  inf.strtype = input->strtype;
  input->start = input->start_at_cursor ? input->cursor : db.min_ea();
  return true;
}

std::vector<uint8_t> MakeSegmentInput(const kernel::Database &db, uint8_t flags) {
  const std::vector<kernel::Segment> &segments = db.segments();
  const size_t count = std::min(segments.size(), kMaxSegments);
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>((flags & ~3u) | (count == 0 ? 0 : count - 1)));
  PutLe32(&out, db.cursor());
  for (size_t i = 0; i < count; ++i) {
    PutLe32(&out, segments[i].start);
    PutLe32(&out, static_cast<uint32_t>(segments[i].bytes.size()));
  }
  for (size_t i = 0; i < count; ++i)
    out.insert(out.end(), segments[i].bytes.begin(), segments[i].bytes.end());
  return out;
}

}  // namespace fuzz
