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

}  // namespace model
