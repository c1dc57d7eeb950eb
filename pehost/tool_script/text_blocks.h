// Texts kept in blocks that stay where they are, for writers that hold
// hundreds of thousands of short texts and views of them.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace tool_script {

/// A view of a kept text holds while the owner lives, moved or not, and a
/// text costs no allocation of its own.
class TextBlocks {
 public:
  std::string_view Keep(std::string_view text);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char *at_ = nullptr;
  size_t left_ = 0;
};

}  // namespace tool_script
