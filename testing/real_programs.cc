#include "testing/real_programs.h"

#include <regex>
#include <sstream>

FoundRecords ParseFinderOutput(const std::string &out) {
  FoundRecords found;
  static const std::regex line(
      R"((Class (\S+) of VritualTable|Type (.+)) @ ([0-9A-F]{8}))");
  std::istringstream in(out);
  std::string text;
  std::smatch m;
  while (std::getline(in, text)) {
    if (!std::regex_match(text, m, line)) continue;
    const uint32_t ea = std::stoul(m[4].str(), nullptr, 16);
    if (m[2].matched) {
      found.classes[ea] = m[2].str();
    } else {
      found.types[ea] = m[3].str();
    }
  }
  return found;
}
