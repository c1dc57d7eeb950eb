// The program's types as a C header that IDA, Ghidra and plain C compilers
// read: the typedefs, enumerations and structures of the program's types,
// each class's instance and method table structures, a function type and
// a declaration for every method with a prototype.
//
// IDA's explicit parameter locations (__usercall, __userpurge, @<eax>,
// @<^offset.size>) stand behind macros that are empty unless PEHOST_IDA is
// defined, so a C compiler reads the same declarations with plain
// parameter lists. With PEHOST_LAYOUT_CHECKS defined, static assertions
// check every structure's size and every member's offset.
#pragma once

#include <ostream>

#include "model/program_model.h"
#include "model/program_types.h"
#include "pehost/tool_script/tool_script.h"

namespace c_header {

/// Writes the header of `types`, the types of `model`; false when the
/// stream failed.
bool WriteCHeader(const model::ProgramModel &model, const model::ProgramTypes &types,
                  std::ostream &out);

/// The types in IDA's dialect for the IDA script: every declaration with the
/// locations spelt out, each structure packed; each method's prototype
/// with its name, and each virtual slot of a class's table typed with the
/// pointer to its method's function type.
tool_script::ScriptTypes IdaTypes(const model::ProgramTypes &types);

/// "__usercall"/"__userpurge" declaration text of a prototype with IDA's
/// locations, as IDA's SetType takes it: `name` is the function's name.
/// Without `stack_places` the stack parameters carry no location and stand
/// in the order they sit in memory, the lowest first, where IDA places
/// stack arguments it is not told the places of.
std::string IdaDeclaration(const model::Prototype &p, const std::string &name,
                           bool stack_places = true);

}  // namespace c_header
