#include "model/prototype.h"

#include <algorithm>
#include <map>

namespace model {

namespace {

constexpr uint8_t kByReference = kParamVar | kParamOut | kParamReference | kParamArray;
constexpr uint8_t kConventionCdecl = 1;
constexpr uint16_t kFirstStackPlace = 8;

uint32_t RoundUp4(uint32_t n) { return (n + 3) & ~3u; }

std::string PointerTo(const std::string &c_type) { return c_type + " *"; }

/// A hidden result comes back through a pointer behind the declared
/// parameters.
bool ResultIsHidden(const ArgType &t) {
  return t.cls == ArgType::kManaged || t.cls == ArgType::kMethodPointer ||
         (t.cls == ArgType::kStructure && t.size > 4);
}

ResultPlace ResultPlaceOf(const ArgType &t) {
  switch (t.cls) {
    case ArgType::kReal:
      return ResultPlace::kSt0;
    case ArgType::kInt64:
      return ResultPlace::kEdxEax;
    default:
      return ResultPlace::kEax;
  }
}

PlacedParam Hidden(Register reg, uint32_t stack_offset, int n) {
  PlacedParam p;
  p.name = "_Hidden" + std::to_string(n);
  p.c_type = "uint32_t";
  p.reg = reg;
  p.stack_offset = stack_offset;
  p.hidden = true;
  return p;
}

}  // namespace

Prototype PlaceByConvention(const PlacedParam &self,
                            const std::vector<DeclaredParam> &params,
                            const ArgType *result) {
  Prototype out;
  std::vector<PlacedParam> placed;
  PlacedParam s = self;
  s.reg = Register::kEax;
  s.size = 4;
  placed.push_back(s);
  int next_reg = 1;
  std::vector<PlacedParam *> on_stack;
  auto place = [&](PlacedParam p, bool qualifies) {
    if (qualifies && next_reg <= 2) {
      p.reg = static_cast<Register>(next_reg++);
      p.size = 4;
      placed.push_back(p);
    } else {
      p.reg = Register::kStack;
      placed.push_back(p);
    }
  };
  for (const DeclaredParam &d : params) {
    PlacedParam p;
    p.name = d.name;
    const bool large_const = (d.flags & kParamConst) != 0 &&
                             d.type.cls == ArgType::kStructure && d.type.size > 4;
    if ((d.flags & kByReference) != 0 || large_const) {
      p.c_type = PointerTo(d.type.c_type);
      place(p, true);
      continue;
    }
    p.c_type = d.type.c_type;
    p.size = RoundUp4(d.type.size);
    const bool qualifies = d.type.size <= 4 && d.type.cls != ArgType::kReal &&
                           d.type.cls != ArgType::kMethodPointer &&
                           d.type.cls != ArgType::kInt64;
    place(p, qualifies);
  }
  if (result != nullptr && ResultIsHidden(*result)) {
    PlacedParam r;
    r.name = "Result";
    r.c_type = PointerTo(result->c_type);
    place(r, true);
  } else if (result != nullptr) {
    out.result_type = result->c_type;
    out.result = ResultPlaceOf(*result);
  }
  // Pushed left to right: the last one pushed lies lowest, at offset 0.
  uint32_t total = 0;
  for (const PlacedParam &p : placed)
    if (p.reg == Register::kStack) total += p.size;
  uint32_t top = total;
  for (PlacedParam &p : placed) {
    if (p.reg != Register::kStack) continue;
    top -= p.size;
    p.stack_offset = top;
  }
  out.params = std::move(placed);
  out.purge = total;
  return out;
}

bool PlaceFromSignature(const Signature &signature, const std::vector<ArgType> &types,
                        const ArgType *result, Prototype *out, std::string *problem) {
  if (signature.par_off < kFirstStackPlace) {
    *problem = "stack total " + std::to_string(signature.par_off) + " is below 8";
    return false;
  }
  // Parameters are pushed as words of four bytes: a total or a place off
  // that grid comes from spoilt bytes, and a parameter placed there would
  // overlap its neighbour or reach past the stack the callee removes.
  if (signature.par_off % 4 != 0) {
    *problem =
        "stack total " + std::to_string(signature.par_off) + " is not a multiple of 4";
    return false;
  }
  const uint32_t stack = signature.par_off - kFirstStackPlace;
  Prototype proto;
  bool hidden_result = false;
  bool registers[3] = {false, false, false};
  std::map<uint32_t, size_t> by_offset;  // stack offset -> index in proto.params
  for (size_t i = 0; i < signature.params.size(); ++i) {
    const SignatureParam &sp = signature.params[i];
    const ArgType &t = types[i];
    PlacedParam p;
    const bool result_param = (sp.flags & kParamResult) != 0;
    hidden_result |= result_param;
    p.name = result_param ? "Result" : sp.name;
    const bool by_reference = result_param || (sp.flags & kByReference) != 0;
    p.c_type = by_reference ? PointerTo(t.c_type) : t.c_type;
    if (sp.location < 3) {
      if (registers[sp.location]) {
        *problem = "two parameters in one register (" + sp.name + ")";
        return false;
      }
      registers[sp.location] = true;
      p.reg = static_cast<Register>(sp.location);
      p.size = 4;
    } else if (sp.location < kFirstStackPlace ||
               uint32_t{sp.location} - kFirstStackPlace >= stack) {
      *problem = "parameter " + sp.name + " at place " + std::to_string(sp.location) +
                 " outside the " + std::to_string(stack) + " bytes of stack declared";
      return false;
    } else if (sp.location % 4 != 0) {
      *problem = "parameter " + sp.name + " at place " + std::to_string(sp.location) +
                 " is not a multiple of 4";
      return false;
    } else {
      p.reg = Register::kStack;
      p.stack_offset = sp.location - kFirstStackPlace;
      p.size = by_reference || t.size == 0 ? 4 : RoundUp4(t.size);
      if (!by_reference) p.c_type = t.c_type;
      if (!by_offset.emplace(p.stack_offset, proto.params.size()).second) {
        *problem = "two parameters at one stack place (" + sp.name + ")";
        return false;
      }
    }
    proto.params.push_back(std::move(p));
  }
  // Each stack parameter keeps its own width up to the next one; words no
  // entry lists (an open array's high bound) get placeholders, so the
  // places of the rest stay right.
  int hidden = 0;
  uint32_t covered = 0;
  std::vector<PlacedParam> fillers;
  for (auto it = by_offset.begin(); it != by_offset.end(); ++it) {
    PlacedParam &p = proto.params[it->second];
    for (; covered < p.stack_offset; covered += 4)
      fillers.push_back(Hidden(Register::kStack, covered, ++hidden));
    const auto next = std::next(it);
    const uint32_t room =
        (next == by_offset.end() ? stack : next->first) - p.stack_offset;
    if (p.size > room) {
      // The type is wider than the place the signature leaves it.
      p.size = room;
      p.c_type = room == 8 ? "uint64_t" : "uint32_t";
      if (room != 4 && room != 8) p.size = 4;
    }
    covered = p.stack_offset + p.size;
  }
  for (; covered + 4 <= stack; covered += 4)
    fillers.push_back(Hidden(Register::kStack, covered, ++hidden));
  // A register left out below a used one holds a parameter no entry lists:
  // a constructor's flag in EDX.
  if (!registers[1] && registers[2]) {
    auto ecx = std::find_if(proto.params.begin(), proto.params.end(),
                            [](const PlacedParam &p) { return p.reg == Register::kEcx; });
    proto.params.insert(ecx, Hidden(Register::kEdx, 0, ++hidden));
  }
  proto.params.insert(proto.params.end(), fillers.begin(), fillers.end());
  if (result != nullptr && !hidden_result) {
    proto.result_type = result->c_type;
    proto.result = ResultPlaceOf(*result);
  }
  proto.purge = signature.convention == kConventionCdecl ? 0 : stack;
  *out = std::move(proto);
  return true;
}

}  // namespace model
