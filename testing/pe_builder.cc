#include "testing/pe_builder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace test_pe {
namespace {

void Put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
uint32_t AlignUp(uint32_t v, uint32_t a) { return a ? (v + a - 1) / a * a : v; }

}  // namespace

uint32_t BuiltSectionTableOffset(const PeImage &image) {
  return kBuiltPeOffset + 24 + image.optional_header_size;
}

std::vector<uint8_t> BuildPe(const PeImage &image) {
  const uint32_t table = BuiltSectionTableOffset(image);
  const uint32_t headers = AlignUp(
      table + 40 * static_cast<uint32_t>(image.sections.size()), image.file_alignment);
  std::vector<uint8_t> b(headers, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kBuiltPeOffset);
  b[kBuiltPeOffset] = 'P';
  b[kBuiltPeOffset + 1] = 'E';

  const size_t fh = kBuiltPeOffset + 4;
  Put16(b, fh, image.machine);
  Put16(b, fh + 2, image.section_count.value_or(image.sections.size()));
  Put16(b, fh + 16, image.optional_header_size);
  Put16(b, fh + 18, 0x0102);  // executable, 32-bit machine

  const size_t opt = fh + 20;
  uint32_t image_size = image.section_alignment;
  for (const PeSection &s : image.sections)
    image_size = std::max(
        image_size, AlignUp(s.virtual_address + s.virtual_size, image.section_alignment));
  // Fields past the header's declared size are left out, as a short header has none.
  auto put16 = [&](size_t off, uint16_t v) {
    if (off + 2 <= image.optional_header_size) Put16(b, opt + off, v);
  };
  auto put32 = [&](size_t off, uint32_t v) {
    if (off + 4 <= image.optional_header_size) Put32(b, opt + off, v);
  };
  put16(0, image.magic);
  put32(16, image.entry_rva);
  put32(28, image.image_base);
  put32(32, image.section_alignment);
  put32(36, image.file_alignment);
  put16(40, 4);  // operating system version
  put16(48, 4);  // subsystem version
  put32(56, image_size);
  put32(60, headers);
  put16(68, 2);  // graphical subsystem
  put32(92, image.directory_entries);
  put32(96 + 16, image.resources_rva);
  put32(96 + 20, image.resources_size);

  for (size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection &s = image.sections[i];
    const uint32_t pointer = static_cast<uint32_t>(b.size());
    b.insert(b.end(), s.data.begin(), s.data.end());
    b.resize(AlignUp(static_cast<uint32_t>(b.size()), image.file_alignment), 0);
    const size_t at = table + 40 * i;
    for (size_t c = 0; c < 8 && c < s.name.size(); ++c) b[at + c] = s.name[c];
    Put32(b, at + 8, s.virtual_size);
    Put32(b, at + 12, s.virtual_address);
    Put32(b, at + 16, s.raw_size.value_or(static_cast<uint32_t>(s.data.size())));
    Put32(b, at + 20, s.raw_pointer.value_or(s.data.empty() ? 0 : pointer));
    Put32(b, at + 36, s.data.empty() ? 0xC0000040u : 0x60000020u);
  }
  return b;
}

PeImage SamplePe() {
  PeImage image;
  image.entry_rva = 0x1010;
  PeSection text{".text", 0x1000, 0x30, std::vector<uint8_t>(0x30, 0x90), {}, {}};
  // push ebp; mov ebp, esp; xor eax, eax; pop ebp; ret
  const uint8_t code[] = {0x55, 0x8B, 0xEC, 0x33, 0xC0, 0x5D, 0xC3};
  std::copy(std::begin(code), std::end(code), text.data.begin() + 0x10);
  PeSection data{".data", 0x2000, 0x20, {}, {}, {}};
  data.data = {0x78, 0x56, 0x34, 0x12, 0x10, 0x10, 0x40, 0x00,
               6,    'T',  'F',  'o',  'r',  'm',  '1'};
  PeSection bss{".bss", 0x3000, 0x100, {}, {}, {}};
  image.sections = {text, data, bss};
  return image;
}

std::string TestPath(const std::string &name) {
  return (std::filesystem::temp_directory_path() /
          (std::to_string(getpid()) + "_" + name))
      .string();
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok =
      bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

}  // namespace test_pe
