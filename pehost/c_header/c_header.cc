#include "pehost/c_header/c_header.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace c_header {

namespace {

using model::CDecl;
using model::CMember;
using model::PlacedParam;
using model::Prototype;
using model::Register;
using model::ResultPlace;

std::string Hex(uint32_t v, int width = 4) {
  char text[16];
  snprintf(text, sizeof text, "0x%0*X", width, v);
  return text;
}

/// A comment's text with "*/" and line breaks taken out.
std::string CommentText(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '*' && i + 1 < s.size() && s[i + 1] == '/') {
      out += "* /";
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out += ' ';
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

const char *const kRegisterMacros[] = {"PH_EAX", "PH_EDX", "PH_ECX"};

std::string StackMacro(const PlacedParam &p) {
  return "PH_S" + std::to_string(p.stack_offset) + "_" + std::to_string(p.size);
}

std::string LocationMacro(const PlacedParam &p) {
  return p.reg == Register::kStack ? StackMacro(p)
                                   : kRegisterMacros[static_cast<int>(p.reg)];
}

const char *ResultMacro(ResultPlace r) {
  switch (r) {
    case ResultPlace::kEax:
      return " PH_EAX";
    case ResultPlace::kEdxEax:
      return " PH_EDXEAX";
    case ResultPlace::kSt0:
      return " PH_ST0";
    default:
      return "";
  }
}

/// `type name` for a declarator: the name goes after the stars.
std::string Declare(const std::string &type, const std::string &name) {
  if (!type.empty() && type.back() == '*') return type + name;
  return type + " " + name;
}

bool HasStackParams(const Prototype &p) {
  for (const PlacedParam &q : p.params)
    if (q.reg == Register::kStack) return true;
  return false;
}

/// The function type of `p` with the location macros. Without
/// `stack_places` the stack parameters have no location and take the
/// stack positions among the parameters in the order they sit in memory,
/// the lowest first, which is where a tool places stack arguments it is
/// not told the places of.
std::string FunctionDecl(const Prototype &p, const std::string &name,
                         bool stack_places = true) {
  std::vector<const PlacedParam *> params;
  std::vector<const PlacedParam *> stack;
  for (const PlacedParam &q : p.params) {
    params.push_back(&q);
    if (q.reg == Register::kStack) stack.push_back(&q);
  }
  if (!stack_places) {
    std::stable_sort(stack.begin(), stack.end(),
                     [](const PlacedParam *a, const PlacedParam *b) {
                       return a->stack_offset < b->stack_offset;
                     });
    size_t next = 0;
    for (const PlacedParam *&q : params)
      if (q->reg == Register::kStack) q = stack[next++];
  }
  std::string s = Declare(p.result_type, p.purge != 0 ? "PH_USERPURGE " : "PH_USERCALL ");
  s += name;
  s += ResultMacro(p.result);
  s += "(";
  for (size_t i = 0; i < params.size(); ++i) {
    if (i > 0) s += ", ";
    s += Declare(params[i]->c_type, params[i]->name);
    if (stack_places || params[i]->reg != Register::kStack)
      s += " " + LocationMacro(*params[i]);
  }
  if (params.empty()) s += "void";
  return s + ")";
}

void WriteMembers(const CDecl &d, std::ostream &out) {
  for (const CMember &m : d.members) {
    std::string line = "  " + Declare(m.c_type, m.name);
    if (m.count != 0) line += "[" + std::to_string(m.count) + "]";
    line += ";";
    if (line.size() < 48) line.resize(48, ' ');
    out << line << " /* " << Hex(m.offset)
        << (m.comment.empty() ? "" : " " + CommentText(m.comment)) << " */\n";
  }
}

void WriteDecl(const model::ProgramTypes &types, const CDecl &d, std::ostream &out) {
  if (!d.comment.empty()) out << "/* " << CommentText(d.comment) << " */\n";
  switch (d.kind) {
    case CDecl::kTypedef:
      out << "typedef " << Declare(d.target, d.name);
      if (d.count != 0) out << "[" << d.count << "]";
      out << ";\n";
      break;
    case CDecl::kEnum:
      out << "typedef " << d.target << " " << d.name << ";\n";
      out << "enum " << d.name << "_Values {";
      for (size_t i = 0; i < d.values.size(); ++i)
        out << (i > 0 ? "," : "") << "\n  " << d.values[i].first << " = "
            << d.values[i].second;
      out << "\n};\n";
      break;
    case CDecl::kStruct:
      out << "struct " << d.name << " {\n";
      WriteMembers(d, out);
      out << "};\n";
      break;
    case CDecl::kFunction:
      out << "typedef " << FunctionDecl(types.methods[d.method].prototype, d.name)
          << ";\n";
      break;
  }
}

void WriteMacros(const model::ProgramTypes &types, std::ostream &out) {
  std::set<std::pair<uint32_t, uint32_t>> stack;
  for (const model::MethodType &m : types.methods)
    for (const PlacedParam &p : m.prototype.params)
      if (p.reg == Register::kStack) stack.emplace(p.stack_offset, p.size);
  out << "#ifdef PEHOST_IDA\n"
         "#define PH_USERCALL __usercall\n"
         "#define PH_USERPURGE __userpurge\n"
         "#define PH_EAX @<eax>\n"
         "#define PH_EDX @<edx>\n"
         "#define PH_ECX @<ecx>\n"
         "#define PH_EDXEAX @<edx:eax>\n"
         "#define PH_ST0 @<st0>\n";
  for (const auto &[offset, size] : stack)
    out << "#define PH_S" << offset << "_" << size << " @<^" << offset << "." << size
        << ">\n";
  out << "#else\n"
         "#define PH_USERCALL\n"
         "#define PH_USERPURGE\n"
         "#define PH_EAX\n"
         "#define PH_EDX\n"
         "#define PH_ECX\n"
         "#define PH_EDXEAX\n"
         "#define PH_ST0\n";
  for (const auto &[offset, size] : stack)
    out << "#define PH_S" << offset << "_" << size << "\n";
  out << "#endif\n\n";
}

void WriteChecks(const model::ProgramTypes &types, std::ostream &out) {
  out << "\n#ifdef PEHOST_LAYOUT_CHECKS\n";
  for (const CDecl &d : types.decls) {
    if (d.kind != CDecl::kStruct) continue;
    out << "_Static_assert(sizeof(" << d.name << ") == " << d.size << ", \"" << d.name
        << "\");\n";
    for (const CMember &m : d.members)
      out << "_Static_assert(__builtin_offsetof(" << d.name << ", " << m.name
          << ") == " << m.offset << ", \"" << d.name << "." << m.name << "\");\n";
  }
  out << "#endif\n";
}

/// IDA's dialect: the location macros spelt out.
std::string IdaText(std::string s) {
  // Most declarations name no location: their text stays as it is.
  if (s.find("PH_") == std::string::npos) return s;
  // The macros spelt out, as IDA's SetType takes no preprocessor.
  const std::pair<std::string, std::string> words[] = {{"PH_USERPURGE ", "__userpurge "},
                                                       {"PH_USERCALL ", "__usercall "},
                                                       {" PH_EDXEAX", "@<edx:eax>"},
                                                       {" PH_EAX", "@<eax>"},
                                                       {" PH_EDX", "@<edx>"},
                                                       {" PH_ECX", "@<ecx>"},
                                                       {" PH_ST0", "@<st0>"}};
  for (const auto &[from, to] : words)
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at))
      s.replace(at, from.size(), to);
  for (size_t at = s.find(" PH_S"); at != std::string::npos; at = s.find(" PH_S", at)) {
    const size_t end = s.find_first_of(",)", at);
    std::string loc = s.substr(at + 5, end - at - 5);  // "offset_size"
    loc[loc.find('_')] = '.';
    s.replace(at, end - at, "@<^" + loc + ">");
  }
  return s;
}

}  // namespace

