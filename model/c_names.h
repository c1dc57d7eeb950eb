// Delphi names as C identifiers. Letters and digits stay; every other
// character becomes an underscore and a lower-case letter: "__" for "_",
// "_d" for ".", "_l" and "_g" for "<" and ">", "_c" for ",", "_a" for "@",
// "_q" for a backquote, "_s" for a space and "_xHH" for any other byte. A
// name that would be a C keyword, or begins with a digit, gets "_k" in
// front. The mapping is one to one, so two different names never meet; and
// since an underscore in a mapped name is always followed by one of those
// lower-case letters, every identifier with "_" and an upper-case letter
// ("TForm1_VMT", "_Pad0010") is free for the names this system makes.
#pragma once

#include <string>
#include <string_view>

namespace model {

/// The C identifier of the Delphi name `name` ("_k" for an empty one).
std::string CIdentifier(std::string_view name);

/// The same, put behind what `out` holds: the names of methods and members
/// are put together from several parts, with no string of their own.
void AppendCIdentifier(std::string_view name, std::string *out);

}  // namespace model
