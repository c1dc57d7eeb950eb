#include "model/name_set.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace model {

namespace {

// A structure's members are a handful of names, a small program's types a
// few hundred.
constexpr size_t kFirstSlots = 16;

uint64_t HashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }

uint32_t TagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

}  // namespace

size_t NameSet::Find(std::string_view name, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  const uint32_t tag = TagOf(hash);
  for (size_t i = tag & mask;; i = (i + 1) & mask) {
    const Slot &s = slots_[i];
    if (s.text == nullptr) return i;
    if (s.tag == tag && s.size == name.size() &&
        std::memcmp(s.text, name.data(), name.size()) == 0)
      return i;
  }
}

bool NameSet::Contains(std::string_view name) const {
  return !slots_.empty() && slots_[Find(name, HashOf(name))].text != nullptr;
}

bool NameSet::Insert(std::string_view name) {
  // At most three quarters of the slots are taken.
  if (4 * (count_ + 1) > 3 * slots_.size()) Grow();
  const uint64_t hash = HashOf(name);
  Slot &s = slots_[Find(name, hash)];
  if (s.text != nullptr) return false;
  s.text = Keep(name);
  s.size = static_cast<uint32_t>(name.size());
  s.tag = TagOf(hash);
  ++count_;
  return true;
}

void NameSet::Grow() {
  std::vector<Slot> old(std::max(kFirstSlots, 2 * slots_.size()));
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const Slot &s : old) {
    if (s.text == nullptr) continue;
    // The tag places the name: no name is hashed again.
    size_t i = s.tag & mask;
    while (slots_[i].text != nullptr) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

const char *NameSet::Keep(std::string_view name) {
  // Every name gets a place, the empty one too: a free slot has none.
  char *text = texts_.Room(std::max<size_t>(name.size(), 1));
  std::memcpy(text, name.data(), name.size());
  return text;
}

}  // namespace model
