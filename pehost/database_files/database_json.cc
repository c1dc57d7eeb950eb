// The writer streams the database element by element and the reader keeps
// only compact records of what it read (the parser's per-element objects are
// dropped as soon as each is converted), so that a program with millions of
// items is saved and restored without a document tree of it in memory.
#include "pehost/database_files/database_json.h"

#include <algorithm>
#include <cinttypes>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/text_encoding.h"
#include "pehost/json_writer/json_writer.h"

namespace database_files {
namespace {

using nlohmann::json;

}  // namespace

bool WriteDatabaseJson(const kernel::Database &db, JsonContent content,
                       std::ostream &out) {
  json_writer::JsonWriter w(out);
  w.BeginObject();
  w.Member("input", db.input_path());
  w.ObjectArray("segments", db.segments(), [&](const kernel::Segment &s) {
    w.Member("name", s.name);
    w.Member("start", s.start);
    w.Member("end", s.end);
  });

  w.Key("items");
  w.BeginArray();
  db.ForEachItem([&](const kernel::Item &item) {
    if (item.type == kernel::ItemType::kCode && content == JsonContent::kExport) return;
    w.BeginObject(true);
    w.Member("ea", item.start);
    w.Member("size", item.size);
    w.Member("type", kernel::ItemTypeName(item.type));
    if (item.type == kernel::ItemType::kStruct) w.Member("struct_id", item.struct_id);
    w.EndObject();
  });
  w.EndArray();

  w.ObjectArray("names", db.Names(), [&](const auto &entry) {
    w.Member("ea", entry.first);
    w.Member("name", entry.second);
  });
  w.ObjectArray("comments", db.Comments(), [&](const kernel::Comment &c) {
    w.Member("ea", c.ea);
    w.Member("text", c.text);
    w.MemberBool("repeatable", c.repeatable);
  });
  w.ObjectArray("functions", db.Functions(), [&](const kernel::Function &f) {
    w.Member("start", f.start);
    w.Member("end", f.end);
  });
  w.ObjectArray("structs", db.Structures(), [&](const kernel::Structure &s) {
    int64_t size = 0;
    for (const kernel::StructMember &m : s.members)
      if (m.size != 0) size = std::max<int64_t>(size, int64_t{m.offset} + m.size);
    w.Member("id", s.id);
    w.Member("name", s.name);
    w.Member("size", size);
    w.ObjectArray("members", s.members, [&](const kernel::StructMember &m) {
      w.Member("name", m.name);
      w.Member("offset", m.offset);
      w.Member("size", m.size);
      w.Member("flags", m.flags);
      w.Member("type_info", static_cast<int64_t>(m.type_info));
    });
  });
  w.Member("cursor", db.cursor());
  w.EndObject();
  return w.Flush();
}

namespace {

/// A refusal while reading; its text is the reason shown to the user.
struct ReadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string &where, const std::string &why) {
  throw ReadError(model::OneLine(where.empty() ? why : where + ": " + why));
}

void CheckKeys(const json &obj, std::initializer_list<const char *> allowed,
               const std::string &where) {
  for (const auto &entry : obj.items()) {
    const std::string &key = entry.key();
    if (std::none_of(allowed.begin(), allowed.end(),
                     [&](const char *a) { return key == a; }))
      Refuse(where, "unknown key \"" + key + "\"");
  }
}

const json &Field(const json &obj, const char *key, const std::string &where) {
  auto it = obj.find(key);
  if (it == obj.end()) Refuse(where, std::string("\"") + key + "\" is missing");
  return *it;
}

uint32_t Unsigned32(const json &value, const char *key, const std::string &where) {
  if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFFFFFFu)
    Refuse(where, std::string("\"") + key + "\" is not an integer from 0 to 4294967295");
  return static_cast<uint32_t>(value.get<uint64_t>());
}

uint32_t Unsigned32(const json &obj, const char *key, const std::string &where,
                    std::optional<uint32_t> fallback) {
  if (fallback && !obj.contains(key)) return *fallback;
  return Unsigned32(Field(obj, key, where), key, where);
}

