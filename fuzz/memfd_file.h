// A file in memory with a path, for code that only opens files by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

/// Replaces the contents of the process's one in-memory file by `data` and
/// returns its path; aborts when the file cannot be made.
const std::string &WriteMemoryFile(const uint8_t *data, size_t size);

}  // namespace fuzz
