// The command line of make_sample.
#pragma once

#include <string>

#include "samples/sample_program.h"

namespace samples {

extern const char kMakeSampleUsage[];

struct MakeSampleOptions {
  std::string output;
  std::string manifest;
  std::string db_seed;
  SampleOptions sample;
  bool help = false;
};

/// False with a one-line reason in `err` for a bad command line.
bool ParseMakeSampleOptions(int argc, char **argv, MakeSampleOptions *opts,
                            std::string *err);

}  // namespace samples