std::string Text(const json &obj, const char *key, const std::string &where) {
  const json &value = Field(obj, key, where);
  if (!value.is_string()) Refuse(where, std::string("\"") + key + "\" is not a string");
  return value.get<std::string>();
}

flags_t FlagsForSize(asize_t size) {
  switch (size) {
    case 2:
      return DATA_WORD;
    case 4:
      return DATA_DWORD;
    case 8:
      return DATA_QWORD;
    default:
      return DATA_BYTE;
  }
}

/// Everything read from the file, before any of it reaches the database.
struct SavedDatabase {
  std::optional<std::vector<kernel::Segment>> segments;  // bytes left empty
  std::vector<kernel::Item> items;
  std::vector<std::pair<size_t, std::string>> struct_refs;  // item index, name
  std::vector<std::pair<ea_t, std::string>> names;
  std::vector<kernel::Comment> comments;
  std::vector<kernel::Function> functions;
  std::vector<kernel::Structure> structs;
  std::vector<bool> struct_has_id;
  std::optional<ea_t> cursor;
};

const char *const kArrayKeys[] = {"segments", "items",     "names",
                                  "comments", "functions", "structs"};

bool IsArrayKey(const std::string &key) {
  return std::find_if(std::begin(kArrayKeys), std::end(kArrayKeys),
                      [&](const char *k) { return key == k; }) != std::end(kArrayKeys);
}

void TakeSegment(const json &e, const std::string &where, SavedDatabase *saved) {
  CheckKeys(e, {"name", "start", "end"}, where);
  kernel::Segment s;
  s.name = Text(e, "name", where);
  s.start = Unsigned32(e, "start", where, std::nullopt);
  s.end = Unsigned32(e, "end", where, std::nullopt);
  saved->segments->push_back(std::move(s));
}

void TakeItem(const json &e, const std::string &where, SavedDatabase *saved) {
  CheckKeys(e, {"ea", "size", "type", "struct_id", "struct"}, where);
  kernel::Item item;
  item.start = Unsigned32(e, "ea", where, std::nullopt);
  item.size = Unsigned32(e, "size", where, std::nullopt);
  const std::string type = Text(e, "type", where);
  if (!kernel::ParseItemType(type, &item.type))
    Refuse(where, "unknown item type \"" + type + "\"");
  if (item.type == kernel::ItemType::kStruct) {
    if (e.contains("struct_id")) {
      item.struct_id = Unsigned32(e, "struct_id", where, std::nullopt);
    } else if (e.contains("struct")) {
      saved->struct_refs.emplace_back(saved->items.size(), Text(e, "struct", where));
    } else {
      Refuse(where, "a struct item needs \"struct_id\" or \"struct\"");
    }
  } else if (e.contains("struct_id") || e.contains("struct")) {
    Refuse(where, "only struct items name a structure");
  }
  saved->items.push_back(item);
}

void TakeName(const json &e, const std::string &where, SavedDatabase *saved) {
  CheckKeys(e, {"ea", "name"}, where);
  saved->names.emplace_back(Unsigned32(e, "ea", where, std::nullopt),
                            Text(e, "name", where));
}

void TakeComment(const json &e, const std::string &where, SavedDatabase *saved) {
  CheckKeys(e, {"ea", "text", "repeatable"}, where);
  kernel::Comment c;
  c.ea = Unsigned32(e, "ea", where, std::nullopt);
  c.text = Text(e, "text", where);
  if (auto it = e.find("repeatable"); it != e.end()) {
    if (!it->is_boolean()) Refuse(where, "\"repeatable\" is not true or false");
    c.repeatable = it->get<bool>();
  }
  saved->comments.push_back(std::move(c));
}

void TakeFunction(const json &e, const std::string &where, SavedDatabase *saved) {
  CheckKeys(e, {"start", "end"}, where);
  saved->functions.push_back({Unsigned32(e, "start", where, std::nullopt),
                              Unsigned32(e, "end", where, std::nullopt)});
}

