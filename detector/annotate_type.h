// Annotation of runs of type information blocks.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Annotates the run of type information blocks that starts at `start`.
/// Returns 0 when nothing was done, else the position where the walk
/// stopped; sets *more to 1 when the run ended normally, 0 otherwise.
ea_t annotate_type_infos(ea_t start, int32_t *more);

#ifdef __cplusplus
}
#endif
