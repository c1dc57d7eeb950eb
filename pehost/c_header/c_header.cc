#include "pehost/c_header/c_header.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pehost/json_writer/byte_runs.h"
#include "pehost/json_writer/json_writer.h"

namespace c_header {

namespace {

using model::CDecl;
using model::CMember;
using model::PlacedParam;
using model::Prototype;
using model::Register;
using model::ResultPlace;

// The header and the IDA types are written by appending to one buffer of
// the writers' own: a program has hundreds of thousands of declarations and
// members, and a stream insertion or a string's append per piece cost more
// than the rest of the writing.

/// The two texts of a declaration: the header's, whose parameter locations
/// stand behind macros, and IDA's, with the locations spelt out.
enum class Dialect { kHeader, kIda };

void AppendNumber(uint64_t v, json_writer::TextBuffer *out) {
  json_writer::AppendUnsigned(v, out);
}

/// The bytes that end a run a comment takes as they are: a star, a control
/// character (signed, bytes from 0x80 up count too and are looked at alone).
/// The header and the IDA types carry a comment for every member, tens of
/// megabytes of a large program's.
struct CommentStops {
#ifdef __SSE2__
  static __m128i Of(__m128i x) {
    return _mm_or_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)),
                        _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('*')),
                                     _mm_cmpeq_epi8(x, _mm_set1_epi8(0x7F))));
  }
#endif
  static bool Of(unsigned char c) { return c == '*' || c < 0x20 || c == 0x7F; }
};

/// A comment's text with "*/" and line breaks taken out.
void AppendComment(std::string_view s, json_writer::TextBuffer *out) {
  size_t plain = 0;  // start of the run taken as it is
  for (size_t i = json_writer::RunEnd(s, 0, CommentStops()); i < s.size();
       i = json_writer::RunEnd(s, i + 1, CommentStops())) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '*' && i + 1 < s.size() && s[i + 1] == '/') {
      out->append(s.data() + plain, i - plain);
      *out += "* /";
      plain = ++i + 1;
    } else if (c < 0x20 || c == 0x7F) {
      out->append(s.data() + plain, i - plain);
      *out += ' ';
      plain = i + 1;
    }
  }
  out->append(s.data() + plain, s.size() - plain);
}

/// `type name` for a declarator: the name goes after the stars.
void AppendDeclare(std::string_view type, std::string_view name,
                   json_writer::TextBuffer *out) {
  *out += type;
  if (type.empty() || type.back() != '*') *out += ' ';
  *out += name;
}

const char *const kRegisterMacros[] = {" PH_EAX", " PH_EDX", " PH_ECX"};
const char *const kIdaRegisters[] = {"@<eax>", "@<edx>", "@<ecx>"};

void AppendLocation(const PlacedParam &p, Dialect dialect, json_writer::TextBuffer *out) {
  if (p.reg != Register::kStack) {
    *out += (dialect == Dialect::kHeader ? kRegisterMacros
                                         : kIdaRegisters)[static_cast<int>(p.reg)];
    return;
  }
  *out += dialect == Dialect::kHeader ? " PH_S" : "@<^";
  AppendNumber(p.stack_offset, out);
  *out += dialect == Dialect::kHeader ? '_' : '.';
  AppendNumber(p.size, out);
  if (dialect == Dialect::kIda) *out += '>';
}

const char *ResultLocation(ResultPlace r, Dialect dialect) {
  const bool header = dialect == Dialect::kHeader;
  switch (r) {
    case ResultPlace::kEax:
      return header ? " PH_EAX" : "@<eax>";
    case ResultPlace::kEdxEax:
      return header ? " PH_EDXEAX" : "@<edx:eax>";
    case ResultPlace::kSt0:
      return header ? " PH_ST0" : "@<st0>";
    default:
      return "";
  }
}

bool HasStackParams(const Prototype &p) {
  for (const PlacedParam &q : p.params)
    if (q.reg == Register::kStack) return true;
  return false;
}

/// The function type of `p` with its locations. Without `stack_places` the
/// stack parameters have no location and take the stack positions among
/// the parameters in the order they sit in memory, the lowest first, which
/// is where a tool places stack arguments it is not told the places of.
void AppendFunctionDecl(const Prototype &p, std::string_view name, Dialect dialect,
                        bool stack_places, json_writer::TextBuffer *out) {
  std::vector<const PlacedParam *> stack;
  if (!stack_places) {
    for (const PlacedParam &q : p.params)
      if (q.reg == Register::kStack) stack.push_back(&q);
    std::stable_sort(stack.begin(), stack.end(),
                     [](const PlacedParam *a, const PlacedParam *b) {
                       return a->stack_offset < b->stack_offset;
                     });
  }
  const bool header = dialect == Dialect::kHeader;
  AppendDeclare(p.result_type,
                p.purge != 0 ? (header ? "PH_USERPURGE " : "__userpurge ")
                             : (header ? "PH_USERCALL " : "__usercall "),
                out);
  *out += name;
  *out += ResultLocation(p.result, dialect);
  *out += '(';
  size_t next = 0;
  for (size_t i = 0; i < p.params.size(); ++i) {
    const PlacedParam *q = &p.params[i];
    if (!stack_places && q->reg == Register::kStack) q = stack[next++];
    if (i > 0) *out += ", ";
    AppendDeclare(q->c_type, q->name, out);
    if (stack_places || q->reg != Register::kStack) AppendLocation(*q, dialect, out);
  }
  if (p.params.empty()) *out += "void";
  *out += ')';
}

