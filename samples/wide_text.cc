#include "samples/wide_text.h"

#include <stdexcept>

namespace samples {

namespace {

constexpr uint32_t kLiteralHeader = 12;

void PutChars(Image &image, const std::u16string &text, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) image.Put16(text[i]);
}

/// One literal whose characters `at` and `at` + 1 are the code units of
/// `address`.
void PutLiteral(Image &image, const std::u16string &text, size_t at, const Ref &address) {
  image.Put32(kWideLiteralStart);
  image.Put32(0xFFFFFFFF);  // a constant: no reference counting
  image.Put32(static_cast<uint32_t>(text.size()));
  PutChars(image, text, 0, at);
  address.Put(image);
  PutChars(image, text, at + 2, text.size());
  image.Put16(0);
  image.AlignZero();
}

}  // namespace

Addr WriteClassShapedText(Image &image, const ClassShapedText &text) {
  if (image.Here() % 4 != 0 || text.first.size() < 4 || text.first.size() % 2 != 0 ||
      text.first.back() >= u'@' || text.second.size() < 6)
    throw std::logic_error("string literals that cannot read as a class record");
  const size_t self_at = text.first.size() - 4;
  const Addr record = image.Here() + kLiteralHeader + 2 * static_cast<Addr>(self_at);
  PutLiteral(image, text.first, self_at, text.self);
  // The first literal ends 12 bytes behind the record (its last pair, the
  // terminator and the alignment); the second's fifth character lies at
  // the record's ClassName field.
  PutLiteral(image, text.second, 4, text.name);
  return record;
}

}  // namespace samples
