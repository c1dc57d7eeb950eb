#include "samples/mapped_pe.h"

namespace samples {

namespace {

uint32_t Le(const std::vector<uint8_t> &f, size_t off, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | f[off + i];
  return v;
}

}  // namespace

bool MappedPe::Load(const std::vector<uint8_t> &f, std::string *err) {
  if (f.size() < 0x40 || Le(f, 0, 2) != 0x5A4D) return *err = "no DOS header", false;
  const size_t pe = Le(f, 0x3C, 4);
  if (pe + 24 > f.size() || Le(f, pe, 4) != 0x4550) return *err = "no PE header", false;
  if (Le(f, pe + 4, 2) != 0x14C) return *err = "not an i386 program", false;
  const uint32_t count = Le(f, pe + 6, 2);
  const uint32_t opt_size = Le(f, pe + 20, 2);
  const size_t opt = pe + 24;
  if (opt + opt_size + 40 * count > f.size())
    return *err = "headers past the file", false;
  if (Le(f, opt, 2) != 0x10B) return *err = "not PE32", false;
  entry = Le(f, opt + 16, 4);
  image_base = Le(f, opt + 28, 4);
  const uint32_t align = Le(f, opt + 32, 4);
  entry += image_base;
  lowest = 0xFFFFFFFF;
  highest = 0;
  size_t h = opt + opt_size;
  for (uint32_t i = 0; i < count; ++i, h += 40) {
    MappedSection s;
    s.name.assign(reinterpret_cast<const char *>(&f[h]), 8);
    s.name.resize(s.name.find('\0') == std::string::npos ? 8 : s.name.find('\0'));
    uint32_t vsize = Le(f, h + 8, 4);
    const uint32_t rva = Le(f, h + 12, 4);
    const uint32_t raw_size = Le(f, h + 16, 4);
    const uint32_t raw_ptr = Le(f, h + 20, 4);
    if (vsize == 0) vsize = raw_size;
    if (raw_size != 0 && (uint64_t{raw_ptr} + raw_size > f.size()))
      return *err = s.name + ": raw data past the file", false;
    s.start = image_base + rva;
    s.end = s.start + (vsize + align - 1) / align * align;
    s.bytes.assign(s.end - s.start, 0);
    const uint32_t n = raw_size < s.end - s.start ? raw_size : s.end - s.start;
    std::copy(f.begin() + raw_ptr, f.begin() + raw_ptr + n, s.bytes.begin());
    if (s.start < lowest) lowest = s.start;
    if (s.end > highest) highest = s.end;
    sections.push_back(std::move(s));
  }
  return true;
}

uint32_t MappedPe::Read8(uint32_t ea) const {
  for (const MappedSection &s : sections)
    if (ea >= s.start && ea < s.end) return s.bytes[ea - s.start];
  return 0xFF;
}

uint32_t MappedPe::Read16(uint32_t ea) const { return Read8(ea) | Read8(ea + 1) << 8; }

uint32_t MappedPe::Read32(uint32_t ea) const { return Read16(ea) | Read16(ea + 2) << 16; }

std::string MappedPe::ShortString(uint32_t ea) const {
  std::string s;
  const uint32_t n = Read8(ea);
  for (uint32_t i = 1; i <= n; ++i) s += static_cast<char>(Read8(ea + i));
  return s;
}

uint32_t MappedPe::SegmentEnd(uint32_t ea) const {
  for (const MappedSection &s : sections)
    if (ea >= s.start && ea < s.end) return s.end;
  return 0xFFFFFFFF;
}

}  // namespace samples