void TakeStruct(const json &e, const std::string &where, SavedDatabase *saved) {
  CheckKeys(e, {"id", "name", "size", "members"}, where);
  kernel::Structure s;
  s.name = Text(e, "name", where);
  saved->struct_has_id.push_back(e.contains("id"));
  s.id = Unsigned32(e, "id", where, BADNODE);
  if (auto it = e.find("members"); it != e.end()) {
    if (!it->is_array()) Refuse(where, "\"members\" is not an array");
    for (size_t i = 0; i < it->size(); ++i) {
      const json &m = (*it)[i];
      const std::string mwhere = where + ".members[" + std::to_string(i) + "]";
      if (!m.is_object()) Refuse(mwhere, "not an object");
      CheckKeys(m, {"name", "offset", "size", "flags", "type_info"}, mwhere);
      kernel::StructMember member;
      member.name = Text(m, "name", mwhere);
      member.offset = Unsigned32(m, "offset", mwhere, std::nullopt);
      member.size = Unsigned32(m, "size", mwhere, std::nullopt);
      member.flags = Unsigned32(m, "flags", mwhere, FlagsForSize(member.size));
      if (auto t = m.find("type_info"); t != m.end()) {
        if (!t->is_number_integer() || t->get<int64_t>() < INT32_MIN ||
            t->get<int64_t>() > INT32_MAX)
          Refuse(mwhere, "\"type_info\" is not a 32-bit integer");
        member.type_info = static_cast<opinfo_t>(t->get<int64_t>());
      }
      s.members.push_back(std::move(member));
    }
  }
  // "size" follows from the members and is written for readers; a file
  // that gives another one has a member outside its structure or a hole
  // where its last member should be.
  if (auto it = e.find("size"); it != e.end()) {
    uint64_t end = 0;
    for (const kernel::StructMember &m : s.members)
      if (m.size != 0) end = std::max<uint64_t>(end, uint64_t{m.offset} + m.size);
    const uint32_t size = Unsigned32(*it, "size", where);
    if (size != end)
      Refuse(where, "\"size\" is " + std::to_string(size) + " but the members end at " +
                        std::to_string(end));
  }
  saved->structs.push_back(std::move(s));
}

/// Reads element `index` of the top-level array `key` into *saved.
void TakeElement(const std::string &key, size_t index, const json &e,
                 SavedDatabase *saved) {
  using Take = void (*)(const json &, const std::string &, SavedDatabase *);
  static const std::pair<const char *, Take> kTakes[] = {
      {"segments", TakeSegment}, {"items", TakeItem},         {"names", TakeName},
      {"comments", TakeComment}, {"functions", TakeFunction}, {"structs", TakeStruct},
  };
  const std::string where = key + "[" + std::to_string(index) + "]";
  for (const auto &[name, take] : kTakes)
    if (key == name) return take(e, where, saved);
}

void Parse(std::istream &in, SavedDatabase *saved) {
  std::string key;  // the top-level key being read
  std::unordered_map<std::string, size_t> counts;
  auto callback = [&](int depth, json::parse_event_t event, json &parsed) -> bool {
    using E = json::parse_event_t;
    if (depth == 0) {
      if (event != E::object_start && event != E::object_end)
        Refuse("", "the file does not hold a JSON object");
      return true;
    }
    if (depth == 1) {
      switch (event) {
        case E::key:
          key = parsed.get<std::string>();
          if (!IsArrayKey(key) && key != "input" && key != "cursor")
            Refuse("", "unknown key \"" + key + "\"");
          return true;
        case E::array_start:
          if (!IsArrayKey(key)) Refuse(key, "must not be an array");
          if (key == "segments" && !saved->segments) saved->segments.emplace();
          return true;
        case E::array_end:
          return false;  // its elements were taken one by one
        case E::object_start:
          Refuse(key, "must not be an object");
        case E::value:
          if (key == "input") {
            if (!parsed.is_string()) Refuse(key, "is not a string");
          } else if (key == "cursor") {
            saved->cursor = Unsigned32(parsed, "cursor", "");
          } else {
            Refuse(key, "is not an array");
          }
          return false;
        default:
          return true;
      }
    }
    if (depth == 2) {
      if (event == E::value || event == E::array_start)
        Refuse(key + "[" + std::to_string(counts[key]) + "]", "not an object");
      if (event == E::object_end) {
        TakeElement(key, counts[key]++, parsed, saved);
        return false;
      }
    }
    return true;
  };
  try {
    // Every element was taken and dropped on the way; what is left is empty.
    const json rest = json::parse(in, callback);
    (void)rest;
  } catch (const json::exception &e) {
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    std::string what = e.what();
    if (size_t end = what.find("] ");
        what.rfind("[json.exception", 0) == 0 && end != std::string::npos)
      what.erase(0, end + 2);
    Refuse("", "not valid JSON: " + what);
  }
}

