#include "fuzz/detector_run.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include "fuzz/fuzz_check.h"
#include "host/pe_loader/pe_loader.h"
#include "pehost/database_files/database_json.h"
#include "pehost/database_files/listing.h"

extern "C" plugin_t PLUGIN;

namespace fuzz {
namespace {

class AnswersUi : public kernel::UserInterface {
 public:
  void Message(std::string_view) override {}
  int AskYesNo(int, std::string_view) override { return 0; }
  bool AskText(int, std::string_view, std::string_view, std::string *answer) override {
    *answer = "0";
    return true;
  }
};

std::string SavedText(const kernel::Database &db, database_files::JsonContent content) {
  std::ostringstream out;
  FUZZ_CHECK(database_files::WriteDatabaseJson(db, content, out),
             "writing the database failed");
  return out.str();
}

}  // namespace

void RunDetectorAndCheck(kernel::Database &db, const uint8_t *file, size_t size) {
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
  CheckItemsDisjoint(db);

  const std::string exported = SavedText(db, database_files::JsonContent::kExport);
  // Only the segments are kept: the other arrays are read and checked but
  // not built, which would cost more than the whole detector run.
  std::string top_key;
  const nlohmann::json json = nlohmann::json::parse(
      exported,
      [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json &parsed) {
        if (depth == 1 && event == nlohmann::json::parse_event_t::key)
          top_key = parsed.get<std::string>();
        return depth != 1 || event != nlohmann::json::parse_event_t::array_start ||
               top_key == "segments";
      },
      false);
  FUZZ_CHECK(!json.is_discarded(), "the export is not JSON:\n%s", exported.c_str());
  FUZZ_CHECK(json.at("segments").size() == db.segments().size(),
             "the export lists %zu segments of %zu", json.at("segments").size(),
             db.segments().size());
  std::ostringstream listing;
  FUZZ_CHECK(database_files::WriteListing(db, listing), "writing the listing failed");

  const std::string saved = SavedText(db, database_files::JsonContent::kSaved);
  kernel::Database reloaded;
  std::string err;
  FUZZ_CHECK(pe_loader::LoadPeBytes(kProgramPath, file, size, &reloaded, &err),
             "the program no longer loads: %s", err.c_str());
  std::istringstream in(saved);
  FUZZ_CHECK(database_files::ReadDatabaseJson(in, &reloaded, &err),
             "the saved database does not read back: %s", err.c_str());
  const std::string resaved = SavedText(reloaded, database_files::JsonContent::kSaved);
  FUZZ_CHECK(resaved == saved, "the saved database changed on reloading");
}

}  // namespace fuzz
