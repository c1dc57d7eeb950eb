// The kernel's database: one program's segments and bytes with the items,
// names, comments, functions, cross-references and structure types that a
// disassembler keeps over them.
//
// The exported services of host_api.h act on one database, TheDatabase().
// This C++ face is for the host program (loader, saved databases, export)
// and for tests; plug-ins never see it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "detector/core/host_api.h"

// The kernel library is built with hidden symbols; this face is exported.
#pragma GCC visibility push(default)

namespace kernel {

enum class ItemType : uint8_t {
  kByte,
  kWord,
  kDword,
  kQword,
  kOffset,   // a 4-byte item shown as a reference to the value it holds
  kPString,  // a string with one length byte
  kAlign,
  kStruct,  // an instance of a structure type
  kCode,    // one instruction
};

/// "byte", "word", "dword", "qword", "offset", "pstring", "align",
/// "struct" or "code".
const char *ItemTypeName(ItemType type);
/// The type named `name`; false when the name is none of the above.
bool ParseItemType(std::string_view name, ItemType *type);

struct Item {
  ea_t start = 0;
  asize_t size = 0;
  ItemType type = ItemType::kByte;
  tid_t struct_id = BADNODE;  // kStruct only
};

struct Segment {
  std::string name;
  ea_t start = 0;
  ea_t end = 0;                // exclusive
  std::vector<uint8_t> bytes;  // end - start bytes
};

struct Function {
  ea_t start = 0;
  ea_t end = 0;  // exclusive
};

struct Comment {
  ea_t ea = 0;
  std::string text;
  bool repeatable = false;
};

struct StructMember {
  std::string name;
  ea_t offset = 0;
  asize_t size = 0;
  flags_t flags = 0;
  opinfo_t type_info = -1;
};

/// The largest structure type a database holds: no member ends beyond it.
constexpr asize_t kMaxStructureSize = 16u << 20;

struct Structure {
  tid_t id = BADNODE;
  std::string name;
  std::vector<StructMember> members;
};

/// What the host program answers for the user and shows of a run.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  /// Text for the output window, already formatted.
  virtual void Message(std::string_view text) = 0;
  /// 1 Yes, 0 No, -1 Cancel.
  virtual int AskYesNo(int default_answer, std::string_view question) = 0;
  /// False when the user cancelled; otherwise the answer in *answer.
  virtual bool AskText(int history, std::string_view default_text,
                       std::string_view prompt, std::string *answer) = 0;
  /// The view moved to `ea` (a jump by the plug-in).
  virtual void CursorMoved(ea_t ea) { (void)ea; }
};

class Database {
 public:
  Database();
  ~Database();
  Database(const Database &) = delete;
  Database &operator=(const Database &) = delete;

  /// Forgets everything: no segments, items, names, comments, functions,
  /// structures; processor 0; image base 0; no resource directory; no input path; cursor
  /// BADADDR.
  void Clear();

  // ---- The program ------------------------------------------------------
  void SetInputPath(std::string path);
  const std::string &input_path() const;
  void SetProcessor(int32_t id);
  int32_t processor() const;
  /// The address the program file asks to be loaded at; scripts that carry
  /// the database into another tool check it there.
  void SetImageBase(ea_t ea);
  ea_t image_base() const;
  /// Where the program's headers say its resource directory is (an address
  /// and a size), taken as declared; 0 and 0 when it declares none. The
  /// reader of the directory checks it against the segments.
  void SetResourceDirectory(ea_t start, uint32_t size);
  ea_t resource_directory() const;
  uint32_t resource_directory_size() const;
  /// Adds a segment. Refused (false, reason in *err) when it is empty, wraps,
  /// overlaps another or its bytes are not end - start long. The lowest and
  /// highest addresses follow the segments.
  bool AddSegment(Segment segment, std::string *err);
  /// All segments, sorted by start.
  const std::vector<Segment> &segments() const;
  /// Changes one byte of a segment (tests, patches); false outside every
  /// segment. Items over the byte stay as they are.
  bool SetByte(ea_t ea, uint8_t value);
  ea_t min_ea() const;
  ea_t max_ea() const;
  ea_t cursor() const;
  void SetCursor(ea_t ea);

  // ---- Restoring a saved database ----------------------------------------
  // Each refuses (false, reason in *err) what the services would refuse:
  // an item overlapping another or leaving its segment, a second name, a
  // member overlapping another.
  bool RestoreItem(const Item &item, std::string *err);
  /// A function over [start, end) whose code items are restored separately.
  bool RestoreFunction(const Function &function, std::string *err);
  bool RestoreName(ea_t ea, const std::string &name, std::string *err);
  bool RestoreComment(const Comment &comment, std::string *err);
  /// Keeps the structure's id so that structure items refer to it.
  bool RestoreStructure(const Structure &structure, std::string *err);

  // ---- Export, in address order -----------------------------------------
  void ForEachItem(const std::function<void(const Item &)> &visit) const;
  /// The items ForEachItem visits but for the code items, which most of a
  /// program's items are and which the scripts do not carry: those are
  /// passed over by their state alone.
  void ForEachDataItem(const std::function<void(const Item &)> &visit) const;
  /// How many items ForEachDataItem visits.
  size_t DataItemCount() const;
  /// Given names only; dummy names are derived, never stored.
  std::vector<std::pair<ea_t, std::string>> Names() const;
  std::vector<Comment> Comments() const;
  /// The same as Names() and Comments(), visited in their order without a
  /// copy of each text: writers of large databases need no second one. A
  /// name's text may be put together in a buffer of the name table, so it
  /// holds only until the visitor returns, and the visitor must not ask the
  /// database for names.
  void ForEachName(const std::function<void(ea_t, std::string_view)> &visit) const;
  void ForEachComment(
      const std::function<void(ea_t, std::string_view, bool repeatable)> &visit) const;
  size_t NameCount() const;
  size_t CommentCount() const;
  std::vector<Function> Functions() const;
  /// In the order they were added.
  std::vector<Structure> Structures() const;
  /// The name a listing shows for `ea`: the given name, else the dummy name,
  /// else empty.
  std::string DisplayName(ea_t ea) const;
  /// The item holding `ea`; false for an unknown byte or outside segments.
  bool ItemAt(ea_t ea, Item *item) const;
  /// Addresses that refer to `ea` by a data reference, ascending.
  std::vector<ea_t> DataRefsTo(ea_t ea) const;

  struct Impl;
  Impl &impl() { return *impl_; }
  const Impl &impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

/// The one database the exported services act on.
Database &TheDatabase();

/// Where output, questions and jumps go; null drops output and takes the
/// defaults.
void SetUserInterface(UserInterface *ui);
/// The interface set last, or null.
UserInterface *GetUserInterface();

/// Removes the temporary files of text files opened with fopenWT and not yet
/// closed (a file takes its name only when closed complete), so that an
/// interrupted run leaves an earlier file as it was. Async-signal-safe.
void RemoveUnfinishedTextFiles();

}  // namespace kernel

#pragma GCC visibility pop
