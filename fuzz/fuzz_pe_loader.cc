// The PE loader on arbitrary file bytes. A refused file leaves an empty
// database and a reason; an accepted one gives sorted, disjoint segments
// that hold exactly their declared bytes, none reaching BADADDR, within the
// image limit, and an x86 processor exactly when the machine is i386.
#include "fuzz/fuzz_check.h"
#include "fuzz/memfd_file.h"
#include "fuzz/pe_image_size.h"
#include "host/pe_loader/pe_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ClearDatabaseAfterInput clear;
  if (fuzz::DeclaredImageBytes(data, size) > fuzz::kMaxFuzzedImageBytes) return 0;
  const std::string &path = fuzz::WriteMemoryFile(data, size);
  kernel::Database &db = kernel::TheDatabase();
  std::string err;
  const bool loaded = pe_loader::LoadPe(path, &db, &err);
  const std::vector<kernel::Segment> &segments = db.segments();
  if (!loaded) {
    FUZZ_CHECK(!err.empty(), "refused without a reason");
    FUZZ_CHECK(segments.empty() && db.input_path().empty(),
               "a refused file left %zu segments", segments.size());
    return 0;
  }
  FUZZ_CHECK(size >= 64, "a %zu-byte file was accepted", size);
  FUZZ_CHECK(!segments.empty(), "a program without segments was accepted");
  uint64_t total = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const kernel::Segment &s = segments[i];
    FUZZ_CHECK(s.start < s.end && s.end <= BADADDR, "segment %s [0x%X, 0x%X)",
               s.name.c_str(), s.start, s.end);
    FUZZ_CHECK(s.bytes.size() == size_t{s.end} - s.start, "segment %s holds %zu bytes",
               s.name.c_str(), s.bytes.size());
    FUZZ_CHECK(i == 0 || segments[i - 1].end <= s.start, "segments %s and %s overlap",
               segments[i - 1].name.c_str(), s.name.c_str());
    total += s.bytes.size();
  }
  FUZZ_CHECK(total <= pe_loader::kMaxImageBytes, "image of 0x%llX bytes",
             static_cast<unsigned long long>(total));
  FUZZ_CHECK(inf.min_ea == segments.front().start && inf.max_ea == segments.back().end,
             "inf holds [0x%X, 0x%X)", inf.min_ea, inf.max_ea);
  // An accepted file has its PE header inside it.
  const uint32_t pe_offset = data[0x3C] | data[0x3D] << 8 | data[0x3E] << 16 |
                             static_cast<uint32_t>(data[0x3F]) << 24;
  const int32_t machine = data[pe_offset + 4] | data[pe_offset + 5] << 8;
  FUZZ_CHECK(db.processor() ==
                 (machine == 0x14C ? 0 : pe_loader::kForeignProcessorBit | machine),
             "processor 0x%X for machine 0x%X", static_cast<unsigned>(db.processor()),
             static_cast<unsigned>(machine));
  size_t items = 0;
  db.ForEachItem([&](const kernel::Item &) { ++items; });
  FUZZ_CHECK(items == 0 && db.Names().empty() && db.Comments().empty(),
             "a freshly loaded program has annotations");
  return 0;
}
