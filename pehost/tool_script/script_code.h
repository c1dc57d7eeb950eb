// The Python of the tool scripts, from ida_script.py, ghidra_script.py and
// script_main.py, built into the program by embed_python.cmake.
#pragma once

namespace tool_script {

/// How the IDAPython script applies each record, and its hooks for main().
extern const char kIdaCode[];
/// How the Ghidra script applies each record, and its hooks for main().
extern const char kGhidraCode[];
/// The chunk list, the tally and main() both scripts share.
extern const char kMainCode[];

}  // namespace tool_script
