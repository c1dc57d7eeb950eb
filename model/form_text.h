// The text form of a form description, as the form designer shows it:
//
//   object Form1: TForm1
//     Caption = 'Main window'
//     OnCreate = FormCreate
//     object Button1: TButton
//       Anchors = [akLeft, akTop]
//     end
//   end
//
// Strings are quoted, with characters outside printable ASCII as #NNN codes;
// lists in parentheses, collections in angle brackets, binary data in braces
// as hex, 32 bytes a line.
#pragma once

#include <ostream>

#include "model/form_reader.h"

namespace model {

/// Writes `form` and its components as text.
void WriteFormText(const FormObject &form, std::ostream &out);

}  // namespace model
