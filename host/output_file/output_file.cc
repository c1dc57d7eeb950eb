#include "host/output_file/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "host/output_file/ending_signals.h"

namespace output_file {
namespace {

// The temporary file's name, readable from a signal handler: the flag is
// raised only once the name is complete.
char g_pending_path[4096];
volatile sig_atomic_t g_pending = 0;

std::string Reason(const char *what) {
  return std::string(what) + ": " + strerror(errno);
}

mode_t NewFileMode(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void RemovePendingTempFile() {
  if (g_pending) {
    unlink(g_pending_path);
    g_pending = 0;
  }
}

bool WriteFileWhole(const std::string &path,
                    const std::function<bool(std::ostream &)> &write, std::string *err) {
  const std::string pattern = path + ".tmp-XXXXXX";
  if (pattern.size() >= sizeof g_pending_path) {
    *err = "the path is too long";
    return false;
  }
  char name[sizeof g_pending_path];
  memcpy(name, pattern.c_str(), pattern.size() + 1);
  int fd;
  {
    const EndingSignalsHeld held;
    fd = mkstemp(name);
    if (fd < 0) {
      *err = Reason("cannot create a temporary file beside it");
      return false;
    }
    memcpy(g_pending_path, name, pattern.size() + 1);
    g_pending = 1;
  }
  const std::string temp = name;
  auto fail = [&](std::string reason) {
    RemovePendingTempFile();
    *err = std::move(reason);
    return false;
  };

  fchmod(fd, NewFileMode(path));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      close(fd);
      return fail(Reason("cannot write a temporary file beside it"));
    }
    if (!write(out)) {
      close(fd);
      return fail("the contents could not be produced");
    }
    out.flush();
    if (!out) {
      close(fd);
      return fail(Reason("cannot write"));
    }
  }
  // The data must be on the disk before the name points at it.
  const bool synced = fsync(fd) == 0;
  close(fd);
  if (!synced) return fail(Reason("cannot write"));
  if (rename(temp.c_str(), path.c_str()) != 0) return fail(Reason("cannot replace it"));
  g_pending = 0;
  return true;
}

}  // namespace output_file
