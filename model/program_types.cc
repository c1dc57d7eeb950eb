#include "model/program_types.h"

#include <strings.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "detector/core/recognise.h"
#include "host/kernel/addr_map.h"
#include "model/c_names.h"
#include "model/class_members.h"
#include "model/class_reader.h"
#include "model/name_set.h"
#include "model/text_encoding.h"
#include "model/type_reader.h"

namespace model {

namespace {

constexpr uint32_t kMaxInstanceSize = 1u << 24;
constexpr uint32_t kMaxValueSize = 1u << 24;
constexpr int kOrdULong = 5;

const char *const kOrdinalTypes[] = {"int8_t",   "uint8_t", "int16_t",
                                     "uint16_t", "int32_t", "uint32_t"};
const char *const kFloatTypes[] = {"float", "double", "Pas_Extended", "int64_t",
                                   "int64_t"};
const uint32_t kFloatSizes[] = {4, 8, 10, 8, 8};

/// Digits of a number written into a buffer of the caller's, with no
/// string of their own: a padding member's or a slot's name takes one,
/// thousands in a large program.
class Digits {
 public:
  /// `v` in upper-case hex digits, as "%X" writes it.
  static Digits Hex(uint32_t v) {
    Digits d;
    do {
      d.text_[--d.start_] = "0123456789ABCDEF"[v & 0xF];
      v >>= 4;
    } while (v != 0);
    return d;
  }
  static Digits Decimal(uint32_t v) {
    Digits d;
    do {
      d.text_[--d.start_] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    return d;
  }
  std::string_view view() const { return {text_ + start_, sizeof text_ - start_}; }
  operator std::string_view() const { return view(); }

 private:
  char text_[10];
  size_t start_ = sizeof text_;
};

std::string Hex(uint32_t v) { return std::string(Digits::Hex(v).view()); }

/// `text` with `tag` and `v` in hex behind it, kept in `texts`.
TypeText KeepTagged(TypeTexts *texts, std::string_view text, std::string_view tag,
                    uint32_t v) {
  return texts->KeepJoined({text, tag, Digits::Hex(v)});
}

ArgType Unknown() {
  ArgType t;
  t.size = 0;
  return t;
}

ArgType Scalar(const std::string &c_type, uint32_t size, ArgType::Class cls) {
  ArgType t;
  t.c_type = c_type;
  t.size = size;
  t.cls = cls;
  return t;
}

/// Lays members out at their offsets in a structure of `size` bytes,
/// filling the gaps with byte arrays; members that overlap an earlier one
/// or run past the end are left out, each with a problem line.
class StructLayout {
 public:
  /// In a record, fields that overlap are the cases of a variant part: the
  /// first case is kept and the rest left out without a word.
  StructLayout(std::string_view owner, uint32_t size, std::vector<std::string> *problems,
               TypeTexts *texts, bool variant_parts = false)
      : owner_(owner),
        size_(size),
        problems_(problems),
        texts_(texts),
        variant_parts_(variant_parts) {}

  void Add(CMember m) {
    if (m.offset < at_) {
      if (variant_parts_) return;
      problems_->push_back(std::string(owner_) + ": field " +
                           std::string(m.comment.view()) + " at offset 0x" +
                           Hex(m.offset) + " overlaps another; left out");
      return;
    }
    if (variant_parts_ && m.offset == size_) return;  // an open part behind the record
    if (m.size > size_ || m.offset > size_ - m.size) {
      problems_->push_back(std::string(owner_) + ": field " +
                           std::string(m.comment.view()) + " at offset 0x" +
                           Hex(m.offset) + " runs past the size 0x" + Hex(size_) +
                           "; left out");
      return;
    }
    if (!names_.Insert(m.name)) m.name = KeepTagged(texts_, m.name, "_O", m.offset);
    PadTo(m.offset);
    at_ = m.offset + m.size;
    members_.push_back(m);
  }
  uint32_t at() const { return at_; }
  std::vector<CMember> Finish() {
    PadTo(size_);
    return std::move(members_);
  }

 private:
  void PadTo(uint32_t offset) {
    if (offset <= at_) return;
    CMember pad;
    pad.name = KeepTagged(texts_, "", "_Pad", at_);
    pad.c_type = "uint8_t";
    pad.count = offset - at_;
    pad.offset = at_;
    pad.size = offset - at_;
    members_.push_back(pad);
    at_ = offset;
  }

  std::string_view owner_;  // the caller's, for the problem lines
  uint32_t size_;
  uint32_t at_ = 0;
  std::vector<std::string> *problems_;
  TypeTexts *texts_;
  bool variant_parts_;
  NameSet names_;  // every member's own name: a class repeats its ancestors'
  std::vector<CMember> members_;
};

/// Names and what each names, looked up by name once all are in: sorted
/// then, rather than kept in a tree with a node and a string for each. A
/// name's first entry is the first given.
template <typename T>
class ByName {
 public:
  using Entry = std::pair<std::string, T>;
  using Iterator = typename std::vector<Entry>::const_iterator;

  void emplace(std::string name, T value) {
    entries_.emplace_back(std::move(name), value);
  }
  /// Once every name is in.
  void Sort() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry &a, const Entry &b) { return a.first < b.first; });
  }
  Iterator find(std::string_view name) const {
    auto it = std::lower_bound(
        entries_.begin(), entries_.end(), name,
        [](const Entry &e, std::string_view n) { return std::string_view(e.first) < n; });
    return it != entries_.end() && it->first == name ? it : entries_.end();
  }
  Iterator end() const { return entries_.end(); }

 private:
  std::vector<Entry> entries_;
};

struct ClassInfo {
  const ClassEntry *entry = nullptr;
  std::string name;  // C identifier of the instance structure
  std::unique_ptr<ClassDetails> details;
  ClassMembers members;
  bool laid_out = false;
  bool in_progress = false;
  size_t instance = 0;         // its instance structure in Builder::instances_
  size_t unread_children = 0;  // classes still to copy its members down
  // Per virtual slot its method's name and that name as a C identifier,
  // kept in the types' texts: a class starts from its parent's.
  std::vector<TypeText> slot_names;
  std::vector<TypeText> slot_idents;
};

