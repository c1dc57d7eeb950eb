#include "samples/make_sample_options.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace samples {

const char kMakeSampleUsage[] =
    "usage: make_sample [options] OUTPUT\n"
    "Writes a 32-bit PE program laid out as a Delphi linker lays one out, with\n"
    "class records, their tables and type information of every kind.\n"
    "  --manifest FILE          also write the JSON list of class records, type\n"
    "                           information blocks and functions\n"
    "  --db-seed FILE           also write the user's names and comments as a\n"
    "                           saved database for pehost --db\n"
    "  --layout 52|64|76|88     class record header size in bytes (default 76):\n"
    "                           that of 1996-era, 1997-era, classic or 2009 and\n"
    "                           later compilers; 52 writes a small hierarchy with\n"
    "                           no SelfPtr and decoys, 88 adds generic classes,\n"
    "                           the newer type kinds and string literals shaped\n"
    "                           like records\n"
    "  --forms                  add a resource section with forms and other\n"
    "                           resources behind the other sections\n"
    "  --units N                add N generated units (default 0)\n"
    "  --classes-per-unit N     classes in each generated unit (default 8)\n"
    "  --size-mb N              add generated units until the code is N MB\n"
    "  --help                   show this text\n";

namespace {

// Limits keep the program below the 32-bit address space and its names
// within a short string.
constexpr long kMaxUnits = 1000000;
constexpr long kMaxClassesPerUnit = 1000;
constexpr long kMaxSizeMb = 1500;

bool ParseCount(const std::string &option, const char *text, long min, long max,
                long *out, std::string *err) {
  errno = 0;
  char *end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || v < min || v > max) {
    *err = option + ": expected a whole number from " + std::to_string(min) + " to " +
           std::to_string(max) + ", got \"" + text + "\"";
    return false;
  }
  *out = v;
  return true;
}

}  // namespace

bool ParseMakeSampleOptions(int argc, char **argv, MakeSampleOptions *opts,
                            std::string *err) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      opts->help = true;
      return true;
    }
    if (arg == "--forms") {
      opts->sample.forms = true;
      continue;
    }
    if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) {
        *err = arg + ": missing value";
        return false;
      }
      const char *value = argv[++i];
      long n = 0;
      if (arg == "--manifest") {
        opts->manifest = value;
      } else if (arg == "--db-seed") {
        opts->db_seed = value;
      } else if (arg == "--layout") {
        const std::string v = value;
        if (v != "52" && v != "64" && v != "76" && v != "88") {
          *err = arg + ": expected 52, 64, 76 or 88, got \"" + v + "\"";
          return false;
        }
        opts->sample.layout = static_cast<uint32_t>(std::stoul(v));
      } else if (arg == "--units") {
        if (!ParseCount(arg, value, 0, kMaxUnits, &n, err)) return false;
        opts->sample.units = static_cast<int>(n);
      } else if (arg == "--classes-per-unit") {
        if (!ParseCount(arg, value, 1, kMaxClassesPerUnit, &n, err)) return false;
        opts->sample.classes_per_unit = static_cast<int>(n);
      } else if (arg == "--size-mb") {
        if (!ParseCount(arg, value, 1, kMaxSizeMb, &n, err)) return false;
        opts->sample.min_code_bytes = static_cast<uint32_t>(n) * 1024u * 1024u;
      } else {
        *err = arg + ": unknown option (see --help)";
        return false;
      }
      continue;
    }
    if (!opts->output.empty()) {
      *err = arg + ": only one output file may be given";
      return false;
    }
    opts->output = arg;
  }
  if (opts->output.empty()) {
    *err = "no output file given (see --help)";
    return false;
  }
  if (opts->output == opts->manifest || opts->output == opts->db_seed ||
      (!opts->manifest.empty() && opts->manifest == opts->db_seed)) {
    *err = "the output, manifest and seed files must differ";
    return false;
  }
  // The generated units hold interfaces, which the oldest compilers knew not.
  if (opts->sample.layout == kOldestHeaderSize &&
      (opts->sample.units > 0 || opts->sample.min_code_bytes > 0)) {
    *err = "--layout 52 writes its own units only: no --units or --size-mb";
    return false;
  }
  return true;
}

}  // namespace samples
