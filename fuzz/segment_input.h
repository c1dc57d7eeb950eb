// The input format of the targets that start from bytes rather than from a
// PE file: a few header bytes say where the bytes lie, the rest are the
// program's bytes.
//
//   byte 0       bits 0-1: number of segments - 1; bit 2: start at the cursor
//                rather than at the lowest address; bits 3-7: default string
//                type set before the run
//   bytes 1-4    cursor (little-endian)
//   then         per segment: start (4 bytes), size (4 bytes)
//   then         the segments' bytes, one after the other
//
// A segment gets as many of its bytes as are left, so the last ones may come
// out shorter than declared or empty; those and the ones the kernel refuses
// (overlapping, wrapping) are left out. make_seeds writes this format from a
// loaded PE file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "detector/core/host_api.h"
#include "host/kernel/database.h"

namespace fuzz {

struct SegmentInput {
  ea_t cursor = 0;
  bool start_at_cursor = false;
  int32_t strtype = 0;
  /// Where the scan starts: the cursor or the lowest address.
  ea_t start = 0;
};

/// Fills kernel::TheDatabase() (an x86 program) from `data`; false when no
/// segment could be added.
bool LoadSegmentInput(const uint8_t *data, size_t size, SegmentInput *input);

/// The input that describes `db`'s segments, cursor and `flags` (byte 0).
std::vector<uint8_t> MakeSegmentInput(const kernel::Database &db, uint8_t flags);

}  // namespace fuzz
