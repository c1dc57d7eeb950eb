// The class model as a readable Markdown report: the program's layout and
// counts, the class tree, each unit's classes with their published methods,
// fields and properties, and each form's components and events.
#pragma once

#include <ostream>

#include "model/program_model.h"

namespace model_files {

/// Writes the report of `model`; false when the stream failed.
bool WriteModelReport(const model::ProgramModel &model, std::ostream &out);

}  // namespace model_files
