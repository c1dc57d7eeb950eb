#include "samples/pe_writer.h"

#include <cstring>
#include <stdexcept>

namespace samples {

namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kOptionalHeaderSize = 0xE0;
constexpr uint32_t kSectionHeaderSize = 40;

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

struct Writer {
  std::vector<uint8_t> &out;
  void At(size_t off, const void *data, size_t n) {
    if (out.size() < off + n) out.resize(off + n);
    std::memcpy(out.data() + off, data, n);
  }
  void U16(size_t off, uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    At(off, b, 2);
  }
  void U32(size_t off, uint32_t v) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    At(off, b, 4);
  }
};

uint32_t MemorySize(const Section &s) {
  return s.virtual_size > s.bytes.size() ? s.virtual_size
                                         : static_cast<uint32_t>(s.bytes.size());
}

}  // namespace

std::vector<uint8_t> WritePe(const Image &image, const PeOptions &options) {
  const std::vector<Section> &sections = image.sections();
  if (sections.empty()) throw std::logic_error("an image needs a section");
  const uint32_t base = Image::kImageBase;
  const uint32_t headers_end =
      kPeOffset + 4 + 20 + kOptionalHeaderSize + kSectionHeaderSize * sections.size();
  const uint32_t size_of_headers = AlignUp(headers_end, kFileAlignment);

  std::vector<uint8_t> out(size_of_headers, 0);
  Writer w{out};

  // DOS header with a stub that only says it needs the other system.
  w.U16(0, 0x5A4D);
  w.U16(2, 0x50);
  w.U16(4, 2);
  w.U16(8, 4);
  w.U16(10, 0x0F);
  w.U16(12, 0xFFFF);
  w.U16(16, 0xB8);
  w.U16(24, 0x40);
  w.U16(26, 0x1A);
  w.U32(0x3C, kPeOffset);
  static const uint8_t kStub[] = {0xBA, 0x10, 0x00, 0x0E, 0x1F, 0xB4, 0x09, 0xCD,
                                  0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21, 0x90, 0x90};
  w.At(0x40, kStub, sizeof kStub);
  static const char kStubText[] = "This program must be run under Win32\r\n$";
  w.At(0x50, kStubText, sizeof kStubText - 1);

  // COFF file header.
  w.U32(kPeOffset, 0x00004550);
  const uint32_t coff = kPeOffset + 4;
  w.U16(coff + 0, 0x014C);
  w.U16(coff + 2, static_cast<uint16_t>(sections.size()));
  w.U32(coff + 4, 0x2A425E19);  // fixed stamp: the output must not depend on the clock
  w.U16(coff + 16, kOptionalHeaderSize);
  w.U16(coff + 18, 0x818E);

  uint32_t size_of_code = 0, size_of_data = 0, size_of_bss = 0;
  uint32_t base_of_code = 0, base_of_data = 0;
  for (const Section &s : sections) {
    uint32_t raw = AlignUp(static_cast<uint32_t>(s.bytes.size()), kFileAlignment);
    if (s.characteristics & 0x20) {
      size_of_code += raw;
      if (base_of_code == 0) base_of_code = s.start - base;
    } else if (s.characteristics & 0x40) {
      size_of_data += raw;
      if (base_of_data == 0) base_of_data = s.start - base;
    } else {
      size_of_bss += AlignUp(MemorySize(s), kFileAlignment);
    }
  }
  const uint32_t size_of_image = image.highest() - base;

  const uint32_t opt = coff + 20;
  w.U16(opt + 0, 0x010B);
  out[opt + 2] = 2;
  out[opt + 3] = 25;
  w.U32(opt + 4, size_of_code);
  w.U32(opt + 8, size_of_data);
  w.U32(opt + 12, size_of_bss);
  w.U32(opt + 16, options.entry_point - base);
  w.U32(opt + 20, base_of_code);
  w.U32(opt + 24, base_of_data);
  w.U32(opt + 28, base);
  w.U32(opt + 32, Image::kSectionAlignment);
  w.U32(opt + 36, kFileAlignment);
  w.U16(opt + 40, 4);  // operating system version
  w.U16(opt + 44, 1);  // image version
  w.U16(opt + 48, 4);  // subsystem version
  w.U32(opt + 56, size_of_image);
  w.U32(opt + 60, size_of_headers);
  w.U16(opt + 68, 2);  // graphical subsystem
  w.U32(opt + 72, 0x00100000);
  w.U32(opt + 76, 0x00004000);
  w.U32(opt + 80, 0x00100000);
  w.U32(opt + 84, 0x00001000);
  w.U32(opt + 92, 16);
  if (options.import_directory != 0) {
    w.U32(opt + 96 + 8, options.import_directory - base);
    w.U32(opt + 96 + 12, options.import_size);
  }
  if (options.resource_directory != 0) {
    w.U32(opt + 96 + 16, options.resource_directory - base);
    w.U32(opt + 96 + 20, options.resource_size);
  }

  // Section headers, then the raw data of each section in order.
  uint32_t file_pos = size_of_headers;
  uint32_t header = opt + kOptionalHeaderSize;
  for (const Section &s : sections) {
    char name[8] = {};
    std::memcpy(name, s.name.data(), s.name.size() < 8 ? s.name.size() : 8);
    w.At(header, name, 8);
    w.U32(header + 8, MemorySize(s));
    w.U32(header + 12, s.start - base);
    uint32_t raw = AlignUp(static_cast<uint32_t>(s.bytes.size()), kFileAlignment);
    w.U32(header + 16, raw);
    w.U32(header + 20, raw == 0 ? 0 : file_pos);
    w.U32(header + 36, s.characteristics);
    if (raw != 0) {
      out.resize(file_pos + raw, 0);
      std::memcpy(out.data() + file_pos, s.bytes.data(), s.bytes.size());
      file_pos += raw;
    }
    header += kSectionHeaderSize;
  }
  return out;
}

}  // namespace samples
