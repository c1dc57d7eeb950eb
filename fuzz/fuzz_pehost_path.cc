// The whole pehost path on arbitrary file bytes: load the program, run the
// class detector and write what pehost writes (see detector_run.h).
#include "fuzz/detector_run.h"
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
  if (!pe_loader::LoadPe(path, &db, &err)) return 0;
  uint64_t image = 0;
  for (const kernel::Segment &s : db.segments()) image += s.bytes.size();
  if (image > fuzz::kMaxScannedBytes) return 0;
  fuzz::RunDetectorAndCheck(db, path);
  return 0;
}
