// Texts of the analysed program in the encodings it keeps them: UTF-16 in
// resource names and wide strings, UTF-8 in a few form values. Broken
// sequences (a lone surrogate, a stray continuation byte) become U+FFFD, so
// every text comes out as valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace model {

/// Appends `cp` to `out` in UTF-8.
void AppendUtf8(char32_t cp, std::string *out);
/// The code points of `units` little-endian UTF-16 code units at `bytes`.
std::u32string DecodeUtf16Le(const uint8_t *bytes, size_t units);
/// Length of the valid UTF-8 sequence at the start of `text`, with its code
/// point in *cp; 0 when none starts there.
size_t Utf8Sequence(std::string_view text, char32_t *cp);
/// The code points of the UTF-8 text `text`.
std::u32string DecodeUtf8(std::string_view text);
/// Bytes of the program as UTF-8: valid UTF-8 sequences (newer compilers
/// keep names so) as they are, any other byte taken as Latin-1.
std::string TextFromBytes(std::string_view bytes);
/// `units` little-endian UTF-16 code units as UTF-8.
std::string Utf16LeToUtf8(const uint8_t *bytes, size_t units);
/// `text` on one line, for messages, reasons and listings: a line break as
/// \n, any other control character (DEL included) as \xNN, so that a name
/// taken from the program can neither break a line nor send a control code
/// to a terminal, and the reader still sees which byte it held.
std::string OneLine(std::string_view text);

}  // namespace model
