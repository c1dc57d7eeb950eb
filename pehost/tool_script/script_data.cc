#include "pehost/tool_script/script_data.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "pehost/json_writer/json_writer.h"
#include "pehost/tool_script/script_code.h"

namespace tool_script {
namespace {

// Member flags keep the classic layout: the high nibble is the element type,
// the nibble at 0x00F00000 tells how the value shows, 5 meaning an offset.
// A string member's type info is 0 for a C string, 1 for one with a length
// byte.
constexpr flags_t kShowMask = 0x00F00000u;
constexpr flags_t kShowOffset = 0x00500000u;
constexpr opinfo_t kCString = 0;
constexpr opinfo_t kPascalString = 1;

// A chunk is closed once its records pass this many characters, and its text
// is cut into strings of at most kPieceChars (only a record longer than that
// takes more than one).
constexpr size_t kChunkChars = 24000;
constexpr size_t kPieceChars = 32000;
// Statements per function of chunks.
constexpr int kGroupStatements = 50;

/// A JSON string in pure ASCII without an apostrophe. Names and comments
/// come from the analysed program and need not be UTF-8.
std::string Text(const std::string &text) {
  return json_writer::Quoted(text, json_writer::Characters::kAscii);
}

// Records are appended in place: a script carries millions of them.
void AppendText(std::string_view text, json_writer::TextBuffer *out) {
  json_writer::AppendQuoted(text, json_writer::Characters::kAscii, out);
}

void AppendNumber(uint64_t value, json_writer::TextBuffer *out) {
  json_writer::AppendUnsigned(value, out);
}

// Statements are handed to the stream in pieces of this size.
constexpr size_t kFlushChars = 1 << 16;

/// Puts the chunk statements into functions of at most kGroupStatements
/// each, called at once: Jython compiles a module's code, and each function's,
/// into one Java method, which may hold at most 64 KB of code. The text is
/// gathered in a buffer and, when there is a stream, handed to it in large
/// pieces; without one (the records both scripts share) it is kept in
/// pieces. It is handed on only between statements, so that a statement
/// being written is whole in the buffer.
class StatementGroups {
 public:
  /// Hands the text to `out`, or keeps it in `pieces`.
  StatementGroups(std::ostream *out, std::vector<std::string> *pieces, int group = 0,
                  int count = 0)
      : out_(out), pieces_(pieces), group_(group), count_(count) {}
  ~StatementGroups() { Flush(); }

  /// Starts a statement; its text is appended to the buffer returned.
  json_writer::TextBuffer &Next() {
    if (count_ == kGroupStatements) Close();
    if (count_++ == 0) {
      text_ += "def _data_";
      json_writer::AppendUnsigned(group_, &text_);
      text_ += "():\n";
    }
    text_ += "    ";
    return text_;
  }

  /// Ends a statement.
  void End() {
    if (text_.size() >= kFlushChars) Flush();
  }

  void Close() {
    if (count_ == 0) return;
    text_ += "\n\n_data_";
    json_writer::AppendUnsigned(group_++, &text_);
    text_ += "()\n\n\n";
    count_ = 0;
  }

  int group() const { return group_; }
  int count() const { return count_; }

 private:
  void Flush() {
    if (text_.size() == 0) return;
    const std::string_view text = text_.text();
    if (out_ != nullptr)
      out_->write(text.data(), static_cast<std::streamsize>(text.size()));
    else
      pieces_->emplace_back(text);
    text_.clear();
  }

  json_writer::TextBuffer text_;
  std::ostream *out_;
  std::vector<std::string> *pieces_;
  int group_;
  int count_;
};

/// The first characters of a record (its numbers, kinds and punctuation),
/// put together on the stack and appended at once: a script holds millions
/// of records.
class RecordHead {
 public:
  RecordHead &Add(char c) {
    *at_++ = c;
    return *this;
  }
  /// A short text of this program's own (a punctuation, a kind's name).
  RecordHead &Add(std::string_view text) {
    json_writer::CopyBytes(at_, text.data(), text.size());
    at_ += text.size();
    return *this;
  }
  RecordHead &Number(uint64_t value) {
    at_ = json_writer::FormatUnsigned(value, at_);
    return *this;
  }
  std::string_view Text() const {
    return std::string_view(text_, static_cast<size_t>(at_ - text_));
  }

