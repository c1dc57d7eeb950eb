#include "fuzz/memfd_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

const std::string &WriteMemoryFile(const uint8_t *data, size_t size) {
  static const int fd = memfd_create("fuzz-input", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
    perror("fuzz: in-memory file");
    abort();
  }
  return path;
}

}  // namespace fuzz
