// The Ghidra script: its title and usage lines; its Python is in
// ghidra_script.py.
#include "pehost/tool_script/script_code.h"
#include "pehost/tool_script/script_data.h"

namespace tool_script {
namespace {

const char kTitle[] = "Ghidra script written by pehost: the annotations of one run";

const char kUsage[] =
    "# Open the same program in Ghidra 10.0 or later, loaded at the image base\n"
    "# above, put this file in a script folder and run it from the Script Manager\n"
    "# (Jython or the Python 3 bridge). It creates the functions, data items,\n"
    "# structure types, names and comments of the run, checks the image base\n"
    "# before it changes anything, and can be run again without changing more.\n";

}  // namespace

bool WriteGhidraScript(const kernel::Database &db, const ScriptOrigin &origin,
                       const ScriptRecords &records, const ScriptTypes *types,
                       std::ostream &out) {
  return WriteScript(db, origin, &records, kTitle, kUsage, kGhidraCode, types, out);
}

bool WriteGhidraScript(const kernel::Database &db, const ScriptOrigin &origin,
                       const ScriptTypes *types, std::ostream &out) {
  return WriteScript(db, origin, nullptr, kTitle, kUsage, kGhidraCode, types, out);
}

}  // namespace tool_script
