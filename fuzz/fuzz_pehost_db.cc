// The pehost --db path: a saved database, arbitrary, laid over the sample
// builder's smallest program. A database the program cannot hold must be
// refused with a one-line reason and leave nothing behind; one that is taken
// must let the detector run over it and be written out again as pehost
// writes it (see detector_run.h).
//
// Input: the saved database's text. The program is built once per process
// and loaded again for every input, as pehost loads it before the database.
#include <sstream>

#include "fuzz/detector_run.h"
#include "fuzz/fuzz_check.h"
#include "host/pe_loader/pe_loader.h"
#include "pehost/database_files/database_json.h"
#include "samples/sample_program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ClearDatabaseAfterInput clear;
  static const std::vector<uint8_t> program = samples::BuildSample({}).file;
  kernel::Database &db = kernel::TheDatabase();
  std::string err;
  FUZZ_CHECK(pe_loader::LoadPeBytes(fuzz::kProgramPath, program.data(), program.size(),
                                    &db, &err),
             "the sample does not load: %s", err.c_str());

  std::istringstream saved(std::string(reinterpret_cast<const char *>(data), size));
  if (!database_files::ReadDatabaseJson(saved, &db, &err)) {
    FUZZ_CHECK(!err.empty() && err.find('\n') == std::string::npos,
               "the refusal is not one line: \"%s\"", err.c_str());
    FUZZ_CHECK(db.segments().empty() && db.Names().empty() && db.Structures().empty(),
               "a refused database left something behind");
    return 0;
  }
  fuzz::RunDetectorAndCheck(db, program.data(), program.size());
  return 0;
}