std::string SegmentText(const kernel::Segment &s) {
  char buf[64];
  snprintf(buf, sizeof buf, " 0x%08" PRIX32 "-0x%08" PRIX32, s.start, s.end);
  return s.name + buf;
}

void CheckSegments(const std::vector<kernel::Segment> &saved,
                   const std::vector<kernel::Segment> &program) {
  if (saved.size() != program.size())
    Refuse("segments", "the file has " + std::to_string(saved.size()) + ", the program " +
                           std::to_string(program.size()));
  for (size_t i = 0; i < saved.size(); ++i) {
    const kernel::Segment &a = saved[i];
    const kernel::Segment &b = program[i];
    if (a.name != b.name || a.start != b.start || a.end != b.end)
      Refuse("segments[" + std::to_string(i) + "]",
             SegmentText(a) + " differs from the program's " + SegmentText(b));
  }
}

/// Gives structures without an id one that no other structure uses, and
/// resolves struct items that name their structure.
void AssignStructIds(SavedDatabase *saved, const kernel::Database &db) {
  tid_t next = 0xFF000000u;
  auto take = [&](tid_t id) {
    if (id != BADNODE && id >= next) next = id + 1;
  };
  for (const kernel::Structure &s : db.Structures()) take(s.id);
  for (size_t i = 0; i < saved->structs.size(); ++i)
    if (saved->struct_has_id[i]) take(saved->structs[i].id);
  for (size_t i = 0; i < saved->structs.size(); ++i) {
    if (saved->struct_has_id[i]) continue;
    if (next == BADNODE) Refuse("structs", "no structure id is left");
    saved->structs[i].id = next++;
  }
  // The first structure of each name; a second one is refused when applied.
  std::unordered_map<std::string_view, tid_t> ids;
  for (const kernel::Structure &s : saved->structs) ids.emplace(s.name, s.id);
  for (const auto &[index, name] : saved->struct_refs) {
    auto it = ids.find(name);
    if (it == ids.end())
      Refuse("items[" + std::to_string(index) + "]", "no structure \"" + name + "\"");
    saved->items[index].struct_id = it->second;
  }
}

void Apply(const SavedDatabase &saved, kernel::Database *db) {
  std::string why;
  auto check = [&](bool ok, const char *array, size_t index) {
    if (!ok) Refuse(std::string(array) + "[" + std::to_string(index) + "]", why);
  };
  for (size_t i = 0; i < saved.structs.size(); ++i)
    check(db->RestoreStructure(saved.structs[i], &why), "structs", i);
  for (size_t i = 0; i < saved.items.size(); ++i)
    check(db->RestoreItem(saved.items[i], &why), "items", i);
  for (size_t i = 0; i < saved.functions.size(); ++i)
    check(db->RestoreFunction(saved.functions[i], &why), "functions", i);
  for (size_t i = 0; i < saved.names.size(); ++i)
    check(db->RestoreName(saved.names[i].first, saved.names[i].second, &why), "names", i);
  for (size_t i = 0; i < saved.comments.size(); ++i)
    check(db->RestoreComment(saved.comments[i], &why), "comments", i);
  if (saved.cursor) db->SetCursor(*saved.cursor);
}

}  // namespace

bool ReadDatabaseJson(std::istream &in, kernel::Database *db, std::string *err) {
  try {
    SavedDatabase saved;
    Parse(in, &saved);
    if (saved.segments) CheckSegments(*saved.segments, db->segments());
    AssignStructIds(&saved, *db);
    Apply(saved, db);
    return true;
  } catch (const ReadError &e) {
    *err = e.what();
  } catch (const std::bad_alloc &) {
    *err = "out of memory";
  }
  db->Clear();
  return false;
}

}  // namespace database_files
