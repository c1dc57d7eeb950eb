// The program's forms: every form resource (RCDATA whose data begins with
// "TPF0") decoded, its components listed, and each event bound to the
// published method it names.
//
// An event is a property whose value is an identifier and whose name starts
// with "On"; the identifier names a published method of the form's class or
// of one of its ancestors (Delphi compares names without regard to case).
// The components of an inline frame name methods of the frame's class.
#pragma once

#include "model/program_model.h"

namespace model {

/// Reads the resource directory the database records and fills
/// model->forms; directory parts and forms that cannot be read go to
/// model->problems.
void ReadForms(ProgramModel *model);

/// Lists the components of `form->root` and binds its events with `model`'s
/// classes.
void BindForm(const ProgramModel &model, FormEntry *form);

}  // namespace model
