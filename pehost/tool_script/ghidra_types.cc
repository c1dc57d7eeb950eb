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
#include <map>
#include <set>

#include "pehost/tool_script/script_data.h"
#include "pehost/tool_script/tool_script.h"

namespace tool_script {

namespace {

using model::CDecl;
using model::CMember;
using model::PlacedParam;
using model::Register;
using model::ResultPlace;

const char *const kRegisters[] = {"EAX", "EDX", "ECX"};

std::string Place(const PlacedParam &p) {
  if (p.reg == Register::kStack) return std::to_string(p.stack_offset + 4);
  return std::string("\"") + kRegisters[static_cast<int>(p.reg)] + "\"";
}

std::string ResultPlaceText(ResultPlace r) {
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

std::string TypeRecord(const CDecl &d) {
  if (d.kind == CDecl::kTypedef)
    return "[\"typedef\", " + ScriptText(d.name) + ", " + ScriptText(d.target) + ", " +
           std::to_string(d.count) + "]";
  std::string values;
  for (const auto &[name, value] : d.values)
    values += (values.empty() ? "[" : ", [") + ScriptText(name) + ", " +
              std::to_string(value) + "]";
  return "[\"enum\", " + ScriptText(d.name) + ", " + std::to_string(d.size) + ", [" +
         values + "]]";
}

}  // namespace

ScriptTypes GhidraTypes(const model::ProgramTypes &types) {
  ScriptTypes out;
  const std::set<std::string> structs(types.structs.begin(), types.structs.end());
  std::set<std::string> sized;
  for (const CDecl &d : types.decls)
    if (d.kind == CDecl::kStruct) {
      sized.insert(d.name);
      out.records.emplace_back(
          "gstructs", "[" + ScriptText(d.name) + ", " + std::to_string(d.size) + "]");
    }
  for (const CDecl &d : types.decls)
    if (d.kind == CDecl::kTypedef || d.kind == CDecl::kEnum)
      out.records.emplace_back("gtypes", TypeRecord(d));
  for (const CDecl &d : types.decls) {
    if (d.kind != CDecl::kStruct) continue;
    std::string members;
    for (const CMember &m : d.members) {
      // A structure by value of no known size stays bytes.
      const bool unsized =
          m.count == 0 && structs.count(m.c_type) != 0 && sized.count(m.c_type) == 0;
      members += (members.empty() ? "[" : ", [") + ScriptText(m.name) + ", " +
                 std::to_string(m.offset) + ", " + std::to_string(m.size) + ", " +
                 ScriptText(unsized ? "uint8_t" : m.c_type) + ", " +
                 std::to_string(unsized ? m.size : m.count) + "]";
    }
    out.records.emplace_back("gmembers",
                             "[" + ScriptText(d.name) + ", [" + members + "]]");
  }
  for (const model::MethodType &m : types.methods) {
    const model::Prototype &p = m.prototype;
    std::string params;
    for (const PlacedParam &q : p.params)
      params += (params.empty() ? "[" : ", [") + ScriptText(q.name) + ", " +
                ScriptText(q.c_type) + ", " + std::to_string(q.size) + ", " + Place(q) +
                "]";
    out.records.emplace_back(
        "gprotos",
        "[" + std::to_string(m.address) + ", [" + params + "], " +
            ScriptText(p.result == ResultPlace::kNone ? "void" : p.result_type) + ", " +
            std::to_string(ResultSize(p.result)) + ", " + ResultPlaceText(p.result) +
            ", " + std::to_string(p.purge) + "]");
  }
  return out;
}

}  // namespace tool_script
