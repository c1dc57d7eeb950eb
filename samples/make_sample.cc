// make_sample: writes the sample program, and on request its manifest and
// database seed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "samples/make_sample_options.h"
#include "samples/manifest.h"
#include "samples/sample_program.h"

int main(int argc, char **argv) {
  samples::MakeSampleOptions opts;
  std::string err;
  if (!samples::ParseMakeSampleOptions(argc, argv, &opts, &err)) {
    std::fprintf(stderr, "make_sample: %s\n", err.c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(samples::kMakeSampleUsage, stdout);
    return 0;
  }
  samples::SampleProgram program = samples::BuildSample(opts.sample);
  if (!samples::WriteFileWhole(opts.output, program.file.data(), program.file.size(),
                               &err)) {
    std::fprintf(stderr, "make_sample: %s\n", err.c_str());
    return 1;
  }
  if (!opts.manifest.empty()) {
    const std::string json = samples::ManifestJson(program);
    if (!samples::WriteFileWhole(opts.manifest, json.data(), json.size(), &err)) {
      std::fprintf(stderr, "make_sample: %s\n", err.c_str());
      return 1;
    }
  }
  if (!opts.db_seed.empty()) {
    const std::string json = samples::SeedJson(program);
    if (!samples::WriteFileWhole(opts.db_seed, json.data(), json.size(), &err)) {
      std::fprintf(stderr, "make_sample: %s\n", err.c_str());
      return 1;
    }
  }
  return 0;
}
