// pehost's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "detector/core/host_api.h"

namespace pehost {

struct Options {
  std::string plugin = "corvale";    // a plug-in name or a library path
  std::optional<std::string> start;  // the answer to the text question
  std::optional<int> log;            // the answer to the Yes/No/Cancel question
  std::optional<ea_t> cursor;
  std::string db;  // empty: none
  std::string json;
  std::string listing;
  std::string classes;   // the class model as JSON
  std::string report;    // the class model as a readable report
  std::string forms;     // a folder for the program's forms as text
  std::string c_header;  // the program's types as a C header
  std::string ida_script;
  std::string ghidra_script;
  std::string input;
  bool help = false;
  bool version = false;
};

/// Reads `args` (without the program name) into *options. False with one
/// line of reason in *err for bad usage. With --help or --version the rest
/// need not be complete.
bool ParseOptions(const std::vector<std::string> &args, Options *options,
                  std::string *err);

/// The --help text.
const char *UsageText();

}  // namespace pehost
