// Writes the laid-out image as a 32-bit PE file for the i386: DOS header,
// PE headers and one section header per section, then each section's raw
// data at the file alignment. Nothing in the file depends on the time or the
// machine, so the same image always gives the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "samples/image.h"

namespace samples {

constexpr uint32_t kFileAlignment = 0x200;

constexpr uint32_t kCodeCharacteristics = 0x60000020;      // code, execute, read
constexpr uint32_t kDataCharacteristics = 0xC0000040;      // initialised, read, write
constexpr uint32_t kBssCharacteristics = 0xC0000080;       // uninitialised, read, write
constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised, read

struct PeOptions {
  Addr entry_point = 0;
  Addr import_directory = 0;  // absolute address of the import table, or 0
  uint32_t import_size = 0;
  Addr resource_directory = 0;  // absolute address of the resource directory, or 0
  uint32_t resource_size = 0;
};

/// The whole file for `image`, whose references must be resolved.
std::vector<uint8_t> WritePe(const Image &image, const PeOptions &options);

}  // namespace samples
