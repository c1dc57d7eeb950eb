// The finder's whole scan over a large sample program, side by side with a
// plain loop that applies the same shape tests to the same bytes straight
// from memory. The plain loop is the floor: what is left between the two is
// the cost of the full tests at the addresses that may begin a record, of
// the host's services they read through and of the trace line printed for
// each record.
//
//   finder_bench [--benchmark_filter=...]   (FINDER_BENCH_MB sets the size)
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "detector/core/host_api.h"
#include "detector/core/recognise.h"
#include "finder/finder_scan.h"
#include "host/kernel/database.h"
#include "samples/mapped_pe.h"
#include "samples/sample_program.h"

namespace {

// The program as one flat block from its lowest to its highest address,
// with the ends of its sections, for the plain loop.
struct FlatImage {
  uint32_t lowest = 0;
  uint32_t highest = 0;
  std::vector<uint8_t> bytes;
  std::vector<samples::MappedSection> sections;  // starts and ends only
  int records = 0;                               // what the finder found
};

const FlatImage &Sample() {
  static FlatImage *image = [] {
    samples::SampleOptions options;
    const char *mb = std::getenv("FINDER_BENCH_MB");
    options.min_code_bytes = static_cast<uint32_t>(mb ? std::atoi(mb) : 64) << 20;
    const samples::SampleProgram program = samples::BuildSample(options);
    samples::MappedPe pe;
    std::string err;
    if (!pe.Load(program.file, &err)) {
      std::fprintf(stderr, "finder_bench: sample: %s\n", err.c_str());
      std::exit(1);
    }

    kernel::Database &db = kernel::TheDatabase();
    db.Clear();
    db.SetProcessor(0);
    auto *flat = new FlatImage;
    flat->lowest = pe.lowest;
    flat->highest = pe.highest;
    flat->bytes.assign(pe.highest - pe.lowest, 0xFF);
    for (samples::MappedSection &s : pe.sections) {
      std::memcpy(&flat->bytes[s.start - pe.lowest], s.bytes.data(), s.bytes.size());
      kernel::Segment segment{s.name, s.start, s.end, std::move(s.bytes)};
      if (!db.AddSegment(std::move(segment), &err)) {
        std::fprintf(stderr, "finder_bench: segment %s: %s\n", s.name.c_str(),
                     err.c_str());
        std::exit(1);
      }
      s.bytes.clear();
      flat->sections.push_back(s);
    }
    db.SetCursor(pe.entry);
    // No input path and no user interface: the run keeps no log and its
    // output window goes nowhere.
    kernel::SetUserInterface(nullptr);
    return flat;
  }();
  return *image;
}

// ---- The plain loop ------------------------------------------------------

struct Plain {
  const FlatImage &img;

