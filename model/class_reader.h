// The details of one class, read from its record and tables in the
// database: the header fields, the virtual method slots (the standard ones
// in front of the table at negative slots), the dynamic, published method
// and published field tables, the implemented interfaces, and the published
// properties of its class type block.
//
// Every table is read only as far as it lies in the record's segment; a
// count that claims more stops at the segment's end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/program_model.h"

namespace model {

struct VirtualMethod {
  int slot = 0;  // negative for the standard methods in front of the table
  ea_t address = 0;
  std::string_view name;  // the database's name for the code, "" for none (the
                          // model's text)
  const char *standard;   // "Destroy", ... for a standard slot, else null
};

struct DynamicMethod {
  uint16_t index = 0;
  ea_t address = 0;
  std::string_view name;  // the database's name (the model's text)
};

struct PublishedMethod {
  std::string name;
  ea_t address = 0;
};

struct PublishedField {
  std::string name;
  uint32_t offset = 0;
  std::string class_name;  // "" when the class list does not lead to a class
};

/// How a property accessor reaches the value.
struct Accessor {
  enum Kind { kNone, kField, kStatic, kVirtual, kConstant };
  Kind kind = kNone;
  int64_t value = 0;  // field offset, code address, slot, or the constant
};

struct Property {
  std::string name;
  std::string type;
  Accessor read, write, stored;
  bool has_index = false;
  int32_t index = 0;
  bool has_default = false;
  int32_t default_value = 0;
  uint16_t name_index = 0;
};

struct ImplementedInterface {
  std::string guid;  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  std::string name;  // the interface type's name, "" when not found
  ea_t table = 0;    // its method slot table
  uint32_t offset = 0;
};

struct ClassDetails {
  std::string name;
  std::string unit;
  ea_t record = 0;
  ea_t vmt = 0;
  uint32_t instance_size = 0;
  ea_t parent = BADADDR;  // the parent's record when it is a class of the program
  std::string parent_name;
  ea_t type_block = BADADDR;
  ea_t interface_table = 0, init_table = 0, field_table = 0, method_table = 0,
       dynamic_table = 0;
  std::vector<VirtualMethod> virtual_methods;
  std::vector<DynamicMethod> dynamic_methods;
  std::vector<PublishedMethod> published_methods;
  std::vector<PublishedField> published_fields;
  std::vector<Property> properties;
  std::vector<ImplementedInterface> interfaces;
};

/// The class's details; without `methods` the virtual and dynamic methods
/// are left empty (a name for each slot's code is most of the reading).
ClassDetails ReadClass(const ProgramModel &model, const ClassEntry &entry,
                       bool methods = true);

/// The published methods of the class at `record` alone (not its
/// ancestors'), read from its method table.
std::vector<PublishedMethod> ReadPublishedMethods(ea_t record);

/// Accessor decoding of a property's GetProc, SetProc or StoredProc value.
Accessor DecodeAccessor(uint32_t value, bool stored);

}  // namespace model
