// Room for many short texts in blocks of the owner's own: no allocation per
// text and nothing to free one by one. Blocks grow from a first size to a
// megabyte, so that a small program's texts take little, and stay where they
// are while the arena lives, moved or not.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace model {

class TextArena {
 public:
  explicit TextArena(size_t first_block) : first_block_(first_block) {}

  /// Room for `n` bytes, where the caller writes them.
  char *Room(size_t n) {
    if (left_ < n) Grow(n);
    char *room = at_;
    at_ += n;
    left_ -= n;
    return room;
  }

 private:
  static constexpr size_t kLargestBlock = size_t{1} << 20;

  void Grow(size_t n) {
    size_t block = first_block_;
    for (size_t i = 0; i < blocks_.size() && block < kLargestBlock; ++i) block *= 2;
    block = std::max(n, std::min(block, kLargestBlock));
    blocks_.emplace_back(new char[block]);
    at_ = blocks_.back().get();
    left_ = block;
  }

  size_t first_block_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char *at_ = nullptr;
  size_t left_ = 0;
};

}  // namespace model
