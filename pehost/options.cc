#include "pehost/options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace pehost {

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

bool SetPlugin(const std::string &value, Options *options, std::string *err) {
  if (value.empty()) {
    *err = "--plugin: needs a name or a path";
    return false;
  }
  options->plugin = value;
  return true;
}

bool SetStart(const std::string &value, Options *options, std::string *) {
  options->start = value;
  return true;
}

bool SetLog(const std::string &value, Options *options, std::string *err) {
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
  return true;
}

bool SetCursor(const std::string &value, Options *options, std::string *err) {
  ea_t ea;
  if (!ParseAddress(value, &ea)) {
    *err = "--cursor " + value + ": not a hexadecimal address";
    return false;
  }
  options->cursor = ea;
  return true;
}

/// An option that takes a value: its name, the value's name and the help
/// text for --help (a line break starts a line under the first), and where
/// the value goes: a file or folder name into `file`, anything else through
/// `set`.
struct OptionSpec {
  const char *name;
  const char *value;
  const char *help;
  std::string Options::*file;
  bool (*set)(const std::string &value, Options *options, std::string *err);
};

const OptionSpec kOptions[] = {
    {"--plugin", "NAME|PATH",
     "corvale (the default), lumisk, or the path of a plug-in library", nullptr,
     SetPlugin},
    {"--start", "TEXT", "the answer to the first question, passed as typed", nullptr,
     SetStart},
    {"--log", "yes|no|cancel", "the answer to the log question", nullptr, SetLog},
    {"--cursor", "ADDR",
     "where the cursor stands when the plug-in runs, in hex\n(default: the entry point)",
     nullptr, SetCursor},
    {"--db", "FILE",
     "load the database from FILE when it exists, and save it\nthere after the run",
     &Options::db, nullptr},
    {"--json", "FILE", "write the database after the run as JSON", &Options::json,
     nullptr},
    {"--listing", "FILE", "write a readable listing of the database", &Options::listing,
     nullptr},
    {"--classes", "FILE", "write the program's classes, types and forms as JSON",
     &Options::classes, nullptr},
    {"--report", "FILE", "write them as a readable Markdown report", &Options::report,
     nullptr},
    {"--forms", "DIR", "write each form of the program as text into DIR", &Options::forms,
     nullptr},
    {"--c-header", "FILE", "write the program's types and prototypes as a C header",
     &Options::c_header, nullptr},
    {"--ida-script", "FILE", "write an IDAPython script that applies the database",
     &Options::ida_script, nullptr},
    {"--ghidra-script", "FILE", "write a Ghidra script that applies the database",
     &Options::ghidra_script, nullptr},
};

// The help column: two spaces, then the option and its value in this width.
constexpr size_t kOptionWidth = 22;

std::string MakeUsageText() {
  std::string text =
      "usage: pehost [options] FILE\n"
      "Loads the 32-bit Windows PE program FILE, runs a plug-in on it and saves or\n"
      "exports the database.\n"
      "\n";
  for (const OptionSpec &o : kOptions) {
    std::string head = std::string(o.name) + " " + o.value;
    head.resize(std::max(kOptionWidth, head.size() + 2), ' ');
    text += "  " + head;
    for (const char *c = o.help; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text += std::string(2 + kOptionWidth, ' ');
    }
    text += '\n';
  }
  return text +
         "  --help, --version\n"
         "\n"
         "Standard output carries the plug-in's output window only. Without --start or\n"
         "--log the questions are asked on a terminal, else their defaults are taken.\n"
         "Exit status: 0 after a run, 1 when the plug-in is not offered for the program\n"
         "or the run's results cannot be written, 2 for bad usage or input.\n";
}

const OptionSpec *FindOption(const std::string &name) {
  for (const OptionSpec &o : kOptions)
    if (name == o.name) return &o;
  return nullptr;
}

bool SetOption(const OptionSpec &o, const std::string &value, Options *options,
               std::string *err) {
  if (o.set != nullptr) return o.set(value, options, err);
  if (value.empty()) {
    *err = std::string(o.name) + (std::string(o.value) == "DIR" ? ": needs a folder name"
                                                                : ": needs a file name");
    return false;
  }
  options->*o.file = value;
  return true;
}

}  // namespace

const char *UsageText() {
  static const std::string text = MakeUsageText();
  return text.c_str();
}

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
    if (arg == "--help" || arg == "--version") {
      (arg == "--help" ? options->help : options->version) = true;
      continue;
    }
    std::string value;
    bool has_value = false;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
      has_value = true;
    }
    const OptionSpec *option = FindOption(arg);
    if (option == nullptr) {
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
    if (!SetOption(*option, value, options, err)) return false;
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
