#include "model/c_names.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace model {

namespace {

// The keywords of C11 and the tools' own type words, sorted: every type's
// and member's name is looked up here.
constexpr std::string_view kReserved[] = {"_Alignas",
                                          "_Alignof",
                                          "_Atomic",
                                          "_Bool",
                                          "_Complex",
                                          "_Generic",
                                          "_Imaginary",
                                          "_Noreturn",
                                          "_Static_assert",
                                          "_Thread_local",
                                          "auto",
                                          "bool",
                                          "break",
                                          "case",
                                          "char",
                                          "const",
                                          "continue",
                                          "default",
                                          "do",
                                          "double",
                                          "else",
                                          "enum",
                                          "extern",
                                          "float",
                                          "for",
                                          "goto",
                                          "if",
                                          "inline",
                                          "int",
                                          "long",
                                          "register",
                                          "restrict",
                                          "return",
                                          "short",
                                          "signed",
                                          "sizeof",
                                          "static",
                                          "struct",
                                          "switch",
                                          "typedef",
                                          "union",
                                          "unsigned",
                                          "void",
                                          "volatile",
                                          "while"};

static_assert(std::is_sorted(std::begin(kReserved), std::end(kReserved)));

bool IsReserved(std::string_view s) {
  return std::binary_search(std::begin(kReserved), std::end(kReserved), s);
}

bool IsAlnum(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string CIdentifier(const std::string &name) {
  std::string out;
  out.reserve(name.size() + 4);
  for (unsigned char c : name) {
    if (IsAlnum(c)) {
      out += static_cast<char>(c);
      continue;
    }
    switch (c) {
      case '_':
        out += "__";
        break;
      case '.':
        out += "_d";
        break;
      case '<':
        out += "_l";
        break;
      case '>':
        out += "_g";
        break;
      case ',':
        out += "_c";
        break;
      case '@':
        out += "_a";
        break;
      case '`':
        out += "_q";
        break;
      case ' ':
        out += "_s";
        break;
      default: {
        char hex[8];
        snprintf(hex, sizeof hex, "_x%02X", c);
        out += hex;
      }
    }
  }
  if (out.empty() || (out[0] >= '0' && out[0] <= '9') || IsReserved(out))
    out = "_k" + out;
  return out;
}

}  // namespace model
