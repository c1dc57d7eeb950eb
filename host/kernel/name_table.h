// Given names, looked up both ways: the name of an address and the address
// of a name.
//
// A detector run names millions of addresses; a node-based map per
// direction would cost more than the program's own bytes. The names live in
// one character arena instead, each record holding its address and its
// text; the address side is a flat AddrMap and the name side an
// open-addressing table of arena offsets.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "host/kernel/addr_map.h"

namespace kernel {

class NameTable {
 public:
  /// The name of `ea`, or an empty view when it has none.
  std::string_view NameAt(ea_t ea) const;
  /// The address named `name`; false when no address has that name.
  bool Find(std::string_view name, ea_t *owner) const;
  /// Names `ea`; `name` must not be empty or in use, and `ea` unnamed.
  void Add(ea_t ea, std::string_view name);
  /// Removes the name of `ea`, if any.
  void Remove(ea_t ea);
  size_t size() const { return by_ea_.size(); }

  /// Visits every (address, name), in no particular order.
  template <typename F>
  void ForEach(F &&visit) const {
    by_ea_.ForEach([&](ea_t ea, uint32_t at) { visit(ea, TextAt(at)); });
  }

 private:
  // A record is the address (4 bytes), the text and a terminating zero.
  std::string_view TextAt(uint32_t at) const { return arena_.data() + at + 4; }
  ea_t OwnerAt(uint32_t at) const;
  size_t Home(std::string_view name) const;
  void InsertSlot(uint32_t at);
  void Rebuild();

  std::vector<char> arena_;
  size_t dead_bytes_ = 0;
  AddrMap<uint32_t> by_ea_;      // address -> record
  std::vector<uint32_t> slots_;  // record + 1, 0 for an empty slot
  size_t mask_ = 0;
};

}  // namespace kernel
