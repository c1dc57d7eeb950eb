// A program's resource section: the directory of types, names and languages
// followed by the resources' data, as a linker lays it out. Named entries
// come before numbered ones in every table, each group in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace samples {

/// A resource type or name: a number, or a name when `name` is not empty.
struct ResourceId {
  uint32_t id = 0;
  std::u16string name;
};

struct ResourceSpec {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  std::vector<uint8_t> data;
};

/// Where a resource's data landed, relative to the section's start.
struct ResourcePlace {
  uint32_t offset = 0;
  uint32_t size = 0;
};

/// The section's bytes for a section at `rva` (relative to the image base):
/// the data entries hold rva + the data's offset. `places` gets one entry per
/// resource, in the order given.
std::vector<uint8_t> BuildResourceSection(uint32_t rva,
                                          const std::vector<ResourceSpec> &resources,
                                          std::vector<ResourcePlace> *places);

}  // namespace samples
