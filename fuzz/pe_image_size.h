// How many bytes a PE file's sections ask for, read without loading it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

/// Programs declaring more than this are not loaded by the targets: the
/// loader accepts up to a gigabyte, and every fresh megabyte it fills with
/// zeros costs the search hundreds of page faults per input for no new
/// path. The loader's tests cover its size limits.
constexpr uint64_t kMaxFuzzedImageBytes = 1u << 20;

/// The sum of the sections' virtual sizes (raw sizes where the virtual size
/// is 0), each rounded up to the section alignment, when the headers lie
/// inside `data`; 0 when they do not, in which case the loader refuses the
/// file before it allocates anything.
uint64_t DeclaredImageBytes(const uint8_t *data, size_t size);

}  // namespace fuzz
