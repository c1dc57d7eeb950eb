// The pehost --db path: a program and a saved database to lay over it, both
// arbitrary. A database the program cannot hold must be refused with a
// one-line reason and leave nothing behind; one that is taken must let the
// detector run over it and be written out again as pehost writes it (see
// detector_run.h).
//
// Input: the program's length as 4 bytes, little-endian, the program, then
// the saved database's text. A length beyond the input takes the rest as the
// program and gives an empty database.
#include <cstring>
#include <sstream>

#include "fuzz/detector_run.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/memfd_file.h"
#include "fuzz/pe_image_size.h"
#include "host/loader/database_json.h"
#include "host/loader/pe_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  uint32_t length;
  std::memcpy(&length, data, 4);
  const uint8_t *program = data + 4;
  const size_t program_size = std::min<size_t>(length, size - 4);
  if (fuzz::DeclaredImageBytes(program, program_size) > fuzz::kMaxFuzzedImageBytes)
    return 0;
  const std::string &path = fuzz::WriteMemoryFile(program, program_size);
  kernel::Database &db = kernel::TheDatabase();
  std::string err;
  if (!loader::LoadPe(path, &db, &err)) return 0;
  uint64_t image = 0;
  for (const kernel::Segment &s : db.segments()) image += s.bytes.size();
  if (image > fuzz::kMaxScannedBytes) return 0;

  const char *text = reinterpret_cast<const char *>(program + program_size);
  std::istringstream saved(std::string(text, size - 4 - program_size));
  if (!loader::ReadDatabaseJson(saved, &db, &err)) {
    FUZZ_CHECK(!err.empty() && err.find('\n') == std::string::npos,
               "the refusal is not one line: \"%s\"", err.c_str());
    FUZZ_CHECK(db.segments().empty() && db.Names().empty() && db.Structures().empty(),
               "a refused database left something behind");
    return 0;
  }
  fuzz::RunDetectorAndCheck(db, path);
  return 0;
}