class Builder {
 public:
  Builder(const ProgramModel &model, bool declarations)
      : model_(model), declarations_(declarations) {
    out_.header_size = model.header_size;
  }

  ProgramTypes Build() {
    AddBuiltins();
    NameClasses();
    for (const TypeEntry &t : model_.types) {
      std::string name = TypeName(t);
      // Records are named ahead, so that a pointer to one needs only the
      // forward declaration, whatever the record holds.
      if ((t.kind == KIND_RECORD || t.kind == KIND_MRECORD) && !name.empty()) {
        const std::string ident = Unique(CIdentifier(name));
        record_names_.emplace(t.cell, ident);
        out_.structs.push_back(ident);
      }
      types_by_name_.emplace(std::move(name), &t);
    }
    types_by_name_.Sort();
    for (const TypeEntry &t : model_.types) TypeOf(t);
    CountChildren();
    for (ClassInfo &c : classes_) LayOut(c);
    for (ClassInfo &c : classes_) SlotNames(c);
    for (ClassInfo &c : classes_) SignatureMethods(c);
    EventMethods();
    FindSharedCode();
    for (ClassInfo &c : classes_) SelfMethods(c);
    SortMethods();
    for (MethodType &m : out_.methods) {
      if (declarations_ && method_pointers_.Find(m.address) == nullptr)
        method_pointers_.Set(m.address, out_.texts.KeepJoined({m.type_name, " *"}));
      ParamNames(&m.prototype);
    }
    if (declarations_)
      for (ClassInfo &c : classes_) MethodTable(c);
    for (size_t i = 0; i < classes_.size(); ++i) {
      Details(classes_[i]);
      out_.classes[i].details = std::move(*classes_[i].details);
    }
    return std::move(out_);
  }

 private:
  /// The methods by address (each address has one): their order is sorted,
  /// then each method moved once along the cycles of that order, in place
  /// (a second vector of them would raise the peak by their size).
  void SortMethods() {
    std::vector<MethodType> &methods = out_.methods;
    std::vector<std::pair<ea_t, size_t>> order(methods.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = {methods[i].address, i};
    std::sort(order.begin(), order.end());
    // order[i].second: the method that goes to place i; a place done points
    // to itself.
    for (size_t i = 0; i < order.size(); ++i) {
      if (order[i].second == i) continue;
      MethodType first = std::move(methods[i]);
      size_t to = i;
      for (;;) {
        const size_t from = order[to].second;
        order[to].second = to;
        if (from == i) {
          methods[to] = std::move(first);
          break;
        }
        methods[to] = std::move(methods[from]);
        to = from;
      }
    }
  }

  // ---- Names -----------------------------------------------------------------

  /// `ident`, or with "_N2", "_N3", ... behind it when a declaration of the
  /// program already has it (two classes of one name in different units).
  std::string Unique(std::string ident) {
    if (names_.Insert(ident)) return ident;
    return Suffixed(ident);
  }

  /// The same, kept in the types' texts.
  TypeText KeepUnique(std::string_view ident) {
    if (names_.Insert(ident)) return out_.texts.Keep(ident);
    return out_.texts.Keep(Suffixed(std::string(ident)));
  }

  /// `ident` with the first "_N" suffix no declaration has.
  std::string Suffixed(const std::string &ident) {
    // A sample names thousands of types alike: the search goes on from the
    // suffix taken last, as every one below it is taken for good.
    int &n = next_suffix_.try_emplace(ident, 2).first->second;
    for (;; ++n) {
      std::string candidate = ident + "_N" + std::to_string(n);
      if (names_.Insert(candidate)) return candidate;
    }
  }

  std::string TypeName(const TypeEntry &t) const {
    return std::string(model_.TypeName(t));
  }

  void AddBuiltins() {
    const char *ints[][2] = {{"int8_t", "signed char"},
                             {"uint8_t", "unsigned char"},
                             {"int16_t", "short"},
                             {"uint16_t", "unsigned short"},
                             {"int32_t", "int"},
                             {"uint32_t", "unsigned int"},
                             {"int64_t", "long long"},
                             {"uint64_t", "unsigned long long"},
                             {"Pas_WChar", "unsigned short"}};
    const uint32_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 2};
    for (size_t i = 0; i < std::size(sizes); ++i) {
      CDecl d;
      d.name = ints[i][0];
      d.target = ints[i][1];
      d.size = sizes[i];
      Add(std::move(d));
    }
    AddStruct("Pas_Extended", "an 80-bit real number",
              {{"Bytes", "uint8_t", 10, 0, 10, ""}}, 10);
    AddStruct("Pas_Variant", "a Variant", {{"Bytes", "uint8_t", 16, 0, 16, ""}}, 16);
    AddStruct("Pas_TMethod", "a method pointer (procedure of object)",
              {{"Code", "void *", 0, 0, 4, ""}, {"Data", "void *", 0, 4, 4, ""}}, 8);
    // The header in front of every method table, the standard virtual
    // methods of the layout last.
    const std::pair<int, const char *> fields[] = {
        {FIELD_SELF_PTR, "SelfPtr"},         {FIELD_INTF_TABLE, "IntfTable"},
        {FIELD_AUTO_TABLE, "AutoTable"},     {FIELD_INIT_TABLE, "InitTable"},
        {FIELD_TYPE_INFO, "TypeInfo"},       {FIELD_FIELD_TABLE, "FieldTable"},
        {FIELD_METHOD_TABLE, "MethodTable"}, {FIELD_DYNAMIC_TABLE, "DynamicTable"},
        {FIELD_CLASS_NAME, "ClassName"},     {FIELD_INSTANCE_SIZE, "InstanceSize"},
        {FIELD_PARENT, "ParentClass"}};
    // Where the layout puts each field, measured on a record at a made-up
    // address: the oldest layout lacks two of them.
    constexpr ea_t kAt = 0x1000;
    std::vector<CMember> header;
    for (const auto &[field, name] : fields) {
      const ea_t at = class_field_at(kAt, field);
      if (at == BADADDR) continue;
      header.push_back({name, field == FIELD_INSTANCE_SIZE ? "uint32_t" : "void *", 0,
                        at - kAt, 4, ""});
    }
    uint32_t offset = class_field_at(kAt, FIELD_FIRST_STANDARD) - kAt;
    for (int i = 0; const char *name = standard_method_name(model_.header_size, i); ++i) {
      header.push_back({name, "void *", 0, offset, 4, ""});
      offset += 4;
    }
    std::sort(header.begin(), header.end(),
              [](const CMember &a, const CMember &b) { return a.offset < b.offset; });
    AddStruct("Pas_ClassHeader", "the class record in front of a method table", header,
              offset);
  }

