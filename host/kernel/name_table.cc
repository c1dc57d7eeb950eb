#include "host/kernel/name_table.h"

#include <cstring>
#include <functional>

namespace kernel {

size_t NameTable::Home(std::string_view name) const {
  return std::hash<std::string_view>()(name) & mask_;
}

std::string_view NameTable::NameAt(ea_t ea) const {
  const uint32_t *at = by_ea_.Find(ea);
  return at != nullptr ? TextAt(*at) : std::string_view();
}

bool NameTable::Find(std::string_view name) const {
  if (slots_.empty()) return false;
  for (size_t i = Home(name); slots_[i] != 0; i = (i + 1) & mask_)
    if (TextAt(slots_[i] - 1) == name) return true;
  return false;
}

void NameTable::InsertSlot(uint32_t at) {
  size_t i = Home(TextAt(at));
  while (slots_[i] != 0) i = (i + 1) & mask_;
  slots_[i] = at + 1;
}

uint32_t NameTable::Allocate(size_t n) {
  if (blocks_.empty() || used_ + n > kBlock) {
    // Left uninitialised: each byte is written before it is read, and a
    // block's untouched pages cost no memory (a fresh database names few
    // addresses, a fuzzed one per input).
    blocks_.push_back(std::unique_ptr<char[]>(new char[kBlock]));
    used_ = 0;
  }
  const auto at = static_cast<uint32_t>((blocks_.size() - 1) * kBlock + used_);
  used_ += static_cast<uint32_t>(n);
  return at;
}

void NameTable::Add(ea_t ea, std::string_view name) {
  static_assert(kMaxName < 0x8000);
  if (name.size() > kMaxName) return;  // never: the database refuses them
  if ((by_ea_.size() + 1) * 4 > slots_.size() * 3) {
    const size_t n = slots_.empty() ? 64 : slots_.size() * 2;
    slots_.assign(n, 0);
    mask_ = n - 1;
    by_ea_.ForEach([&](ea_t, uint32_t at) { InsertSlot(at); });
  }
  const size_t n = RecordSize(name.size());
  const uint32_t at = Allocate(n);
  auto *record =
      reinterpret_cast<unsigned char *>(blocks_[at / kBlock].get() + at % kBlock);
  if (name.size() < 0x80) {
    record[0] = static_cast<unsigned char>(name.size());
  } else {
    record[0] = static_cast<unsigned char>(0x80 | name.size() >> 8);
    record[1] = static_cast<unsigned char>(name.size());
  }
  std::memcpy(record + n - name.size(), name.data(), name.size());
  live_bytes_ += n;
  by_ea_.Set(ea, at);
  InsertSlot(at);
}

void NameTable::Remove(ea_t ea) {
  const uint32_t *found = by_ea_.Find(ea);
  if (found == nullptr) return;
  const uint32_t at = *found;
  by_ea_.Erase(ea);
  size_t i = Home(TextAt(at));
  while (slots_[i] != at + 1) i = (i + 1) & mask_;
  // Backward shift, as in AddrMap: later records of the probe run move up.
  size_t hole = i;
  for (size_t j = (i + 1) & mask_; slots_[j] != 0; j = (j + 1) & mask_) {
    const size_t home = Home(TextAt(slots_[j] - 1));
    const bool movable =
        hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = 0;
  const size_t n = RecordSize(TextAt(at).size());
  live_bytes_ -= n;
  dead_bytes_ += n;
  if (dead_bytes_ > kBlock && dead_bytes_ > live_bytes_) Rebuild();
}

// Drops the records of removed names from the arena.
void NameTable::Rebuild() {
  std::vector<std::unique_ptr<char[]>> old = std::move(blocks_);
  AddrIndex<uint32_t> old_by_ea = std::move(by_ea_);
  blocks_.clear();
  by_ea_ = AddrIndex<uint32_t>();
  used_ = 0;
  live_bytes_ = 0;
  dead_bytes_ = 0;
  slots_.assign(slots_.size(), 0);
  old_by_ea.ForEach([&](ea_t ea, uint32_t at) {
    const char *record = old[at / kBlock].get() + at % kBlock;
    const auto *r = reinterpret_cast<const unsigned char *>(record);
    const size_t length = r[0] < 0x80 ? r[0] : size_t{r[0] & 0x7Fu} << 8 | r[1];
    const size_t n = RecordSize(length);
    const uint32_t now = Allocate(n);
    std::memcpy(blocks_[now / kBlock].get() + now % kBlock, record, n);
    live_bytes_ += n;
    by_ea_.Set(ea, now);
    InsertSlot(now);
  });
}

}  // namespace kernel
