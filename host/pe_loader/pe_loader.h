// The PE loader: a 32-bit Windows program file becomes the kernel's database.
//
// Each section whose virtual or raw size is not zero becomes one segment,
// named after the section, at ImageBase + VirtualAddress, as long as its
// virtual size (its raw size when the virtual size is 0) rounded up to the
// section alignment; the segment holds the section's raw data and zeros
// after it. The headers are not loaded. The file is checked before anything
// is taken from it, and nothing outside the file's bytes is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/kernel/database.h"

namespace pe_loader {

/// Processor identifier for any machine other than i386: the machine field
/// with this bit set, so that it is never 0 (the x86 family).
constexpr int32_t kForeignProcessorBit = 0x10000;

/// Largest program image accepted, in bytes of all segments together and
/// from the lowest address to the highest.
constexpr uint64_t kMaxImageBytes = 1ull << 30;

/// Largest section count accepted.
constexpr uint32_t kMaxSections = 96;

/// Replaces the contents of `db` by the program in the PE32 file at `path`:
/// segments, processor, image base, resource directory, input path
/// (absolute), cursor at the entry point; no items, names or comments. False
/// with one line of reason in *err (without the file name) when the file
/// cannot be read or is not a well-formed PE32 file; `db` is then empty.
bool LoadPe(const std::string &path, kernel::Database *db, std::string *err);

/// LoadPe with the file's `size` bytes at `data` instead of a file: `path`
/// only names the program (the input path). What is read and checked, and
/// every reason, are the same.
bool LoadPeBytes(const std::string &path, const uint8_t *data, size_t size,
                 kernel::Database *db, std::string *err);

}  // namespace pe_loader