  void Add(CDecl d) {
    names_.Insert(d.name);
    if (d.kind == CDecl::kStruct) out_.structs.emplace_back(d.name.view());
    out_.decls.push_back(std::move(d));
  }

  void AddStruct(TypeText name, TypeText comment, std::vector<CMember> members,
                 uint32_t size) {
    CDecl d;
    d.kind = CDecl::kStruct;
    d.name = name;
    d.comment = comment;
    d.size = size;
    d.members = std::move(members);
    Add(std::move(d));
  }

  void NameClasses() {
    classes_.resize(model_.classes.size());
    out_.classes.reserve(model_.classes.size());
    out_.structs.reserve(out_.structs.size() + 2 * model_.classes.size());
    for (size_t i = 0; i < model_.classes.size(); ++i) {
      ClassInfo &c = classes_[i];
      c.entry = &model_.classes[i];
      std::string delphi(model_.ClassNameOf(*c.entry));
      c.name = Unique(CIdentifier(delphi));
      std::string vmt = VmtStructName(c.name);
      names_.Insert(vmt);
      out_.structs.push_back(c.name);
      out_.structs.push_back(std::move(vmt));
      out_.classes.push_back({c.entry->record, c.name, {}, {}});
      class_by_name_.emplace(std::move(delphi), i);
    }
    class_by_name_.Sort();
  }

  /// The class of the record at `record`: the model's classes are sorted
  /// by their records, and each has its ClassInfo at the same place.
  ClassInfo *ClassAt(ea_t record) {
    const ClassEntry *entry = model_.FindClass(record);
    return entry == nullptr ? nullptr : &classes_[entry - model_.classes.data()];
  }

  const ClassDetails &Details(ClassInfo &c) {
    if (!c.details) {
      c.details = std::make_unique<ClassDetails>(ReadClass(model_, *c.entry));
      c.members = ReadClassMembers(model_, c.entry->record);
    }
    return *c.details;
  }

  // ---- Value types -----------------------------------------------------------

  ArgType TypeOfRef(ea_t ref) {
    if (ref == 0 || ref < model_.lowest || ref >= model_.highest) return Unknown();
    const TypeEntry *t = model_.FindType(get_long(ref) - 4);
    return t != nullptr ? TypeOf(*t) : Unknown();
  }

  ArgType TypeNamed(const std::string &name) {
    auto it = types_by_name_.find(name);
    if (it != types_by_name_.end()) return TypeOf(*it->second);
    auto c = class_by_name_.find(name);
    if (c != class_by_name_.end())
      return Scalar(classes_[c->second].name + " *", 4, ArgType::kOrdinal);
    return Unknown();
  }

  /// The type a pointer leads to: a record by its forward declaration, a
  /// type still being described (a pointer chain that loops) as unknown.
  ArgType PointerTarget(const std::string &name) {
    auto it = types_by_name_.find(name);
    if (it != types_by_name_.end()) {
      auto record = record_names_.find(it->second->cell);
      if (record != record_names_.end())
        return Scalar(record->second, 1, ArgType::kStructure);
      if (in_progress_.count(it->second->cell) != 0) return Unknown();
    }
    return TypeNamed(name);
  }

  ArgType TypeOf(const TypeEntry &entry) {
    auto [it, added] = values_.emplace(entry.cell, Unknown());
    if (!added) {
      if (in_progress_.count(entry.cell) != 0)
        out_.problems.push_back("type " + TypeName(entry) +
                                " contains itself; left opaque");
      return it->second;
    }
    in_progress_.insert(entry.cell);
    const ArgType v = Describe(entry);
    in_progress_.erase(entry.cell);
    values_[entry.cell] = v;
    return v;
  }

  /// A typedef named after the type block for `target`.
  ArgType Typedef(const TypeDetails &t, const std::string &target, uint32_t size,
                  ArgType::Class cls, uint32_t count = 0) {
    if (t.name.empty()) return Scalar(target, size, cls);
    CDecl d;
    d.name = out_.texts.Keep(Unique(CIdentifier(t.name)));
    d.comment = out_.texts.Keep(t.name);
    d.target = target;
    d.size = size;
    d.count = count;
    const std::string name(d.name.view());
    Add(std::move(d));
    return Scalar(name, size, cls);
  }

