// The sample program's catalogue: its units, each with runs of class records
// followed by type information blocks (a unit may have several such runs)
// and the unit's functions, which the records and blocks point at.
//
// Classes and types are referred to by name; a label is made the first time
// a name is used, so a class may point at a type written further on. Class
// records inherit their parent's standard and virtual method slots, as the
// compiler copies them into every descendant.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "samples/class_record.h"
#include "samples/image.h"
#include "samples/type_info.h"
#include "samples/wide_text.h"
#include "samples/x86_emitter.h"

namespace samples {

struct FunctionSpec {
  Label label;
  FunctionShape shape = FunctionShape::kEmpty;
  std::string name;
  Label callee;
  uint8_t operand = 8;
};

struct GroupSpec {
  std::deque<ClassRecordSpec> classes;
  std::deque<TypeSpec> types;
  // Each written in front of types[first], or behind the last type.
  std::vector<std::pair<size_t, ClassShapedText>> texts;
};

struct UnitSpec {
  std::string name;
  std::deque<GroupSpec> groups;
  std::vector<FunctionSpec> functions;
};

/// A name or comment the database seed gives to an address.
struct SeedRequest {
  Label label;
  int32_t addend = 0;
  std::string text;
  bool is_comment = false;
};

class Catalogue {
 public:
  /// A catalogue of class records with headers of `header_size` bytes.
  explicit Catalogue(Image &image, uint32_t header_size = kClassicHeaderSize);

  uint32_t header_size() const { return header_size_; }
  /// Programs of the oldest layout: no SelfPtr, no cells, direct references.
  bool oldest() const { return header_size_ == kOldestHeaderSize; }
  /// Programs of the 88-byte layout name their units within a scope
  /// ("System.Classes"); the others by the bare name.
  UnitSpec &BeginUnit(const std::string &name, const std::string &scope = "");
  GroupSpec &BeginGroup();
  UnitSpec &unit() { return units_.back(); }
  std::deque<UnitSpec> &units() { return units_; }

  /// A class record in the current group with the parent's slots copied.
  ClassRecordSpec &AddClass(const std::string &name, const std::string &parent,
                            uint32_t instance_size);
  /// A type block in the current group; its cell is the name's label.
  TypeSpec &AddType(uint8_t kind, const std::string &name);

  /// A function of the current unit; `name` is for the manifest only.
  Label Function(const std::string &name, FunctionShape shape, Label callee = Label{},
                 uint8_t operand = 8);
  /// Replaces the standard method `method` ("Destroy"), when the layout has it.
  void OverrideStandard(ClassRecordSpec &c, const std::string &method);
  /// Adds a new virtual method or replaces slot `index` of the inherited ones.
  Label AddVirtual(ClassRecordSpec &c, const std::string &method);
  void OverrideVirtual(ClassRecordSpec &c, size_t index, const std::string &method);

  Label ClassRecord(const std::string &name);
  /// The first virtual method slot of the class `name`, as ClassType holds it.
  Ref Vmt(const std::string &name);
  Label TypeCell(const std::string &name);
  const ClassRecordSpec *FindClass(const std::string &name) const;

  void SeedName(Label label, int32_t addend, const std::string &name);
  void SeedComment(Label label, int32_t addend, const std::string &text);
  const std::vector<SeedRequest> &seeds() const { return seeds_; }

  /// A 4-byte cell in the data section holding `value`, as a package's
  /// import cell holds the address of a class in another module.
  Label DataCell(Ref value);
  const std::vector<std::pair<Label, Ref>> &data_cells() const { return data_cells_; }

  /// The function the program starts at.
  void SetEntry(Label label) { entry_ = label; }
  Label entry() const { return entry_; }

  Image &image() { return image_; }
  /// Two string literals that read as a class record, written in front of
  /// the next type block of the current group.
  void AddClassShapedText(const ClassShapedText &text);

  /// Drops the units written so far; the names stay known.
  void ForgetUnits() {
    units_.clear();
    classes_.clear();
  }

 private:
  struct Inherited {
    std::vector<Label> standard;
    std::vector<Label> virtuals;
  };

  Image &image_;
  uint32_t header_size_;
  std::deque<UnitSpec> units_;
  std::map<std::string, Label> class_labels_;
  std::map<std::string, Label> type_labels_;
  std::map<std::string, Inherited> inherited_;
  std::map<std::string, const ClassRecordSpec *> classes_;
  std::vector<SeedRequest> seeds_;
  std::vector<std::pair<Label, Ref>> data_cells_;
  Label entry_;
};

/// The hand-written units of the sample: the runtime's base classes, the
/// control and form classes, a form and a data module, and units holding
/// every kind and variant of type information.
void AddLibraryUnits(Catalogue &cat);
void AddApplicationUnits(Catalogue &cat);
/// What only programs of the 88-byte layout hold: generic classes, the
/// newer type kinds and string literals that read as class records.
void AddNewerUnits(Catalogue &cat);
/// The program's start code, laid out last as the linker does.
void AddProgramStart(Catalogue &cat);
/// The units of a program of the oldest layout, in place of the library
/// and application units.
void AddOldestUnits(Catalogue &cat);

/// One generated unit for scaled samples: `classes` classes deriving from the
/// library classes, and their types. Deterministic in `index`.
void AddGeneratedUnit(Catalogue &cat, int index, int classes);

}  // namespace samples
