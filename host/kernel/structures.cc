// Structure types: named lists of members at fixed offsets.
#include <algorithm>

#include "host/kernel/database_impl.h"

namespace kernel {

namespace {

// A member of size 0 (a variable tail) still takes its offset, so that two
// members cannot share one.
uint64_t MemberEnd(const StructMember &m) {
  return uint64_t{m.offset} + std::max<asize_t>(m.size, 1);
}

}  // namespace

asize_t StructureSize(const Structure &s) {
  asize_t size = 0;
  for (const StructMember &m : s.members)
    if (m.size != 0) size = std::max(size, m.offset + m.size);
  return size;
}

struc_t *Database::Impl::FindStructure(tid_t id) const {
  for (const auto &s : structures)
    if (s->s.id == id) return s.get();
  return nullptr;
}

struc_t *Database::Impl::FindStructure(std::string_view name) const {
  for (const auto &s : structures)
    if (s->s.name == name) return s.get();
  return nullptr;
}

tid_t Database::Impl::AddStructure(uint32_t index, std::string_view name) {
  if (name.empty() || !IsNameText(name) || FindStructure(name) != nullptr) return BADNODE;
  while (FindStructure(next_struct_id) != nullptr) ++next_struct_id;
  auto s = std::make_unique<struc_t>();
  s->s.id = next_struct_id++;
  s->s.name = std::string(name);
  const tid_t id = s->s.id;
  const size_t pos = std::min<size_t>(index, structures.size());
  structures.insert(structures.begin() + static_cast<ptrdiff_t>(pos), std::move(s));
  return id;
}

int Database::Impl::AddMember(struc_t *s, const StructMember &m) {
  if (s == nullptr) return -5;
  if (m.name.empty() || !IsNameText(m.name)) return -1;
  if (uint64_t{m.offset} + m.size > 0xFFFFFFFFull) return -3;
  std::vector<StructMember> &members = s->s.members;
  for (const StructMember &other : members) {
    if (other.name == m.name) return -1;
    if (m.offset < MemberEnd(other) && other.offset < MemberEnd(m)) return -2;
  }
  auto at =
      std::upper_bound(members.begin(), members.end(), m.offset,
                       [](ea_t off, const StructMember &o) { return off < o.offset; });
  members.insert(at, m);
  return 0;
}

}  // namespace kernel