  ArgType Describe(const TypeEntry &entry) {
    const TypeDetails t = ReadType(model_, entry);
    switch (t.kind) {
      case KIND_INTEGER:
      case KIND_CHAR:
      case KIND_WCHAR:
        if (t.ord_type < 0 || t.ord_type > kOrdULong) return Unknown();
        return Typedef(t, kOrdinalTypes[t.ord_type], 1u << (t.ord_type / 2),
                       ArgType::kOrdinal);
      case KIND_ENUMERATION:
        return Enumeration(t);
      case KIND_FLOAT:
        if (t.float_type < 0 || t.float_type > 4) return Unknown();
        return Typedef(t, kFloatTypes[t.float_type], kFloatSizes[t.float_type],
                       ArgType::kReal);
      case KIND_STRING:
        if (t.max_length < 0) return Unknown();
        return Typedef(t, "uint8_t", t.max_length + 1, ArgType::kStructure,
                       t.max_length + 1);
      case KIND_SET:
        return Set(t);
      case KIND_CLASS: {
        ClassInfo *c = t.class_record != BADADDR ? ClassAt(t.class_record) : nullptr;
        return Scalar(c != nullptr ? c->name + " *" : "void *", 4, ArgType::kOrdinal);
      }
      case KIND_METHOD:
        return Typedef(t, "Pas_TMethod", 8, ArgType::kMethodPointer);
      case KIND_LSTRING:
        return Typedef(t, "char *", 4, ArgType::kManaged);
      case KIND_WSTRING:
      case KIND_USTRING:
        return Typedef(t, "Pas_WChar *", 4, ArgType::kManaged);
      case KIND_VARIANT:
        return Typedef(t, "Pas_Variant", 16, ArgType::kStructure);
      case KIND_ARRAY:
        return Array(t);
      case KIND_RECORD:
      case KIND_MRECORD:
        return Record(t);
      case KIND_INTERFACE:
        return Typedef(t, "void *", 4, ArgType::kManaged);
      case KIND_INT64:
        return Typedef(t, t.min == 0 && t.max == -1 ? "uint64_t" : "int64_t", 8,
                       ArgType::kInt64);
      case KIND_DYN_ARRAY: {
        const ArgType e = PointerTarget(t.element);
        return Typedef(t, e.size != 0 ? e.c_type + " *" : "void *", 4, ArgType::kManaged);
      }
      case KIND_CLASS_REF: {
        auto c = class_by_name_.find(t.element);
        const std::string target = c != class_by_name_.end()
                                       ? VmtStructName(classes_[c->second].name) + " *"
                                       : "void *";
        return Typedef(t, target, 4, ArgType::kOrdinal);
      }
      case KIND_POINTER: {
        const ArgType e = PointerTarget(t.element);
        return Typedef(t, e.size != 0 ? e.c_type + " *" : "void *", 4, ArgType::kOrdinal);
      }
      case KIND_PROCEDURE:
        return Typedef(t, "void *", 4, ArgType::kOrdinal);
      default:
        return Unknown();
    }
  }

  ArgType Enumeration(const TypeDetails &t) {
    if (t.ord_type < 0 || t.ord_type > kOrdULong || !t.has_range) return Unknown();
    const uint32_t size = 1u << (t.ord_type / 2);
    if (t.values.empty()) {
      const ArgType base = TypeNamed(t.base);
      if (base.size == size) return Typedef(t, base.c_type, size, ArgType::kOrdinal);
      return Typedef(t, kOrdinalTypes[t.ord_type], size, ArgType::kOrdinal);
    }
    if (t.name.empty()) return Scalar(kOrdinalTypes[t.ord_type], size, ArgType::kOrdinal);
    CDecl d;
    d.kind = CDecl::kEnum;
    d.name = out_.texts.Keep(Unique(CIdentifier(t.name)));
    d.comment = out_.texts.Keep(t.name);
    d.target = kOrdinalTypes[t.ord_type];
    d.size = size;
    for (size_t i = 0; i < t.values.size(); ++i)
      d.values.emplace_back(Unique(CIdentifier(t.values[i])),
                            t.min + static_cast<int64_t>(i));
    const std::string name(d.name.view());
    Add(std::move(d));
    return Scalar(name, size, ArgType::kOrdinal);
  }

  ArgType Set(const TypeDetails &t) {
    // A set holds one bit per value of its element, from the element's
    // lowest value rounded down to a byte; 3 bytes take 4.
    uint32_t size = 0;
    auto e = types_by_name_.find(t.element);
    if (e != types_by_name_.end()) {
      const TypeDetails element = ReadType(model_, *e->second);
      if (element.has_range && element.min >= 0 && element.max < 256 &&
          element.min <= element.max)
        size = static_cast<uint32_t>(element.max / 8 - element.min / 8 + 1);
    }
    if (size == 0 && t.ord_type >= 0 && t.ord_type <= kOrdULong)
      size = 1u << (t.ord_type / 2);
    if (size == 3) size = 4;
    if (size == 0) return Unknown();
    if (size == 1 || size == 2 || size == 4)
      return Typedef(t,
                     size == 1   ? "uint8_t"
                     : size == 2 ? "uint16_t"
                                 : "uint32_t",
                     size, ArgType::kOrdinal);
    return Typedef(t, "uint8_t", size, ArgType::kStructure, size);
  }

  ArgType Array(const TypeDetails &t) {
    if (t.size <= 0 || t.size > kMaxValueSize) return Unknown();
    const uint32_t size = static_cast<uint32_t>(t.size);
    const ArgType e = TypeNamed(t.element);
    if (e.size != 0 && t.count > 0 && uint64_t{e.size} * t.count == size)
      return Typedef(t, e.c_type, size, ArgType::kStructure,
                     static_cast<uint32_t>(t.count));
    return Typedef(t, "uint8_t", size, ArgType::kStructure, size);
  }

  ArgType Record(const TypeDetails &t) {
    if (t.size <= 0 || t.size > kMaxValueSize) return Unknown();
    const uint32_t size = static_cast<uint32_t>(t.size);
    if (t.name.empty()) return Scalar("uint8_t", size, ArgType::kStructure);
    const std::string name = record_names_.at(t.cell);
    std::vector<RecordField> fields;
    for (const RecordField &f : t.fields)
      if (!f.name.empty()) fields.push_back(f);
    std::stable_sort(
        fields.begin(), fields.end(),
        [](const RecordField &a, const RecordField &b) { return a.offset < b.offset; });
    StructLayout layout(t.name, size, &out_.problems, &out_.texts, true);
    for (size_t i = 0; i < fields.size(); ++i) {
      const RecordField &f = fields[i];
      // Fields of one offset are a variant part: the first is kept.
      if (i > 0 && fields[i - 1].offset == f.offset) continue;
      layout.Add(Member(f.name, f.type, TypeNamed(f.type), f.offset,
                        NextOffset(fields, i, size)));
    }
    CDecl d;
    d.kind = CDecl::kStruct;
    d.name = out_.texts.Keep(name);
    d.comment = out_.texts.Keep(t.name);
    d.size = size;
    d.members = layout.Finish();
    out_.decls.push_back(std::move(d));
    return Scalar(name, size, ArgType::kStructure);
  }

