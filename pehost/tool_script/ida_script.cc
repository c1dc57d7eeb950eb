// The IDAPython script: its title and usage lines; its Python is in
// ida_script.py.
#include "pehost/tool_script/script_code.h"
#include "pehost/tool_script/script_data.h"

namespace tool_script {
namespace {

const char kTitle[] = "IDAPython script written by pehost: the annotations of one run";

const char kUsage[] =
    "# Open the same program in IDA 7.0 or later, loaded at the image base above,\n"
    "# and run this file with File > Script file. It creates the functions, data\n"
    "# items, structure types, names and comments of the run, declares the\n"
    "# program's types and gives each method its prototype, checks the image base\n"
    "# before it changes anything, and can be run again without changing more.\n";

}  // namespace

bool WriteIdaScript(const kernel::Database &db, const ScriptOrigin &origin,
                    const ScriptRecords &records, const ScriptTypes *types,
                    std::ostream &out) {
  return WriteScript(db, origin, &records, kTitle, kUsage, kIdaCode, types, out);
}

bool WriteIdaScript(const kernel::Database &db, const ScriptOrigin &origin,
                    const ScriptTypes *types, std::ostream &out) {
  return WriteScript(db, origin, nullptr, kTitle, kUsage, kIdaCode, types, out);
}

}  // namespace tool_script