void AppendMembers(const CDecl &d, json_writer::TextBuffer *out) {
  for (const CMember &m : d.members) {
    const size_t start = out->Written();
    *out += "  ";
    AppendDeclare(m.c_type, m.name, out);
    if (m.count != 0) {
      *out += '[';
      AppendNumber(m.count, out);
      *out += ']';
    }
    *out += ';';
    // The comments line up at a column: spaces up to it, in one stretch.
    if (const size_t n = out->Written() - start; n < 48) {
      char *at = out->Room(48 - n);
      std::memset(at, ' ', 48 - n);
      out->Advance(at + 48 - n);
    }
    *out += " /* ";
    json_writer::AppendHex(m.offset, 4, out);
    if (!m.comment.empty()) {
      *out += ' ';
      AppendComment(m.comment, out);
    }
    *out += " */\n";
  }
}

void AppendDecl(const model::ProgramTypes &types, const CDecl &d, Dialect dialect,
                json_writer::TextBuffer *out) {
  if (!d.comment.empty()) {
    *out += "/* ";
    AppendComment(d.comment, out);
    *out += " */\n";
  }
  switch (d.kind) {
    case CDecl::kTypedef:
      *out += "typedef ";
      AppendDeclare(d.target, d.name, out);
      if (d.count != 0) {
        *out += '[';
        AppendNumber(d.count, out);
        *out += ']';
      }
      *out += ";\n";
      break;
    case CDecl::kEnum:
      *out += "typedef ";
      *out += d.target;
      *out += ' ';
      *out += d.name;
      *out += ";\nenum ";
      *out += d.name;
      *out += "_Values {";
      for (size_t i = 0; i < d.values.size(); ++i) {
        *out += i > 0 ? ",\n  " : "\n  ";
        *out += d.values[i].first;
        *out += " = ";
        json_writer::AppendInt(d.values[i].second, out);
      }
      *out += "\n};\n";
      break;
    case CDecl::kStruct:
      *out += "struct ";
      *out += d.name;
      *out += " {\n";
      AppendMembers(d, out);
      *out += "};\n";
      break;
    case CDecl::kFunction:
      *out += "typedef ";
      AppendFunctionDecl(types.methods[d.method].prototype, d.name, dialect, true, out);
      *out += ";\n";
      break;
  }
}

void AppendMacros(const model::ProgramTypes &types, json_writer::TextBuffer *out) {
  std::set<std::pair<uint32_t, uint32_t>> stack;
  for (const model::MethodType &m : types.methods)
    for (const PlacedParam &p : m.prototype.params)
      if (p.reg == Register::kStack) stack.emplace(p.stack_offset, p.size);
  *out +=
      "#ifdef PEHOST_IDA\n"
      "#define PH_USERCALL __usercall\n"
      "#define PH_USERPURGE __userpurge\n"
      "#define PH_EAX @<eax>\n"
      "#define PH_EDX @<edx>\n"
      "#define PH_ECX @<ecx>\n"
      "#define PH_EDXEAX @<edx:eax>\n"
      "#define PH_ST0 @<st0>\n";
  for (const auto &[offset, size] : stack) {
    *out += "#define PH_S";
    AppendNumber(offset, out);
    *out += '_';
    AppendNumber(size, out);
    *out += " @<^";
    AppendNumber(offset, out);
    *out += '.';
    AppendNumber(size, out);
    *out += ">\n";
  }
  *out +=
      "#else\n"
      "#define PH_USERCALL\n"
      "#define PH_USERPURGE\n"
      "#define PH_EAX\n"
      "#define PH_EDX\n"
      "#define PH_ECX\n"
      "#define PH_EDXEAX\n"
      "#define PH_ST0\n";
  for (const auto &[offset, size] : stack) {
    *out += "#define PH_S";
    AppendNumber(offset, out);
    *out += '_';
    AppendNumber(size, out);
    *out += '\n';
  }
  *out += "#endif\n\n";
}

void WriteChecks(const model::ProgramTypes &types, json_writer::TextBuffer *text) {
  *text += "\n#ifdef PEHOST_LAYOUT_CHECKS\n";
  for (const CDecl &d : types.decls) {
    if (d.kind != CDecl::kStruct) continue;
    *text += "_Static_assert(sizeof(";
    *text += d.name;
    *text += ") == ";
    AppendNumber(d.size, text);
    *text += ", \"";
    *text += d.name;
    *text += "\");\n";
    for (const CMember &m : d.members) {
      *text += "_Static_assert(__builtin_offsetof(";
      *text += d.name;
      *text += ", ";
      *text += m.name;
      *text += ") == ";
      AppendNumber(m.offset, text);
      *text += ", \"";
      *text += d.name;
      *text += '.';
      *text += m.name;
      *text += "\");\n";
    }
  }
  *text += "#endif\n";
}