  template <typename Field>
  static uint32_t NextOffset(const std::vector<Field> &fields, size_t i, uint32_t end) {
    for (size_t j = i + 1; j < fields.size(); ++j)
      if (fields[j].offset > fields[i].offset) return std::min(fields[j].offset, end);
    return end;
  }

  /// A member for a field of type `v`; a field whose type has no known size
  /// becomes bytes up to the next field.
  CMember Member(const std::string &name, const std::string &type_name, const ArgType &v,
                 uint32_t offset, uint32_t next) {
    CMember m;
    m.name = out_.texts.Keep(CIdentifier(name));
    m.offset = offset;
    m.comment = out_.texts.Keep(name + ": " + (type_name.empty() ? "?" : type_name));
    if (v.size != 0) {
      m.c_type = out_.texts.Keep(v.c_type);
      m.size = v.size;
    } else {
      m.c_type = "uint8_t";
      m.size = next > offset ? next - offset : 1;
      m.count = m.size;
      m.guessed = true;
    }
    return m;
  }

  // ---- Classes ---------------------------------------------------------------

  void CountChildren() {
    for (ClassInfo &c : classes_) {
      ClassInfo *parent = c.entry->parent != BADADDR ? ClassAt(c.entry->parent) : nullptr;
      if (parent != nullptr) ++parent->unread_children;
    }
  }

  /// Without declarations an instance structure is only the source of its
  /// descendants' inherited members: it goes once the last of them has
  /// copied them, so that the structures of a whole program, each holding
  /// every ancestor's members again, are never held at once.
  void ChildRead(ClassInfo &parent) {
    if (--parent.unread_children != 0 || declarations_) return;
    std::vector<CMember>().swap(instances_[parent.instance].members);
  }

  struct OwnField {
    std::string name, type_name;
    ArgType type;
    uint32_t offset;
  };

  /// The fields of `c` and its ancestors, copied down; false when the
  /// parent chain loops.
  bool LayOut(ClassInfo &c) {
    if (c.laid_out) return true;
    if (c.in_progress) {
      out_.problems.push_back("class " + ClassName(c.entry->record) +
                              ": the parent chain loops; the parent is left out");
      return false;
    }
    c.in_progress = true;
    const ClassDetails &d = Details(c);
    // The parent's members, read before this class adds its structure.
    const std::vector<CMember> *inherited = nullptr;
    ClassInfo *parent = c.entry->parent != BADADDR ? ClassAt(c.entry->parent) : nullptr;
    if (parent != nullptr && LayOut(*parent))
      inherited = &instances_[parent->instance].members;
    c.in_progress = false;
    c.laid_out = true;

    const std::string &delphi = d.name;
    uint32_t size = d.instance_size;
    if (size < 4 || size > kMaxInstanceSize) {
      out_.problems.push_back(
          "class " + delphi + ": instance size " + std::to_string(size) +
          " cannot be laid out; the structure holds the table pointer");
      size = 4;
    }
    const bool monitor = has_newer_type_data(model_.header_size) && size >= 8;
    std::vector<OwnField> own;
    for (const PublishedField &f : d.published_fields) {
      auto k = class_by_name_.find(f.class_name);
      ArgType v = k != class_by_name_.end()
                      ? Scalar(classes_[k->second].name + " *", 4, ArgType::kOrdinal)
                      : Scalar("void *", 4, ArgType::kOrdinal);
      own.push_back({f.name, f.class_name, v, f.offset});
    }
    for (const ExtendedField &f : c.members.fields) {
      const bool listed = std::any_of(own.begin(), own.end(), [&](const OwnField &o) {
        return o.offset == f.offset && o.name == f.name;
      });
      if (listed) continue;
      own.push_back(
          {f.name, model_.TypeNameAt(f.type_ref), TypeOfRef(f.type_ref), f.offset});
    }
    std::stable_sort(own.begin(), own.end(), [](const OwnField &a, const OwnField &b) {
      return a.offset < b.offset;
    });
    std::vector<FieldType> &listed = out_.classes[&c - classes_.data()].fields;
    for (const OwnField &f : own)
      listed.push_back({f.name, f.type_name, f.offset, f.type.c_type, f.type.size});
    CMember vmt;
    vmt.name = "_VMT";
    vmt.c_type = out_.texts.KeepJoined({c.name, "_VMT *"});
    vmt.size = 4;
    vmt.comment = "the method table";
    std::vector<CMember> all;
    all.reserve((inherited != nullptr ? inherited->size() : 0) + own.size());
    if (inherited != nullptr) {
      for (const CMember &m : *inherited)
        if (!m.name.starts_with("_Pad") && m.name != "_VMT" && m.name != "_Monitor")
          all.push_back(m);
      ChildRead(*parent);
    }
    // A field of the class hides an ancestor's of the same name, as in the
    // class's own methods: the ancestor's takes its offset behind its name.
    // A handful of names, looked up by every inherited member: sorted.
    std::vector<std::string> &own_names = own_names_;
    own_names.clear();
    for (const OwnField &f : own) own_names.push_back(CIdentifier(f.name));
    std::sort(own_names.begin(), own_names.end());
    if (!own_names.empty())
      for (CMember &m : all)
        if (std::binary_search(own_names.begin(), own_names.end(), m.name.view(),
                               std::less<>()))
          m.name = KeepTagged(&out_.texts, m.name, "_O", m.offset);
    for (const OwnField &f : own)
      all.push_back(Member(f.name, f.type_name, f.type, f.offset, f.offset));
    std::stable_sort(all.begin(), all.end(), [](const CMember &a, const CMember &b) {
      return a.offset < b.offset;
    });
    // A field of a type of unknown size reaches to the next field, or to the
    // monitor; it is measured again in each class, as descendants add fields.
    const uint32_t end = monitor ? size - 4 : size;
    for (size_t i = 0; i < all.size(); ++i) {
      if (!all[i].guessed) continue;
      uint32_t next = std::max(end, all[i].offset + 1);
      for (size_t j = i + 1; j < all.size(); ++j)
        if (all[j].offset > all[i].offset) {
          next = all[j].offset;
          break;
        }
      if (next > end && all[i].offset < end) next = end;
      all[i].size = all[i].count = next - all[i].offset;
    }
    StructLayout layout(delphi, size, &out_.problems, &out_.texts);
    layout.Add(vmt);
    for (const CMember &m : all) layout.Add(m);
    const uint32_t described = layout.at();
    std::vector<CMember> members = layout.Finish();
    if (monitor && described <= size - 4) {
      CMember &last = members.back();
      // The last 4 bytes are padding: give them to the monitor.
      if (last.name.starts_with("_Pad")) {
        last.count -= 4;
        last.size -= 4;
        if (last.count == 0) members.pop_back();
        members.push_back(
            {"_Monitor", "void *", 0, size - 4, 4, "the hidden monitor field"});
      }
    }
    CDecl decl;
    decl.kind = CDecl::kStruct;
    decl.name = out_.texts.Keep(c.name);
    const bool unit = !d.unit.empty();
    decl.comment = out_.texts.KeepJoined({"class ", delphi, unit ? " (" : "", d.unit,
                                          unit ? ")" : "", ", instance size ",
                                          Digits::Decimal(d.instance_size)});
    decl.size = size;
    decl.members = std::move(members);
    c.instance = instances_.size();
    instances_.push_back(std::move(decl));
    if (c.unread_children == 0 && !declarations_)
      std::vector<CMember>().swap(instances_.back().members);
    return true;
  }

