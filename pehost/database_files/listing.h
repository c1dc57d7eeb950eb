// The readable listing (--listing): the database as a reverse engineer reads
// it, one line per item and per named or commented address, in address order.
//
//   CODE:00401000  dword          4  _cls_TForm1                      ; SelfPtr
//
// Columns: the address as the host shows it (segment, colon, 8 hex digits),
// the item type ("unknown" for a byte in no item, "-" for an address inside
// an item), the item's size in bytes, the name (given, else the derived one)
// and the comments ("; " regular, ";; " repeatable). The program's segments
// head the listing and the structure types close it.
#pragma once

#include <ostream>

#include "host/kernel/database.h"

namespace database_files {

/// Writes the listing of `db`. False when the stream failed.
bool WriteListing(const kernel::Database &db, std::ostream &out);

}  // namespace database_files
