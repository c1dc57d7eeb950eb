// The program's forms as text files, one per form resource.
#pragma once

#include <string>
#include <vector>

#include "model/program_model.h"

namespace model_files {

/// The file name for a form resource: its name (characters other than
/// letters, digits, '_', '-' and '.' replaced by '_'), its language when
/// that is not 0, and ".dfm".
std::string FormFileName(const model::Resource &resource);

/// Writes each decoded form of `model` as text into the folder `dir`,
/// which is made when missing; each file is written whole or not at all.
/// Returns the number of files written; a line in *errors for each that
/// could not be.
size_t WriteFormFiles(const model::ProgramModel &model, const std::string &dir,
                      std::vector<std::string> *errors);

}  // namespace model_files
