#include "pehost/tool_script/text_blocks.h"

#include <algorithm>
#include <cstring>

namespace tool_script {

std::string_view TextBlocks::Keep(std::string_view text) {
  // Blocks grow from a few kilobytes to a megabyte: a small program's types
  // take little.
  constexpr size_t kFirstBlock = 4096;
  constexpr size_t kLargestBlock = size_t{1} << 20;
  if (left_ < text.size()) {
    const size_t block = std::max(
        text.size(),
        std::min(kLargestBlock, kFirstBlock << std::min<size_t>(blocks_.size(), 8)));
    blocks_.emplace_back(new char[block]);
    at_ = blocks_.back().get();
    left_ = block;
  }
  if (text.empty()) return {};
  char *kept = at_;
  std::memcpy(kept, text.data(), text.size());
  at_ += text.size();
  left_ -= text.size();
  return std::string_view(kept, text.size());
}

}  // namespace tool_script