  uint8_t Byte(uint32_t ea) const {
    const uint32_t off = ea - img.lowest;
    return off < img.bytes.size() ? img.bytes[off] : 0xFF;
  }
  uint32_t Long(uint32_t ea) const {
    const uint32_t off = ea - img.lowest;
    if (off < img.bytes.size() - 3) {
      uint32_t v;
      std::memcpy(&v, &img.bytes[off], 4);
      return v;
    }
    return Byte(ea) | Byte(ea + 1) << 8 | Byte(ea + 2) << 16 |
           uint32_t{Byte(ea + 3)} << 24;
  }
  uint32_t SegmentEnd(uint32_t ea) const {
    for (const samples::MappedSection &s : img.sections) {
      if (ea >= s.start && ea < s.end) return s.end;
    }
    return 0xFFFFFFFF;
  }
  bool InRange(uint32_t v, uint32_t rec) const {
    return v >= img.lowest && v < SegmentEnd(rec);
  }
  static bool NameByte(uint8_t c) {
    return (c >= 0x24 && c <= 0x26) || c == 0x28 || c == 0x29 || c == 0x2E ||
           (c >= 0x30 && c <= 0x3A) || (c >= 0x3F && c <= 0x5B) || c == 0x5D ||
           c == 0x5F || (c >= 0x61 && c <= 0x7A);
  }
  bool Name(uint32_t ea) const {
    const uint8_t n = Byte(ea);
    if (n == 0) return false;
    for (uint32_t i = 1; i <= n; ++i) {
      if (!NameByte(Byte(ea + i))) return false;
    }
    return true;
  }
  bool RecordName(uint32_t name, uint32_t rec) const {
    if (!InRange(Long(rec), rec) || !InRange(name, rec)) return false;
    const uint8_t kind = Byte(rec + 4);
    const bool type_shape = kind >= 1 && kind <= 17 && Long(rec) == rec + 4;
    const bool class_shape = Long(rec + 8) == 0 && Long(rec + 32) == name;
    if (!type_shape && !class_shape) return false;
    return Name(name) || (kind == 8 && Name(rec + 9));
  }
  bool ClassRecord(uint32_t a) const {
    return InRange(Long(a), a) && Long(a + 8) == 0 && RecordName(Long(a + 32), a);
  }
  bool TypeInfo(uint32_t a) const {
    const uint8_t kind = Byte(a + 4);
    return InRange(Long(a), a) && RecordName(a + 5, a) && kind >= 1 && kind <= 17 &&
           Long(a) == a + 4;
  }
};

// Seconds per scan of the finder, for the plain loop's ratio.
double finder_seconds = 0;

// The process's processor time: on a machine shared with other work the wall
// clock would count their time too, and the ratio would say more about the
// load than about the scan.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void BM_FinderScan(benchmark::State &state) {
  const FlatImage &img = Sample();
  int found = 0;
  const double started = CpuSeconds();
  for (auto _ : state) {
    found = finder_scan_loop(img.lowest, nullptr, 0, kernel::TheDatabase().cursor());
    benchmark::DoNotOptimize(found);
  }
  finder_seconds = (CpuSeconds() - started) / static_cast<double>(state.iterations());
  const_cast<FlatImage &>(img).records = found;
  state.counters["records"] = found;
  state.SetBytesProcessed(int64_t(state.iterations()) * (img.highest - img.lowest));
}
BENCHMARK(BM_FinderScan)->Unit(benchmark::kMillisecond);

// What both plug-ins do once per run before the scan: the program's class
// record layout from its first 32 witnesses.
void BM_LayoutDecision(benchmark::State &state) {
  Sample();
  int header = 0;
  for (auto _ : state) {
    header = decide_class_layout();
    benchmark::DoNotOptimize(header);
  }
  if (!classic_layout(header))
    state.SkipWithError("the classic sample is not of the classic layout");
}
BENCHMARK(BM_LayoutDecision)->Unit(benchmark::kMicrosecond);

void BM_PlainShapeLoop(benchmark::State &state) {
  const FlatImage &img = Sample();
  const Plain plain{img};
  int found = 0;
  const double started = CpuSeconds();
  for (auto _ : state) {
    found = 0;
    for (uint32_t a = img.lowest; a < img.highest; a += 4) {
      if (plain.ClassRecord(a) || plain.TypeInfo(a)) ++found;
    }
    benchmark::DoNotOptimize(found);
  }
  // Both loops step by 4 over unknown bytes, so both see the same records.
  if (img.records != 0 && found != img.records) {
    state.SkipWithError("the plain loop and the finder disagree");
  }
  state.counters["records"] = found;
  // The finder's time over this loop's, both measured in this run.
  const double plain_seconds =
      (CpuSeconds() - started) / static_cast<double>(state.iterations());
  if (finder_seconds > 0) state.counters["finder/plain"] = finder_seconds / plain_seconds;
  state.SetBytesProcessed(int64_t(state.iterations()) * (img.highest - img.lowest));
}
BENCHMARK(BM_PlainShapeLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
