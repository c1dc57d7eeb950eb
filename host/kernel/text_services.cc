// Text and file services. Every buffer size counts the whole buffer, and
// every result is terminated, cut to fit when it must be.
#include <cstdio>
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "host/output_file/ending_signals.h"
#endif

#include "detector/core/host_api.h"
#include "host/kernel/database_impl.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

const char *LastSeparator(const char *path) {
  const char *last = nullptr;
  for (const char *p = path; *p != '\0'; ++p)
    if (IsSeparator(*p)) last = p;
  return last;
}

#if !defined(_WIN32)
// A text file is written under a temporary name beside its own and takes its
// name when closed, so that a run interrupted half-way leaves an earlier file
// of that name (a log of an earlier run) as it was. The table is fixed so
// that a signal handler can remove the unfinished files.
struct TextFile {
  FILE *fp;
  char temp[4096];
  char path[4096];
};
constexpr int kMaxTextFiles = 16;
TextFile g_text_files[kMaxTextFiles];
volatile sig_atomic_t g_text_file_open[kMaxTextFiles];

int FreeTextFileSlot() {
  for (int i = 0; i < kMaxTextFiles; ++i)
    if (!g_text_file_open[i]) return i;
  return -1;
}
#endif

}  // namespace

namespace kernel {

void RemoveUnfinishedTextFiles() {
#if !defined(_WIN32)
  for (int i = 0; i < kMaxTextFiles; ++i) {
    if (g_text_file_open[i]) {
      unlink(g_text_files[i].temp);
      g_text_file_open[i] = 0;
    }
  }
#endif
}

}  // namespace kernel

extern "C" {

FILE *fopenWT(const char *file) {
  if (file == nullptr || *file == '\0') return nullptr;
#if defined(_WIN32)
  return std::fopen(file, "w");
#else
  // Plug-ins compose paths with the backslash of the system they were
  // written for; here it separates directories as well.
  std::string path(file);
  for (char &c : path)
    if (c == '\\') c = '/';
  const int slot = FreeTextFileSlot();
  if (slot < 0 || path.size() + 12 > sizeof g_text_files[slot].temp)
    return std::fopen(path.c_str(), "w");
  TextFile &f = g_text_files[slot];
  std::snprintf(f.temp, sizeof f.temp, "%s.tmp-XXXXXX", path.c_str());
  std::snprintf(f.path, sizeof f.path, "%s", path.c_str());
  const output_file::EndingSignalsHeld held;
  const int fd = mkstemp(f.temp);
  if (fd < 0) return nullptr;
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  f.fp = fdopen(fd, "w");
  if (f.fp == nullptr) {
    close(fd);
    unlink(f.temp);
    return nullptr;
  }
  g_text_file_open[slot] = 1;
  return f.fp;
#endif
}

int qvfprintf(FILE *fp, const char *format, va_list va) {
  if (fp == nullptr || format == nullptr) return -1;
  return std::vfprintf(fp, format, va);
}

int qfclose(FILE *fp) {
  if (fp == nullptr) return EOF;
#if !defined(_WIN32)
  for (int i = 0; i < kMaxTextFiles; ++i) {
    if (!g_text_file_open[i] || g_text_files[i].fp != fp) continue;
    const int r = std::fclose(fp);
    const bool renamed =
        r == 0 && std::rename(g_text_files[i].temp, g_text_files[i].path) == 0;
    if (!renamed) unlink(g_text_files[i].temp);
    g_text_file_open[i] = 0;
    return renamed ? 0 : EOF;
  }
#endif
  return std::fclose(fp);
}

char *qstrncpy(char *dst, const char *src, size_t dstsize) {
  if (dst == nullptr || dstsize == 0) return dst;
  if (src == nullptr) {
    dst[0] = '\0';
    return dst;
  }
  const size_t n = strnlen(src, dstsize - 1);
  std::memmove(dst, src, n);
  dst[n] = '\0';
  return dst;
}

char *qstrncat(char *dst, const char *src, size_t dstsize) {
  if (dst == nullptr || dstsize == 0) return dst;
  const size_t len = strnlen(dst, dstsize);
  if (len == dstsize) {  // not terminated within the buffer: cut it there
    dst[dstsize - 1] = '\0';
    return dst;
  }
  if (src == nullptr) return dst;
  const size_t n = strnlen(src, dstsize - 1 - len);
  std::memmove(dst + len, src, n);
  dst[len + n] = '\0';
  return dst;
}

int qsnprintf(char *buffer, size_t n, const char *format, ...) {
  if (buffer == nullptr || n == 0) return 0;
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  va_list va;
  va_start(va, format);
  const int r = std::vsnprintf(buffer, n, format, va);
  va_end(va);
  if (r < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<int>(strnlen(buffer, n));
}

int qdirname(char *out, size_t bufsize, const char *path) {
  if (out == nullptr || bufsize == 0) return 0;
  if (path == nullptr) {
    out[0] = '\0';
    return 0;
  }
  const char *last = LastSeparator(path);
  if (last == nullptr) {
    out[0] = '\0';
    return 0;
  }
  // A path at the root keeps its one separator as the directory.
  const size_t len = last == path ? 1 : static_cast<size_t>(last - path);
  const size_t n = std::min(len, bufsize - 1);
  std::memmove(out, path, n);
  out[n] = '\0';
  return 1;
}

const char *qbasename(const char *path) {
  if (path == nullptr) return nullptr;
  const char *last = LastSeparator(path);
  return last != nullptr ? last + 1 : path;
}

char *qsplitfile(char *file, char **ext, char **dot) {
  if (ext != nullptr) *ext = nullptr;
  if (dot != nullptr) *dot = nullptr;
  if (file == nullptr) return nullptr;
  char *name = const_cast<char *>(qbasename(file));
  char *d = std::strrchr(name, '.');
  if (d == nullptr) return file;
  *d = '\0';
  if (ext != nullptr) *ext = d + 1;
  if (dot != nullptr) *dot = d;
  return file;
}

char *ea2str(ea_t ea, char *buf, size_t bufsize) {
  if (buf == nullptr || bufsize == 0) return buf;
  kernel::Database::Impl &d = kernel::TheDatabase().impl();
  const int i = d.SegmentIndex(ea);
  if (i < 0)
    std::snprintf(buf, bufsize, "%08X", static_cast<unsigned>(ea));
  else
    std::snprintf(buf, bufsize, "%s:%08X", d.segments[i].name.c_str(),
                  static_cast<unsigned>(ea));
  return buf;
}

}  // extern "C"
