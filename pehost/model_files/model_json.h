// The class model as JSON, written class by class. The layout is versioned
// by the top-level "format" member and described in the README.
#pragma once

#include <ostream>

#include "model/program_model.h"
#include "model/program_types.h"

namespace model_files {

/// The version of the JSON layout written.
constexpr int kJsonFormat = 1;

/// Writes `model`, reading each class's and type's details from the
/// database, with each class's fields and methods' prototypes from `types`
/// (the types of `model`); false when the stream failed.
bool WriteModelJson(const model::ProgramModel &model, const model::ProgramTypes &types,
                    std::ostream &out);

}  // namespace model_files
