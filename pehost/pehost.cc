// The files a run writes are written only after the plug-in returns, each
// whole or not at all, and the plug-in's own text files (its log) take their
// names only when closed; a signal on the way removes the unfinished files
// and ends the program without touching the earlier ones.
#include "pehost/pehost.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "host/output_file/ending_signals.h"
#include "host/output_file/output_file.h"
#include "host/pe_loader/pe_loader.h"
#include "model/program_types.h"
#include "pehost/c_header/c_header.h"
#include "pehost/database_files/database_json.h"
#include "pehost/database_files/listing.h"
#include "pehost/host_ui.h"
#include "pehost/model_files/form_files.h"
#include "pehost/model_files/model_json.h"
#include "pehost/model_files/model_report.h"
#include "pehost/plugin_loader.h"
#include "pehost/tool_script/tool_script.h"

namespace pehost {
namespace {

namespace fs = std::filesystem;

int Complain(const std::string &subject, const std::string &reason, int status) {
  fprintf(stderr, "pehost: %s: %s\n", subject.c_str(), reason.c_str());
  return status;
}

void OnSignal(int sig) {
  output_file::RemovePendingTempFile();
  kernel::RemoveUnfinishedTextFiles();
  signal(sig, SIG_DFL);
  raise(sig);
}

void CatchSignals() {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : output_file::kEndingSignals) sigaction(sig, &action, nullptr);
}

/// Checks before the run that `path` can be written, so that a long run is
/// not wasted on a typing error.
bool CanWrite(const std::string &path, std::string *err) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    *err = "is a folder";
    return false;
  }
  fs::path dir = fs::path(path).parent_path();
  if (dir.empty()) dir = ".";
  if (!fs::is_directory(dir, ec)) {
    *err = "no folder " + dir.string();
    return false;
  }
  if (access(dir.c_str(), W_OK) != 0) {
    *err = "cannot write into " + dir.string();
    return false;
  }
  return true;
}

/// Applies the saved database at `path` when the file exists.
bool LoadSaved(const std::string &path, kernel::Database *db, std::string *err) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return true;
  if (ec) {
    *err = "cannot read: " + ec.message();
    return false;
  }
  if (status.type() != fs::file_type::regular) {
    *err = "not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = std::string("cannot read: ") + strerror(errno);
    return false;
  }
  return database_files::ReadDatabaseJson(in, db, err);
}

/// Checks before the run that the forms can go into `dir`: an existing
/// folder, or a name whose parent folder exists.
bool CanWriteFolder(const std::string &dir, std::string *err) {
  std::error_code ec;
  if (!fs::exists(dir, ec)) return CanWrite(dir, err);
  if (!fs::is_directory(dir, ec)) {
    *err = "is not a folder";
    return false;
  }
  if (access(dir.c_str(), W_OK) != 0) {
    *err = "cannot write into it";
    return false;
  }
  return true;
}

/// The class model and the program's types, read from the database as the
/// run left it, when an output needs them.
struct ModelAndTypes {
  model::ProgramModel program;
  model::ProgramTypes types;
};

bool NeedsModel(const Options &options) {
  return !options.classes.empty() || !options.report.empty() || !options.forms.empty() ||
         !options.c_header.empty() || !options.ida_script.empty() ||
         !options.ghidra_script.empty();
}

/// The header and the scripts write the declarations; the class model's
/// files need only the methods and the classes' own fields.
bool NeedsDeclarations(const Options &options) {
  return !options.c_header.empty() || !options.ida_script.empty() ||
         !options.ghidra_script.empty();
}

ModelAndTypes BuildModelAndTypes(const Options &options) {
  ModelAndTypes m{model::BuildModel(), {}};
  m.types = model::BuildTypes(m.program, NeedsDeclarations(options));
  m.program.problems.insert(m.program.problems.end(), m.types.problems.begin(),
                            m.types.problems.end());
  return m;
}

/// The class model's files and the header.
int WriteModel(const Options &options, const ModelAndTypes &m) {
  if (!NeedsModel(options)) return kExitRan;
  const model::ProgramModel &program = m.program;
  const model::ProgramTypes &types = m.types;
  // A form, a part of the resources or a type that cannot be read is told,
  // not fatal.
  for (const std::string &problem : program.problems)
    Complain(options.input, problem, kExitRan);
  int status = kExitRan;
  std::string err;
  if (!options.c_header.empty() &&
      !output_file::WriteFileWhole(
          options.c_header,
          [&](std::ostream &o) { return c_header::WriteCHeader(program, types, o); },
          &err))
    status = Complain(options.c_header, err, kExitNotRun);
  if (!options.classes.empty() &&
      !output_file::WriteFileWhole(
          options.classes,
          [&](std::ostream &o) { return model_files::WriteModelJson(program, types, o); },
          &err))
    status = Complain(options.classes, err, kExitNotRun);
  if (!options.report.empty() && !output_file::WriteFileWhole(
                                     options.report,
                                     [&](std::ostream &o) {
                                       return model_files::WriteModelReport(program,
                                                                            types, o);
                                     },
                                     &err))
    status = Complain(options.report, err, kExitNotRun);
  if (!options.forms.empty()) {
    std::vector<std::string> errors;
    model_files::WriteFormFiles(program, options.forms, &errors);
    for (const std::string &e : errors) status = Complain("--forms", e, kExitNotRun);
  }
  return status;
}

