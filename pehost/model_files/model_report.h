// The class model as a readable Markdown report: the program's layout and
// counts, the class tree, each unit's classes with their published methods,
// fields and properties, and each form's components and events. In
// programs of the 88-byte layout, whose type data gives every field's type
// and every method's signature, a class also shows its fields with types
// and offsets and its methods as Pascal declarations; the report of a
// program of an older layout stays as it always was.
#pragma once

#include <ostream>

#include "model/program_model.h"
#include "model/program_types.h"

namespace model_files {

/// Writes the report of `model`; false when the stream failed.
bool WriteModelReport(const model::ProgramModel &model, const model::ProgramTypes &types,
                      std::ostream &out);

}  // namespace model_files