std::string IdaFunction(const Prototype &p, const std::string &name, bool stack_places) {
  json_writer::TextBuffer text;
  AppendFunctionDecl(p, name, Dialect::kIda, stack_places, &text);
  return std::string(text.text());
}

}  // namespace

std::string IdaDeclaration(const Prototype &p, const std::string &name,
                           bool stack_places) {
  return IdaFunction(p, name, stack_places);
}

tool_script::ScriptTypes IdaTypes(const model::ProgramTypes &types) {
  tool_script::ScriptTypes out;
  out.declarations.reserve(types.decls.size() + 1);
  std::string ahead;
  for (const std::string &s : types.structs) {
    ahead += "typedef struct ";
    ahead += s;
    ahead += ' ';
    ahead += s;
    ahead += ";\n";
  }
  out.declarations.push_back({"", {out.texts.Keep(ahead), {}}});
  // Each text is put together in one buffer and kept with the others.
  json_writer::TextBuffer t;
  const auto take = [&t, &out] {
    const std::string_view text = out.texts.Keep(t.text());
    t.clear();
    return text;
  };
  // The method tables by name, for the slots below.
  std::unordered_map<std::string_view, const CDecl *> structs;
  for (const CDecl &d : types.decls) {
    if (d.kind == CDecl::kStruct) structs.emplace(d.name, &d);
    if (d.kind == CDecl::kStruct) t += "#pragma pack(push, 1)\n";
    AppendDecl(types, d, Dialect::kIda, &t);
    if (d.kind == CDecl::kStruct) t += "#pragma pack(pop)\n";
    const std::string_view text = take();
    if (d.kind == CDecl::kFunction && HasStackParams(types.methods[d.method].prototype)) {
      if (!d.comment.empty()) {
        t += "/* ";
        AppendComment(d.comment, &t);
        t += " */\n";
      }
      t += "typedef ";
      AppendFunctionDecl(types.methods[d.method].prototype, d.name, Dialect::kIda, false,
                         &t);
      t += ";\n";
    }
    out.declarations.push_back({out.texts.Keep(d.name), {text, take()}});
  }
  out.applied.reserve(types.methods.size());
  for (const model::MethodType &m : types.methods) {
    AppendFunctionDecl(m.prototype, m.name, Dialect::kIda, true, &t);
    const std::string_view text = take();
    if (HasStackParams(m.prototype))
      AppendFunctionDecl(m.prototype, m.name, Dialect::kIda, false, &t);
    out.applied.push_back({m.address, {text, take()}});
  }
  // The slots of each table: the record's header lies in front of them.
  std::string vmt;
  for (const model::ClassTypes &c : types.classes) {
    vmt = model::VmtStructName(c.name);
    auto it = structs.find(vmt);
    if (it == structs.end()) continue;
    for (const CMember &m : it->second->members)
      if (m.c_type != "void *")
        out.applied.push_back(
            {c.record + types.header_size + m.offset, {out.texts.Keep(m.c_type), {}}});
  }
  return out;
}

bool WriteCHeader(const model::ProgramModel &model, const model::ProgramTypes &types,
                  std::ostream &out) {
  json_writer::TextBuffer text(&out);
  text += "/* Types of ";
  AppendComment(model.file, &text);
  text += ", written by pehost.\n *\n * Class record header: ";
  AppendNumber(model.header_size, &text);
  text += " bytes; ";
  AppendNumber(model.classes.size(), &text);
  text += " classes, ";
  AppendNumber(types.methods.size(), &text);
  text +=
      " prototypes.\n"
      " * Define PEHOST_IDA before reading this in IDA for the parameter locations;\n"
      " * define PEHOST_LAYOUT_CHECKS to check every size and offset. */\n"
      "#ifndef PEHOST_TYPES_H\n#define PEHOST_TYPES_H\n\n";
  AppendMacros(types, &text);
  text += "#pragma pack(push, 1)\n\n";
  for (const std::string &s : types.structs) {
    text += "typedef struct ";
    text += s;
    text += ' ';
    text += s;
    text += ";\n";
  }
  text += '\n';
  for (const CDecl &d : types.decls) {
    AppendDecl(types, d, Dialect::kHeader, &text);
    text += '\n';
  }
  for (const model::MethodType &m : types.methods) {
    text += "/* ";
    json_writer::AppendHex(m.address, 8, &text);
    text += ' ';
    AppendComment(m.pascal, &text);
    text += " */\n";
    text += m.type_name;
    text += ' ';
    text += m.name;
    text += ";\n";
  }
  text += "\n#pragma pack(pop)\n";
  WriteChecks(types, &text);
  text += "\n#endif\n";
  return text.Flush();
}

}  // namespace c_header
