// The set of every name the program's types take, which keeps distinct
// declarations distinct: a large program's types and methods take hundreds
// of thousands of names, each added once and looked up a few times. The
// names are copied into blocks of text of the set's own and found by open
// addressing, with no allocation per name (a node and a string each in a
// standard set, most of the cost of adding one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/text_arena.h"

namespace model {

class NameSet {
 public:
  /// Adds `name`; false when it is there already.
  bool Insert(std::string_view name);
  bool Contains(std::string_view name) const;
  size_t size() const { return count_; }

 private:
  struct Slot {
    const char *text = nullptr;  // null: the slot is free
    uint32_t size = 0;
    uint32_t tag = 0;  // the high bits of the name's hash
  };
  /// The slot that holds `name`, or the free one where it goes.
  size_t Find(std::string_view name, uint64_t hash) const;
  void Grow();
  /// `name` copied into the blocks.
  const char *Keep(std::string_view name);

  std::vector<Slot> slots_;
  size_t count_ = 0;
  // From a few hundred bytes: a structure's members are a handful of names.
  TextArena texts_{256};
};

}  // namespace model
