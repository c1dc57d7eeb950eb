// Where a method's parameters and result travel, in the register
// convention of 32-bit Delphi programs: the first three parameters that fit
// a register go in EAX, EDX and ECX, left to right; the rest are pushed left
// to right, so the first of them sits highest; the callee removes them.
// Real numbers, Int64 values, method pointers, Variants and values larger
// than a register take the stack. An ordinal result comes back in EAX, an
// Int64 in EDX:EAX, a real number in ST0; a string, dynamic array,
// interface, Variant, method pointer or large record comes back through a
// hidden pointer parameter behind the declared ones.
//
// Programs of 2010 and later compilers record each parameter's place in
// the method's signature: then the places are taken as recorded, and the
// stack the callee removes is the signature's total, not a sum of guesses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/class_members.h"

namespace model {

/// What placement needs of a parameter's or a result's type.
struct ArgType {
  enum Class { kOrdinal, kReal, kInt64, kMethodPointer, kManaged, kStructure };
  std::string c_type = "uint32_t";
  uint32_t size = 4;
  Class cls = kOrdinal;
};

/// A parameter as the method's type data or event type lists it.
struct DeclaredParam {
  std::string name;
  uint8_t flags = 0;  // kParamVar, kParamConst, ...
  ArgType type;
};

enum class Register { kEax = 0, kEdx = 1, kEcx = 2, kStack = 3 };
enum class ResultPlace { kNone, kEax, kEdxEax, kSt0 };

struct PlacedParam {
  std::string name;
  std::string c_type;
  uint32_t size = 4;
  Register reg = Register::kEax;
  uint32_t stack_offset = 0;  // from the first stack argument (the lowest)
  bool hidden = false;        // a placeholder the type data does not list
};

struct Prototype {
  std::vector<PlacedParam> params;
  std::string result_type = "void";
  ResultPlace result = ResultPlace::kNone;
  uint32_t purge = 0;  // stack bytes the callee removes
};

/// Self, then `params`, then a function's hidden result, placed by the
/// register convention. `result` is null for a procedure.
Prototype PlaceByConvention(const PlacedParam &self,
                            const std::vector<DeclaredParam> &params,
                            const ArgType *result);

/// The places a signature records. `types` holds each listed parameter's
/// type, `result` the result's (null for a procedure). False with one line
/// in *problem when a place lies outside the stack the signature declares
/// or two parameters share one.
bool PlaceFromSignature(const Signature &signature, const std::vector<ArgType> &types,
                        const ArgType *result, Prototype *out, std::string *problem);

}  // namespace model