 private:
  char text_[128];
  char *at_ = text_;
};

/// Writes records of one kind as `_add(kind, r'''[...]''')` statements,
/// straight into the statements' text.
class ChunkWriter {
 public:
  ChunkWriter(StatementGroups &groups, const char *kind) : groups_(groups), kind_(kind) {}
  ~ChunkWriter() { Flush(); }

  void Add(std::string_view record) {
    Begin() += record;
    End();
  }

  /// The text to append the next record to; End() when it is whole.
  json_writer::TextBuffer &Begin() {
    if (text_ == nullptr)
      Open();
    else
      *text_ += ',';
    *text_ += '\n';
    return *text_;
  }
  /// Begin() with the record's first characters, put together in `head`.
  json_writer::TextBuffer &Begin(const RecordHead &head) {
    json_writer::TextBuffer &text = Begin();
    text += head.Text();
    return text;
  }
  void End() {
    if (text_->size() - start_ >= kChunkChars) Flush();
  }

  void Flush() {
    if (text_ == nullptr) return;
    *text_ += "\n]";
    if (text_->size() - start_ > kPieceChars) Cut();
    *text_ += "''')\n";
    text_ = nullptr;
    groups_.End();
  }

 private:
  /// Starts the statement of a chunk, before its first record.
  [[gnu::noinline]] void Open() {
    text_ = &groups_.Next();
    *text_ += "_add(\"";
    *text_ += kind_;
    *text_ += "\", r'''[";
    start_ = text_->size() - 1;
  }

  /// Cuts a chunk of more than kPieceChars (one record that long) into raw
  /// strings of at most that many. A raw string may not end in an odd
  /// number of backslashes: such a cut moves back by one.
  void Cut() {
    const std::string chunk(text_->text().substr(start_));
    text_->Truncate(start_);
    for (size_t at = 0; at < chunk.size();) {
      size_t end = std::min(chunk.size(), at + kPieceChars);
      size_t run = 0;
      while (end - run > at && chunk[end - run - 1] == '\\') ++run;
      if (run % 2 == 1) --end;
      if (at != 0) *text_ += "''',\n         r'''";
      text_->append(chunk.data() + at, end - at);
      at = end;
    }
  }

