// The detector run both pehost fuzz targets make over a loaded program, and
// the checks they hold it to.
#pragma once

#include <string>

#include "host/kernel/database.h"

namespace fuzz {

/// Programs larger than this are loaded but not scanned: the loader target
/// covers them, and scanning them would only slow the search down.
constexpr uint64_t kMaxScannedBytes = 256u << 10;

/// The input path the targets give the programs they load from memory.
inline const std::string kProgramPath = "/fuzz/input.exe";

/// Runs the class detector over `db` (the one the services act on, loaded
/// from the `size` bytes of the program file at `file`) as pehost does, with
/// the answers "0" (start of program) and No (no log). Then the cursor must
/// not have moved, the items must not overlap, the export must parse as
/// JSON, and the saved database must read back over a fresh load of the
/// program and write out the same text.
void RunDetectorAndCheck(kernel::Database &db, const uint8_t *file, size_t size);

}  // namespace fuzz
