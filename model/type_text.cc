#include "model/type_text.h"

#include <cstring>

namespace model {

TypeText TypeTexts::Keep(std::string_view text) {
  if (text.empty()) return {};
  char *kept = arena_.Room(text.size() + 1);  // and its NUL
  std::memcpy(kept, text.data(), text.size());
  kept[text.size()] = '\0';
  return TypeText(kept, text.size());
}

TypeText TypeTexts::KeepJoined(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  if (size == 0) return {};
  char *kept = arena_.Room(size + 1);
  char *at = kept;
  for (std::string_view part : parts) {
    std::memcpy(at, part.data(), part.size());
    at += part.size();
  }
  *at = '\0';
  return TypeText(kept, size);
}

}  // namespace model
