// A map from addresses to small values, by open addressing in one array:
// the type builder asks, for every slot of every class, whether the code in
// it has a prototype yet, and keeps a few hundred thousand such addresses in
// a large program. A standard hash map took a node (an allocation, freed one
// by one at the end) for each, and a division for each look-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "detector/core/host_api.h"

namespace model {

template <typename Value>
class AddressMap {
 public:
  /// The value at `ea`, or null.
  const Value *Find(ea_t ea) const {
    if (ea == kFree) return has_free_key_ ? &free_key_value_ : nullptr;
    if (slots_.empty()) return nullptr;
    const Slot &s = slots_[Place(ea)];
    return s.ea == ea ? &s.value : nullptr;
  }
  bool Contains(ea_t ea) const { return Find(ea) != nullptr; }

  /// Puts `value` at `ea` unless it holds one; false when it did.
  bool Insert(ea_t ea, Value value = Value()) {
    if (ea == kFree) {
      if (has_free_key_) return false;
      has_free_key_ = true;
      free_key_value_ = std::move(value);
      return true;
    }
    // At most half the slots are taken: the probes stay short.
    if (2 * (count_ + 1) > slots_.size()) Grow();
    Slot &s = slots_[Place(ea)];
    if (s.ea == ea) return false;
    s.ea = ea;
    s.value = std::move(value);
    ++count_;
    return true;
  }

 private:
  // No program address is this one: it marks a free slot, and a key of
  // that value is kept beside the slots.
  static constexpr ea_t kFree = BADADDR;
  static constexpr size_t kFirstSlots = 64;

  struct Slot {
    ea_t ea = kFree;
    Value value{};
  };

  /// The slot that holds `ea`, or the free one where it goes.
  size_t Place(ea_t ea) const {
    const size_t mask = slots_.size() - 1;
    // Code addresses are multiples of small powers of two: mixed first.
    size_t i = static_cast<size_t>((uint64_t{ea} * 0x9E3779B97F4A7C15ull) >> 32) & mask;
    while (slots_[i].ea != ea && slots_[i].ea != kFree) i = (i + 1) & mask;
    return i;
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? kFirstSlots : 2 * slots_.size());
    old.swap(slots_);
    for (Slot &s : old)
      if (s.ea != kFree) slots_[Place(s.ea)] = std::move(s);
  }

  std::vector<Slot> slots_;
  size_t count_ = 0;
  bool has_free_key_ = false;
  Value free_key_value_{};
};

}  // namespace model
