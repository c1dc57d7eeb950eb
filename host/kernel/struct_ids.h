// The structure id of each structure instance, by its address.
//
// A run makes a few hundred thousand instances of a few hundred structures:
// an instance keeps the number of its id among the ids met so far, two
// bytes beside its two bytes of address, instead of the whole id. Past the
// most numbers (a hostile database may name any id) an instance keeps its
// whole id in a table of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "detector/core/host_api.h"
#include "host/kernel/addr_index.h"

namespace kernel {

class StructIds {
 public:
  static constexpr size_t kMostNumbers = 0xFFFF;

  /// Fewer numbers than kMostNumbers, for tests.
  explicit StructIds(size_t most_numbers = kMostNumbers) : most_numbers_(most_numbers) {}

  /// The id at `ea`, or nullptr; good until the ids next change.
  const tid_t *Find(ea_t ea) const {
    const uint16_t *number = numbers_.Find(ea);
    if (number == nullptr) return nullptr;
    return *number != kFar ? &ids_[*number] : far_.Find(ea);
  }

  void Set(ea_t ea, tid_t id) {
    uint16_t *number = numbers_.Insert(ea);
    if (*number == kFar) far_.Erase(ea);  // a new entry's is 0
    *number = NumberOf(id);
    if (*number == kFar) far_.Set(ea, id);
  }

  /// Removes the id at `ea`; false when there was none.
  bool Erase(ea_t ea) {
    const uint16_t *number = numbers_.Find(ea);
    if (number == nullptr) return false;
    if (*number == kFar) far_.Erase(ea);
    return numbers_.Erase(ea);
  }

  size_t size() const { return numbers_.size(); }

 private:
  static constexpr uint16_t kFar = 0xFFFF;

  /// The number of `id`, given it now when it has none; kFar when the
  /// numbers are used up.
  uint16_t NumberOf(tid_t id) {
    if (const auto it = number_of_.find(id); it != number_of_.end()) return it->second;
    if (ids_.size() >= most_numbers_) return kFar;
    const auto number = static_cast<uint16_t>(ids_.size());
    ids_.push_back(id);
    number_of_.emplace(id, number);
    return number;
  }

  size_t most_numbers_;
  AddrIndex<uint16_t> numbers_;  // kFar: the id is in far_
  AddrIndex<tid_t> far_;         // of the instances whose number is kFar
  std::vector<tid_t> ids_;       // by number, each id once
  std::unordered_map<tid_t, uint16_t> number_of_;
};

}  // namespace kernel
