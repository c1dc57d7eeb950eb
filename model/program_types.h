// The program's types as C declarations: the one place that turns the
// class model into types, which the C header, the model's files and the
// tools' scripts all write out.
//
// - Every type information block that describes a value becomes a typedef
//   of a C type of its size (ordinals by their ordinal type, real numbers,
//   strings as character pointers, sets as masks), an enumeration (with the
//   width of its ordinal type) or a structure (a record: its fields at their
//   offsets where the program lists them, else opaque bytes).
// - Every class becomes an instance structure and a method table
//   structure. The instance structure holds the pointer to the class's own
//   method table structure, then the fields of the class and all its
//   ancestors copied down by offset, padding arrays for the bytes no table
//   describes, and in programs of the 88-byte layout the hidden monitor
//   field in the last 4 bytes when no field of a descendant took them; its
//   size is exactly InstanceSize. The method table structure starts at the
//   first virtual slot, where an object's first field points, with one
//   function pointer per slot named after the slot's method ("VirtualSlotN"
//   when no type data names it, the same in every class that has the slot).
//   The header in front of the table is a structure of its own.
// - Every method with code gets a prototype (from its signature, from the
//   event it handles, or Self alone).
//
// Structures are packed: each member sits at the offset it is declared
// for. Type data that cannot be laid out (a field that overlaps another or
// runs past the instance, a record that contains itself, a parent chain
// that loops, a parameter place outside the declared stack) is left out
// with one line in `problems`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/class_reader.h"
#include "model/program_model.h"
#include "model/prototype.h"
#include "model/type_text.h"

namespace model {

/// A structure's member. Its texts are literals or kept in the types'
/// `texts`: the members a class inherits refer to its ancestors' texts.
struct CMember {
  TypeText name;
  TypeText c_type;     // the element type when `count` is not 0
  uint32_t count = 0;  // an array of this many, or 0 for a single value
  uint32_t offset = 0;
  uint32_t size = 0;
  TypeText comment;      // the Delphi name and type
  bool guessed = false;  // bytes up to the next field: the type's size is unknown
};

/// A declaration. Its name and comment, like its members' texts, are
/// literals or kept in the types' `texts`.
struct CDecl {
  enum Kind { kTypedef, kEnum, kStruct, kFunction };
  Kind kind = kTypedef;
  TypeText name;
  TypeText comment;
  uint32_t size = 0;
  std::string target;  // typedef: the type it names (its element when `count`)
  uint32_t count = 0;
  std::vector<std::pair<std::string, int64_t>> values;  // enumeration values
  std::vector<CMember> members;                         // structure members
  size_t method = 0;  // a function type: its index in ProgramTypes::methods
};

/// A field a class declares, from its published or extended field table.
struct FieldType {
  std::string name;
  std::string type;  // the Delphi type's name, "" when unknown
  uint32_t offset = 0;
  std::string c_type;
  uint32_t size = 0;  // 0 when the type's size is unknown
};

struct ClassTypes {
  ea_t record = 0;
  std::string name;  // the instance structure; its method table is name + "_VMT"
  std::vector<FieldType> fields;
  /// The class as the types read it from its record and tables, kept for
  /// the class model's files, which would read it again otherwise.
  ClassDetails details;
};

/// A prototype for one function of the program. Its texts are kept in the
/// types' `texts`.
struct MethodType {
  ea_t address = 0;
  ea_t class_record = 0;  // the class the method is of
  TypeText method;        // its Delphi name
  TypeText name;          // C identifier, e.g. TForm1_Button1Click
  TypeText pascal;        // "procedure TForm1.Button1Click(Sender: TObject);"
  TypeText source;        // "signature", "event" or "self"
  TypeText type_name;     // the function type's identifier
  Prototype prototype;
};

struct ProgramTypes {
  int header_size = 76;
  /// Structures, enumerations and typedefs in an order in which each is
  /// declared before a declaration uses it by value or by name; every
  /// structure is also declared ahead (`struct X;`) so that pointers to it
  /// can come first.
  std::vector<CDecl> decls;
  std::vector<std::string> structs;  // every structure's name
  std::vector<MethodType> methods;   // by address
  /// Per class, in the order of the model's classes: its structures' name,
  /// its own fields and its details.
  std::vector<ClassTypes> classes;
  std::vector<std::string> problems;
  /// The texts of the declarations, members and methods but literals.
  TypeTexts texts;
};

/// Builds the types of the program in the kernel's database. Without
/// `declarations` (the class model and the report need none) `decls` stays
/// empty and the instance structures are dropped as soon as every subclass
/// has copied them; the methods, classes, structure names and problems are
/// the same either way.
ProgramTypes BuildTypes(const ProgramModel &model, bool declarations = true);

/// The method table structure of a class's instance structure `name`.
std::string VmtStructName(const std::string &name);

}  // namespace model
