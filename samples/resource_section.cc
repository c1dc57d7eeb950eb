#include "samples/resource_section.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace samples {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;

/// Named keys sort before numbered ones, names and numbers in order.
struct KeyLess {
  bool operator()(const ResourceId &a, const ResourceId &b) const {
    const bool an = !a.name.empty(), bn = !b.name.empty();
    if (an != bn) return an;
    return an ? a.name < b.name : a.id < b.id;
  }
};

void Put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

}  // namespace

std::vector<uint8_t> BuildResourceSection(uint32_t rva,
                                          const std::vector<ResourceSpec> &resources,
                                          std::vector<ResourcePlace> *places) {
  // type -> name -> language -> index of the resource
  using Languages = std::map<uint16_t, size_t>;
  using Names = std::map<ResourceId, Languages, KeyLess>;
  std::map<ResourceId, Names, KeyLess> tree;
  for (size_t i = 0; i < resources.size(); ++i)
    tree[resources[i].type][resources[i].name][resources[i].language] = i;

  auto table_size = [](size_t entries) {
    return 16 + 8 * static_cast<uint32_t>(entries);
  };
  // Tables first (root, types, names), then data entries, then names, then data.
  uint32_t size = table_size(tree.size());
  std::map<const void *, uint32_t> table_at;
  for (auto &[type, names] : tree) {
    table_at[&names] = size;
    size += table_size(names.size());
  }
  for (auto &[type, names] : tree)
    for (auto &[name, languages] : names) {
      table_at[&languages] = size;
      size += table_size(languages.size());
    }
  const uint32_t entries_at = size;
  size += 16 * static_cast<uint32_t>(resources.size());
  std::map<std::u16string, uint32_t> string_at;
  for (const ResourceSpec &r : resources)
    for (const ResourceId *id : {&r.type, &r.name})
      if (!id->name.empty() && string_at.emplace(id->name, size).second)
        size += 2 + 2 * static_cast<uint32_t>(id->name.size());
  places->assign(resources.size(), {});
  for (size_t i = 0; i < resources.size(); ++i) {
    size = AlignUp(size, 8);
    (*places)[i] = {size, static_cast<uint32_t>(resources[i].data.size())};
    size += static_cast<uint32_t>(resources[i].data.size());
  }

  std::vector<uint8_t> b(size, 0);
  auto key = [&](const ResourceId &id) {
    return id.name.empty() ? id.id : (kHighBit | string_at.at(id.name));
  };
  auto header = [&](uint32_t at, const auto &children) {
    uint16_t named = 0;
    for (const auto &child : children) named += !child.first.name.empty();
    Put16(b, at + 12, named);
    Put16(b, at + 14, static_cast<uint16_t>(children.size() - named));
  };
  header(0, tree);
  uint32_t e = 16;
  for (auto &[type, names] : tree) {
    Put32(b, e, key(type));
    Put32(b, e + 4, kHighBit | table_at[&names]);
    e += 8;
    header(table_at[&names], names);
    uint32_t ne = table_at[&names] + 16;
    for (auto &[name, languages] : names) {
      Put32(b, ne, key(name));
      Put32(b, ne + 4, kHighBit | table_at[&languages]);
      ne += 8;
      const uint32_t lt = table_at[&languages];
      Put16(b, lt + 14, static_cast<uint16_t>(languages.size()));
      uint32_t le = lt + 16;
      for (auto &[language, index] : languages) {
        const uint32_t entry = entries_at + 16 * static_cast<uint32_t>(index);
        Put32(b, le, language);
        Put32(b, le + 4, entry);
        le += 8;
        Put32(b, entry, rva + (*places)[index].offset);
        Put32(b, entry + 4, (*places)[index].size);
      }
    }
  }
  for (const auto &[text, at] : string_at) {
    Put16(b, at, static_cast<uint16_t>(text.size()));
    for (size_t i = 0; i < text.size(); ++i) Put16(b, at + 2 + 2 * i, text[i]);
  }
  for (size_t i = 0; i < resources.size(); ++i)
    std::copy(resources[i].data.begin(), resources[i].data.end(),
              b.begin() + (*places)[i].offset);
  return b;
}

}  // namespace samples
