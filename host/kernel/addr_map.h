// A hash map from addresses to small values, stored flat.
//
// The database keeps one entry per comment, long item, structure instance
// and cross-reference target; a program of tens of millions of items would
// spend most of its memory on the nodes of a node-based map. This one is an
// open-addressing table with linear probing and backward-shift deletion, so
// an entry costs its key and value and there are no tombstones to sweep.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "detector/core/host_api.h"

namespace kernel {

template <typename V>
class AddrMap {
 public:
  /// The value at `ea`, or null.
  const V *Find(ea_t ea) const {
    if (ea == kEmpty) return has_empty_key_ ? &empty_key_value_ : nullptr;
    if (slots_.empty()) return nullptr;
    for (size_t i = Home(ea);; i = (i + 1) & mask_) {
      const Slot &s = slots_[i];
      if (s.key == ea) return &s.value;
      if (s.key == kEmpty) return nullptr;
    }
  }
  V *Find(ea_t ea) { return const_cast<V *>(std::as_const(*this).Find(ea)); }

  /// Sets the value at `ea`, adding the entry when it is new.
  void Set(ea_t ea, V value) { *Insert(ea) = std::move(value); }

  /// The value at `ea`, default-constructed when it was not there.
  V *Insert(ea_t ea) {
    if (ea == kEmpty) {
      if (!has_empty_key_) {
        has_empty_key_ = true;
        empty_key_value_ = V();
        ++size_;
      }
      return &empty_key_value_;
    }
    if ((size_ + 1) * 4 > slots_.size() * 3) Grow();
    for (size_t i = Home(ea);; i = (i + 1) & mask_) {
      Slot &s = slots_[i];
      if (s.key == ea) return &s.value;
      if (s.key == kEmpty) {
        s.key = ea;
        s.value = V();
        ++size_;
        return &s.value;
      }
    }
  }

  /// Removes the entry at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    if (ea == kEmpty) {
      if (!has_empty_key_) return false;
      has_empty_key_ = false;
      --size_;
      return true;
    }
    if (slots_.empty()) return false;
    size_t i = Home(ea);
    while (slots_[i].key != ea) {
      if (slots_[i].key == kEmpty) return false;
      i = (i + 1) & mask_;
    }
    // Backward shift: pull later entries of the probe run into the hole so
    // that every entry stays reachable from its home slot.
    size_t hole = i;
    for (size_t j = (i + 1) & mask_; slots_[j].key != kEmpty; j = (j + 1) & mask_) {
      const size_t home = Home(slots_[j].key);
      const bool movable =
          hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
      if (movable) {
        slots_[hole] = std::move(slots_[j]);
        hole = j;
      }
    }
    slots_[hole].key = kEmpty;
    slots_[hole].value = V();
    --size_;
    return true;
  }

  size_t size() const { return size_; }

  void Clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    mask_ = 0;
    shift_ = 63;
    size_ = 0;
    has_empty_key_ = false;
    empty_key_value_ = V();
  }

  /// Visits every entry, in no particular order.
  template <typename F>
  void ForEach(F &&visit) const {
    for (const Slot &s : slots_)
      if (s.key != kEmpty) visit(s.key, s.value);
    if (has_empty_key_) visit(kEmpty, empty_key_value_);
  }

 private:
  static constexpr ea_t kEmpty = 0xFFFFFFFFu;
  struct Slot {
    ea_t key = kEmpty;
    V value{};
  };

  size_t Home(ea_t ea) const {
    // Fibonacci hashing: the top bits of the product spread the runs of
    // nearby addresses a program has.
    return static_cast<size_t>((uint64_t{ea} * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    const size_t n = old.empty() ? 64 : old.size() * 2;
    slots_.assign(n, Slot());
    mask_ = n - 1;
    shift_ = 64 - std::countr_zero(n);
    for (Slot &s : old) {
      if (s.key == kEmpty) continue;
      size_t i = Home(s.key);
      while (slots_[i].key != kEmpty) i = (i + 1) & mask_;
      slots_[i] = std::move(s);
    }
  }

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  int shift_ = 63;
  size_t size_ = 0;
  bool has_empty_key_ = false;
  V empty_key_value_{};
};

}  // namespace kernel
