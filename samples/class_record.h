// Class records as the linker lays them out in the code section.
//
// A record starts with a header of 4-byte fields: SelfPtr, the five table
// pointers around the always-empty AutoTable, TypeInfo, ClassName,
// InstanceSize and ParentClass (44 bytes in every compiler generation), then
// the standard virtual methods, five, eight or eleven of them as the
// compiler's generation has it, for a header of 64, 76 or 88 bytes. The
// class's own virtual method slots follow; SelfPtr holds the address of the
// first one. Behind the slots come the class's sub-tables, each only
// when the class has it, in this order: init table, published method table,
// dynamic method table, published field table with its field class list,
// and last the class name as a short string, aligned with code fillers. The
// next record of a run starts right there.
// The oldest compilers wrote neither SelfPtr nor the interface table, and
// four standard methods (a 52-byte header); their references are direct: a
// parent and a field's class by their tables, a type by its kind byte.
//
// Interface tables come before the run of records they belong to, each
// behind the method slot tables of its interfaces: nothing between a
// record's slots and its name may stop the walk from one record to the next.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "samples/image.h"

namespace samples {

/// A 4-byte value that is either a label's address plus an addend or a
/// plain number.
struct Ref {
  Label label;
  int32_t addend = 0;
  uint32_t raw = 0;

  static Ref To(Label l, int32_t add = 0) { return Ref{l, add, 0}; }
  static Ref Raw(uint32_t v) { return Ref{Label{}, 0, v}; }
  void Put(Image &image) const;
};

using Guid = std::array<uint8_t, 16>;

struct InterfaceEntry {
  Guid guid{};
  std::vector<Label> methods;  // the interface's method slot table
  uint32_t ioffset = 0;        // offset of the interface field in the object
  Ref getter = Ref::Raw(0);
};

struct InitEntry {
  Label type_cell;  // reference cell of the field's type information
  uint32_t offset = 0;
};

struct PublishedMethod {
  Label code;
  std::string name;
};

struct DynamicMethod {
  uint16_t index = 0;
  Label code;
};

struct PublishedField {
  uint32_t offset = 0;
  uint16_t class_index = 0;
  std::string name;
};

/// A field of the extended field table (88-byte layout): every field with
/// its type, published or not.
struct ExtendedFieldSpec {
  uint8_t flags = 0;  // visibility
  Label type_cell;
  uint32_t offset = 0;
  std::string name;
};

/// A parameter of a method entry's signature, at the place it is passed
/// in: 0, 1, 2 for EAX, EDX, ECX, 8 and above for the stack.
struct SignatureParamSpec {
  uint8_t flags = 0;
  Label type_cell;  // none for a class method's Self
  uint16_t location = 0;
  std::string name;
};

/// A method of the extended method table, its entry (code, name and
/// signature) written behind the class name.
struct MethodEntrySpec {
  Label code;
  std::string name;
  uint8_t convention = 0;
  Label result_cell;     // none for a procedure
  uint16_t par_off = 8;  // the stack parameters' size + 8
  std::vector<SignatureParamSpec> params;
  int16_t virtual_index = -1;
};

/// The header fields up to and including ParentClass.
constexpr uint32_t kTableFieldsSize = 44;
/// The header of the classic layout; 52, 64 and 88 are the others.
constexpr uint32_t kClassicHeaderSize = 76;
/// The header of the oldest layout, which has no SelfPtr and no IntfTable.
constexpr uint32_t kOldestHeaderSize = 52;
/// The fields the oldest layout lacks in front of AutoTable.
constexpr uint32_t kOldestMissing = 8;

/// The standard virtual methods behind ParentClass in a header of
/// `header_size` bytes, in slot order; empty for a size no compiler uses.
const std::vector<std::string> &StandardMethods(uint32_t header_size);

struct ClassRecordSpec {
  std::string name;
  Label record;  // bound to the record's first byte by the writer
  uint32_t instance_size = 4;
  Ref parent = Ref::Raw(0);     // the parent's record (its SelfPtr field), or 0
  Label type_cell;              // reference cell of the class type block, if any
  std::vector<Label> standard;  // one per StandardMethods() name of the layout
  std::vector<Label> virtual_methods;
  std::vector<InterfaceEntry> interfaces;
  bool init_table = false;
  std::vector<InitEntry> init_entries;
  std::vector<PublishedMethod> methods;
  std::vector<DynamicMethod> dynamics;
  std::vector<PublishedField> fields;
  std::vector<Label> field_classes;  // records of the fields' classes
  // When not 0, the field table's class list pointer holds this value and no
  // list is written: a table of another compiler's layout, read as this one.
  uint32_t foreign_class_list = 0;
  // A record of the oldest layout: no SelfPtr or IntfTable, direct references.
  bool oldest = false;
  // The newest layout's extended tables, written only when not empty.
  std::vector<ExtendedFieldSpec> extended_fields;
  std::vector<MethodEntrySpec> extended_methods;
  // Has the shape of a record but links to no class (the oldest layout's
  // decoys); the plug-ins must pass over it.
  bool decoy = false;
};

/// Where the writer put a record and its tables; 0 for a table the class lacks.
struct ClassRecordAddrs {
  Addr record = 0;
  Addr vmt = 0;
  Addr intf_table = 0;
  Addr init_table = 0;
  Addr method_table = 0;
  Addr dynamic_table = 0;
  Addr field_table = 0;
  Addr field_class_list = 0;
  Addr class_name = 0;
  Addr end = 0;  // where the next record of a run starts
};

/// The header size of a record: the table fields and the standard slots.
inline uint32_t HeaderSize(const ClassRecordSpec &spec) {
  return kTableFieldsSize - (spec.oldest ? kOldestMissing : 0) +
         4 * static_cast<uint32_t>(spec.standard.size());
}

/// Writes the interface table of `spec` (nothing when it has no interfaces)
/// and returns its address, or 0.
Addr WriteInterfaceTable(Image &image, const ClassRecordSpec &spec);

/// Writes the record and its other tables; `intf_table` is the address the
/// interface table was written at, or 0.
ClassRecordAddrs WriteClassRecord(Image &image, const ClassRecordSpec &spec,
                                  Addr intf_table = 0);

}  // namespace samples
