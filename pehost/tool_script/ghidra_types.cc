// The program's types as records for the Ghidra script. Ghidra reads no C
// here: a structure is its size and members, each a pointer (to a structure
// of the program when it points to one), numbers of its size or a structure
// by value; a prototype is each parameter's register or stack offset (from
// the stack pointer at entry, where the return address is at 0), the
// result's register and the bytes the callee removes.
//
//   gstructs  [name, size]
//   gmembers  [name, [[member, offset, size, kind, target], ...]]
//             kind: pointer (target a structure or null), byte word dword
//             qword (arrays when the size is a multiple), struct (target)
//   gprotos   [ea, [[name, size, place, target], ...], result size, result
//             place, purge]  place: "EAX", "EDX", "ECX", "EDX:EAX", "ST0", a
//             stack offset, or null for a procedure's result
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

/// The structure a C type points to, when it is one of the program's.
std::string PointerTarget(const std::string &c_type,
                          const std::set<std::string> &structs) {
  if (c_type.size() < 3 || c_type.compare(c_type.size() - 2, 2, " *") != 0) return "";
  const std::string target = c_type.substr(0, c_type.size() - 2);
  return structs.count(target) != 0 ? target : "";
}

std::string TargetText(const std::string &target) {
  return target.empty() ? "null" : ScriptText(target);
}

/// The kind of a member of `size` bytes, `count` elements of its type.
const char *NumberKind(uint32_t size, uint32_t count) {
  const uint32_t element = count != 0 && size % count == 0 ? size / count : size;
  switch (element) {
    case 2:
      return "word";
    case 4:
      return "dword";
    case 8:
      return "qword";
    default:
      return "byte";
  }
}

std::string MemberRecord(const CMember &m, const std::set<std::string> &structs) {
  std::string kind, target;
  if (!m.c_type.empty() && m.c_type.back() == '*' && m.count == 0) {
    kind = "pointer";
    target = PointerTarget(m.c_type, structs);
  } else if (m.count == 0 && structs.count(m.c_type) != 0) {
    kind = "struct";
    target = m.c_type;
  } else {
    kind = NumberKind(m.size, m.count);
  }
  return "[" + ScriptText(m.name) + ", " + std::to_string(m.offset) + ", " +
         std::to_string(m.size) + ", \"" + kind + "\", " + TargetText(target) + "]";
}

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

}  // namespace

ScriptTypes GhidraTypes(const model::ProgramTypes &types) {
  ScriptTypes out;
  const std::set<std::string> structs(types.structs.begin(), types.structs.end());
  std::map<std::string, uint32_t> sizes;
  for (const CDecl &d : types.decls)
    if (d.kind == CDecl::kStruct) {
      sizes[d.name] = d.size;
      out.records.emplace_back(
          "gstructs", "[" + ScriptText(d.name) + ", " + std::to_string(d.size) + "]");
    }
  for (const CDecl &d : types.decls) {
    if (d.kind != CDecl::kStruct) continue;
    std::string members;
    for (const CMember &m : d.members) {
      // A structure by value of no known size stays bytes.
      CMember copy = m;
      if (copy.count == 0 && structs.count(copy.c_type) != 0 &&
          sizes.count(copy.c_type) == 0)
        copy.c_type = "uint8_t", copy.count = copy.size;
      members += (members.empty() ? "" : ", ") + MemberRecord(copy, structs);
    }
    out.records.emplace_back("gmembers",
                             "[" + ScriptText(d.name) + ", [" + members + "]]");
  }
  for (const model::MethodType &m : types.methods) {
    const model::Prototype &p = m.prototype;
    std::string params;
    for (const PlacedParam &q : p.params)
      params += (params.empty() ? "[" : ", [") + ScriptText(q.name) + ", " +
                std::to_string(q.size) + ", " + Place(q) + ", " +
                TargetText(PointerTarget(q.c_type, structs)) + "]";
    const uint32_t result_size = p.result == ResultPlace::kEdxEax ? 8
                                 : p.result == ResultPlace::kSt0  ? 10
                                 : p.result == ResultPlace::kNone ? 0
                                                                  : 4;
    out.records.emplace_back("gprotos", "[" + std::to_string(m.address) + ", [" + params +
                                            "], " + std::to_string(result_size) + ", " +
                                            ResultPlaceText(p.result) + ", " +
                                            std::to_string(p.purge) + "]");
  }
  return out;
}

}  // namespace tool_script
