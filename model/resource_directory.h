// The program's resources, read from the resource directory in the loaded
// image.
//
// The directory is a tree of three levels: resource types, names, languages.
// Each level is a table (a 16-byte header with the counts of named and of
// numbered entries) followed by 8-byte entries; an entry names its key (a
// number, or with the top bit set the offset of a counted UTF-16 string) and
// its target (with the top bit set the offset of the next table, else the
// offset of a 16-byte data entry holding the data's address relative to the
// image base and its size). Every offset is relative to the directory's
// start and is checked against the directory before it is followed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detector/core/host_api.h"

namespace model {

/// Resource type of forms and data modules (and other raw data).
constexpr uint32_t kRcData = 10;

/// A resource type or name: a number, or a name (UTF-8).
struct ResourceKey {
  bool named = false;
  uint32_t id = 0;
  std::string name;

  /// The name, or "#" and the number.
  std::string Text() const;
};

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint32_t language = 0;
  ea_t data = 0;  // first byte, an address of the database
  uint32_t size = 0;
};

struct ResourceList {
  std::vector<Resource> resources;  // in directory order
  /// One line for each part of the directory that could not be read.
  std::vector<std::string> problems;
};

/// Walks the directory of `size` bytes at `directory` in the database, a
/// program loaded at `image_base`. A directory that is absent (0) yields
/// nothing; one outside every segment yields one problem.
ResourceList ReadResources(ea_t directory, uint32_t size, ea_t image_base);

/// The `size` bytes at `ea` of the database; false when they do not lie
/// within one segment.
bool CopyBytes(ea_t ea, uint32_t size, std::vector<uint8_t> *out);

}  // namespace model
