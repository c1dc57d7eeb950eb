// pehost: runs a host plug-in on a 32-bit Windows PE program.
#include <cstdio>

#include "pehost/options.h"
#include "pehost/pehost.h"

int main(int argc, char **argv) {
  pehost::Options options;
  std::string err;
  if (!pehost::ParseOptions({argv + 1, argv + argc}, &options, &err)) {
    fprintf(stderr, "pehost: %s\n", err.c_str());
    return pehost::kExitBadInput;
  }
  if (options.help) {
    fputs(pehost::UsageText(), stdout);
  } else if (options.version) {
    printf("pehost %s (plug-in interface %d)\n", PEHOST_VERSION,
           PLUGIN_INTERFACE_VERSION);
  } else {
    return pehost::RunPehost(options);
  }
  return pehost::kExitRan;
}
