// Run-time type information blocks as the linker lays them out behind the
// class records of a unit.
//
// A block starts with its reference cell, a 4-byte cell holding the address
// of the kind byte right behind it; the type's name follows as a short
// string, then the data of its kind. Blocks are aligned to 4 with code
// fillers, so the next block's cell follows on the next boundary. Other
// blocks refer to a type through its cell (the "PPTypeInfo" references); a
// class record refers to the kind byte.
//
// Kinds 18 to 22 come from compilers of 2009 and later. Programs of the
// 88-byte class layout hold what compilers of 2010 and later write: behind
// the classic data of most kinds an attribute block, and more besides (a
// code page, extended property, field and method tables, signatures).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "samples/class_record.h"
#include "samples/image.h"

namespace samples {

enum TypeKind : uint8_t {
  kInteger = 1,
  kChar = 2,
  kEnumeration = 3,
  kFloat = 4,
  kString = 5,
  kSet = 6,
  kClass = 7,
  kMethod = 8,
  kWChar = 9,
  kLString = 10,
  kWString = 11,
  kVariant = 12,
  kArray = 13,
  kRecord = 14,
  kInterface = 15,
  kInt64 = 16,
  kDynArray = 17,
  kUString = 18,
  kClassRef = 19,
  kPointer = 20,
  kProcedure = 21,
  kMRecord = 22,
};

/// The kind's name as the tools show it ("Integer" .. "MRecord").
const char *KindName(uint8_t kind);

struct PropSpec {
  Label type_cell;
  Ref get = Ref::Raw(0);
  Ref set = Ref::Raw(0);
  Ref stored = Ref::Raw(1);
  uint32_t index = 0x80000000;
  uint32_t default_value = 0x80000000;
  uint16_t name_index = 0;
  std::string name;
};

struct ParamSpec {
  uint8_t flags = 0;
  std::string name;
  std::string type_name;
  Label type_cell;  // used by the tail of calling convention and type references
};

/// One entry of an interface type's member list, in the order the readers
/// walk it.
struct IntfMemberSpec {
  std::string name;
  uint16_t index = 0;
  uint8_t kind = 0;
  uint8_t param_count = 0;
  std::string param_name;
  std::string param_type;
  Label param_cell;
  std::string result_type;
  Label result_cell;
};

/// An attribute: the type of the attribute class, its constructor and the
/// constructor's argument bytes.
struct AttributeSpec {
  Label type_cell;
  Label constructor;
  std::vector<uint8_t> args;
};

/// An array property: the indices of its read and write methods.
struct ArrayPropSpec {
  uint8_t flags = 0;
  uint16_t read_index = 0;
  uint16_t write_index = 0;
  std::string name;
};

/// A field of a record as the newer compilers list them all.
struct RecordFieldSpec {
  Label type_cell;
  uint32_t offset = 0;
  uint8_t flags = 2;  // public
  std::string name;
};

/// A method of a record, with its signature.
struct RecordMethodSpec {
  uint8_t flags = 8;
  Label code;
  std::string name;
  std::vector<ParamSpec> params;
  Label result_cell;  // unset: a procedure
};

struct TypeSpec {
  uint8_t kind = kInteger;
  std::string name;
  Label cell;  // bound to the reference cell (the kind byte without one)
  // The oldest compilers write no reference cell: the block starts with its
  // kind byte, and references to it point there.
  bool no_cell = false;

  // Ordinal kinds (1, 2, 3, 6, 9).
  uint8_t ord_type = 4;
  int32_t min_value = 0;
  int32_t max_value = 0;
  Label base;  // enumeration: unset when the type is its own base
  std::vector<std::string> enum_names;
  std::string unit;  // enumeration, class, interface and dynamic array unit name
  Label comp_type;   // set

  uint8_t float_type = 1;
  uint8_t max_length = 255;

  // Class.
  Ref vmt;  // ClassType: the record's first virtual method slot
  Label parent_info;
  uint16_t inherited_props = 0;  // PropCount adds the own ones
  std::vector<PropSpec> props;

  // Method.
  uint8_t method_kind = 0;
  std::vector<ParamSpec> params;
  std::string result_type;
  Label result_cell;
  bool ref_tail = false;  // result type reference, calling convention, parameter types

  // Array.
  uint32_t array_size = 0;
  uint32_t array_count = 0;
  Label element;

  // Record and MRecord.
  uint32_t record_size = 0;
  std::vector<InitEntry> managed_fields;

  // Interface.
  Label intf_parent;
  uint8_t intf_flags = 1;
  Guid guid{};
  uint16_t intf_word0 = 0;
  uint16_t intf_count = 0xFFFF;  // the word the readers call PropCount
  std::vector<IntfMemberSpec> intf_members;
  bool intf_zero_tail = false;  // a closing zero word behind the members

  // Int64.
  int64_t min64 = 0;
  int64_t max64 = 0;

  // Dynamic array.
  uint32_t el_size = 4;
  Label el_type;  // unset: 0
  uint32_t var_type = 0;
  Label el_type2;  // unset: 0

  // ClassRef (the instance type) and Pointer (the type pointed at).
  Label ref_type;
  // Procedure.
  Ref signature = Ref::Raw(0);

  // What compilers of 2010 and later add (programs of the 88-byte layout).
  bool newer = false;
  std::vector<AttributeSpec> attributes;  // the block's own (the class's)
  std::vector<PropSpec> public_props;     // their records follow the block
  std::vector<ArrayPropSpec> array_props;
  std::vector<RecordFieldSpec> record_fields;
  std::vector<RecordMethodSpec> record_methods;
  std::vector<Label> record_ops;  // managed records' operators
  uint8_t calling_convention = 0;
  bool procedure_signature = false;  // a procedure's signature behind its block
};

struct TypeInfoAddrs {
  Addr cell = 0;
  // The property records of a class type: the published ones, then those
  // that follow the block.
  std::vector<Addr> props;
  Addr end = 0;  // first address after the data, before the filler
};

/// Writes one block at the current position (which must be 4-aligned) and
/// aligns behind it.
TypeInfoAddrs WriteTypeInfo(Image &image, const TypeSpec &spec);

}  // namespace samples
