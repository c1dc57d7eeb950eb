// The facts of one type information block, read from its type data: the
// range of an ordinal, the values of an enumeration, the element of a set or
// an array, the parameters of a method type, the fields of a record, the
// identifier of an interface, and so on.
//
// The type data is read as the program's layout lays it out; where the
// newest layout adds parts whose shape is not certain (the extended record
// fields), they are taken only when every part of them reads as it should.
// Every read stays in the block's segment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/program_model.h"

namespace model {

struct MethodParam {
  uint8_t flags = 0;
  std::string name;
  std::string type;
};

struct RecordField {
  std::string name;  // "" for the managed fields of the classic part
  std::string type;
  uint32_t offset = 0;
};

struct TypeDetails {
  ea_t cell = 0;
  uint8_t kind = 0;
  std::string name;
  std::string unit;  // "" when the block holds none

  // Ordinals (Integer, Char, WChar, Enumeration, Set) and Int64.
  int ord_type = -1;  // -1: not read
  bool has_range = false;
  int64_t min = 0, max = 0;
  std::string base;                 // an enumeration's base when it is another type
  std::vector<std::string> values;  // an enumeration's names

  // Set, Array, DynArray, ClassRef and Pointer: the type they are made of.
  std::string element;
  int float_type = -1;
  int max_length = -1;  // ShortString

  // Class and Interface.
  ea_t class_record = BADADDR;
  std::string parent;
  int property_count = -1;
  std::string guid;
  int flags = -1;

  // Method.
  int method_kind = -1;
  std::vector<MethodParam> params;
  std::string result;

  // Record, Array and DynArray.
  int64_t size = -1;   // record size, array size, element size
  int64_t count = -1;  // array elements
  std::vector<RecordField> fields;
  int64_t var_type = -1;

  int code_page = -1;  // LString of the newest layout
  ea_t signature = 0;  // Procedure
};

TypeDetails ReadType(const ProgramModel &model, const TypeEntry &entry);

/// "otSByte" ... "otULong"; null outside 0 to 5.
const char *OrdTypeName(int ord_type);
/// "ftSingle" ... "ftCurr"; null outside 0 to 4.
const char *FloatTypeName(int float_type);
/// "mkProcedure" ... "mkSafeFunction", and in programs of the 88-byte
/// layout (`header_size`) also "mkClassConstructor" ... "mkOperatorOverload";
/// null for any other kind.
const char *MethodKindName(int method_kind, int header_size);
/// The names of the bits of a parameter's flags: "pfVar", "pfConst", ...,
/// "pfOut", and "pfResult" in programs of the 88-byte layout; a bit without
/// a name as its value in hex ("0x80").
std::vector<std::string> ParamFlagNames(uint8_t flags, int header_size);

}  // namespace model
