// Writes small PE32 files for the tests and the demonstration: well-formed
// ones, and broken ones through the fields that override what the builder
// would compute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_pe {

struct PeSection {
  std::string name;
  uint32_t virtual_address = 0;
  uint32_t virtual_size = 0;
  std::vector<uint8_t> data;            // the raw data
  std::optional<uint32_t> raw_size;     // SizeOfRawData instead of data's size
  std::optional<uint32_t> raw_pointer;  // PointerToRawData instead of its place
};

struct PeImage {
  uint16_t machine = 0x14C;
  uint16_t magic = 0x10B;  // 0x20B for PE32+
  uint32_t image_base = 0x00400000;
  uint32_t entry_rva = 0;
  uint32_t section_alignment = 0x1000;
  uint32_t file_alignment = 0x200;
  uint16_t optional_header_size = 0xE0;
  std::optional<uint16_t> section_count;  // NumberOfSections instead of the real count
  uint32_t directory_entries = 16;        // NumberOfRvaAndSizes
  uint32_t resources_rva = 0;             // data directory entry 2
  uint32_t resources_size = 0;
  std::vector<PeSection> sections;
};

/// File offset of the "PE\0\0" signature in every built file.
constexpr uint32_t kBuiltPeOffset = 0x80;
/// File offset of the section table in a file with `image`'s header sizes.
uint32_t BuiltSectionTableOffset(const PeImage &image);

/// The file's bytes: DOS header, PE headers, section table, then each
/// section's raw data at the next multiple of the file alignment.
std::vector<uint8_t> BuildPe(const PeImage &image);

/// A small i386 program: ".text" with a function at the entry point, ".data"
/// with a few bytes and a string, ".bss" with no raw data.
PeImage SamplePe();

/// `name` in the temporary folder, made unique to this process so that
/// tests running side by side do not share files.
std::string TestPath(const std::string &name);

/// Writes `bytes` to `path`; false when it could not.
bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);

}  // namespace test_pe
