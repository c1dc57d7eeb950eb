#include "pehost/database_files/listing.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "model/text_encoding.h"

namespace database_files {
namespace {

constexpr int kTypeWidth = 8;
constexpr int kSizeWidth = 8;
constexpr int kNameWidth = 32;

class ListingWriter {
 public:
  ListingWriter(const kernel::Database &db, std::ostream &out)
      : db_(db), out_(out), names_(db.Names()), comments_(db.Comments()) {
    for (const kernel::Segment &s : db.segments())
      address_width_ = std::max(address_width_, s.name.size() + 9);
  }

  void Write() {
    WriteHeader();
    db_.ForEachItem([&](const kernel::Item &item) {
      WriteLooseLinesBefore(item.start);
      std::string type = kernel::ItemTypeName(item.type);
      if (item.type == kernel::ItemType::kStruct)
        type += " " + StructName(item.struct_id);
      WriteLine(item.start, type, std::to_string(item.size));
      item_end_ = item.start + uint64_t{item.size};
    });
    WriteLooseLinesBefore(uint64_t{BADADDR} + 1);
    WriteStructures();
  }

 private:
  void WriteHeader() {
    out_ << "; Program  " << db_.input_path() << "\n";
    out_ << "; Cursor   " << Address(db_.cursor()) << "\n";
    out_ << "; Segments\n";
    char buf[128];
    for (const kernel::Segment &s : db_.segments()) {
      snprintf(buf, sizeof buf, "%08" PRIX32 "-%08" PRIX32 "  %10" PRIu32 " bytes",
               s.start, s.end, s.end - s.start);
      out_ << ";   " << Pad(s.name, 10) << " " << buf << "\n";
    }
    out_ << ";\n; " << Pad("Address", address_width_ - 2) << "  "
         << Pad("Item", kTypeWidth) << " " << std::string(kSizeWidth - 4, ' ')
         << "Size  Name\n";
  }

  /// Lines for named or commented addresses that start no item, below `limit`.
  void WriteLooseLinesBefore(uint64_t limit) {
    for (;;) {
      uint64_t ea = limit;
      if (next_name_ < names_.size())
        ea = std::min<uint64_t>(ea, names_[next_name_].first);
      if (next_comment_ < comments_.size())
        ea = std::min<uint64_t>(ea, comments_[next_comment_].ea);
      if (ea >= limit) return;
      WriteLine(static_cast<ea_t>(ea), ea < item_end_ ? "-" : "unknown", "");
    }
  }

  void WriteLine(ea_t ea, const std::string &type, const std::string &size) {
    // Take this address's name and comments; the kernel gives them in order.
    while (next_name_ < names_.size() && names_[next_name_].first < ea) ++next_name_;
    while (next_name_ < names_.size() && names_[next_name_].first == ea) ++next_name_;
    std::string comments;
    while (next_comment_ < comments_.size() && comments_[next_comment_].ea <= ea) {
      const kernel::Comment &c = comments_[next_comment_++];
      if (c.ea != ea) continue;
      comments += (comments.empty() ? "" : "  ");
      comments += (c.repeatable ? ";; " : "; ") + model::OneLine(c.text);
    }
    std::string line = Pad(Address(ea), address_width_) + "  " + Pad(type, kTypeWidth) +
                       " " + PadLeft(size, kSizeWidth) + "  ";
    const std::string name = db_.DisplayName(ea);
    if (!comments.empty()) {
      line += Pad(name, kNameWidth) + "  " + comments;
    } else {
      line += name;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out_ << line << "\n";
  }

  void WriteStructures() {
    const std::vector<kernel::Structure> structs = db_.Structures();
    if (structs.empty()) return;
    out_ << "\n; Structures\n";
    for (const kernel::Structure &s : structs) {
      uint64_t size = 0;
      for (const kernel::StructMember &m : s.members)
        if (m.size != 0) size = std::max<uint64_t>(size, uint64_t{m.offset} + m.size);
      out_ << "struct " << s.name << "  ; " << size << " bytes\n";
      char offset[16];
      for (const kernel::StructMember &m : s.members) {
        snprintf(offset, sizeof offset, "+%04" PRIX32, m.offset);
        out_ << "  " << offset << "  " << Pad(m.name, kNameWidth) << " "
             << Pad(MemberType(m.flags), kTypeWidth) << " "
             << PadLeft(std::to_string(m.size), 6) << "\n";
      }
    }
  }

  std::string Address(ea_t ea) const {
    const std::vector<kernel::Segment> &segs = db_.segments();
    auto it =
        std::upper_bound(segs.begin(), segs.end(), ea,
                         [](ea_t a, const kernel::Segment &s) { return a < s.start; });
    char digits[16];
    snprintf(digits, sizeof digits, "%08" PRIX32, ea);
    if (it != segs.begin() && ea < std::prev(it)->end)
      return std::prev(it)->name + ":" + digits;
    return digits;
  }

  std::string StructName(tid_t id) {
    if (structs_.empty()) structs_ = db_.Structures();
    for (const kernel::Structure &s : structs_)
      if (s.id == id) return s.name;
    return "?";
  }

  static const char *MemberType(flags_t flags) {
    switch (flags & DATA_TYPE_MASK) {
      case DATA_BYTE:
        return "byte";
      case DATA_WORD:
        return "word";
      case DATA_DWORD:
        return "dword";
      case DATA_QWORD:
        return "qword";
      case DATA_ASCII:
        return "string";
      case DATA_STRUCT:
        return "struct";
      default:
        return "data";
    }
  }

  static std::string Pad(const std::string &text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
  }
  static std::string PadLeft(const std::string &text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
  }

  const kernel::Database &db_;
  std::ostream &out_;
  const std::vector<std::pair<ea_t, std::string>> names_;
  const std::vector<kernel::Comment> comments_;
  std::vector<kernel::Structure> structs_;
  size_t address_width_ = 8;
  size_t next_name_ = 0;
  size_t next_comment_ = 0;
  uint64_t item_end_ = 0;
};

}  // namespace

bool WriteListing(const kernel::Database &db, std::ostream &out) {
  ListingWriter(db, out).Write();
  return static_cast<bool>(out);
}

}  // namespace database_files
