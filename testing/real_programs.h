// What the real-program tests share: the finder's list of the records it
// found, read back from its output window.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct FoundRecords {
  std::map<uint32_t, std::string> classes;  // class record address -> class name
  std::map<uint32_t, std::string> types;    // reference cell -> "name of kind"
};

/// The records in the finder's "<label> @ <address>" lines.
FoundRecords ParseFinderOutput(const std::string &out);
