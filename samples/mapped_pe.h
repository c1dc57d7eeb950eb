// A PE file read back into memory the way the host maps it (one block per
// section at its address, the rest of the section zero), for the tests to
// check the writer's output through the file alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace samples {

struct MappedSection {
  std::string name;
  uint32_t start = 0;
  uint32_t end = 0;  // exclusive, rounded to the section alignment
  std::vector<uint8_t> bytes;
};

class MappedPe {
 public:
  /// Parses `file`; false with `err` set when a header or a section does not
  /// fit the file.
  bool Load(const std::vector<uint8_t> &file, std::string *err);

  uint32_t Read8(uint32_t ea) const;  // 0xFF outside every section
  uint32_t Read16(uint32_t ea) const;
  uint32_t Read32(uint32_t ea) const;
  std::string ShortString(uint32_t ea) const;
  /// End of the section holding `ea`, 0xFFFFFFFF when none does.
  uint32_t SegmentEnd(uint32_t ea) const;
  bool InRange(uint32_t value, uint32_t field) const {
    return value >= lowest && value < SegmentEnd(field);
  }

  uint32_t image_base = 0;
  uint32_t entry = 0;
  uint32_t lowest = 0;
  uint32_t highest = 0;
  std::vector<MappedSection> sections;
};

}  // namespace samples