std::string IdaDeclaration(const Prototype &p, const std::string &name,
                           bool stack_places) {
  return IdaText(FunctionDecl(p, name, stack_places));
}

tool_script::ScriptTypes IdaTypes(const model::ProgramTypes &types) {
  tool_script::ScriptTypes out;
  std::string ahead;
  for (const std::string &s : types.structs) {
    ahead += "typedef struct ";
    ahead += s;
    ahead += ' ';
    ahead += s;
    ahead += ";\n";
  }
  out.declarations.push_back({"", {ahead, ""}});
  std::map<std::string, const CDecl *> by_name;
  // One stream for all declarations: a program has hundreds of thousands.
  std::ostringstream text;
  for (const CDecl &d : types.decls) {
    by_name.emplace(d.name, &d);
    text.str("");
    WriteDecl(types, d, text);
    std::string t = IdaText(text.str());
    if (d.kind == CDecl::kStruct)
      t = "#pragma pack(push, 1)\n" + t + "#pragma pack(pop)\n";
    std::string without;
    if (d.kind == CDecl::kFunction && HasStackParams(types.methods[d.method].prototype)) {
      const Prototype &p = types.methods[d.method].prototype;
      without = (d.comment.empty() ? "" : "/* " + CommentText(d.comment) + " */\n") +
                "typedef " + IdaDeclaration(p, d.name, false) + ";\n";
    }
    out.declarations.push_back({d.name, {t, without}});
  }
  for (const model::MethodType &m : types.methods)
    out.applied.push_back(
        {m.address,
         {IdaDeclaration(m.prototype, m.name),
          HasStackParams(m.prototype) ? IdaDeclaration(m.prototype, m.name, false)
                                      : ""}});
  // The slots of each table: the record's header lies in front of them.
  for (const model::ClassTypes &c : types.classes) {
    auto vmt = by_name.find(model::VmtStructName(c.name));
    if (vmt == by_name.end()) continue;
    for (const CMember &m : vmt->second->members)
      if (m.c_type != "void *")
        out.applied.push_back({c.record + types.header_size + m.offset, {m.c_type, ""}});
  }
  return out;
}

bool WriteCHeader(const model::ProgramModel &model, const model::ProgramTypes &types,
                  std::ostream &out) {
  out << "/* Types of " << CommentText(model.file) << ", written by pehost.\n"
      << " *\n"
      << " * Class record header: " << model.header_size << " bytes; "
      << model.classes.size() << " classes, " << types.methods.size() << " prototypes.\n"
      << " * Define PEHOST_IDA before reading this in IDA for the parameter locations;\n"
      << " * define PEHOST_LAYOUT_CHECKS to check every size and offset. */\n"
      << "#ifndef PEHOST_TYPES_H\n#define PEHOST_TYPES_H\n\n";
  WriteMacros(types, out);
  out << "#pragma pack(push, 1)\n\n";
  for (const std::string &s : types.structs)
    out << "typedef struct " << s << " " << s << ";\n";
  out << "\n";
  for (const CDecl &d : types.decls) {
    WriteDecl(types, d, out);
    out << "\n";
  }
  for (const model::MethodType &m : types.methods)
    out << "/* " << Hex(m.address, 8) << " " << CommentText(m.pascal) << " */\n"
        << m.type_name << " " << m.name << ";\n";
  out << "\n#pragma pack(pop)\n";
  WriteChecks(types, out);
  out << "\n#endif\n";
  return static_cast<bool>(out);
}

}  // namespace c_header