  void SlotNames(ClassInfo &c) {
    if (!c.slot_names.empty()) return;
    const ClassDetails &d = Details(c);
    ClassInfo *parent = c.entry->parent != BADADDR ? ClassAt(c.entry->parent) : nullptr;
    if (parent != nullptr && parent != &c && !parent->in_progress) {
      c.in_progress = true;
      SlotNames(*parent);
      c.in_progress = false;
      c.slot_names = parent->slot_names;
      c.slot_idents = parent->slot_idents;
    }
    size_t slots = 0;
    for (const VirtualMethod &v : d.virtual_methods)
      if (v.slot >= 0) slots = std::max<size_t>(slots, v.slot + 1);
    if (c.slot_names.size() > slots) {
      c.slot_names.resize(slots);
      c.slot_idents.resize(slots);
    }
    // "VirtualSlot" and hex digits is an identifier as it stands.
    while (c.slot_names.size() < slots) {
      c.slot_names.push_back(KeepTagged(&out_.texts, "", "VirtualSlot",
                                        static_cast<uint32_t>(4 * c.slot_names.size())));
      c.slot_idents.push_back(c.slot_names.back());
    }
    for (const MethodEntry &m : c.members.methods)
      if (m.virtual_index >= 0 && static_cast<size_t>(m.virtual_index) < slots) {
        const TypeText name = out_.texts.Keep(m.name);
        std::string &ident = scratch_;
        ident.clear();
        AppendCIdentifier(m.name, &ident);
        c.slot_names[m.virtual_index] = name;
        c.slot_idents[m.virtual_index] =
            name.view() == ident ? name : out_.texts.Keep(ident);
      }
  }

  /// A slot whose name an earlier slot of the table has (overloads) takes
  /// its slot number behind the name. The names are sorted by their hashes
  /// with their places rather than put in a set: a table of a large
  /// program's class has dozens of slots, nearly all of names of their own,
  /// and numbers sort faster than the texts.
  void NameRepeatedSlots(std::vector<CMember> *slots) {
    std::vector<std::pair<uint64_t, uint32_t>> &order = slot_order_;
    order.clear();
    for (size_t i = 0; i < slots->size(); ++i)
      order.emplace_back(std::hash<std::string_view>{}((*slots)[i].name),
                         static_cast<uint32_t>(i));
    std::sort(order.begin(), order.end());
    std::vector<TypeText> &names = slot_names_;  // before any is renamed
    names.clear();
    for (size_t i = 1; i < order.size(); ++i) {
      if (order[i].first != order[i - 1].first) continue;
      if (names.empty())
        for (const CMember &m : *slots) names.push_back(m.name);
      // A run of one hash, each by its place: an earlier one of the same
      // name renames it.
      const std::string_view name = names[order[i].second];
      for (size_t j = i; j-- > 0 && order[j].first == order[i].first;) {
        if (names[order[j].second].view() != name) continue;
        CMember &m = (*slots)[order[i].second];
        m.name = out_.texts.KeepJoined({m.name, "_S", Digits::Decimal(m.offset / 4)});
        break;
      }
    }
  }

  // ---- Methods ---------------------------------------------------------------

  bool Typed(ea_t code) const { return typed_.Find(code) != nullptr; }

  MethodType &NewMethod(ClassInfo &c, ea_t code, std::string_view method,
                        const char *source) {
    typed_.Insert(code);
    MethodType &m = out_.methods.emplace_back();
    m.address = code;
    m.class_record = c.entry->record;
    // The names are put together in one string kept for it, not made anew.
    std::string &name = method_name_;
    name.assign(c.name);
    name += '_';
    AppendCIdentifier(method, &name);
    m.method = out_.texts.Keep(method);
    m.name = KeepUnique(name);
    name.assign(m.name.view());
    name += "_T";
    m.type_name = KeepUnique(name);
    m.source = source;
    return m;
  }

  /// Parameter names as identifiers that no type of the program has (a
  /// parameter of a type's name would hide the type from the parameters
  /// behind it) and that differ within the list.
  void ParamNames(Prototype *p) {
    // Most methods take Self alone: a lone parameter of the name the last
    // one had is named as that one was (the names of the program's types
    // are all given by now).
    const bool alone = p->params.size() == 1 && !p->params[0].hidden;
    if (alone && has_lone_param_ && p->params[0].name == lone_param_) {
      p->params[0].name = lone_param_ident_;
      return;
    }
    if (alone) lone_param_ = p->params[0].name;
    // A handful, so a search beats a tree; the names are views of the
    // parameters' own, which stay where they are.
    std::vector<std::string_view> &used = used_params_;
    used.clear();
    for (size_t i = 0; i < p->params.size(); ++i) {
      PlacedParam &param = p->params[i];
      std::string &name = scratch_;
      name.clear();
      if (param.hidden)
        name = param.name;
      else
        AppendCIdentifier(param.name, &name);
      if (names_.Contains(name)) name += "_P";
      const bool repeated = std::find(used.begin(), used.end(), name) != used.end();
      if (repeated) {
        name += "_P";
        name += Digits::Decimal(static_cast<uint32_t>(i));
      }
      param.name = name;
      if (!repeated) used.push_back(param.name);
    }
    if (alone) {
      lone_param_ident_ = p->params[0].name;
      has_lone_param_ = true;
    }
  }

