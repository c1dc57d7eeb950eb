// Given names, looked up both ways: the name of an address and the address
// of a name.
//
// A detector run names millions of addresses; a node-based map per
// direction would cost more than the program's own bytes. The names live in
// one character arena instead, each record its length (one byte, two from
// 128 on) and its text; the address side is a sorted AddrIndex and the name
// side an open-addressing table of arena offsets. The name side answers
// whether a name is used, not by whom: the database only asks that.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "host/kernel/addr_index.h"

namespace kernel {

class NameTable {
 public:
  /// The longest name kept; longer ones are refused by the database.
  static constexpr size_t kMaxName = 4096;

  /// The name of `ea`, or an empty view when it has none.
  std::string_view NameAt(ea_t ea) const;
  /// True when some address has that name.
  bool Find(std::string_view name) const;
  /// Names `ea`; `name` must not be empty or in use, and `ea` unnamed.
  void Add(ea_t ea, std::string_view name);
  /// Removes the name of `ea`, if any.
  void Remove(ea_t ea);
  size_t size() const { return by_ea_.size(); }

  /// Visits every (address, name), in address order.
  template <typename F>
  void ForEach(F &&visit) const {
    by_ea_.ForEach([&](ea_t ea, uint32_t at) { visit(ea, TextAt(at)); });
  }

 private:
  const char *RecordAt(uint32_t at) const {
    return blocks_[at / kBlock].get() + at % kBlock;
  }
  std::string_view TextAt(uint32_t at) const {
    const auto *r = reinterpret_cast<const unsigned char *>(RecordAt(at));
    if (r[0] < 0x80) return {reinterpret_cast<const char *>(r + 1), r[0]};
    return {reinterpret_cast<const char *>(r + 2), size_t{r[0] & 0x7Fu} << 8 | r[1]};
  }
  static size_t RecordSize(size_t length) { return (length < 0x80 ? 1 : 2) + length; }
  /// Room for a record of `n` bytes; its position.
  uint32_t Allocate(size_t n);
  size_t Home(std::string_view name) const;
  void InsertSlot(uint32_t at);
  void Rebuild();

  // Records never straddle two blocks.
  static constexpr uint32_t kBlock = 1u << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  uint32_t used_ = 0;  // bytes used in the last block
  size_t live_bytes_ = 0;
  size_t dead_bytes_ = 0;
  AddrIndex<uint32_t> by_ea_;    // address -> record
  std::vector<uint32_t> slots_;  // record + 1, 0 for an empty slot
  size_t mask_ = 0;
};

}  // namespace kernel
