#include "model/type_text.h"

#include <algorithm>
#include <cstring>

namespace model {

TypeText TypeTexts::Keep(std::string_view text) {
  if (text.empty()) return {};
  // Blocks grow from a few kilobytes to a megabyte: a small program's types
  // take little.
  constexpr size_t kFirstBlock = 4096;
  constexpr size_t kLargestBlock = size_t{1} << 20;
  const size_t need = text.size() + 1;  // and its NUL
  if (left_ < need) {
    const size_t block = std::max(
        need,
        std::min(kLargestBlock, kFirstBlock << std::min<size_t>(blocks_.size(), 8)));
    blocks_.emplace_back(new char[block]);
    at_ = blocks_.back().get();
    left_ = block;
  }
  char *kept = at_;
  std::memcpy(kept, text.data(), text.size());
  kept[text.size()] = '\0';
  at_ += need;
  left_ -= need;
  return TypeText(kept, text.size());
}

}  // namespace model
