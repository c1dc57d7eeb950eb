// Whole-run benchmark of the class detector: writes sample programs of
// growing size, runs pehost with the detector on each as a user would, and
// reports the time per megabyte and per class record and the peak memory of
// the pehost process against the size of the program's image. Beside each
// run it times a plain copy of the program's bytes in this process, so that
// the figures of a noisy machine come with a ratio to something measured at
// the same moment. A program of two sections far apart is timed first.
//
// With --model it also times the class model (JSON, report and forms) that
// pehost writes after a run: pehost runs the finder, which changes nothing,
// with and without the model's outputs, best of three each; the difference
// is the model's time, and the difference of the peaks the memory it takes.
//
//   detector_bench [--pehost PATH] [--model] [SIZE_MB ...]  (default sizes: 1 10 100)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "samples/sample_program.h"

namespace {

struct RunResult {
  bool ok = false;
  double seconds = 0;
  long peak_kb = 0;
};

// The peak a parent reads from wait4 is the larger of the child's peak and
// that of the process it was forked from: exec records the forked copy's
// resident size. A fork of this process, which holds the sample, would
// report the sample's memory, so pehost is started from a fresh, small copy
// of this program (--spawn), which reports pehost's own figure back.
RunResult RunPehost(const std::string &self, const std::string &pehost,
                    const std::string &program, const std::string &plugin = "corvale",
                    const std::string &model_dir = "") {
  RunResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execl(self.c_str(), self.c_str(), "--spawn", fd.c_str(), pehost.c_str(),
          program.c_str(), plugin.c_str(), model_dir.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  long peak_kb = -1;
  FILE *report = fdopen(fds[0], "r");
  if (report == nullptr || fscanf(report, "%ld", &peak_kb) != 1) peak_kb = -1;
  if (report != nullptr) fclose(report);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return result;
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.peak_kb = peak_kb;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && peak_kb >= 0;
  return result;
}

/// The --spawn side: runs pehost with `plugin` (writing the class model into
/// `model_dir` unless it is empty), writes its peak in KB to `fd`, exits
/// with 0 when pehost succeeded.
int Spawn(int fd, const char *pehost, const char *program, const std::string &plugin,
          const std::string &model_dir) {
  std::vector<std::string> args = {pehost, "--plugin", plugin, "--start",
                                   "0",    "--log",    "no"};
  if (!model_dir.empty()) {
    args.insert(args.end(), {"--classes", model_dir + "/classes.json", "--report",
                             model_dir + "/report.md", "--forms", model_dir + "/forms"});
  }
  args.push_back(program);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    close(fd);
    freopen("/dev/null", "w", stdout);
    execv(pehost, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  const std::string peak = std::to_string(usage.ru_maxrss) + "\n";
  if (write(fd, peak.data(), peak.size()) != static_cast<ssize_t>(peak.size())) return 1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

/// Seconds to copy `bytes` once, best of five.
double CopySeconds(const std::vector<uint8_t> &bytes) {
  double best = 1e9;
  std::vector<uint8_t> copy(bytes.size());
  for (int i = 0; i < 5; ++i) {
    const auto started = std::chrono::steady_clock::now();
    std::copy(bytes.begin(), bytes.end(), copy.begin());
    asm volatile("" : : "r"(copy.data()) : "memory");  // the copy must happen
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                  .count());
  }
  return best;
}

std::string DefaultPehost(const char *argv0) {
  const auto beside = std::filesystem::path(argv0).parent_path() / "pehost";
  return beside.string();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 7 && std::string(argv[1]) == "--spawn")
    return Spawn(std::atoi(argv[2]), argv[3], argv[4], argv[5], argv[6]);
  std::string pehost = DefaultPehost(argv[0]);
  std::vector<int> sizes;
  bool model = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--pehost" && i + 1 < argc) {
      pehost = argv[++i];
    } else if (arg == "--model") {
      model = true;
    } else if (arg == "--help") {
      std::printf("usage: detector_bench [--pehost PATH] [--model] [SIZE_MB ...]\n");
      return 0;
    } else {
      const int mb = std::atoi(arg.c_str());
      if (mb <= 0 || mb > 1000) {
        std::fprintf(stderr, "detector_bench: %s: not a size in megabytes (1 to 1000)\n",
                     arg.c_str());
        return 2;
      }
      sizes.push_back(mb);
    }
  }
  if (sizes.empty()) sizes = {1, 10, 100};

