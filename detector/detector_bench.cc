// Whole-run benchmark of the class detector: writes sample programs of
// growing size, runs pehost with the detector on each as a user would, and
// reports the time per megabyte and per class record and the peak memory of
// the pehost process against the size of the program's image.
//
//   detector_bench [--pehost PATH] [SIZE_MB ...]      (default sizes: 1 10 100)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

RunResult RunPehost(const std::string &pehost, const std::string &program) {
  RunResult result;
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    execl(pehost.c_str(), pehost.c_str(), "--plugin", "corvale", "--start", "0", "--log",
          "no", program.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.peak_kb = usage.ru_maxrss;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

std::string DefaultPehost(const char *argv0) {
  const auto beside = std::filesystem::path(argv0).parent_path() / "pehost";
  return beside.string();
}

}  // namespace

int main(int argc, char **argv) {
  std::string pehost = DefaultPehost(argv[0]);
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--pehost" && i + 1 < argc) {
      pehost = argv[++i];
    } else if (arg == "--help") {
      std::printf("usage: detector_bench [--pehost PATH] [SIZE_MB ...]\n");
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

  std::printf("%8s %10s %9s %9s %9s %10s %12s %10s %8s\n", "size MB", "image MB",
              "classes", "types", "seconds", "MB/s", "us/class", "peak MB", "peak/img");
  int status = 0;
  for (const int mb : sizes) {
    samples::SampleOptions options;
    options.min_code_bytes = static_cast<uint32_t>(mb) * 1024u * 1024u;
    const samples::SampleProgram sample = samples::BuildSample(options);
    const auto path = dir / ("sample_" + std::to_string(mb) + ".exe");
    {
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char *>(sample.file.data()),
                static_cast<std::streamsize>(sample.file.size()));
    }
    const double image_mb = (sample.highest - sample.lowest) / (1024.0 * 1024.0);
    const RunResult run = RunPehost(pehost, path.string());
    std::filesystem::remove(path);
    if (!run.ok) {
      std::fprintf(stderr, "detector_bench: pehost failed on the %d MB sample\n", mb);
      status = 1;
      continue;
    }
    const double peak_mb = run.peak_kb / 1024.0;
    std::printf("%8d %10.1f %9zu %9zu %9.2f %10.1f %12.2f %10.1f %8.2f\n", mb, image_mb,
                sample.classes.size(), sample.types.size(), run.seconds,
                image_mb / run.seconds, 1e6 * run.seconds / sample.classes.size(),
                peak_mb, peak_mb / image_mb);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  return status;
}