  StatementGroups &groups_;
  const char *kind_;
  json_writer::TextBuffer *text_ = nullptr;  // the open statement's, or null
  size_t start_ = 0;                         // where its records begin
};

asize_t StructSize(const kernel::Structure &s) {
  asize_t size = 0;
  for (const kernel::StructMember &m : s.members)
    if (m.size != 0) size = std::max(size, m.offset + m.size);
  return size;
}

/// The member's kind in the script, or null when it cannot be carried (no
/// size and not a string).
const char *MemberKind(const kernel::StructMember &m) {
  static const char *const kNumbers[] = {"byte", "word", "dword", "qword"};
  const flags_t type = m.flags & DATA_TYPE_MASK;
  if (type == DATA_DWORD && (m.flags & kShowMask) == kShowOffset && m.size == 4)
    return "offset";
  if (type <= DATA_QWORD) {
    const unsigned index = type >> 28;
    const asize_t element = 1u << index;
    if (m.size != 0 && m.size % element == 0) return kNumbers[index];
  } else if (type == DATA_ASCII && m.type_info == kPascalString) {
    return "pstring";
  } else if (type == DATA_ASCII && m.type_info == kCString) {
    return "cstring";
  }
  return m.size != 0 ? "byte" : nullptr;
}

/// The exponent of the alignment that [ea, ea + size) fills up to: the
/// smallest power of two above `size` that ea + size is a multiple of; 0
/// (let the tool infer it) when there is none.
int AlignExponent(ea_t ea, asize_t size) {
  const uint64_t end = uint64_t{ea} + size;
  for (int exponent = 1; exponent < 32; ++exponent) {
    const uint64_t unit = uint64_t{1} << exponent;
    if (unit > size && end % unit == 0) return exponent;
  }
  return 0;
}

std::string Hex(uint64_t value) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%08" PRIX64, value);
  return buf;
}

/// Text for a comment line: printable ASCII, anything else as \xNN.
std::string CommentLine(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

/// A function whose entry the database covers with a data item (the
/// detector's tables sometimes overlay code it first took for a function)
/// can be made in neither tool, which starts a function by decoding its
/// first instruction.
bool StartsOnData(const kernel::Database &db, const kernel::Function &f) {
  kernel::Item item;
  return db.ItemAt(f.start, &item) && item.type != kernel::ItemType::kCode;
}

/// What the header counts; the data items only with `items` (a walk of
/// every item's state, which the records' own walk can count instead).
ScriptRecords::Contents CountContents(const kernel::Database &db, bool items = true) {
  ScriptRecords::Contents c;
  c.structures = db.Structures().size();
  if (items) c.items = db.DataItemCount();
  for (const kernel::Function &f : db.Functions())
    ++(StartsOnData(db, f) ? c.functions_on_data : c.functions);
  c.names = db.NameCount();
  c.comments = db.CommentCount();
  return c;
}

void WriteHeader(const kernel::Database &db, const ScriptOrigin &origin,
                 const ScriptRecords::Contents &contents, const char *title,
                 const char *usage, std::ostream &out) {
  out << "# " << title << "\n#\n"
      << "# Program:    " << CommentLine(db.input_path()) << "\n"
      << "# Image base: " << Hex(db.image_base()) << "\n"
      << "# Run:        " << CommentLine(origin.run) << "\n"
      << "# Contents:   " << contents.items << " data items, " << contents.functions
      << " functions, " << contents.structures << " structures, " << contents.names
      << " names, " << contents.comments << " comments\n";
  if (contents.functions_on_data != 0)
    out << "# Left out:   " << contents.functions_on_data
        << " functions that start on a data item\n";
  out << "#\n" << usage;
}

/// The text of a decls or types record, and as its third element the text
/// without stack places when it differs.
void AppendTypeText(const ScriptTypes::Text &text, json_writer::TextBuffer *out) {
  AppendText(text.text, out);
  if (text.without_stack_places.empty()) return;
  *out += ", ";
  AppendText(text.without_stack_places, out);
}

/// The records every script carries alike: structures, data items,
/// functions, names and comments.
void AppendRecords(const kernel::Database &db, StatementGroups &groups,
                   size_t *items = nullptr) {
  const std::vector<kernel::Structure> structs = db.Structures();
  std::map<tid_t, const kernel::Structure *> by_id;
  {
    ChunkWriter chunk(groups, "structs");
    for (const kernel::Structure &s : structs) {
      by_id[s.id] = &s;
      std::string members;
      for (const kernel::StructMember &m : s.members) {
        const char *kind = MemberKind(m);
        if (kind == nullptr) continue;
        members += members.empty() ? "" : ", ";
        members += "[" + Text(m.name) + ", " + std::to_string(m.offset) + ", " +
                   std::to_string(m.size) + ", \"" + kind + "\"]";
      }
      chunk.Add("[" + Text(s.name) + ", " + std::to_string(StructSize(s)) + ", [" +
                members + "]]");
    }
  }
  {
    ChunkWriter chunk(groups, "items");
    // Each kind's name with its quotes, made once for the walk.
    constexpr size_t kKinds = static_cast<size_t>(kernel::ItemType::kCode) + 1;
    std::string kinds[kKinds];
    for (size_t i = 0; i < kKinds; ++i)
      kinds[i] = std::string("\"") +
                 kernel::ItemTypeName(static_cast<kernel::ItemType>(i)) + '"';
    // Most items of a program are instructions, which are not carried.
    size_t walked = 0;
    db.ForEachDataItem([&](const kernel::Item &item) {
      ++walked;
      const kernel::Structure *structure = nullptr;
      if (item.type == kernel::ItemType::kStruct) {
        auto it = by_id.find(item.struct_id);
        if (it == by_id.end()) return;
        structure = it->second;
      }
      RecordHead head;
      head.Add('[').Number(item.start).Add(", ").Number(item.size).Add(", ");
      head.Add(kinds[static_cast<size_t>(item.type)]);
      if (item.type == kernel::ItemType::kAlign)
        head.Add(", ").Number(AlignExponent(item.start, item.size));
      else if (structure != nullptr)
        head.Add(", ");
      json_writer::TextBuffer &record = chunk.Begin(head);
      if (structure != nullptr) AppendText(structure->name, &record);
      record += ']';
      chunk.End();
    });
    if (items != nullptr) *items = walked;
  }
  {
    ChunkWriter chunk(groups, "functions");
    for (const kernel::Function &f : db.Functions()) {
      if (StartsOnData(db, f)) continue;
      RecordHead head;
      head.Add('[').Number(f.start).Add(", ").Number(f.end).Add(']');
      chunk.Begin(head);
      chunk.End();
    }
  }
  {
    ChunkWriter chunk(groups, "names");
    db.ForEachName([&](ea_t ea, std::string_view name) {
      RecordHead head;
      head.Add('[').Number(ea).Add(", ");
      json_writer::TextBuffer &record = chunk.Begin(head);
      AppendText(name, &record);
      record += ']';
      chunk.End();
    });
  }
  {
    ChunkWriter chunk(groups, "comments");
    db.ForEachComment([&](ea_t ea, std::string_view text, bool repeatable) {
      RecordHead head;
      head.Add('[').Number(ea).Add(", ");
      json_writer::TextBuffer &record = chunk.Begin(head);
      AppendText(text, &record);
      record += repeatable ? ", true]" : ", false]";
      chunk.End();
    });
  }
}

/// The records of the tool's types: its declarations, the types the
/// addresses get, and its other kinds.
void AppendTypes(const ScriptTypes &types, StatementGroups &groups) {
  {
    ChunkWriter chunk(groups, "decls");
    for (const auto &[name, text] : types.declarations) {
      json_writer::TextBuffer &record = chunk.Begin();
      record += '[';
      AppendText(name, &record);
      record += ", ";
      AppendTypeText(text, &record);
      record += ']';
      chunk.End();
    }
  }
  {
    ChunkWriter chunk(groups, "types");
    for (const auto &[ea, text] : types.applied) {
      json_writer::TextBuffer &record = chunk.Begin();
      record += '[';
      AppendNumber(ea, &record);
      record += ", ";
      AppendTypeText(text, &record);
      record += ']';
      chunk.End();
    }
  }
  // The other kinds, each in one run of chunks.
  for (const ScriptTypes::Records &records : types.records) {
    ChunkWriter chunk(groups, records.kind.c_str());
    const std::string_view text = records.text;
    size_t start = 0;
    for (size_t end : records.ends) {
      chunk.Add(text.substr(start, end - start));
      start = end;
    }
  }
}

}  // namespace

std::string ScriptText(const std::string &text) { return Text(text); }

ScriptRecords MakeScriptRecords(const kernel::Database &db) {
  ScriptRecords records;
  records.contents = CountContents(db, false);
  {
    StatementGroups groups(nullptr, &records.statements);
    AppendRecords(db, groups, &records.contents.items);
    records.groups = groups.group();
    records.open_statements = groups.count();
  }
  return records;
}

bool WriteScript(const kernel::Database &db, const ScriptOrigin &origin,
                 const ScriptRecords *records, const char *title, const char *usage,
                 const char *code, const ScriptTypes *types, std::ostream &out) {
  WriteHeader(db, origin, records != nullptr ? records->contents : CountContents(db),
              title, usage, out);
  out << "\n"
      << code << "\n\n"
      << kMainCode << "\n\n"
      << "# The image base of the program the run was made on.\n"
      << "IMAGE_BASE = " << Hex(db.image_base()) << "\n\n";
  if (records != nullptr)
    for (const std::string &piece : records->statements)
      out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  {
    StatementGroups groups(&out, nullptr, records != nullptr ? records->groups : 0,
                           records != nullptr ? records->open_statements : 0);
    if (records == nullptr) AppendRecords(db, groups);
    if (types != nullptr) AppendTypes(*types, groups);
    groups.Close();
  }
  out << "\nmain()\n";
  return static_cast<bool>(out);
}

}  // namespace tool_script