  const auto dir = std::filesystem::temp_directory_path() /
                   ("detector_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  int status = 0;

  // A program of two small sections 1 GiB apart, found by fuzzing: the search
  // must pass the gap between them at once, not four bytes at a time.
  const RunResult gap = RunPehost(argv[0], pehost, GAP_PROGRAM);
  if (gap.ok) {
    std::printf("sections 1 GiB apart: %.3f seconds, peak %.1f MB\n", gap.seconds,
                gap.peak_kb / 1024.0);
  } else {
    std::fprintf(stderr, "detector_bench: pehost failed on %s\n", GAP_PROGRAM);
    status = 1;
  }

  std::printf("%8s %10s %9s %9s %9s %10s %12s %10s %8s %9s", "size MB", "image MB",
              "classes", "types", "seconds", "MB/s", "us/class", "peak MB", "peak/img",
              "x copy");
  if (model) std::printf(" %9s %9s %9s", "model s", "model MB", "model/img");
  std::printf("\n");
  std::fflush(stdout);
  for (const int mb : sizes) {
    samples::SampleOptions options;
    options.min_code_bytes = static_cast<uint32_t>(mb) * 1024u * 1024u;
    options.forms = model;
    const samples::SampleProgram sample = samples::BuildSample(options);
    const auto path = dir / ("sample_" + std::to_string(mb) + ".exe");
    {
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char *>(sample.file.data()),
                static_cast<std::streamsize>(sample.file.size()));
    }
    const double image_mb = (sample.highest - sample.lowest) / (1024.0 * 1024.0);
    const RunResult run = RunPehost(argv[0], pehost, path.string());
    const double copy_seconds = CopySeconds(sample.file);
    RunResult finder{true, 1e9, 0}, with_model{true, 1e9, 0};
    const auto model_dir = dir / ("model_" + std::to_string(mb));
    for (int i = 0; model && i < 3; ++i) {
      std::filesystem::create_directories(model_dir);
      const RunResult a = RunPehost(argv[0], pehost, path.string(), "lumisk");
      const RunResult b =
          RunPehost(argv[0], pehost, path.string(), "lumisk", model_dir.string());
      std::filesystem::remove_all(model_dir);
      finder = {finder.ok && a.ok, std::min(finder.seconds, a.seconds),
                std::max(finder.peak_kb, a.peak_kb)};
      with_model = {with_model.ok && b.ok, std::min(with_model.seconds, b.seconds),
                    std::max(with_model.peak_kb, b.peak_kb)};
    }
    std::filesystem::remove(path);
    if (!run.ok || !finder.ok || !with_model.ok) {
      std::fprintf(stderr, "detector_bench: pehost failed on the %d MB sample\n", mb);
      status = 1;
      continue;
    }
    const double peak_mb = run.peak_kb / 1024.0;
    std::printf("%8d %10.1f %9zu %9zu %9.2f %10.1f %12.2f %10.1f %8.2f %9.0f", mb,
                image_mb, sample.classes.size(), sample.types.size(), run.seconds,
                image_mb / run.seconds, 1e6 * run.seconds / sample.classes.size(),
                peak_mb, peak_mb / image_mb, run.seconds / copy_seconds);
    if (model) {
      const double model_mb = (with_model.peak_kb - finder.peak_kb) / 1024.0;
      std::printf(" %9.2f %9.1f %9.2f", with_model.seconds - finder.seconds, model_mb,
                  model_mb / image_mb);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  return status;
}