  PlacedParam Self(ClassInfo &c, bool class_method) {
    PlacedParam p;
    p.name = "Self";
    p.c_type = class_method ? VmtStructName(c.name) + " *" : c.name + " *";
    return p;
  }

  static std::string ParamText(uint8_t flags, const std::string &name,
                               const std::string &type) {
    std::string s;
    if (flags & kParamVar) s += "var ";
    if (flags & kParamConst) s += "const ";
    if (flags & kParamOut) s += "out ";
    s += name;
    if (!type.empty()) s += ": " + type;
    return s;
  }

  void SignatureMethods(ClassInfo &c) {
    const std::string &delphi = Details(c).name;
    for (const MethodEntry &m : c.members.methods) {
      if (m.dropped || !m.has_signature || Typed(m.code)) continue;
      const Signature &s = m.signature;
      std::vector<ArgType> types;
      bool class_method = false;
      std::string params_text;
      std::string result_name = s.result_ref != 0 ? model_.TypeNameAt(s.result_ref) : "";
      for (size_t i = 0; i < s.params.size(); ++i) {
        const SignatureParam &p = s.params[i];
        if (i == 0 && p.name == "Self") {
          class_method = p.type_ref == 0;
          types.push_back(
              Scalar(class_method ? VmtStructName(c.name) + " *" : c.name + " *", 4,
                     ArgType::kOrdinal));
          continue;
        }
        ArgType v = TypeOfRef(p.type_ref);
        if (v.size == 0) v = Scalar("uint32_t", 4, ArgType::kOrdinal);
        types.push_back(v);
        if (p.flags & kParamResult) continue;
        if (!params_text.empty()) params_text += "; ";
        params_text += ParamText(p.flags, p.name, model_.TypeNameAt(p.type_ref));
      }
      ArgType result = TypeOfRef(s.result_ref);
      if (s.result_ref != 0 && result.size == 0)
        result = Scalar("uint32_t", 4, ArgType::kOrdinal);
      Prototype proto;
      std::string problem;
      if (!PlaceFromSignature(s, types, s.result_ref != 0 ? &result : nullptr, &proto,
                              &problem)) {
        out_.problems.push_back("method " + delphi + "." + m.name + ": " + problem +
                                "; no prototype");
        continue;
      }
      MethodType &t = NewMethod(c, m.code, m.name, "signature");
      t.prototype = std::move(proto);
      t.pascal = out_.texts.Keep(std::string(class_method ? "class " : "") +
                                 (s.result_ref != 0 ? "function " : "procedure ") +
                                 delphi + "." + m.name +
                                 (params_text.empty() ? "" : "(" + params_text + ")") +
                                 (s.result_ref != 0 ? ": " + result_name : "") + ";");
    }
  }

  /// The type name of the property `property` of the class named
  /// `class_name` or of an ancestor; "" when none has it.
  std::string PropertyType(const std::string &class_name, const std::string &property) {
    auto k = class_by_name_.find(class_name);
    if (k == class_by_name_.end()) return "";
    ClassInfo *c = &classes_[k->second];
    for (size_t depth = 0; c != nullptr && depth < classes_.size(); ++depth) {
      for (const Property &p : Details(*c).properties)
        if (strcasecmp(p.name.c_str(), property.c_str()) == 0) return p.type;
      c = c->entry->parent != BADADDR ? ClassAt(c->entry->parent) : nullptr;
    }
    return "";
  }

  void EventMethods() {
    // The class whose published method each handler is.
    std::map<ea_t, size_t> owner;
    for (size_t i = 0; i < classes_.size(); ++i)
      for (const PublishedMethod &m : Details(classes_[i]).published_methods)
        owner.emplace(m.address, i);
    for (const FormEntry &form : model_.forms) {
      std::map<std::string, std::string> component_class;
      for (const FormComponent &k : form.components)
        component_class.emplace(k.name, k.class_name);
      for (const FormEvent &e : form.events) {
        if (e.address == BADADDR || Typed(e.address)) continue;
        auto o = owner.find(e.address);
        auto k = component_class.find(e.component);
        if (o == owner.end() || k == component_class.end()) continue;
        auto type = types_by_name_.find(PropertyType(k->second, e.event));
        if (type == types_by_name_.end() || type->second->kind != KIND_METHOD) continue;
        EventMethod(classes_[o->second], e, ReadType(model_, *type->second));
      }
    }
  }

  void EventMethod(ClassInfo &c, const FormEvent &e, const TypeDetails &event) {
    std::vector<DeclaredParam> params;
    std::string text;
    for (const MethodParam &p : event.params) {
      DeclaredParam d;
      d.name = p.name;
      d.flags = p.flags;
      d.type = TypeNamed(p.type);
      // Only a prototype of known types: a guess would misplace the rest.
      if (d.type.size == 0) return;
      params.push_back(std::move(d));
      if (!text.empty()) text += "; ";
      text += ParamText(p.flags, p.name, p.type);
    }
    ArgType result;
    if (!event.result.empty()) {
      result = TypeNamed(event.result);
      if (result.size == 0) return;
    }
    MethodType &t = NewMethod(c, e.address, e.handler, "event");
    t.prototype = PlaceByConvention(Self(c, false), params,
                                    event.result.empty() ? nullptr : &result);
    t.pascal = out_.texts.Keep(
        std::string(event.result.empty() ? "procedure " : "function ") + Details(c).name +
        "." + e.handler + (text.empty() ? "" : "(" + text + ")") +
        (event.result.empty() ? "" : ": " + event.result) + ";");
  }

