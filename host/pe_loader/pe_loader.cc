// Reads the DOS header, the PE signature, the file header, the optional
// header and the section table, checking each against the file's size
// before reading it, then builds every segment before touching the
// database, so that a refused file leaves nothing half-loaded.
#include "host/pe_loader/pe_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace pe_loader {
namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
// The PE32 optional header up to and including NumberOfRvaAndSizes.
constexpr uint32_t kMinOptionalHeaderSize = 96;
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
// The data directory entry of the resources: its place in the optional
// header, which holds it only when it declares at least three entries.
constexpr uint32_t kResourceEntryOffset = 96 + 2 * 8;
constexpr uint32_t kResourceEntryIndex = 2;

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
  char buf[512];
  va_list va;
  va_start(va, format);
  vsnprintf(buf, sizeof buf, format, va);
  va_end(va);
  return buf;
}

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct FileCloser {
  void operator()(FILE *f) const { fclose(f); }
};

/// The file's bytes, read on demand from the file or taken from memory;
/// every read is checked against the size.
class FileBytes {
 public:
  void Take(const uint8_t *data, size_t size) {
    memory_ = data;
    size_ = size;
  }
  bool Open(const std::string &path, std::string *err) {
    file_.reset(fopen(path.c_str(), "rb"));
    struct stat st;
    if (!file_ || fstat(fileno(file_.get()), &st) != 0) {
      *err = Format("cannot open: %s", strerror(errno));
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *err = "not a regular file";
      return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
  }
  uint64_t size() const { return size_; }
  bool Contains(uint64_t offset, uint64_t n) const {
    return offset <= size_ && n <= size_ - offset;
  }
  /// False when [offset, offset + n) is not inside the file or reading fails.
  bool Read(uint64_t offset, void *out, size_t n) {
    if (!Contains(offset, n)) return false;
    if (n == 0) return true;
    if (memory_ != nullptr) {
      memcpy(out, memory_ + offset, n);
      return true;
    }
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return fread(out, 1, n, file_.get()) == n;
  }

 private:
  std::unique_ptr<FILE, FileCloser> file_;
  const uint8_t *memory_ = nullptr;
  uint64_t size_ = 0;
};

struct SectionHeader {
  std::string name;
  uint32_t virtual_size;
  uint32_t virtual_address;
  uint32_t raw_size;
  uint32_t raw_pointer;
};

/// Printable section name; a name of non-printable bytes keeps its place
/// with '_', an empty one becomes "segNNN".
std::string SectionName(const uint8_t *raw, size_t index) {
  std::string name;
  for (size_t i = 0; i < 8 && raw[i] != 0; ++i)
    name += (raw[i] > 0x20 && raw[i] < 0x7F) ? static_cast<char>(raw[i]) : '_';
  if (name.empty()) name = Format("seg%03zu", index);
  return name;
}

bool Fail(std::string reason, kernel::Database *db, std::string *err) {
  db->Clear();
  *err = std::move(reason);
  return false;
}

bool Refuse(std::string reason, std::string *why) {
  *why = std::move(reason);
  return false;
}

/// What the loader takes from the headers in front of the section table.
struct Headers {
  uint16_t machine = 0;
  uint32_t section_count = 0;
  uint64_t table_offset = 0;  // of the section table
  uint32_t entry_rva = 0;
  uint32_t image_base = 0;
  uint32_t alignment = 0;  // a power of two
  uint32_t resources_rva = 0;
  uint32_t resources_size = 0;
};

/// The DOS header, the PE signature, the file header and the optional header.
bool ReadHeaders(FileBytes &file, Headers *h, std::string *why) {
  uint8_t dos[kDosHeaderSize];
  if (!file.Read(0, dos, sizeof dos))
    return Refuse("not a PE file: too short for a DOS header", why);
  if (dos[0] != 'M' || dos[1] != 'Z')
    return Refuse("not a PE file: no MZ signature", why);
  const uint32_t pe_offset = Le32(dos + 0x3C);

  uint8_t nt[4 + kFileHeaderSize];
  if (!file.Read(pe_offset, nt, sizeof nt))
    return Refuse(Format("truncated: the PE header at offset 0x%X lies outside the file",
                         pe_offset),
                  why);
  if (memcmp(nt, "PE\0\0", 4) != 0)
    return Refuse(Format("not a PE file: no PE signature at offset 0x%X", pe_offset),
                  why);
  const uint8_t *fh = nt + 4;
  h->machine = Le16(fh);
  h->section_count = Le16(fh + 2);
  const uint32_t optional_size = Le16(fh + 16);

  const uint64_t optional_offset = uint64_t{pe_offset} + sizeof nt;
  uint8_t magic[2];
  if (!file.Read(optional_offset, magic, sizeof magic))
    return Refuse("truncated: the optional header lies outside the file", why);
  if (Le16(magic) == kMagicPe32Plus)
    return Refuse("a PE32+ (64-bit) file; only 32-bit PE files are supported", why);
  if (Le16(magic) != kMagicPe32)
    return Refuse(Format("not a PE32 file: optional header magic 0x%X", Le16(magic)),
                  why);
  if (optional_size < kMinOptionalHeaderSize)
    return Refuse(Format("the optional header is too small (%u bytes, at least %u)",
                         optional_size, kMinOptionalHeaderSize),
                  why);
  uint8_t opt[kMinOptionalHeaderSize];
  if (!file.Read(optional_offset, opt, sizeof opt) ||
      !file.Contains(optional_offset, optional_size))
    return Refuse("truncated: the optional header ends outside the file", why);
  h->entry_rva = Le32(opt + 16);
  h->image_base = Le32(opt + 28);
  h->alignment = Le32(opt + 32);
  const uint32_t directory_entries = Le32(opt + 92);
  uint8_t resource_entry[8];
  if (directory_entries > kResourceEntryIndex &&
      optional_size >= kResourceEntryOffset + sizeof resource_entry &&
      file.Read(optional_offset + kResourceEntryOffset, resource_entry,
                sizeof resource_entry)) {
    h->resources_rva = Le32(resource_entry);
    h->resources_size = Le32(resource_entry + 4);
  }
  if (h->alignment == 0 || (h->alignment & (h->alignment - 1)) != 0)
    return Refuse(Format("section alignment 0x%X is not a power of two", h->alignment),
                  why);
  h->table_offset = optional_offset + optional_size;
  return true;
}

/// One segment per section that has bytes, with the section's raw data, in
/// the order of the section table.
bool ReadSections(FileBytes &file, const Headers &h,
                  std::vector<kernel::Segment> *segments, std::string *why) {
  if (h.section_count == 0) return Refuse("the file has no sections", why);
  if (h.section_count > kMaxSections)
    return Refuse(
        Format("absurd section count %u (at most %u)", h.section_count, kMaxSections),
        why);
  std::vector<uint8_t> table(size_t{h.section_count} * kSectionHeaderSize);
  if (!file.Read(h.table_offset, table.data(), table.size()))
    return Refuse("truncated: the section table ends outside the file", why);

  uint64_t image_bytes = 0;
  for (size_t i = 0; i < h.section_count; ++i) {
    const uint8_t *raw = table.data() + i * kSectionHeaderSize;
    const SectionHeader sh{SectionName(raw, i), Le32(raw + 8), Le32(raw + 12),
                           Le32(raw + 16), Le32(raw + 20)};
    if (sh.virtual_size == 0 && sh.raw_size == 0) continue;
    const char *name = sh.name.c_str();
    if (sh.raw_size != 0 && !file.Contains(sh.raw_pointer, sh.raw_size))
      return Refuse(Format("section %s: raw data at 0x%X, 0x%X bytes, lies outside the "
                           "file (0x%llX bytes)",
                           name, sh.raw_pointer, sh.raw_size,
                           static_cast<unsigned long long>(file.size())),
                    why);
    const uint64_t declared = sh.virtual_size != 0 ? sh.virtual_size : sh.raw_size;
    const uint64_t length = (declared + h.alignment - 1) / h.alignment * h.alignment;
    image_bytes += length;
    if (length > kMaxImageBytes || image_bytes > kMaxImageBytes)
      return Refuse(Format("section %s: absurd size 0x%llX (the image may hold at most "
                           "0x%llX bytes)",
                           name, static_cast<unsigned long long>(declared),
                           static_cast<unsigned long long>(kMaxImageBytes)),
                    why);
    const uint64_t start = uint64_t{h.image_base} + sh.virtual_address;
    // The end must stay below BADADDR, which no address may reach.
    if (start + length > BADADDR)
      return Refuse(Format("section %s wraps past the end of the address space "
                           "(0x%llX + 0x%llX)",
                           name, static_cast<unsigned long long>(start),
                           static_cast<unsigned long long>(length)),
                    why);
    kernel::Segment seg;
    seg.name = sh.name;
    seg.start = static_cast<ea_t>(start);
    seg.end = static_cast<ea_t>(start + length);
    seg.bytes.assign(length, 0);
    const size_t copy = static_cast<size_t>(std::min<uint64_t>(sh.raw_size, length));
    if (!file.Read(sh.raw_pointer, seg.bytes.data(), copy))
      return Refuse(Format("section %s: cannot read its raw data", name), why);
    segments->push_back(std::move(seg));
  }
  if (segments->empty()) return Refuse("no section has any bytes", why);
  return true;
}

/// Sorts the segments by address; refuses overlapping ones and an image
/// spread wider than the limit.
bool ArrangeSegments(std::vector<kernel::Segment> *segments, std::string *why) {
  std::vector<kernel::Segment> &s = *segments;
  std::sort(s.begin(), s.end(), [](const kernel::Segment &a, const kernel::Segment &b) {
    return a.start < b.start;
  });
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i].start < s[i - 1].end)
      return Refuse(
          Format("sections %s and %s overlap", s[i - 1].name.c_str(), s[i].name.c_str()),
          why);
  }
  // The system maps an image whole, from its lowest section to its highest,
  // so the spread counts against the image limit too.
  const uint64_t spread = uint64_t{s.back().end} - s.front().start;
  if (spread > kMaxImageBytes)
    return Refuse(Format("sections %s and %s lie 0x%llX bytes apart (the image may span "
                         "at most 0x%llX bytes)",
                         s.front().name.c_str(), s.back().name.c_str(),
                         static_cast<unsigned long long>(spread),
                         static_cast<unsigned long long>(kMaxImageBytes)),
                  why);
  return true;
}

