// Writes the small sample program of pe_builder.h, for trying pehost out.
#include <cstdio>

#include "testing/pe_builder.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_test_pe FILE\n");
    return 2;
  }
  if (!test_pe::WriteBytes(argv[1], test_pe::BuildPe(test_pe::SamplePe()))) {
    fprintf(stderr, "make_test_pe: %s: cannot write\n", argv[1]);
    return 1;
  }
  return 0;
}