  void SelfMethod(ClassInfo &c, ea_t code, std::string_view method) {
    if (code == 0 || Typed(code)) return;
    MethodType &t = NewMethod(c, code, method, "self");
    if (self_only_of_ != &c) {
      self_only_ = PlaceByConvention(Self(c, false), {}, nullptr);
      self_only_of_ = &c;
    }
    t.prototype = self_only_;
    t.pascal = out_.texts.KeepJoined({"procedure ", Details(c).name, ".", method, ";"});
  }

  static std::string_view SlotName(const ClassInfo &c, const VirtualMethod &v) {
    if (v.slot >= 0 && static_cast<size_t>(v.slot) < c.slot_names.size())
      return c.slot_names[v.slot];
    return v.standard != nullptr ? v.standard : "";
  }

  /// Code that fills slots of different names (the routine behind every
  /// abstract method) is no one method: it gets no prototype.
  void FindSharedCode() {
    kernel::AddrMap<std::string_view> first;
    for (ClassInfo &c : classes_)
      for (const VirtualMethod &v : Details(c).virtual_methods) {
        const std::string_view name = SlotName(c, v);
        if (const std::string_view *known = first.Find(v.address)) {
          if (*known != name) shared_.Insert(v.address);
        } else {
          first.Set(v.address, name);
        }
      }
  }

  /// "Dynamic" and the index, in a buffer of the builder's.
  std::string_view DynamicName(uint16_t index) {
    std::string &name = dynamic_name_;
    name.assign("Dynamic");
    name += Digits::Decimal(index);
    return name;
  }

  void SelfMethods(ClassInfo &c) {
    const ClassDetails &d = Details(c);
    for (const VirtualMethod &v : d.virtual_methods)
      if (shared_.Find(v.address) == nullptr) SelfMethod(c, v.address, SlotName(c, v));
    for (const DynamicMethod &m : d.dynamic_methods)
      SelfMethod(c, m.address, DynamicName(m.index));
    for (const PublishedMethod &m : d.published_methods) SelfMethod(c, m.address, m.name);
  }

  void MethodTable(ClassInfo &c) {
    const ClassDetails &d = Details(c);
    CDecl vmt;
    vmt.kind = CDecl::kStruct;
    vmt.name = out_.texts.KeepJoined({c.name, "_VMT"});
    vmt.comment = out_.texts.KeepJoined({"method table of ", d.name});
    // The table is kept with the declarations: no room beyond its slots.
    vmt.members.reserve(
        std::count_if(d.virtual_methods.begin(), d.virtual_methods.end(),
                      [](const VirtualMethod &v) { return v.slot >= 0; }));
    for (const VirtualMethod &v : d.virtual_methods) {
      if (v.slot < 0) continue;
      CMember m;
      m.name = c.slot_idents[v.slot];
      m.offset = 4 * v.slot;
      m.size = 4;
      const TypeText *pointer = method_pointers_.Find(v.address);
      m.c_type = pointer != nullptr ? *pointer : TypeText("void *");
      m.comment = c.slot_names[v.slot];
      vmt.members.push_back(m);
    }
    NameRepeatedSlots(&vmt.members);
    // C has no empty structures: a class without slots of its own gets one
    // placeholder, and its table is never laid over the program.
    if (vmt.members.empty())
      vmt.members.push_back(
          {"_NoSlots", "void *", 0, 0, 4, "no virtual slots of its own"});
    vmt.size = 4 * static_cast<uint32_t>(vmt.members.size());
    vmts_.push_back(std::move(vmt));
  }

 public:
  /// The declarations in their final order: value types, instance
  /// structures, function types, method tables.
  void Finish(ProgramTypes *types) {
    if (!declarations_) {
      types->decls.clear();
      return;
    }
    types->decls.reserve(types->decls.size() + instances_.size() + types->methods.size() +
                         vmts_.size());
    for (CDecl &d : instances_) types->decls.push_back(std::move(d));
    for (size_t i = 0; i < types->methods.size(); ++i) {
      CDecl f;
      f.kind = CDecl::kFunction;
      f.name = types->methods[i].type_name;
      f.comment = types->methods[i].pascal;
      f.method = i;
      types->decls.push_back(std::move(f));
    }
    for (CDecl &d : vmts_) types->decls.push_back(std::move(d));
  }

 private:
  const ProgramModel &model_;
  const bool declarations_;
  ProgramTypes out_;
  NameSet names_;
  std::unordered_map<std::string, int> next_suffix_;  // for Unique
  std::vector<ClassInfo> classes_;
  ByName<size_t> class_by_name_;
  ByName<const TypeEntry *> types_by_name_;
  std::map<ea_t, ArgType> values_;
  std::set<ea_t> in_progress_;
  kernel::AddrMap<bool> typed_;
  kernel::AddrMap<bool> shared_;  // code behind slots of different names
  // A pointer to the function type, by code address.
  kernel::AddrMap<TypeText> method_pointers_;
  std::vector<std::pair<uint64_t, uint32_t>> slot_order_;  // NameRepeatedSlots's
  std::vector<TypeText> slot_names_;                       // the same
  std::string scratch_;                 // a text put together before it is kept
  std::string method_name_;             // NewMethod's
  std::string dynamic_name_;            // a dynamic method's, while it is made
  std::vector<std::string> own_names_;  // LayOut's
  std::vector<std::string_view> used_params_;
  // ParamNames' last lone parameter, as it was named and as it was named to.
  bool has_lone_param_ = false;
  std::string lone_param_, lone_param_ident_;
  // The prototype of a method known only by its code (Self alone), placed
  // once for the class whose methods are being made, not kept per class.
  const ClassInfo *self_only_of_ = nullptr;
  Prototype self_only_;
  std::map<ea_t, std::string> record_names_;
  std::vector<CDecl> instances_;
  std::vector<CDecl> vmts_;
};

}  // namespace

std::string VmtStructName(const std::string &name) { return name + "_VMT"; }

ProgramTypes BuildTypes(const ProgramModel &model, bool declarations) {
  Builder builder(model, declarations);
  ProgramTypes types = builder.Build();
  builder.Finish(&types);
  for (std::string &p : types.problems) p = OneLine(p);
  return types;
}

}  // namespace model
