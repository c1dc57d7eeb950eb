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

/// The file's bytes, read on demand; every read is checked against the size.
class FileBytes {
 public:
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
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return fread(out, 1, n, file_.get()) == n;
  }

 private:
  std::unique_ptr<FILE, FileCloser> file_;
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

}  // namespace

bool LoadPe(const std::string &path, kernel::Database *db, std::string *err) {
  db->Clear();
  FileBytes file;
  if (!file.Open(path, err)) return false;

  uint8_t dos[kDosHeaderSize];
  if (!file.Read(0, dos, sizeof dos))
    return Fail("not a PE file: too short for a DOS header", db, err);
  if (dos[0] != 'M' || dos[1] != 'Z')
    return Fail("not a PE file: no MZ signature", db, err);
  const uint32_t pe_offset = Le32(dos + 0x3C);

  uint8_t nt[4 + kFileHeaderSize];
  if (!file.Read(pe_offset, nt, sizeof nt))
    return Fail(Format("truncated: the PE header at offset 0x%X lies outside the file",
                       pe_offset),
                db, err);
  if (memcmp(nt, "PE\0\0", 4) != 0)
    return Fail(Format("not a PE file: no PE signature at offset 0x%X", pe_offset), db,
                err);
  const uint8_t *fh = nt + 4;
  const uint16_t machine = Le16(fh);
  const uint32_t section_count = Le16(fh + 2);
  const uint32_t optional_size = Le16(fh + 16);

  const uint64_t optional_offset = uint64_t{pe_offset} + sizeof nt;
  uint8_t magic[2];
  if (!file.Read(optional_offset, magic, sizeof magic))
    return Fail("truncated: the optional header lies outside the file", db, err);
  if (Le16(magic) == kMagicPe32Plus)
    return Fail("a PE32+ (64-bit) file; only 32-bit PE files are supported", db, err);
  if (Le16(magic) != kMagicPe32)
    return Fail(Format("not a PE32 file: optional header magic 0x%X", Le16(magic)), db,
                err);
  if (optional_size < kMinOptionalHeaderSize)
    return Fail(Format("the optional header is too small (%u bytes, at least %u)",
                       optional_size, kMinOptionalHeaderSize),
                db, err);
  uint8_t opt[kMinOptionalHeaderSize];
  if (!file.Read(optional_offset, opt, sizeof opt) ||
      !file.Contains(optional_offset, optional_size))
    return Fail("truncated: the optional header ends outside the file", db, err);
  const uint32_t entry_rva = Le32(opt + 16);
  const uint32_t image_base = Le32(opt + 28);
  const uint32_t alignment = Le32(opt + 32);
  const uint32_t directory_entries = Le32(opt + 92);
  uint32_t resources_rva = 0;
  uint32_t resources_size = 0;
  uint8_t resource_entry[8];
  if (directory_entries > kResourceEntryIndex &&
      optional_size >= kResourceEntryOffset + sizeof resource_entry &&
      file.Read(optional_offset + kResourceEntryOffset, resource_entry,
                sizeof resource_entry)) {
    resources_rva = Le32(resource_entry);
    resources_size = Le32(resource_entry + 4);
  }
  if (alignment == 0 || (alignment & (alignment - 1)) != 0)
    return Fail(Format("section alignment 0x%X is not a power of two", alignment), db,
                err);

  if (section_count == 0) return Fail("the file has no sections", db, err);
  if (section_count > kMaxSections)
    return Fail(
        Format("absurd section count %u (at most %u)", section_count, kMaxSections), db,
        err);
  const uint64_t table_offset = optional_offset + optional_size;
  std::vector<uint8_t> table(size_t{section_count} * kSectionHeaderSize);
  if (!file.Read(table_offset, table.data(), table.size()))
    return Fail("truncated: the section table ends outside the file", db, err);

  std::vector<kernel::Segment> segments;
  uint64_t image_bytes = 0;
  for (size_t i = 0; i < section_count; ++i) {
    const uint8_t *raw = table.data() + i * kSectionHeaderSize;
    const SectionHeader sh{SectionName(raw, i), Le32(raw + 8), Le32(raw + 12),
                           Le32(raw + 16), Le32(raw + 20)};
    if (sh.virtual_size == 0 && sh.raw_size == 0) continue;
    const char *name = sh.name.c_str();
    if (sh.raw_size != 0 && !file.Contains(sh.raw_pointer, sh.raw_size))
      return Fail(Format("section %s: raw data at 0x%X, 0x%X bytes, lies outside the "
                         "file (0x%llX bytes)",
                         name, sh.raw_pointer, sh.raw_size,
                         static_cast<unsigned long long>(file.size())),
                  db, err);
    const uint64_t declared = sh.virtual_size != 0 ? sh.virtual_size : sh.raw_size;
    const uint64_t length = (declared + alignment - 1) / alignment * alignment;
    image_bytes += length;
    if (length > kMaxImageBytes || image_bytes > kMaxImageBytes)
      return Fail(Format("section %s: absurd size 0x%llX (the image may hold at most "
                         "0x%llX bytes)",
                         name, static_cast<unsigned long long>(declared),
                         static_cast<unsigned long long>(kMaxImageBytes)),
                  db, err);
    const uint64_t start = uint64_t{image_base} + sh.virtual_address;
    // The end must stay below BADADDR, which no address may reach.
    if (start + length > BADADDR)
      return Fail(Format("section %s wraps past the end of the address space "
                         "(0x%llX + 0x%llX)",
                         name, static_cast<unsigned long long>(start),
                         static_cast<unsigned long long>(length)),
                  db, err);
    kernel::Segment seg;
    seg.name = sh.name;
    seg.start = static_cast<ea_t>(start);
    seg.end = static_cast<ea_t>(start + length);
    seg.bytes.assign(length, 0);
    const size_t copy = static_cast<size_t>(std::min<uint64_t>(sh.raw_size, length));
    if (!file.Read(sh.raw_pointer, seg.bytes.data(), copy))
      return Fail(Format("section %s: cannot read its raw data", name), db, err);
    segments.push_back(std::move(seg));
  }
  if (segments.empty()) return Fail("no section has any bytes", db, err);

  std::sort(segments.begin(), segments.end(),
            [](const kernel::Segment &a, const kernel::Segment &b) {
              return a.start < b.start;
            });
  for (size_t i = 1; i < segments.size(); ++i) {
    if (segments[i].start < segments[i - 1].end)
      return Fail(Format("sections %s and %s overlap", segments[i - 1].name.c_str(),
                         segments[i].name.c_str()),
                  db, err);
  }

  // The system maps an image whole, from its lowest section to its highest,
  // so the spread counts against the image limit too.
  const uint64_t spread = uint64_t{segments.back().end} - segments.front().start;
  if (spread > kMaxImageBytes)
    return Fail(Format("sections %s and %s lie 0x%llX bytes apart (the image may span at "
                       "most 0x%llX bytes)",
                       segments.front().name.c_str(), segments.back().name.c_str(),
                       static_cast<unsigned long long>(spread),
                       static_cast<unsigned long long>(kMaxImageBytes)),
                db, err);

  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  db->SetInputPath(ec ? path : absolute.lexically_normal().string());
  db->SetProcessor(machine == kMachineI386 ? 0 : (kForeignProcessorBit | machine));
  db->SetImageBase(image_base);
  for (kernel::Segment &seg : segments) {
    std::string why;
    std::string name = seg.name;
    if (!db->AddSegment(std::move(seg), &why))
      return Fail(Format("section %s: %s", name.c_str(), why.c_str()), db, err);
  }
  // A program without an entry point (a library) starts at its lowest address.
  db->SetCursor(entry_rva != 0 ? image_base + entry_rva : db->min_ea());
  if (resources_rva != 0 && resources_size != 0)
    db->SetResourceDirectory(image_base + resources_rva, resources_size);
  return true;
}

}  // namespace pe_loader
