#include "model/resource_directory.h"

#include <cstdio>
#include <set>
#include <vector>

#include "model/text_encoding.h"

namespace model {

namespace {

constexpr uint32_t kTableHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kLevels = 3;  // type, name, language
// More resources than any program holds; a directory that claims more is
// read up to here.
constexpr size_t kMaxResources = 1u << 20;
// A spoilt directory gives a problem line for each entry it cannot read, a
// megabyte of them a hundred thousand lines: past this many it is read no
// further.
constexpr size_t kMaxProblems = 100;

std::string Hex(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

/// The directory's bytes as the database holds them, every read checked
/// against the directory's end.
class DirectoryBytes {
 public:
  DirectoryBytes(ea_t start, uint32_t length) : start_(start), length_(length) {}
  bool Contains(uint32_t offset, uint32_t n) const {
    return offset <= length_ && n <= length_ - offset;
  }
  uint16_t Word(uint32_t offset) const { return get_word(start_ + offset); }
  uint32_t Long(uint32_t offset) const { return get_long(start_ + offset); }
  uint8_t Byte(uint32_t offset) const { return get_byte(start_ + offset); }
  uint32_t length() const { return length_; }

 private:
  ea_t start_;
  uint32_t length_;
};

class Walker {
 public:
  Walker(const DirectoryBytes &bytes, ea_t image_base, ResourceList *out)
      : bytes_(bytes),
        image_base_(image_base),
        out_(out),
        entries_read_(bytes.length()) {}

  /// Walks the table at `offset` of `level` (0: types) with the keys of the
  /// levels above in `path`.
  void Table(uint32_t offset, int level, ResourceKey path[kLevels]) {
    if (given_up_) return;
    if (!visited_.insert(offset).second) {
      Problem("the table at offset " + Hex(offset) + " is reached twice (a loop)");
      return;
    }
    if (!bytes_.Contains(offset, kTableHeaderSize)) {
      Problem("the table at offset " + Hex(offset) + " lies outside the directory");
      return;
    }
    const uint32_t count = uint32_t{bytes_.Word(offset + 12)} + bytes_.Word(offset + 14);
    if (!bytes_.Contains(offset + kTableHeaderSize, count * kEntrySize)) {
      Problem("the table at offset " + Hex(offset) + " declares " +
              std::to_string(count) + " entries, more than the directory holds");
      return;
    }
    for (uint32_t i = 0;
         i < count && out_->resources.size() < kMaxResources && !given_up_; ++i) {
      const uint32_t entry = offset + kTableHeaderSize + i * kEntrySize;
      // Tables of a directory never share entries; tables that overlap would
      // read the same few kilobytes of entries again for each table.
      if (entries_read_[entry]) {
        Problem("the entry at offset " + Hex(entry) + " is read twice (tables overlap)");
        continue;
      }
      entries_read_[entry] = true;
      ResourceKey key;
      if (!Key(bytes_.Long(entry), &key)) continue;
      path[level] = key;
      const uint32_t target = bytes_.Long(entry + 4);
      const bool is_table = (target & kHighBit) != 0;
      if (level + 1 < kLevels) {
        if (!is_table) {
          Problem("the entry " + key.Text() + " at offset " + Hex(entry) +
                  " leads to data where a table belongs");
          continue;
        }
        Table(target & ~kHighBit, level + 1, path);
      } else if (is_table) {
        Problem("the entry " + key.Text() + " at offset " + Hex(entry) +
                " leads to a fourth level of tables");
      } else {
        Data(target, path);
      }
    }
    if (out_->resources.size() >= kMaxResources)
      Problem("more than " + std::to_string(kMaxResources) +
              " resources; the rest is left out");
  }

 private:
  bool Key(uint32_t raw, ResourceKey *key) {
    if ((raw & kHighBit) == 0) {
      key->id = raw;
      return true;
    }
    const uint32_t at = raw & ~kHighBit;
    if (!bytes_.Contains(at, 2) || !bytes_.Contains(at + 2, 2u * bytes_.Word(at))) {
      Problem("the name at offset " + Hex(at) + " lies outside the directory");
      return false;
    }
    const uint32_t units = bytes_.Word(at);
    std::vector<uint8_t> text(2u * units);
    for (uint32_t i = 0; i < text.size(); ++i) text[i] = bytes_.Byte(at + 2 + i);
    key->named = true;
    key->name = Utf16LeToUtf8(text.data(), units);
    return true;
  }

  void Data(uint32_t offset, const ResourceKey path[kLevels]) {
    if (!bytes_.Contains(offset, kDataEntrySize)) {
      Problem("the data entry of " + path[0].Text() + "/" + path[1].Text() +
              " at offset " + Hex(offset) + " lies outside the directory");
      return;
    }
    Resource r;
    r.type = path[0];
    r.name = path[1];
    r.language = path[2].named ? 0 : path[2].id;
    r.data = image_base_ + bytes_.Long(offset);
    r.size = bytes_.Long(offset + 4);
    const area_t *seg = areacb_t_get_area(&segs, r.data);
    if (seg == nullptr || r.size > seg->end_ea - r.data) {
      Problem("the data of " + r.type.Text() + "/" + r.name.Text() + " (" +
              std::to_string(r.size) + " bytes at " + Hex(r.data) +
              ") lies outside the program");
      return;
    }
    out_->resources.push_back(std::move(r));
  }

  void Problem(const std::string &text) {
    if (given_up_) return;
    if (out_->problems.size() == kMaxProblems) {
      out_->problems.push_back("resources: more than " + std::to_string(kMaxProblems) +
                               " problems; the rest of the directory is left out");
      given_up_ = true;
      return;
    }
    out_->problems.push_back("resources: " + OneLine(text));
  }

  const DirectoryBytes &bytes_;
  ea_t image_base_;
  ResourceList *out_;
  std::set<uint32_t> visited_;
  std::vector<bool> entries_read_;  // by offset
  bool given_up_ = false;
};

}  // namespace

std::string ResourceKey::Text() const { return named ? name : "#" + std::to_string(id); }

ResourceList ReadResources(ea_t directory, uint32_t size, ea_t image_base) {
  ResourceList list;
  if (directory == 0 || size == 0) return list;
  const area_t *seg = areacb_t_get_area(&segs, directory);
  if (seg == nullptr) {
    list.problems.push_back("resources: the directory at " + Hex(directory) +
                            " lies outside the program");
    return list;
  }
  // A declared size past the section's end is cut to the section: the
  // directory cannot lie where the program has no bytes.
  const uint32_t room = seg->end_ea - directory;
  const DirectoryBytes bytes(directory, size < room ? size : room);
  ResourceKey path[kLevels];
  Walker(bytes, image_base, &list).Table(0, 0, path);
  return list;
}

bool CopyBytes(ea_t ea, uint32_t size, std::vector<uint8_t> *out) {
  const area_t *seg = areacb_t_get_area(&segs, ea);
  if (seg == nullptr || size > seg->end_ea - ea) return false;
  out->resize(size);
  for (uint32_t i = 0; i < size; ++i) (*out)[i] = get_byte(ea + i);
  return true;
}

}  // namespace model
