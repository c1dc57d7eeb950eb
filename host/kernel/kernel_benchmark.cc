// Speed and memory of the services the detector leans on, over programs of
// growing size: the cost per megabyte must stay flat (linear in the
// program), and the peak resident size, reported per image byte, must stay
// well under 4. Run one size at a time for a meaningful peak, e.g.
//   kernel_benchmark --benchmark_filter='Annotate/100'
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "host/kernel/database.h"

namespace {

constexpr ea_t kBase = 0x00401000;
constexpr asize_t kRecord = 64;

double PeakRssBytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) * 1024.0;
}

void Put(std::vector<uint8_t> *bytes, asize_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A program of `mb` megabytes made of 64-byte records: a pointer to the
// record's name, three counts, a short-string name, filler, and every 16th
// record a small function instead.
void LoadProgram(int mb) {
  kernel::Database &db = kernel::TheDatabase();
  db.Clear();
  db.SetProcessor(0);
  kernel::Segment s;
  s.name = "CODE";
  s.start = kBase;
  s.end = kBase + static_cast<asize_t>(mb) * (1u << 20);
  s.bytes.assign(s.end - s.start, 0);
  for (asize_t at = 0; at + kRecord <= s.bytes.size(); at += kRecord) {
    if ((at / kRecord) % 16 == 15) {
      const uint8_t code[] = {0x55, 0x8B, 0xEC, 0x85, 0xC0, 0x74, 0x03,
                              0x31, 0xC0, 0x40, 0x5D, 0xC3, 0x8B, 0xC0};
      std::copy(std::begin(code), std::end(code), s.bytes.begin() + at);
      continue;
    }
    Put(&s.bytes, at, kBase + at + 32);
    Put(&s.bytes, at + 8, static_cast<uint32_t>(at));
    const std::string name = "TClass" + std::to_string(at / kRecord % 50000);
    s.bytes[at + 32] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), s.bytes.begin() + at + 33);
  }
  std::string err;
  if (!db.AddSegment(std::move(s), &err)) abort();
}

// The detector's search: get_long at every fourth byte.
void BM_ScanGetLong(benchmark::State &state) {
  LoadProgram(static_cast<int>(state.range(0)));
  const ea_t end = inf.max_ea;
  for (auto _ : state) {
    uint32_t sum = 0;
    for (ea_t ea = kBase; ea < end; ea += 4) sum += get_long(ea);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{end - kBase});
}
BENCHMARK(BM_ScanGetLong)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

// What an annotator does to each record: items, an offset and its
// reference, a string, an alignment, names (many used twice), comments,
// functions, and the reads back.
void AnnotateAll() {
  const ea_t end = inf.max_ea;
  char buf[1024];
  for (ea_t a = kBase; a + kRecord <= end; a += kRecord) {
    if ((a - kBase) / kRecord % 16 == 15) {
      if (get_func_num(a) == -1) {
        do_unknown(a, 1);
        add_func(a, BADADDR);
      }
      continue;
    }
    do_unknown_range(a, 4, 1);
    op_offset(a, 0, 2, BADADDR, 0, 0);
    set_cmt(a, "SelfPtr", 0);
    do_unknown_range(a + 4, 12, 2);
    do_data_ex(a + 4, DATA_DWORD, 12, BADNODE);
    set_cmt(a + 4, "IntfTable,AutoTable,InitTable", 0);
    const ea_t str = get_long(a);
    for (ea_t j = 0; j <= get_byte(str); ++j) do_unknown(str + j, 1);
    make_ascii_string(str, 0, 1);
    const ea_t after = get_item_end(str);
    if (after % 4 != 0) doAlign(after, 4 - after % 4, 2);
    benchmark::DoNotOptimize(get_true_name(str, str, buf, sizeof buf));
    benchmark::DoNotOptimize(get_first_dref_to(str));
    qsnprintf(buf, sizeof buf, "_cls_TClass%u", (a - kBase) / kRecord % 50000);
    do_name_anyway(a + 16, buf, 0);
    benchmark::DoNotOptimize(get_cmt(a, 0, buf, sizeof buf));
  }
}

void BM_Annotate(benchmark::State &state) {
  const int mb = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    LoadProgram(mb);
    state.ResumeTiming();
    AnnotateAll();
  }
  const double image = double(mb) * (1 << 20);
  state.SetBytesProcessed(state.iterations() * int64_t(image));
  state.counters["records"] = image / kRecord;
  state.counters["peak_rss_per_image_byte"] = PeakRssBytes() / image;
}
BENCHMARK(BM_Annotate)
    ->Arg(16)
    ->Arg(64)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
