#include "fuzz/pe_image_size.h"

namespace fuzz {
namespace {

uint32_t Le(const uint8_t *p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

}  // namespace

uint64_t DeclaredImageBytes(const uint8_t *data, size_t size) {
  if (size < 64) return 0;
  const uint64_t pe = Le(data + 0x3C, 4);
  const uint64_t optional = pe + 24;
  if (optional + 36 > size) return 0;
  const uint64_t count = Le(data + pe + 6, 2);
  const uint64_t table = optional + Le(data + pe + 20, 2);
  const uint64_t alignment = Le(data + optional + 32, 4);
  if (table + count * 40 > size || alignment == 0) return 0;
  uint64_t total = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t *s = data + table + 40 * i;
    const uint32_t virtual_size = Le(s + 8, 4);
    const uint64_t declared = virtual_size != 0 ? virtual_size : Le(s + 16, 4);
    // Rounded up as the loader rounds each section to the section alignment.
    total += (declared + alignment - 1) / alignment * alignment;
  }
  return total;
}

}  // namespace fuzz
