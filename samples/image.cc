#include "samples/image.h"

#include <stdexcept>

namespace samples {

namespace {
constexpr Addr kUnbound = 0xFFFFFFFF;

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }
}  // namespace

Image::Image() = default;

void Image::BeginSection(const std::string &name, uint32_t characteristics) {
  Addr start = kImageBase + kSectionAlignment;
  if (!sections_.empty()) {
    const Section &last = sections_.back();
    uint32_t size = last.virtual_size > last.bytes.size()
                        ? last.virtual_size
                        : static_cast<uint32_t>(last.bytes.size());
    start = last.start + AlignUp(size == 0 ? 1 : size, kSectionAlignment);
  }
  Section s;
  s.name = name;
  s.start = start;
  s.characteristics = characteristics;
  sections_.push_back(std::move(s));
}

void Image::ReserveVirtual(uint32_t size) { current().virtual_size += size; }

Addr Image::Here() const {
  const Section &s = sections_.back();
  return s.start + static_cast<Addr>(s.bytes.size());
}

Label Image::NewLabel() {
  labels_.push_back(kUnbound);
  return Label{static_cast<int>(labels_.size() - 1)};
}

void Image::BindAt(Label label, Addr addr) {
  if (!label.valid() || static_cast<size_t>(label.id) >= labels_.size())
    throw std::logic_error("binding an unknown label");
  if (labels_[label.id] != kUnbound) throw std::logic_error("label bound twice");
  labels_[label.id] = addr;
}

bool Image::IsBound(Label label) const {
  return label.valid() && labels_[label.id] != kUnbound;
}

Addr Image::AddressOf(Label label) const {
  if (!IsBound(label)) throw std::logic_error("address of an unbound label");
  return labels_[label.id];
}

void Image::Put8(uint8_t v) { current().bytes.push_back(v); }

void Image::Put16(uint16_t v) {
  Put8(static_cast<uint8_t>(v));
  Put8(static_cast<uint8_t>(v >> 8));
}

void Image::Put32(uint32_t v) {
  Put16(static_cast<uint16_t>(v));
  Put16(static_cast<uint16_t>(v >> 16));
}

void Image::Put64(uint64_t v) {
  Put32(static_cast<uint32_t>(v));
  Put32(static_cast<uint32_t>(v >> 32));
}

void Image::PutBytes(const uint8_t *data, size_t n) {
  current().bytes.insert(current().bytes.end(), data, data + n);
}

void Image::PutShortString(const std::string &s) {
  if (s.size() > 255) throw std::logic_error("short string longer than 255: " + s);
  Put8(static_cast<uint8_t>(s.size()));
  PutBytes(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

void Image::PutRef(Label label, int32_t addend) {
  if (!label.valid()) throw std::logic_error("reference to an unset label");
  fixups_.push_back({sections_.size() - 1, static_cast<uint32_t>(current().bytes.size()),
                     label.id, addend});
  Put32(0);
}

void Image::PutRefOrZero(Label label) {
  if (label.valid())
    PutRef(label);
  else
    Put32(0);
}

void Image::AlignZero() {
  while (Here() % 4 != 0) Put8(0);
}

void Image::AlignFiller() {
  static const uint8_t kFill1[] = {0x90};
  static const uint8_t kFill2[] = {0x8B, 0xC0};
  static const uint8_t kFill3[] = {0x8D, 0x40, 0x00};
  if (Here() % 4 != 0) filler_start_ = Here();
  switch (4 - Here() % 4) {
    case 1:
      PutBytes(kFill1, 1);
      break;
    case 2:
      PutBytes(kFill2, 2);
      break;
    case 3:
      PutBytes(kFill3, 3);
      break;
    default:
      break;
  }
}

bool Image::GuardFiller(uint32_t next, Addr bound) {
  const Addr here = Here();
  if (filler_start_ == 0 || here % 4 != 0 || here - filler_start_ > 3) return false;
  const uint32_t gap = here - filler_start_;
  uint32_t v = next << (8 * gap);
  for (uint32_t i = 0; i < gap; ++i) v |= uint32_t{Read8(filler_start_ + i)} << (8 * i);
  filler_start_ = 0;
  if (v < lowest() || v >= bound) return false;
  Put32(0x90909090);
  return true;
}

bool Image::GuardFillerAlways() {
  const Addr here = Here();
  const bool after_filler =
      filler_start_ != 0 && here % 4 == 0 && here - filler_start_ <= 3;
  filler_start_ = 0;
  if (!after_filler) return false;
  Put32(0x90909090);
  return true;
}

const Section *Image::SectionAt(Addr addr) const {
  for (const Section &s : sections_)
    if (addr >= s.start && addr - s.start < s.bytes.size()) return &s;
  return nullptr;
}

uint8_t Image::Read8(Addr addr) const {
  const Section *s = SectionAt(addr);
  return s == nullptr ? 0 : s->bytes[addr - s->start];
}

uint32_t Image::Read32(Addr addr) const {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | Read8(addr + i);
  return v;
}

void Image::Resolve() {
  for (const Fixup &f : fixups_) {
    Addr target = labels_[f.label];
    if (target == kUnbound) throw std::logic_error("reference to a label never bound");
    uint32_t v = target + static_cast<uint32_t>(f.addend);
    uint8_t *p = sections_[f.section].bytes.data() + f.offset;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  fixups_.clear();
}

Addr Image::lowest() const { return sections_.empty() ? 0 : sections_.front().start; }

Addr Image::highest() const {
  if (sections_.empty()) return 0;
  const Section &s = sections_.back();
  uint32_t size = s.virtual_size > s.bytes.size() ? s.virtual_size
                                                  : static_cast<uint32_t>(s.bytes.size());
  return s.start + AlignUp(size == 0 ? 1 : size, kSectionAlignment);
}

}  // namespace samples
