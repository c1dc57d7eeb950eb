// The class model of a loaded program: every class record and type
// information block the recognition finds, the class tree, the units, and
// the program's forms with the handler behind each event.
//
// The model is read from the database after the plug-in ran, with the same
// recognition the plug-ins use, so it lists exactly the records they
// annotate. It keeps only an index (addresses, parent links, unit numbers):
// the details of a class or a type (its methods, fields, properties, type
// data) are read from the database when they are written out, which keeps
// the model of a program of hundreds of thousands of classes small.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "detector/core/host_api.h"
#include "detector/core/recognise.h"
#include "model/form_reader.h"
#include "model/resource_directory.h"
#include "model/text_arena.h"

namespace model {

struct ClassEntry {
  ea_t record = 0;
  /// The parent's record when the parent is one of the program's classes.
  ea_t parent = BADADDR;
  /// The reference cell of the class's type information block, if found.
  ea_t type_block = BADADDR;
  uint32_t unit = 0;  // index into ProgramModel::units; 0 when unknown
};

struct TypeEntry {
  ea_t cell = 0;
  uint8_t kind = 0;
};

/// The interface identifier of an interface type, for naming the
/// interfaces a class implements.
struct InterfaceGuid {
  uint8_t bytes[16];
  ea_t cell;
};

struct FormComponent {
  std::string name;
  std::string class_name;
  int depth = 0;  // 0 for the form itself
};

struct FormEvent {
  std::string component;
  std::string event;  // the property, e.g. "OnClick"
  std::string handler;
  ea_t address = BADADDR;  // BADADDR when no published method has that name
};

struct FormEntry {
  Resource resource;
  bool decoded = false;
  std::string error;  // why the form could not be read
  FormObject root;
  ea_t class_record = BADADDR;  // the form's class, when the program has it
  std::vector<FormComponent> components;
  std::vector<FormEvent> events;
};

struct ProgramModel {
  std::string file;  // the program's file name
  int header_size = LAYOUT_CLASSIC;
  ea_t image_base = 0;
  ea_t lowest = 0;
  ea_t highest = 0;
  std::vector<ClassEntry> classes;   // by record address
  std::vector<TypeEntry> types;      // by reference cell
  std::vector<std::string> units;    // units[0] is "" (unknown)
  std::vector<InterfaceGuid> guids;  // by identifier
  std::vector<FormEntry> forms;
  /// One line for each part of the program that could not be read (the
  /// resource directory, a form); none of them stops the model.
  std::vector<std::string> problems;

  const ClassEntry *FindClass(ea_t record) const;
  const TypeEntry *FindType(ea_t cell) const;
  /// The class a class reference leads to: the reference is the address of
  /// a cell holding the class's table address, as the ParentClass field and
  /// field class lists hold; an import cell holding the record's address is
  /// followed as well. Null when it leads to none of the program's classes.
  const ClassEntry *ResolveClassRef(ea_t ref) const;
  /// The name of the type a type reference leads to (the address of a cell
  /// holding the address of the type's kind byte; in the oldest layout the
  /// kind byte's own), or "" for none.
  std::string TypeNameAt(ea_t ref) const;
  /// The name of the type block `t`, "" for none: read once for each of
  /// `types` (the types, the classes' fields and properties and the model's
  /// files each ask for it again), and the model's text while it lives.
  std::string_view TypeName(const TypeEntry &t) const;
  /// ClassName of the class `c` (one of `classes`), read once the same way:
  /// the types, each class's details, its children's and its fields' ask.
  std::string_view ClassNameOf(const ClassEntry &c) const;
  /// The address a type block is known by: its cell, or in the oldest
  /// layout, whose blocks have none, its kind byte.
  ea_t BlockAddress(ea_t cell) const;
  /// The interface type with identifier `guid` (16 bytes), or BADADDR.
  ea_t InterfaceNamed(const uint8_t *guid) const;
  /// DatabaseName(ea) for code that class tables point to, remembered in a
  /// small cache: every class's table repeats its ancestors' methods, and
  /// the types and the model's JSON each read every table. A name is kept
  /// as first asked: the database is not to change while the model is used.
  /// The text is the model's and stays while the model lives: a class's
  /// details refer to it rather than copy it for every slot.
  std::string_view CodeName(ea_t ea) const;

 private:
  struct NameSlot {
    bool used = false;
    ea_t ea = 0;
    std::string_view name;
  };
  mutable std::vector<NameSlot> code_names_;
  // The names the cache has held, each kept once it is read (a name read
  // again after its slot was taken is kept again).
  mutable TextArena code_name_texts_{4096};
  // The names of the types and classes by their places in `types` and
  // `classes`; a name not read yet has no data. Their texts are kept apart.
  mutable std::vector<std::string_view> type_names_;
  mutable std::vector<std::string_view> class_names_;
  mutable TextArena name_texts_{4096};
};

/// Builds the model of the program in the kernel's database. Decides the
/// class layout first, as the plug-ins do.
ProgramModel BuildModel();

/// The class name of the record at `record` ("" when unreadable).
std::string ClassName(ea_t record);
/// The short string at `ea` when it is a name as the recognition accepts
/// names, else "".
std::string NameAt(ea_t ea);
/// The short string at `ea` whatever its bytes, as UTF-8 (TextFromBytes).
std::string ShortStringAt(ea_t ea);
/// The name the database gives `ea` (a given name, else its dummy name), or
/// "" for none.
std::string DatabaseName(ea_t ea);

}  // namespace model
