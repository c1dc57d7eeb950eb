// The part both tool scripts share: the header comment and the database as
// chunks of JSON records, which the script's own code decodes and applies.
//
//   def _data_0():
//       _add("items", r'''[
//   [4198400, 4, "offset"],
//   [4198520, 8, "pstring"]
//   ]''')
//       ...
//
//   _data_0()
//
// Records, by kind (in the order a script applies them):
//   structs    [name, size, [[member, offset, size, kind], ...]]
//              member kind: byte word dword qword (arrays when the size is a
//              multiple), offset (4 bytes), pstring, cstring; size 0 only for
//              strings (a variable tail)
//   items      [ea, size, kind]  kind: byte word dword qword (arrays when the
//              size is a multiple), offset, pstring (size counts the length
//              byte); [ea, size, "align", exponent]; [ea, size, "struct", name]
//   functions  [start, end]
//   names      [ea, name]
//   comments   [ea, text, repeatable]
//   decls      [name, text(, text without stack places)]  a C declaration in
//              the tool's dialect
//   types      [ea, text(, text without stack places)]  the type the address
//              gets; the second text, when there is one, is for a tool that
//              refuses explicit stack places
//   and the records of ScriptTypes::records, kind by kind
//
// The chunk texts are pure ASCII and hold no quote character, so a raw
// triple-quoted string takes them unchanged in Python 2 and 3; each string
// stays below the 65,535 bytes a Jython class file allows a constant, and
// each function of chunks below the 64 KB of code a Java method may hold.
#pragma once

#include <ostream>

#include "pehost/tool_script/tool_script.h"

namespace tool_script {

/// Writes a whole script: the header comment (`title`, one line; the program,
/// its image base, the run and the contents; `usage`, comment lines each
/// starting with "# "), the tool's `code` (whose first statement is the
/// `from __future__` line, and which defines the hooks main() calls), the
/// code both scripts share with main(), IMAGE_BASE, the database's
/// `records` (made as they are written when null), and the call of main().
/// `types` (or null) adds the decls and types records. False when the
/// stream failed.
bool WriteScript(const kernel::Database &db, const ScriptOrigin &origin,
                 const ScriptRecords *records, const char *title, const char *usage,
                 const char *code, const ScriptTypes *types, std::ostream &out);

}  // namespace tool_script
