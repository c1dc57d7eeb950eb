// One pehost run: load the program (and a saved database over it), run the
// plug-in, then write the requested files.
#pragma once

#include "pehost/options.h"

namespace pehost {

/// Exit statuses.
constexpr int kExitRan = 0;
constexpr int kExitNotRun = 1;  // not offered for this program, or results not written
constexpr int kExitBadInput = 2;

/// Runs pehost with `options` (already parsed, neither --help nor --version).
/// Reports problems on standard error; returns the exit status.
int RunPehost(const Options &options);

}  // namespace pehost
