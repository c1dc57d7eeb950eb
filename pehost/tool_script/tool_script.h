// Scripts that carry the database into the analyst's own disassembler: run
// inside the tool with the same program loaded at its usual image base, they
// create the functions, data items, structure types, names and comments the
// database holds.
//
// Both scripts check the open program's image base before they change
// anything, can be run again without changing anything more, keep the data
// in string chunks (a 100,000-item database makes no giant literal, which
// the Jython compiler could not take) and print a count of what they applied.
// They are valid Python 2.7 and Python 3. Code items are not carried: the
// tool decodes the instructions itself when it creates the functions.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/kernel/database.h"
#include "model/program_types.h"
#include "pehost/tool_script/text_blocks.h"

namespace tool_script {

/// Where the database came from, for the script's header.
struct ScriptOrigin {
  std::string run;  // one line: the program that wrote it, how, and when
};

/// The program's types in a tool's own C dialect: the declarations, each
/// whole and each behind those it uses, with the name each declares; and
/// the type each address gets (a function's prototype with its name, or a
/// method slot's pointer type).
struct ScriptTypes {
  /// A declaration or an address's type, with the same text without
  /// explicit stack places (stack parameters in the order they sit in
  /// memory, the lowest first) for a tool that refuses those places; empty
  /// when the text places nothing on the stack.
  struct Text {
    std::string_view text;
    std::string_view without_stack_places;
  };
  std::vector<std::pair<std::string_view, Text>> declarations;  // name, text
  std::vector<std::pair<ea_t, Text>> applied;                   // address, type
  /// Records of other kinds, each a JSON array in the script data's
  /// quoting, a kind's records one after another in one text (a program
  /// has hundreds of thousands of them).
  struct Records {
    std::string kind;
    std::string text;
    std::vector<size_t> ends;  // where each record of `text` ends
  };
  std::vector<Records> records;
  /// What the views of the declarations and types point to.
  TextBlocks texts;
};

/// The records every script carries alike (structures, data items,
/// functions, names and comments) as the text of the script's statements,
/// with the counts its header gives: made once for a run that writes both
/// scripts.
struct ScriptRecords {
  struct Contents {
    size_t structures = 0;
    size_t items = 0;  // data items; code items are not carried
    size_t functions = 0;
    size_t functions_on_data = 0;  // left out: neither tool makes them
    size_t names = 0;
    size_t comments = 0;
  };
  Contents contents;
  /// In pieces of about 64 KB: one string of a large program's records
  /// would be copied as it grew, and held twice while it was.
  std::vector<std::string> statements;
  int groups = 0;           // functions of statements the text closes
  int open_statements = 0;  // statements of the function it leaves open
};

ScriptRecords MakeScriptRecords(const kernel::Database &db);

/// The types for the Ghidra script: every structure of `types` (sized
/// first, then filled, so that members may point to any of them), and each
/// method's prototype as custom variable storage with the stack it removes.
ScriptTypes GhidraTypes(const model::ProgramTypes &types);

/// `text` as a JSON string the script data takes: pure ASCII, no quote.
std::string ScriptText(const std::string &text);

/// An IDAPython script for IDA 7.0 and later, which also declares and
/// applies `types` when given. False when the stream failed.
bool WriteIdaScript(const kernel::Database &db, const ScriptOrigin &origin,
                    const ScriptTypes *types, std::ostream &out);
/// The same with the database's records made already (for both scripts).
bool WriteIdaScript(const kernel::Database &db, const ScriptOrigin &origin,
                    const ScriptRecords &records, const ScriptTypes *types,
                    std::ostream &out);

/// A script for Ghidra's Script Manager, under Jython or the Python 3 bridge,
/// which also declares and applies `types` when given. False when the stream
/// failed.
bool WriteGhidraScript(const kernel::Database &db, const ScriptOrigin &origin,
                       const ScriptTypes *types, std::ostream &out);
/// The same with the database's records made already (for both scripts).
bool WriteGhidraScript(const kernel::Database &db, const ScriptOrigin &origin,
                       const ScriptRecords &records, const ScriptTypes *types,
                       std::ostream &out);

}  // namespace tool_script
