// String literals of UTF-16 text as compilers of 2009 and later lay them
// out in the code section: a 2-byte code page (1200), a 2-byte character
// size (2), a reference count of -1, the length in characters, the
// characters and a zero terminator, aligned to 4 with zero bytes.
//
// Runs of such literals take the shape of a class record now and then: in a
// program of megabytes two characters such as "T\0e\0" read as an address
// of the program (SelfPtr), the next two as a small number when the last is
// a digit or a sign (IntfTable), the terminator and the alignment as an
// empty AutoTable, and two characters of the next literal, 32 bytes on, as
// the address of a name (ClassName). Only the header size test tells them
// from a record. The sample is too small for letters to read as its
// addresses, so it puts addresses of its own in place of those characters.
#pragma once

#include <string>

#include "samples/class_record.h"
#include "samples/image.h"

namespace samples {

/// The first doubleword of every literal: the code page and the character
/// size.
constexpr uint32_t kWideLiteralStart = 1200 | 2u << 16;

/// Two literals back to back, such as "MS Shell Dlg 2" and "Tahoma". Where
/// the record's fields fall, two characters of each are replaced by the code
/// units of an address: the last but one pair of the first literal by
/// `self` (any address of the program), the fifth and sixth character of
/// the second by `name` (a short string of name characters). The first
/// literal has an even length and ends in a character below '@'.
struct ClassShapedText {
  std::u16string first;
  std::u16string second;
  Ref self;
  Ref name;
};

/// Writes the two literals at the current, 4-aligned, position and returns
/// the address that reads as a class record.
Addr WriteClassShapedText(Image &image, const ClassShapedText &text);

}  // namespace samples
