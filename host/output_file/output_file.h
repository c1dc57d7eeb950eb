// Output files are written whole or not at all: the contents go to a
// temporary file in the same folder, which replaces the target by a rename
// only once it is complete. An interrupted program removes the temporary
// file from its signal handler and leaves the target as it was.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace output_file {

/// Writes the file at `path` through `write`, which returns false when it
/// could not produce the contents. False with the reason in *err; the target
/// is then untouched and no temporary file is left.
bool WriteFileWhole(const std::string &path,
                    const std::function<bool(std::ostream &)> &write, std::string *err);

/// Removes the temporary file being written, if any. Async-signal-safe.
void RemovePendingTempFile();

}  // namespace output_file