/// Gives the checked program to `db`.
bool Install(const std::string &path, const Headers &h,
             std::vector<kernel::Segment> segments, kernel::Database *db,
             std::string *why) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  db->SetInputPath(ec ? path : absolute.lexically_normal().string());
  db->SetProcessor(h.machine == kMachineI386 ? 0 : (kForeignProcessorBit | h.machine));
  db->SetImageBase(h.image_base);
  for (kernel::Segment &seg : segments) {
    std::string reason;
    std::string name = seg.name;
    if (!db->AddSegment(std::move(seg), &reason))
      return Refuse(Format("section %s: %s", name.c_str(), reason.c_str()), why);
  }
  // A program without an entry point (a library) starts at its lowest address.
  db->SetCursor(h.entry_rva != 0 ? h.image_base + h.entry_rva : db->min_ea());
  if (h.resources_rva != 0 && h.resources_size != 0)
    db->SetResourceDirectory(h.image_base + h.resources_rva, h.resources_size);
  return true;
}

/// LoadPe from the opened `file`.
bool Load(const std::string &path, FileBytes &file, kernel::Database *db,
          std::string *err) {
  Headers headers;
  std::vector<kernel::Segment> segments;
  std::string why;
  if (!ReadHeaders(file, &headers, &why) ||
      !ReadSections(file, headers, &segments, &why) ||
      !ArrangeSegments(&segments, &why) ||
      !Install(path, headers, std::move(segments), db, &why))
    return Fail(std::move(why), db, err);
  return true;
}

}  // namespace

bool LoadPe(const std::string &path, kernel::Database *db, std::string *err) {
  db->Clear();
  FileBytes file;
  if (!file.Open(path, err)) return false;
  return Load(path, file, db, err);
}

bool LoadPeBytes(const std::string &path, const uint8_t *data, size_t size,
                 kernel::Database *db, std::string *err) {
  db->Clear();
  FileBytes file;
  file.Take(data, size);
  return Load(path, file, db, err);
}

}  // namespace pe_loader