/// What the scripts' headers say of this run.
tool_script::ScriptOrigin ScriptOriginOf(const Options &options,
                                         const std::string &plugin_path) {
  char when[32] = "";
  const time_t now = time(nullptr);
  struct tm utc;
  if (gmtime_r(&now, &utc) != nullptr)
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
  std::string run = std::string("pehost ") + PEHOST_VERSION + ", plug-in " + plugin_path;
  if (!options.db.empty()) run += ", database " + options.db;
  return {run + ", " + when};
}

int WriteOutputs(const Options &options, const kernel::Database &db,
                 const tool_script::ScriptOrigin &origin, const ModelAndTypes &m) {
  // Both scripts carry the same records of the database: made once for the
  // two, and written as they are made for one. Each tool's types are made
  // for its script alone and let go after it.
  const bool both_scripts = !options.ida_script.empty() && !options.ghidra_script.empty();
  const tool_script::ScriptRecords records =
      both_scripts ? tool_script::MakeScriptRecords(db) : tool_script::ScriptRecords{};
  struct Output {
    const std::string &path;
    std::function<bool(std::ostream &)> write;
  };
  const Output outputs[] = {
      {options.db,
       [&](std::ostream &o) {
         return database_files::WriteDatabaseJson(db, database_files::JsonContent::kSaved,
                                                  o);
       }},
      {options.json,
       [&](std::ostream &o) {
         return database_files::WriteDatabaseJson(
             db, database_files::JsonContent::kExport, o);
       }},
      {options.listing,
       [&](std::ostream &o) { return database_files::WriteListing(db, o); }},
      {options.ida_script,
       [&](std::ostream &o) {
         const tool_script::ScriptTypes types = c_header::IdaTypes(m.types);
         return both_scripts ? tool_script::WriteIdaScript(db, origin, records, &types, o)
                             : tool_script::WriteIdaScript(db, origin, &types, o);
       }},
      {options.ghidra_script,
       [&](std::ostream &o) {
         const tool_script::ScriptTypes types = tool_script::GhidraTypes(m.types);
         return both_scripts
                    ? tool_script::WriteGhidraScript(db, origin, records, &types, o)
                    : tool_script::WriteGhidraScript(db, origin, &types, o);
       }},
  };
  int status = kExitRan;
  for (const Output &output : outputs) {
    if (output.path.empty()) continue;
    std::string err;
    if (!output_file::WriteFileWhole(output.path, output.write, &err))
      status = Complain(output.path, err, kExitNotRun);
  }
  return status;
}

}  // namespace

int RunPehost(const Options &options) {
  CatchSignals();
  std::string err;
  for (const std::string *path :
       {&options.db, &options.json, &options.listing, &options.classes, &options.report,
        &options.c_header, &options.ida_script, &options.ghidra_script})
    if (!path->empty() && !CanWrite(*path, &err))
      return Complain(*path, err, kExitBadInput);
  if (!options.forms.empty() && !CanWriteFolder(options.forms, &err))
    return Complain(options.forms, err, kExitBadInput);

  kernel::Database &db = kernel::TheDatabase();
  if (!pe_loader::LoadPe(options.input, &db, &err))
    return Complain(options.input, err, kExitBadInput);
  if (!options.db.empty() && !LoadSaved(options.db, &db, &err))
    return Complain(options.db, err, kExitBadInput);
  if (options.cursor) db.SetCursor(*options.cursor);

  const std::string plugin_path = PluginPath(options.plugin);
  const plugin_t *plugin = OpenPlugin(plugin_path, &err);
  if (plugin == nullptr) return Complain(plugin_path, err, kExitBadInput);

  const bool interactive = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  HostUi ui(options.start, options.log, interactive);
  kernel::SetUserInterface(&ui);
  if (plugin->init() == 0) {
    kernel::SetUserInterface(nullptr);
    char processor[16];
    snprintf(processor, sizeof processor, "0x%X", static_cast<unsigned>(db.processor()));
    return Complain(plugin_path,
                    std::string("the plug-in is not offered for this database "
                                "(processor ") +
                        processor + ", not x86)",
                    kExitNotRun);
  }
  ui.StartProgress(db.min_ea(), db.max_ea());
  plugin->run(0);
  if (plugin->term != nullptr) plugin->term();
  ui.EndProgress();
  kernel::SetUserInterface(nullptr);
  if (fflush(stdout) != 0)
    return Complain("standard output", strerror(errno), kExitNotRun);
  const ModelAndTypes model =
      NeedsModel(options) ? BuildModelAndTypes(options) : ModelAndTypes{};
  const int status =
      WriteOutputs(options, db, ScriptOriginOf(options, plugin_path), model);
  const int model_status = WriteModel(options, model);
  return status != kExitRan ? status : model_status;
}

}  // namespace pehost
