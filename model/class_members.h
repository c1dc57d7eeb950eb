// What programs of the 88-byte layout (2010 and later compilers) say of a
// class beyond its published members: every field with its type (the
// extended field table behind the published fields) and every method with
// its signature (the extended method table behind the published methods,
// whose entries mostly lie behind the class name).
//
// A signature lists each parameter with the place it is passed in: 0, 1
// and 2 for EAX, EDX and ECX, 8 and above for the stack, counted as
// [EBP + n] once the standard frame is set up. Self is listed, and so is a
// function's hidden result parameter (flag pfResult); a constructor's
// hidden flag parameter and an open array's high bound are not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/program_model.h"

namespace model {

constexpr uint8_t kParamVar = 0x01;
constexpr uint8_t kParamConst = 0x02;
constexpr uint8_t kParamArray = 0x04;
constexpr uint8_t kParamAddress = 0x08;
constexpr uint8_t kParamReference = 0x10;
constexpr uint8_t kParamOut = 0x20;
constexpr uint8_t kParamResult = 0x40;

struct ExtendedField {
  std::string name;
  ea_t type_ref = 0;  // a cell holding the type's kind byte address, or 0
  uint32_t offset = 0;
  uint8_t flags = 0;  // visibility in the low bits
};

struct SignatureParam {
  uint8_t flags = 0;
  ea_t type_ref = 0;
  uint16_t location = 0;  // 0, 1, 2: EAX, EDX, ECX; 8 and above: stack
  std::string name;
};

struct Signature {
  uint8_t convention = 0;  // 0 register, 1 cdecl, 2 pascal, 3 stdcall, 4 safecall
  ea_t result_ref = 0;     // 0 for a procedure
  uint16_t par_off = 0;    // the stack parameters' size + 8
  std::vector<SignatureParam> params;
};

struct MethodEntry {
  std::string name;
  ea_t code = 0;
  bool dropped = false;  // the linker left the method out: no code
  bool has_signature = false;
  Signature signature;
  int virtual_index = -1;  // the extended table's slot, -1 for none
};

struct ClassMembers {
  std::vector<ExtendedField> fields;
  std::vector<MethodEntry> methods;
};

/// The extended field and method tables of the class at `record` (empty in
/// other layouts and where a table does not read whole).
ClassMembers ReadClassMembers(const ProgramModel &model, ea_t record);

/// The signature that begins at `at` and must end at `end` (a method
/// entry's end); false when the bytes do not read as one.
bool ReadSignature(ea_t at, ea_t end, Signature *signature);

}  // namespace model
