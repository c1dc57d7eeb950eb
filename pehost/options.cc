#include "pehost/options.h"

#include <cctype>
#include <cstdlib>

namespace pehost {

const char *UsageText() {
  return "usage: pehost [options] FILE\n"
         "Loads the 32-bit Windows PE program FILE, runs a plug-in on it and saves or\n"
         "exports the database.\n"
         "\n"
         "  --plugin NAME|PATH    corvale (the default), lumisk, or the path of a "
         "plug-in "
         "library\n"
         "  --start TEXT          the answer to the first question, passed as typed\n"
         "  --log yes|no|cancel   the answer to the log question\n"
         "  --cursor ADDR         where the cursor stands when the plug-in runs, in hex\n"
         "                        (default: the entry point)\n"
         "  --db FILE             load the database from FILE when it exists, and save "
         "it\n"
         "                        there after the run\n"
         "  --json FILE           write the database after the run as JSON\n"
         "  --listing FILE        write a readable listing of the database\n"
         "  --classes FILE        write the program's classes, types and forms as JSON\n"
         "  --report FILE         write them as a readable Markdown report\n"
         "  --forms DIR           write each form of the program as text into DIR\n"
         "  --c-header FILE       write the program's types and prototypes as a C "
         "header\n"
         "  --ida-script FILE     write an IDAPython script that applies the database\n"
         "  --ghidra-script FILE  write a Ghidra script that applies the database\n"
         "  --help, --version\n"
         "\n"
         "Standard output carries the plug-in's output window only. Without --start or\n"
         "--log the questions are asked on a terminal, else their defaults are taken.\n"
         "Exit status: 0 after a run, 1 when the plug-in is not offered for the program\n"
         "or the run's results cannot be written, 2 for bad usage or input.\n";
}

namespace {

bool ParseAddress(const std::string &text, ea_t *ea) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.erase(0, 2);
  if (digits.empty() || digits.size() > 8) return false;
  for (char c : digits)
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
  *ea = static_cast<ea_t>(strtoul(digits.c_str(), nullptr, 16));
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string> &args, Options *options,
                  std::string *err) {
  std::vector<std::string> files;
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_end || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (!options_end && arg.size() > 1 && arg[0] == '-') {
        *err = arg + ": unknown option (see --help)";
        return false;
      }
      files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help") {
      options->help = true;
      continue;
    }
    if (arg == "--version") {
      options->version = true;
      continue;
    }
    std::string value;
    bool has_value = false;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
      has_value = true;
    }
    const bool known = arg == "--plugin" || arg == "--start" || arg == "--log" ||
                       arg == "--cursor" || arg == "--db" || arg == "--json" ||
                       arg == "--listing" || arg == "--classes" || arg == "--report" ||
                       arg == "--forms" || arg == "--c-header" || arg == "--ida-script" ||
                       arg == "--ghidra-script";
    if (!known) {
      *err = arg + ": unknown option (see --help)";
      return false;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        *err = arg + ": needs a value";
        return false;
      }
      value = args[++i];
    }
    if (arg == "--plugin") {
      if (value.empty()) {
        *err = "--plugin: needs a name or a path";
        return false;
      }
      options->plugin = value;
    } else if (arg == "--start") {
      options->start = value;
    } else if (arg == "--log") {
      if (value == "yes") {
        options->log = 1;
      } else if (value == "no") {
        options->log = 0;
      } else if (value == "cancel") {
        options->log = -1;
      } else {
        *err = "--log " + value + ": expected yes, no or cancel";
        return false;
      }
    } else if (arg == "--cursor") {
      ea_t ea;
      if (!ParseAddress(value, &ea)) {
        *err = "--cursor " + value + ": not a hexadecimal address";
        return false;
      }
      options->cursor = ea;
    } else {
      if (value.empty()) {
        *err = arg + (arg == "--forms" ? ": needs a folder name" : ": needs a file name");
        return false;
      }
      (arg == "--db"           ? options->db
       : arg == "--json"       ? options->json
       : arg == "--listing"    ? options->listing
       : arg == "--classes"    ? options->classes
       : arg == "--report"     ? options->report
       : arg == "--forms"      ? options->forms
       : arg == "--c-header"   ? options->c_header
       : arg == "--ida-script" ? options->ida_script
                               : options->ghidra_script) = value;
    }
  }
  if (options->help || options->version) return true;
  if (files.size() != 1) {
    *err = files.empty() ? "no input file (see --help)"
                         : "more than one input file: " + files[0] + ", " + files[1];
    return false;
  }
  options->input = files[0];
  return true;
}

}  // namespace pehost
