#include "model/program_model.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

#include "detector/core/recognise.h"
#include "host/kernel/database.h"
#include "model/form_binding.h"
#include "model/text_encoding.h"

namespace model {

namespace {

void FindOldestBlocks(ProgramModel *model);

/// Every class record and type information block, found as the plug-ins
/// find them: the next candidate at or after each 4-byte boundary.
void FindRecords(ProgramModel *model) {
  ea_t x = inf.min_ea;
  for (;;) {
    const ea_t m = find_next_group(x);
    if (m == BADADDR) break;
    if (is_class_record(m)) {
      model->classes.push_back({m, BADADDR, BADADDR, 0});
    } else if (is_type_info(m)) {
      model->types.push_back({m, get_byte(m + 4)});
    }
    if (m + 4 < m) break;
    x = m + 4;
  }
  if (!has_self_pointer(model->header_size)) FindOldestBlocks(model);
}

/// Adds the block whose kind byte is at `kind_at`, when one is there.
bool AddOldestBlock(ea_t kind_at, ProgramModel *model) {
  if (kind_at < 4 || !is_program_address(kind_at) ||
      type_kind_name(get_byte(kind_at)) == nullptr ||
      get_pascal_name(kind_at + 1, 0) == nullptr)
    return false;
  model->types.push_back({kind_at - 4, get_byte(kind_at)});
  return true;
}

/// The oldest compilers wrote no cells, so no search finds a type block:
/// each class record's TypeInfo field leads to its class's block, and the
/// property records of that block to the blocks of the property types. A
/// block is kept by where its cell would be, 4 bytes in front of the kind
/// byte.
void FindOldestBlocks(ProgramModel *model) {
  for (const ClassEntry &c : model->classes) {
    const ea_t kind_at = get_long(class_field_at(c.record, FIELD_TYPE_INFO));
    if (!AddOldestBlock(kind_at, model)) continue;
    for_each_prop_type(
        kind_at,
        [](ea_t type, void *m) { AddOldestBlock(type, static_cast<ProgramModel *>(m)); },
        model);
  }
  std::sort(model->types.begin(), model->types.end(),
            [](const TypeEntry &a, const TypeEntry &b) { return a.cell < b.cell; });
  model->types.erase(std::unique(model->types.begin(), model->types.end(),
                                 [](const TypeEntry &a, const TypeEntry &b) {
                                   return a.cell == b.cell;
                                 }),
                     model->types.end());
}

uint32_t InternUnit(const std::string &unit, std::map<std::string, uint32_t> *index,
                    std::vector<std::string> *units) {
  if (unit.empty()) return 0;
  auto [it, added] = index->emplace(unit, static_cast<uint32_t>(units->size()));
  if (added) units->push_back(unit);
  return it->second;
}

/// The unit name of a class type block: behind ClassType, ParentInfo and
/// PropCount.
std::string ClassTypeUnit(ea_t cell) {
  const ea_t data = cell + 6 + get_byte(cell + 5);
  return NameAt(data + 10);
}

void LinkClasses(ProgramModel *model) {
  std::map<std::string, uint32_t> unit_index;
  const ea_t header = static_cast<ea_t>(model->header_size);
  // The class type blocks name their class by its table address.
  for (const TypeEntry &t : model->types) {
    if (t.kind != KIND_CLASS) continue;
    const ea_t vmt = get_long(t.cell + 6 + get_byte(t.cell + 5));
    auto it = std::lower_bound(
        model->classes.begin(), model->classes.end(), vmt - header,
        [](const ClassEntry &c, ea_t record) { return c.record < record; });
    if (it == model->classes.end() || it->record != vmt - header) continue;
    // The class's own TypeInfo field decides when two blocks claim it.
    if (it->type_block != BADADDR &&
        get_long(class_field_at(it->record, FIELD_TYPE_INFO)) != t.cell + 4)
      continue;
    it->type_block = t.cell;
    it->unit = InternUnit(ClassTypeUnit(t.cell), &unit_index, &model->units);
  }
  for (ClassEntry &c : model->classes) {
    const ClassEntry *parent =
        model->ResolveClassRef(get_long(class_field_at(c.record, FIELD_PARENT)));
    if (parent != nullptr && parent->record != c.record) c.parent = parent->record;
  }
}

void CollectInterfaceGuids(ProgramModel *model) {
  for (const TypeEntry &t : model->types) {
    if (t.kind != KIND_INTERFACE) continue;
    // Behind the name: IntfParent (4 bytes), IntfFlags (1), then the GUID.
    const ea_t guid = t.cell + 6 + get_byte(t.cell + 5) + 5;
    if (guid + 16 < guid || guid + 16 > segment_end(t.cell)) continue;
    InterfaceGuid g;
    for (int i = 0; i < 16; ++i) g.bytes[i] = get_byte(guid + i);
    g.cell = t.cell;
    model->guids.push_back(g);
  }
  std::stable_sort(model->guids.begin(), model->guids.end(),
                   [](const InterfaceGuid &a, const InterfaceGuid &b) {
                     return memcmp(a.bytes, b.bytes, 16) < 0;
                   });
}

}  // namespace

std::string NameAt(ea_t ea) {
  const char *name = get_pascal_name(ea, 0);
  return name != nullptr ? name : "";
}

std::string ShortStringAt(ea_t ea) {
  // Nearly always within its segment: its bytes read from memory.
  asize_t size = 0;
  if (const uint8_t *at = get_segment_bytes(ea, &size); at != nullptr && size > at[0])
    return TextFromBytes(std::string_view(reinterpret_cast<const char *>(at) + 1, at[0]));
  const uint8_t n = get_byte(ea);
  std::string bytes(n, '\0');
  for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(get_byte(ea + 1 + i));
  return TextFromBytes(bytes);
}

std::string ClassName(ea_t record) {
  return NameAt(get_long(class_field_at(record, FIELD_CLASS_NAME)));
}

std::string DatabaseName(ea_t ea) {
  char buf[1024];
  return get_true_name(ea, ea, buf, sizeof buf) != nullptr ? buf : "";
}

std::string_view ProgramModel::CodeName(ea_t ea) const {
  // Direct-mapped by the address: sixteen slots a class, at most a few
  // hundred kilobytes however large the program (a fixed size made each
  // small program pay for the largest).
  if (code_names_.empty())
    code_names_.resize(
        std::bit_ceil(std::clamp<size_t>(16 * classes.size(), 64, 1 << 13)));
  NameSlot &slot = code_names_[(ea ^ ea >> 13) & (code_names_.size() - 1)];
  if (!slot.used || slot.ea != ea) {
    slot.used = true;
    slot.ea = ea;
    char buf[1024];
    slot.name = {};
    if (get_true_name(ea, ea, buf, sizeof buf) != nullptr && buf[0] != '\0') {
      const size_t size = strlen(buf);
      char *kept = code_name_texts_.Room(size);
      memcpy(kept, buf, size);
      slot.name = {kept, size};
    }
  }
  return slot.name;
}

const ClassEntry *ProgramModel::FindClass(ea_t record) const {
  auto it = std::lower_bound(classes.begin(), classes.end(), record,
                             [](const ClassEntry &c, ea_t r) { return c.record < r; });
  return it != classes.end() && it->record == record ? &*it : nullptr;
}

const TypeEntry *ProgramModel::FindType(ea_t cell) const {
  auto it = std::lower_bound(types.begin(), types.end(), cell,
                             [](const TypeEntry &t, ea_t c) { return t.cell < c; });
  return it != types.end() && it->cell == cell ? &*it : nullptr;
}

const ClassEntry *ProgramModel::ResolveClassRef(ea_t ref) const {
  if (ref == 0 || !is_program_address(ref)) return nullptr;
  // The oldest compilers refer to a class by its table, right behind the
  // record.
  if (!has_self_pointer(header_size))
    return FindClass(ref - static_cast<ea_t>(header_size));
  // The cell is normally the class's own SelfPtr field, which holds its
  // table address.
  if (const ClassEntry *c = FindClass(ref)) return c;
  const ea_t held = get_long(ref);
  if (const ClassEntry *c = FindClass(held - static_cast<ea_t>(header_size))) return c;
  return FindClass(held);
}

namespace {

/// The name of `entry`, read by `read` once for each of `entries` and kept
/// in `texts`; `cache` holds the names read so far by their places (one not
/// read yet has no data). An entry that is not one of `entries` is read
/// each time.
template <typename Entry, typename Read>
std::string_view KeptName(const std::vector<Entry> &entries, const Entry &entry,
                          std::vector<std::string_view> *cache, TextArena *texts,
                          Read read) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(&entry);
  const uintptr_t first = reinterpret_cast<uintptr_t>(entries.data());
  const size_t i = (at - first) / sizeof(Entry);
  const bool listed = at >= first && i < entries.size();
  if (listed) {
    if (cache->size() != entries.size()) cache->assign(entries.size(), {});
    if ((*cache)[i].data() != nullptr) return (*cache)[i];
  }
  const auto name = read();
  const std::string_view view = name;
  std::string_view kept = "";
  if (!view.empty()) {
    char *text = texts->Room(view.size());
    memcpy(text, view.data(), view.size());
    kept = {text, view.size()};
  }
  if (listed) (*cache)[i] = kept;
  return kept;
}

}  // namespace

