// The whole pehost path on arbitrary file bytes: load the program, run the
// class detector and write what pehost writes (see detector_run.h). The
// program is read from memory, and everything written goes to memory.
#include "fuzz/detector_run.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/pe_image_size.h"
#include "host/pe_loader/pe_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ClearDatabaseAfterInput clear;
  if (fuzz::DeclaredImageBytes(data, size) > fuzz::kMaxFuzzedImageBytes) return 0;
  kernel::Database &db = kernel::TheDatabase();
  std::string err;
  if (!pe_loader::LoadPeBytes(fuzz::kProgramPath, data, size, &db, &err)) return 0;
  uint64_t image = 0;
  for (const kernel::Segment &s : db.segments()) image += s.bytes.size();
  if (image > fuzz::kMaxScannedBytes) return 0;
  fuzz::RunDetectorAndCheck(db, data, size);
  return 0;
}
