// Runs of bytes a writer copies as they are. The outputs of a large program
// are hundreds of megabytes of names and comments, nearly all plain from
// start to end, so the bytes that end a run are looked for sixteen at a time.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace json_writer {

/// The first index from `i` of a byte that ends a run, or the text's size.
/// `Stops` tells which bytes end one: `Stops::Of(unsigned char)` for one
/// byte and, where SSE2 is, `Stops::Of(__m128i)` for sixteen (0xFF in each
/// byte that does). The last sixteen bytes are tested at once, those before
/// `i` among them found plain already; fewer than sixteen are tested in a
/// copy of sixteen.
template <typename Stops>
size_t RunEnd(std::string_view text, size_t i, const Stops &stops) {
  const size_t size = text.size();
#ifdef __SSE2__
  if (size - i >= 16) {
    const auto mask_at = [&](size_t at) {
      const __m128i x =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + at));
      return static_cast<unsigned>(_mm_movemask_epi8(stops.Of(x)));
    };
    for (; size - i >= 16; i += 16)
      if (const unsigned mask = mask_at(i); mask != 0) return i + __builtin_ctz(mask);
    if (i == size) return size;
    const unsigned mask = mask_at(size - 16) >> (16 - (size - i));
    return mask == 0 ? size : i + __builtin_ctz(mask);
  }
  // Fewer than sixteen: most names and comments. They are tested at once in
  // a copy, the bytes behind them masked off, rather than one by one.
  const size_t n = size - i;
  if (n == 0) return size;
  const char *const from = text.data() + i;
  char block[16] = {};
  if (n >= 8) {
    std::memcpy(block, from, 8);
    std::memcpy(block + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(block, from, 4);
    std::memcpy(block + n - 4, from + n - 4, 4);
  } else {
    block[0] = from[0];
    block[n / 2] = from[n / 2];
    block[n - 1] = from[n - 1];
  }
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block));
  const unsigned mask =
      static_cast<unsigned>(_mm_movemask_epi8(stops.Of(x))) & ((1u << n) - 1);
  return mask == 0 ? size : i + __builtin_ctz(mask);
#endif
  while (i < size && !stops.Of(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

}  // namespace json_writer
