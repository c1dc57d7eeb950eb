// The database as JSON: the export (--json) and the saved database (--db).
//
//   {"input": path,
//    "segments": [{"name", "start", "end"}],
//    "items": [{"ea", "size", "type"}]         type: byte word dword qword offset
//                                               pstring align struct code;
//                                               struct items add "struct_id"
//    "names": [{"ea", "name"}]                 given names only
//    "comments": [{"ea", "text", "repeatable"}]
//    "functions": [{"start", "end"}]
//    "structs": [{"id", "name", "size", "members": [{"name", "offset", "size",
//                                                    "flags", "type_info"}]}]
//    "cursor": ea}
//
// Addresses and sizes are JSON integers. A saved database is read over a
// freshly loaded program: the program supplies the bytes, the file the
// annotations, so a file written by hand with nothing but "comments" is a
// valid one.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "host/kernel/database.h"

namespace database_files {

enum class JsonContent {
  kExport,  // for reading by people and scripts: code items are left out
  kSaved,   // everything a reload needs to be exact, code items included
};

/// Writes `db` as JSON, one array element per line. False when the stream
/// failed.
bool WriteDatabaseJson(const kernel::Database &db, JsonContent content,
                       std::ostream &out);

/// Applies the saved database in `in` to `db`, which holds the freshly
/// loaded program. Arrays that are missing count as empty; "segments", when
/// present, must equal the program's; "struct" items name their structure by
/// "struct_id" or by its name in "struct"; structures without an "id" get
/// one. The file is taken whole or not at all: on any refusal (malformed
/// JSON, a missing or mistyped field, an unknown key, anything the kernel
/// refuses) the reason goes to *err and `db` is cleared.
bool ReadDatabaseJson(std::istream &in, kernel::Database *db, std::string *err);

}  // namespace database_files
