#include "model/c_names.h"

#include <algorithm>
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

void AppendCIdentifier(std::string_view name, std::string *out) {
  const size_t start = out->size();
  out->reserve(start + name.size() + 4);
  size_t plain = 0;  // start of the run of letters and digits, copied whole
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsAlnum(c)) continue;
    out->append(name.data() + plain, i - plain);
    plain = i + 1;
    switch (c) {
      case '_':
        *out += "__";
        break;
      case '.':
        *out += "_d";
        break;
      case '<':
        *out += "_l";
        break;
      case '>':
        *out += "_g";
        break;
      case ',':
        *out += "_c";
        break;
      case '@':
        *out += "_a";
        break;
      case '`':
        *out += "_q";
        break;
      case ' ':
        *out += "_s";
        break;
      default: {
        static constexpr char kHex[] = "0123456789ABCDEF";
        const char hex[] = {'_', 'x', kHex[c >> 4], kHex[c & 0xF]};
        out->append(hex, sizeof hex);
      }
    }
  }
  out->append(name.data() + plain, name.size() - plain);
  // Every keyword starts with an underscore or a lower-case letter.
  const std::string_view ident = std::string_view(*out).substr(start);
  const char first = ident.empty() ? '\0' : ident[0];
  if (ident.empty() || (first >= '0' && first <= '9') ||
      ((first == '_' || (first >= 'a' && first <= 'z')) && IsReserved(ident)))
    out->insert(start, "_k");
}

std::string CIdentifier(std::string_view name) {
  std::string out;
  AppendCIdentifier(name, &out);
  return out;
}

}  // namespace model
