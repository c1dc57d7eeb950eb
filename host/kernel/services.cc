// The exported C services of host_api.h over TheDatabase(). Arguments are
// checked here, at the edge; the database below trusts them.
#include <algorithm>
#include <cstring>
#include <string>

#include "detector/core/host_api.h"
#include "host/kernel/database_impl.h"

using kernel::Database;
using kernel::ItemType;

namespace {

// Set when the library is loaded, before any plug-in can call a service:
// the services ask for it millions of times a run.
Database::Impl &g_db = kernel::TheDatabase().impl();

Database::Impl &Db() { return g_db; }

// Copies `text` into `buf`, cut to fit and terminated; the length written.
int CopyOut(std::string_view text, char *buf, size_t bufsize) {
  if (buf == nullptr || bufsize == 0) return 0;
  const size_t n = std::min(text.size(), bufsize - 1);
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace

extern "C" {

idainfo inf;
processor_t ph;
netnode RootNode = {1};
areacb_t segs = {nullptr};

int netnode_valstr(netnode node, char *buf, size_t bufsize) {
  const std::string &path = kernel::TheDatabase().input_path();
  if (node.index != RootNode.index || path.empty() || buf == nullptr || bufsize == 0)
    return -1;
  return CopyOut(path, buf, bufsize);
}

area_t *areacb_t_get_area(areacb_t *cb, ea_t ea) {
  (void)cb;  // the database has one collection of areas, its segments
  Database::Impl &d = Db();
  const int i = d.SegmentIndex(ea);
  return i < 0 ? nullptr : &d.areas[i];
}

area_t *areacb_t_get_next_area(areacb_t *cb, ea_t ea) {
  (void)cb;
  Database::Impl &d = Db();
  auto it =
      std::upper_bound(d.segments.begin(), d.segments.end(), ea,
                       [](ea_t a, const kernel::Segment &s) { return a < s.start; });
  return it == d.segments.end() ? nullptr : &d.areas[it - d.segments.begin()];
}

// ---- Reading -------------------------------------------------------------

uint8_t get_byte(ea_t ea) { return Db().Byte(ea); }

uint16_t get_word(ea_t ea) {
  Database::Impl &d = Db();
  return static_cast<uint16_t>(d.Byte(ea) | d.Byte(ea + 1) << 8);
}

uint32_t get_long(ea_t ea) { return Db().Long(ea); }

const uint8_t *get_segment_bytes(ea_t ea, asize_t *size) {
  const Database::Impl &d = Db();
  const int i = d.SegmentIndex(ea);
  if (i < 0) {
    *size = 0;
    return nullptr;
  }
  const kernel::Segment &s = d.segments[i];
  *size = s.end - ea;
  return s.bytes.data() + (ea - s.start);
}

ea_t get_item_end(ea_t ea) { return Db().ItemEnd(ea); }

ea_t prevaddr(ea_t ea) {
  Database::Impl &d = Db();
  if (ea == 0) return BADADDR;
  if (d.SegmentIndex(ea - 1) >= 0) return ea - 1;
  // The last byte of the nearest segment below.
  ea_t best = BADADDR;
  for (const kernel::Segment &s : d.segments)
    if (s.end <= ea) best = s.end - 1;
  return best;
}

int get_func_num(ea_t ea) {
  Database::Impl &d = Db();
  kernel::FunctionEntry f;
  return d.FunctionAt(ea, nullptr, &f) ? f.index : -1;
}

ea_t get_first_dref_to(ea_t ea) { return Db().FirstDataRef(ea); }

char *get_true_name(ea_t from, ea_t ea, char *buf, size_t bufsize) {
  (void)from;
  if (buf == nullptr || bufsize == 0) return nullptr;
  // A given name is copied out as it is kept; only a dummy name is made.
  if (const std::string_view given = Db().GivenName(ea); !given.empty()) {
    CopyOut(given, buf, bufsize);
    return buf;
  }
  const std::string name = Db().DummyName(ea);
  if (name.empty()) return nullptr;
  CopyOut(name, buf, bufsize);
  return buf;
}

int get_cmt(ea_t ea, int repeatable, char *buf, size_t bufsize) {
  const std::string *text = Db().CommentOf(ea, repeatable != 0);
  if (text == nullptr) return -1;
  if (buf == nullptr || bufsize == 0) return static_cast<int>(text->size());
  return CopyOut(*text, buf, bufsize);
}

// ---- Changing ------------------------------------------------------------

int do_unknown(ea_t ea, int flags) {
  (void)flags;
  Database::Impl &d = Db();
  int seg;
  asize_t off;
  if (!d.Locate(ea, &seg, &off)) return 0;
  // Most calls are for bytes nothing holds yet (a string's characters).
  if (d.states[seg][off] == kernel::kUnknown) return 1;
  kernel::Item item;
  if (d.ItemAt(ea, &item)) d.Undefine(item);
  return 1;
}

int do_unknown_range(ea_t ea, asize_t size, int flags) {
  (void)flags;
  const uint64_t end = uint64_t{ea} + size;
  Db().UndefineRange(ea, end >= (uint64_t{1} << 32) ? 0 : end);
  return 1;
}

int do_data_ex(ea_t ea, flags_t type, asize_t size, tid_t id) {
  ItemType t;
  switch (type & DATA_TYPE_MASK) {
    case DATA_BYTE:
      t = ItemType::kByte;
      break;
    case DATA_WORD:
      t = ItemType::kWord;
      break;
    case DATA_DWORD:
      t = ItemType::kDword;
      break;
    case DATA_QWORD:
      t = ItemType::kQword;
      break;
    case DATA_STRUCT:
      t = ItemType::kStruct;
      break;
    default:
      return 0;
  }
  return Db().MakeData(ea, t, size, id) ? 1 : 0;
}

int doAlign(ea_t ea, asize_t length, int alignment) {
  return Db().MakeAlign(ea, length, alignment) ? 1 : 0;
}

int op_offset(ea_t ea, int n, uint32_t reftype, ea_t target, ea_t base, int32_t tdelta) {
  // Only plain 32-bit offsets to the value held are made.
  (void)n, (void)reftype, (void)target, (void)base, (void)tdelta;
  return Db().MakeOffset(ea) ? 1 : 0;
}

int make_ascii_string(ea_t start, asize_t len, int32_t strtype) {
  if (strtype != 1) return 0;  // only strings with one length byte
  Database::Impl &d = Db();
  if (d.SegmentIndex(start) < 0) return 0;
  const asize_t size = len != 0 ? len : asize_t{1} + d.Byte(start);
  return d.MakePString(start, size) ? 1 : 0;
}

int add_func(ea_t ea1, ea_t ea2) {
  Database::Impl &d = Db();
  return (ea2 == BADADDR ? d.AddFunction(ea1) : d.AddFunctionRange(ea1, ea2)) ? 1 : 0;
}

int do_name_anyway(ea_t ea, const char *name, size_t maxlen) {
  if (name == nullptr) return 0;
  const size_t n = maxlen != 0 ? strnlen(name, maxlen) : std::strlen(name);
  return Db().SetName(ea, std::string_view(name, n)) ? 1 : 0;
}

int set_cmt(ea_t ea, const char *text, int repeatable) {
  if (text == nullptr) return 0;
  return Db().SetComment(ea, text, repeatable != 0) ? 1 : 0;
}

// ---- Structures ----------------------------------------------------------

tid_t add_struc(uint32_t index, const char *name, int is_union) {
  (void)is_union;  // members are laid out one after another either way
  if (name == nullptr) return BADNODE;
  return Db().AddStructure(index, name);
}

int netnode_check(tid_t *id, const char *name, size_t namelen, int create) {
  (void)create;  // no node is made for a missing structure
  const struc_t *s = nullptr;
  if (name != nullptr) {
    const size_t n = namelen != 0 ? strnlen(name, namelen) : std::strlen(name);
    s = Db().FindStructure(std::string_view(name, n));
  }
  if (id != nullptr) *id = s != nullptr ? s->s.id : BADNODE;
  return s != nullptr ? 1 : 0;
}

struc_t *get_struc(tid_t id) { return Db().FindStructure(id); }

asize_t get_struc_size(const struc_t *sptr) {
  return sptr != nullptr ? kernel::StructureSize(sptr->s) : 0;
}

int add_struc_member(struc_t *sptr, const char *fieldname, ea_t offset, flags_t flags,
                     const opinfo_t *type_info, asize_t nbytes) {
  Database::Impl &d = Db();
  // Only structures of this database are changed; any other pointer is refused.
  if (sptr == nullptr || d.FindStructure(sptr->s.id) != sptr) return -5;
  if (fieldname == nullptr) return -1;
  kernel::StructMember m;
  m.name = fieldname;
  m.offset = offset;
  m.size = nbytes;
  m.flags = flags;
  m.type_info = type_info != nullptr ? *type_info : -1;
  return d.AddMember(sptr, m);
}

}  // extern "C"
