// Annotation of runs of type information blocks.
#pragma once

#include "detector/core/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Annotates the run of type information blocks that starts at `start`
/// (in the oldest class layout, blocks without reference cells, each
/// starting at its kind byte). Returns 0 when nothing was done, else the
/// position where the walk stopped; sets *more to 1 when the run ended
/// normally, 0 otherwise.
ea_t annotate_type_infos(ea_t start, int32_t *more);

/// Annotates the one type information block whose kind byte is at
/// `kind_at`, in programs whose blocks have no reference cell (the oldest
/// class layout): a class record's TypeInfo field leads there. Returns the
/// position behind the block, or `kind_at` when it holds no block.
ea_t annotate_type_block(ea_t kind_at);

#ifdef __cplusplus
}
#endif
