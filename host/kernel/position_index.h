// A map from addresses to positions in an arena that only grows, in two
// bytes an entry instead of four.
//
// The records of the names given on one 64 KB page of addresses are mostly
// written one after another (a detector names a program in address order),
// so that they lie within a few kilobytes of the first one written for the
// page. An entry keeps its position's distance from that first one; a record
// further than two bytes reach (a page named again much later, or one with
// tens of thousands of names) is kept whole in a map of its own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "host/kernel/addr_index.h"

namespace kernel {

class PositionIndex {
 public:
  /// The position at `ea`; false when there is none.
  bool Find(ea_t ea, uint32_t *at) const {
    const uint16_t *near = near_.Find(ea);
    if (near == nullptr) return false;
    if (*near != kFar) {
      *at = BaseOf(ea) + *near;
      return true;
    }
    *at = *far_.Find(ea);
    return true;
  }

  /// Sets the position at `ea`. Positions are expected to grow: the first
  /// one given on a page is the base of the page's later ones.
  void Set(ea_t ea, uint32_t at) {
    uint32_t &base = Base(ea);
    if (base == kNoBase) base = at;
    const size_t before = near_.size();
    uint16_t *near = near_.Insert(ea);
    if (near_.size() == before && *near == kFar) far_.Erase(ea);
    if (at >= base && at - base < kFar) {
      *near = static_cast<uint16_t>(at - base);
    } else {
      *near = kFar;
      far_.Set(ea, at);
    }
  }

  /// Removes the entry at `ea`, if any.
  void Erase(ea_t ea) {
    const uint16_t *near = near_.Find(ea);
    if (near == nullptr) return;
    if (*near == kFar) far_.Erase(ea);
    near_.Erase(ea);
  }

  size_t size() const { return near_.size(); }

  /// Visits every (address, position) in address order.
  template <typename F>
  void ForEach(F &&visit) const {
    near_.ForEach([&](ea_t ea, uint16_t near) {
      visit(ea, near != kFar ? BaseOf(ea) + near : *far_.Find(ea));
    });
  }

 private:
  static constexpr uint16_t kFar = 0xFFFF;
  static constexpr uint32_t kNoBase = 0xFFFFFFFF;
  // The bases by page: a row of 256 pages for each 16 MB of addresses
  // named, made when the first name there is given.
  static constexpr size_t kRow = 256;

  uint32_t BaseOf(ea_t ea) const { return bases_[ea >> 24][ea >> 16 & (kRow - 1)]; }
  uint32_t &Base(ea_t ea) {
    std::unique_ptr<uint32_t[]> &row = bases_[ea >> 24];
    if (row == nullptr) {
      row = std::make_unique_for_overwrite<uint32_t[]>(kRow);
      std::fill(row.get(), row.get() + kRow, kNoBase);
    }
    return row[ea >> 16 & (kRow - 1)];
  }

  AddrIndex<uint16_t> near_;  // distance from the page's base, or kFar
  AddrIndex<uint32_t> far_;   // the whole position, where near_ holds kFar
  std::unique_ptr<uint32_t[]> bases_[kRow];
};

}  // namespace kernel
