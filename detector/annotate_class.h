// Annotation of runs of adjacent class records.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Annotates the run of class records that starts at `start`. Returns the
/// furthest address annotated (0 when nothing was done) and sets *found to
/// 1 when the caller may go on, 0 when it stopped.
ea_t annotate_class_records(ea_t start, int32_t *found);

#ifdef __cplusplus
}
#endif
