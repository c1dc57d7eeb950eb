// Structure types: named lists of members at fixed offsets.
#include <algorithm>
#include <string_view>
#include <unordered_set>

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
  auto it = structure_ids.find(id);
  return it == structure_ids.end() ? nullptr : it->second;
}

struc_t *Database::Impl::FindStructure(std::string_view name) const {
  auto it = structure_names.find(std::string(name));
  return it == structure_names.end() ? nullptr : it->second;
}

tid_t Database::Impl::AddStructure(uint32_t index, std::string_view name) {
  if (name.empty() || !IsNameText(name) || FindStructure(name) != nullptr) return BADNODE;
  while (FindStructure(next_struct_id) != nullptr) ++next_struct_id;
  auto s = std::make_unique<struc_t>();
  s->s.id = next_struct_id++;
  s->s.name = std::string(name);
  const tid_t id = s->s.id;
  InsertStructure(std::move(s), index);
  return id;
}

void Database::Impl::InsertStructure(std::unique_ptr<struc_t> s, size_t index) {
  structure_ids[s->s.id] = s.get();
  structure_names[s->s.name] = s.get();
  const size_t pos = std::min(index, structures.size());
  structures.insert(structures.begin() + static_cast<ptrdiff_t>(pos), std::move(s));
}

int Database::Impl::AddMember(struc_t *s, const StructMember &m) {
  if (s == nullptr) return -5;
  if (m.name.empty() || !IsNameText(m.name)) return -1;
  if (MemberEnd(m) > kMaxStructureSize) return -3;
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

bool Database::Impl::SetMembers(struc_t *s, std::vector<StructMember> members,
                                std::string *err) {
  // Sorted first, so that each member is checked against its neighbours only
  // and a structure of many members is restored in n log n.
  std::stable_sort(
      members.begin(), members.end(),
      [](const StructMember &a, const StructMember &b) { return a.offset < b.offset; });
  std::unordered_set<std::string_view> names;
  const std::string &of = s->s.name;
  auto refuse = [&](std::string why) {
    if (err != nullptr) *err = std::move(why);
    return false;
  };
  for (size_t i = 0; i < members.size(); ++i) {
    const StructMember &m = members[i];
    if (m.name.empty() || !IsNameText(m.name))
      return refuse("bad member name \"" + m.name + "\" in " + of);
    if (!names.insert(m.name).second)
      return refuse("member name " + m.name + " used twice in " + of);
    if (MemberEnd(m) > kMaxStructureSize)
      return refuse("member " + m.name + " of " + of +
                    " ends past 16 MiB, the largest structure");
    if (i > 0 && m.offset < MemberEnd(members[i - 1]))
      return refuse("members " + members[i - 1].name + " and " + m.name + " of " + of +
                    " overlap");
  }
  s->s.members = std::move(members);
  return true;
}

}  // namespace kernel