std::string_view ProgramModel::TypeName(const TypeEntry &t) const {
  return KeptName(types, t, &type_names_, &name_texts_, [&] {
    const char *name = get_record_name(t.cell + 5, t.cell);
    return std::string_view(name != nullptr ? name : "");
  });
}

std::string_view ProgramModel::ClassNameOf(const ClassEntry &c) const {
  return KeptName(classes, c, &class_names_, &name_texts_,
                  [&] { return ClassName(c.record); });
}

std::string ProgramModel::TypeNameAt(ea_t ref) const {
  if (ref == 0 || !is_program_address(ref)) return "";
  // The oldest compilers refer to the kind byte itself.
  const ea_t kind_at = has_self_pointer(header_size) ? get_long(ref) : ref;
  if (!is_program_address(kind_at)) return "";
  // The kind byte sits behind a block's cell; a reference through an import
  // cell leads there as well.
  if (const TypeEntry *t = FindType(kind_at - 4)) return std::string(TypeName(*t));
  if (type_kind_name(get_byte(kind_at)) == nullptr) return "";
  return NameAt(kind_at + 1);
}

ea_t ProgramModel::InterfaceNamed(const uint8_t *guid) const {
  auto it = std::lower_bound(guids.begin(), guids.end(), guid,
                             [](const InterfaceGuid &g, const uint8_t *key) {
                               return memcmp(g.bytes, key, 16) < 0;
                             });
  return it != guids.end() && memcmp(it->bytes, guid, 16) == 0 ? it->cell : BADADDR;
}

ea_t ProgramModel::BlockAddress(ea_t cell) const {
  return has_self_pointer(header_size) ? cell : cell + 4;
}

ProgramModel BuildModel() {
  ProgramModel model;
  char path[4096];
  if (netnode_valstr(RootNode, path, sizeof path) >= 0) model.file = qbasename(path);
  model.header_size = decide_class_layout();
  set_class_layout(model.header_size);
  model.image_base = kernel::TheDatabase().image_base();
  model.lowest = inf.min_ea;
  model.highest = inf.max_ea;
  model.units.emplace_back();
  FindRecords(&model);
  LinkClasses(&model);
  CollectInterfaceGuids(&model);
  ReadForms(&model);
  return model;
}

}  // namespace model
