// The program's types as records for the Ghidra script. Ghidra reads no C
// here: each type is named by its C text ("TForm1 *", "Integer", "char *"),
// which the script resolves among the C base types and the types it made
// before; a structure is its size and members; a prototype is each
// parameter's type and register or stack offset (from the stack pointer at
// entry, where the return address is at 0), the result's type and register
// and the bytes the callee removes.
//
//   gstructs  [name, size]
//   gtypes    ["typedef", name, C type, count] (an array when count is not 0)
//             or ["enum", name, size, [[value name, value], ...]], in an
//             order in which each comes after the types it names
//   gmembers  [name, [[member, offset, size, C type, count], ...]]
//   gprotos   [ea, [[name, C type, size, place], ...], result C type, result
//             size, result place, purge]  place: "EAX", "EDX", "ECX",
//             "EDX:EAX", "ST0", a stack offset, or null for a procedure's
//             result (whose type is "void")
#include <string_view>
#include <unordered_set>

#include "pehost/json_writer/json_writer.h"
#include "pehost/tool_script/script_data.h"
#include "pehost/tool_script/tool_script.h"

namespace tool_script {

namespace {

using model::CDecl;
using model::CMember;
using model::PlacedParam;
using model::Register;
using model::ResultPlace;

const char *const kRegisters[] = {"\"EAX\"", "\"EDX\"", "\"ECX\""};

// Records are appended in place: a program has hundreds of thousands of
// members and parameters.
void AppendText(std::string_view text, json_writer::TextBuffer *out) {
  json_writer::AppendQuoted(text, json_writer::Characters::kAscii, out);
}

void AppendNumber(int64_t value, json_writer::TextBuffer *out) {
  json_writer::AppendInt(value, out);
}

void AppendPlace(const PlacedParam &p, json_writer::TextBuffer *out) {
  if (p.reg == Register::kStack)
    AppendNumber(uint32_t{p.stack_offset + 4}, out);
  else
    *out += kRegisters[static_cast<int>(p.reg)];
}

const char *ResultPlaceText(ResultPlace r) {
  switch (r) {
    case ResultPlace::kEax:
      return "\"EAX\"";
    case ResultPlace::kEdxEax:
      return "\"EDX:EAX\"";
    case ResultPlace::kSt0:
      return "\"ST0\"";
    default:
      return "null";
  }
}

uint32_t ResultSize(ResultPlace r) {
  switch (r) {
    case ResultPlace::kEdxEax:
      return 8;
    case ResultPlace::kSt0:
      return 10;
    case ResultPlace::kNone:
      return 0;
    default:
      return 4;
  }
}

/// The records of one kind, put together in one buffer.
class KindRecords {
 public:
  explicit KindRecords(const char *kind) : kind_(kind) {}
  /// The text to append a record to; End() when it is whole.
  json_writer::TextBuffer &Begin() { return text_; }
  void End() { ends_.push_back(text_.size()); }
  void MoveTo(ScriptTypes *out) {
    if (!ends_.empty())
      out->records.push_back({kind_, std::string(text_.text()), std::move(ends_)});
  }

 private:
  const char *kind_;
  json_writer::TextBuffer text_;
  std::vector<size_t> ends_;
};

void AppendTypeRecord(const CDecl &d, json_writer::TextBuffer &r) {
  if (d.kind == CDecl::kTypedef) {
    r += "[\"typedef\", ";
    AppendText(d.name, &r);
    r += ", ";
    AppendText(d.target, &r);
    r += ", ";
    AppendNumber(d.count, &r);
    r += ']';
    return;
  }
  r += "[\"enum\", ";
  AppendText(d.name, &r);
  r += ", ";
  AppendNumber(d.size, &r);
  r += ", [";
  for (size_t i = 0; i < d.values.size(); ++i) {
    r += i == 0 ? "[" : ", [";
    AppendText(d.values[i].first, &r);
    r += ", ";
    AppendNumber(d.values[i].second, &r);
    r += ']';
  }
  r += "]]";
}

}  // namespace

ScriptTypes GhidraTypes(const model::ProgramTypes &types) {
  ScriptTypes out;
  const std::unordered_set<std::string_view> structs(types.structs.begin(),
                                                     types.structs.end());
  std::unordered_set<std::string_view> sized;
  KindRecords gstructs("gstructs");
  for (const CDecl &d : types.decls)
    if (d.kind == CDecl::kStruct) {
      sized.insert(d.name);
      json_writer::TextBuffer &r = gstructs.Begin();
      r += '[';
      AppendText(d.name, &r);
      r += ", ";
      AppendNumber(d.size, &r);
      r += ']';
      gstructs.End();
    }
  gstructs.MoveTo(&out);
  KindRecords gtypes("gtypes");
  for (const CDecl &d : types.decls)
    if (d.kind == CDecl::kTypedef || d.kind == CDecl::kEnum) {
      AppendTypeRecord(d, gtypes.Begin());
      gtypes.End();
    }
  gtypes.MoveTo(&out);
  KindRecords gmembers("gmembers");
  for (const CDecl &d : types.decls) {
    if (d.kind != CDecl::kStruct) continue;
    json_writer::TextBuffer &r = gmembers.Begin();
    r += '[';
    AppendText(d.name, &r);
    r += ", [";
    for (size_t i = 0; i < d.members.size(); ++i) {
      const CMember &m = d.members[i];
      // A structure by value of no known size stays bytes. (A pointer, as
      // most members are, is no structure: it is not looked up.)
      const bool unsized = m.count == 0 && !m.c_type.view().ends_with('*') &&
                           structs.count(m.c_type) != 0 && sized.count(m.c_type) == 0;
      r += i == 0 ? "[" : ", [";
      AppendText(m.name, &r);
      r += ", ";
      AppendNumber(m.offset, &r);
      r += ", ";
      AppendNumber(m.size, &r);
      r += ", ";
      AppendText(unsized ? "uint8_t" : m.c_type, &r);
      r += ", ";
      AppendNumber(unsized ? m.size : m.count, &r);
      r += ']';
    }
    r += "]]";
    gmembers.End();
  }
  gmembers.MoveTo(&out);
  KindRecords gprotos("gprotos");
  for (const model::MethodType &m : types.methods) {
    const model::Prototype &p = m.prototype;
    json_writer::TextBuffer &r = gprotos.Begin();
    r += '[';
    AppendNumber(m.address, &r);
    r += ", [";
    for (size_t i = 0; i < p.params.size(); ++i) {
      const PlacedParam &q = p.params[i];
      r += i == 0 ? "[" : ", [";
      AppendText(q.name, &r);
      r += ", ";
      AppendText(q.c_type, &r);
      r += ", ";
      AppendNumber(q.size, &r);
      r += ", ";
      AppendPlace(q, &r);
      r += ']';
    }
    r += "], ";
    AppendText(p.result == ResultPlace::kNone ? "void" : p.result_type, &r);
    r += ", ";
    AppendNumber(ResultSize(p.result), &r);
    r += ", ";
    r += ResultPlaceText(p.result);
    r += ", ";
    AppendNumber(p.purge, &r);
    r += ']';
    gprotos.End();
  }
  gprotos.MoveTo(&out);
  return out;
}

}  // namespace tool_script
