// The whole pehost path on arbitrary file bytes: load the program, run the
// class detector through its descriptor as pehost does, with the answers
// "0" (start of program) and No (no log), then write the export and the
// saved database. The export must parse as JSON, the items must never
// overlap, and the saved database must read back over a fresh load and
// write out the same text again.
#include <nlohmann/json.hpp>
#include <sstream>

#include "fuzz/fuzz_check.h"
#include "fuzz/memfd_file.h"
#include "fuzz/pe_image_size.h"
#include "host/loader/database_json.h"
#include "host/loader/pe_loader.h"

extern "C" plugin_t PLUGIN;

namespace {

/// Programs larger than this are loaded but not scanned: the loader target
/// covers them, and scanning them would only slow the search down.
constexpr uint64_t kMaxScannedBytes = 256u << 10;

class AnswersUi : public kernel::UserInterface {
 public:
  void Message(std::string_view) override {}
  int AskYesNo(int, std::string_view) override { return 0; }
  bool AskText(int, std::string_view, std::string_view, std::string *answer) override {
    *answer = "0";
    return true;
  }
};

std::string SavedText(const kernel::Database &db, loader::JsonContent content) {
  std::ostringstream out;
  FUZZ_CHECK(loader::WriteDatabaseJson(db, content, out), "writing the database failed");
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (fuzz::DeclaredImageBytes(data, size) > fuzz::kMaxFuzzedImageBytes) return 0;
  const std::string &path = fuzz::WriteMemoryFile(data, size);
  kernel::Database &db = kernel::TheDatabase();
  std::string err;
  if (!loader::LoadPe(path, &db, &err)) return 0;
  uint64_t image = 0;
  for (const kernel::Segment &s : db.segments()) image += s.bytes.size();
  if (image > kMaxScannedBytes) return 0;

  AnswersUi ui;
  kernel::SetUserInterface(&ui);
  const ea_t cursor = db.cursor();
  if (PLUGIN.init() != 0) {
    PLUGIN.run(0);
    PLUGIN.term();
  }
  kernel::SetUserInterface(nullptr);
  FUZZ_CHECK(db.cursor() == cursor, "the cursor moved from 0x%X to 0x%X", cursor,
             db.cursor());
  fuzz::CheckItemsDisjoint(db);

  const std::string exported = SavedText(db, loader::JsonContent::kExport);
  const nlohmann::json json = nlohmann::json::parse(exported, nullptr, false);
  FUZZ_CHECK(!json.is_discarded(), "the export is not JSON:\n%s", exported.c_str());
  FUZZ_CHECK(json.at("segments").size() == db.segments().size(),
             "the export lists %zu segments of %zu", json.at("segments").size(),
             db.segments().size());

  const std::string saved = SavedText(db, loader::JsonContent::kSaved);
  kernel::Database reloaded;
  FUZZ_CHECK(loader::LoadPe(path, &reloaded, &err), "the program no longer loads: %s",
             err.c_str());
  std::istringstream in(saved);
  FUZZ_CHECK(loader::ReadDatabaseJson(in, &reloaded, &err),
             "the saved database does not read back: %s", err.c_str());
  const std::string resaved = SavedText(reloaded, loader::JsonContent::kSaved);
  FUZZ_CHECK(resaved == saved, "the saved database changed on reloading");
  return 0;
}
