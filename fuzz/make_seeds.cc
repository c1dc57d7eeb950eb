// make_fuzz_seeds: turns a PE program (the sample builder's, say) into seed
// inputs for every fuzz target, and writes the small hand-made cases.
//
//   make_fuzz_seeds [--hand-made] OUT_DIR [PROGRAM...]
//
// For each program: the file (loader), its first class alone and truncated
// copies (loader, pehost path); its segments in the segment input format,
// each one's first kilobyte together, one by one and in 2 KB windows (finder
// scan, group walk); its resource section and each
// of its forms (form reader). The hand-made cases are a lone class record, a
// lone type information block, a method type without a name, a resource
// directory whose table leads back to its root, and a few calculator action
// lists.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/segment_input.h"
#include "host/pe_loader/pe_loader.h"
#include "model/form_reader.h"
#include "model/resource_directory.h"

namespace fs = std::filesystem;

namespace {

// A window of the program's classes costs the group walk per input in
// proportion to its size; 2 KB reach what 4 KB reached at twice the rate.
constexpr size_t kWindow = 2048;

bool Write(const fs::path &dir, const std::string &name,
           const std::vector<uint8_t> &bytes) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", (dir / name).c_str());
  return static_cast<bool>(out);
}

void Both(const fs::path &out, const std::string &name, const std::vector<uint8_t> &bytes,
          bool *ok) {
  *ok &= Write(out / "finder_scan", name, bytes);
  *ok &= Write(out / "process_group", name, bytes);
}

/// The form reader's input for a resource section at `rva`: the address,
/// then the section's bytes.
std::vector<uint8_t> SectionInput(uint32_t rva, const std::vector<uint8_t> &bytes) {
  std::vector<uint8_t> input = {static_cast<uint8_t>(rva), static_cast<uint8_t>(rva >> 8),
                                static_cast<uint8_t>(rva >> 16),
                                static_cast<uint8_t>(rva >> 24)};
  input.insert(input.end(), bytes.begin(), bytes.end());
  return input;
}

/// The program's resource section from its directory on, and each form.
bool FormSeeds(const fs::path &out, const std::string &stem) {
  const kernel::Database &db = kernel::TheDatabase();
  const ea_t resources = db.resource_directory();
  if (resources == 0) return true;
  const area_t *seg = areacb_t_get_area(&segs, resources);
  std::vector<uint8_t> section;
  if (seg == nullptr || !model::CopyBytes(resources, seg->end_ea - resources, &section))
    return true;
  bool ok =
      Write(out, stem + "_rsrc", SectionInput(resources - db.image_base(), section));
  const model::ResourceList list =
      model::ReadResources(resources, db.resource_directory_size(), db.image_base());
  for (const model::Resource &r : list.resources) {
    std::vector<uint8_t> data;
    if (model::CopyBytes(r.data, r.size, &data) &&
        model::IsForm(data.data(), data.size()))
      ok &= Write(out, stem + "_" + r.name.Text(), data);
  }
  return ok;
}

uint32_t Le32(const std::vector<uint8_t> &b, size_t at) {
  return at + 4 <= b.size() ? uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 |
                                  uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24
                            : 0;
}

/// `file` with the raw data of its first section past its first half
/// kilobyte turned into `ret` instructions, the rest unchanged; unchanged
/// when its headers do not say where that is. Zeros there would decode as
/// thousands of instructions for every method pointer into them, each an
/// item the saved database then holds; a `ret` ends each such function at
/// once. Half a kilobyte holds the first class record with its tables.
std::vector<uint8_t> FirstClassOnly(std::vector<uint8_t> file) {
  constexpr uint8_t kRet = 0xC3;
  const size_t pe = Le32(file, 0x3C);
  const size_t optional_size = Le32(file, pe + 20) & 0xFFFF;
  const size_t section = pe + 24 + optional_size;
  const size_t raw_size = Le32(file, section + 16);
  const size_t raw_pointer = Le32(file, section + 20);
  const size_t end = std::min(file.size(), raw_pointer + raw_size);
  for (size_t at = raw_pointer + 512; at < end; ++at) file[at] = kRet;
  return file;
}

/// Each segment's first kilobyte, at its own address, in one database: the
/// program's layout and references between its segments in a few kilobytes.
std::vector<uint8_t> SegmentHeads(const kernel::Database &db, uint8_t flags) {
  kernel::Database heads;
  for (const kernel::Segment &s : db.segments()) {
    const size_t n = std::min<size_t>(s.bytes.size(), 1024);
    heads.AddSegment({s.name, s.start, static_cast<ea_t>(s.start + n),
                      std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + n)},
                     nullptr);
  }
  heads.SetCursor(db.cursor());
  return fuzz::MakeSegmentInput(heads, flags);
}

bool ProgramSeeds(const fs::path &out, const fs::path &program) {
  std::ifstream in(program, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  kernel::Database &db = kernel::TheDatabase();
  std::string err;
  if (!pe_loader::LoadPe(program.string(), &db, &err)) {
    fprintf(stderr, "make_fuzz_seeds: %s: %s\n", program.c_str(), err.c_str());
    return false;
  }
  const std::string stem = program.stem().string();
  bool ok = true;
  // The whole program costs the sanitized run of the host path a tenth of a
  // second or more, so that path starts from the program's first class.
  ok &= Write(out / "pe_loader", stem + ".exe", file);
  ok &= Write(out / "pehost_path", stem + "_first_class.exe", FirstClassOnly(file));
  for (const char *target : {"pe_loader", "pehost_path"}) {
    // Cut inside the headers, inside the section table and inside the data.
    for (size_t cut : {size_t{300}, size_t{1024}, file.size() / 2})
      if (cut < file.size())
        ok &= Write(out / target, stem + "_cut" + std::to_string(cut) + ".exe",
                    std::vector<uint8_t>(file.begin(), file.begin() + cut));
  }

  ok &= FormSeeds(out / "form_reader", stem);
  // All segments together, kept short: the walk over a whole program costs
  // several times what its first kilobytes do.
  Both(out, stem + "_heads", SegmentHeads(db, 0), &ok);
  Both(out, stem + "_heads_cursor", SegmentHeads(db, 4 | 1 << 3), &ok);
  // One segment at a time, and windows of the first one, each in a database
  // of its own.
  const std::vector<kernel::Segment> segments = db.segments();
  for (size_t i = 0; i < segments.size(); ++i) {
    const kernel::Segment &s = segments[i];
    for (size_t off = 0; off < s.bytes.size(); off += kWindow) {
      if (i > 0 && off > 0) break;
      const size_t n = std::min(kWindow, s.bytes.size() - off);
      const auto first = s.bytes.begin() + off;
      if (std::all_of(first, first + n, [](uint8_t b) { return b == 0; })) continue;
      kernel::Database one;
      kernel::Segment part{
          s.name, static_cast<ea_t>(s.start + off), static_cast<ea_t>(s.start + off + n),
          std::vector<uint8_t>(s.bytes.begin() + off, s.bytes.begin() + off + n)};
      one.AddSegment(std::move(part), nullptr);
      one.SetCursor(static_cast<ea_t>(s.start + off));
      Both(out, stem + "_" + s.name + "_" + std::to_string(off / kWindow),
           fuzz::MakeSegmentInput(one, 0), &ok);
    }
  }
  return ok;
}

void Put32(std::vector<uint8_t> *b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutName(std::vector<uint8_t> *b, size_t at, const std::string &name) {
  (*b)[at] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), b->begin() + at + 1);
}

/// One segment of `bytes` at `base`.
std::vector<uint8_t> OneSegment(ea_t base, const std::vector<uint8_t> &bytes) {
  kernel::Database db;
  db.AddSegment({"CODE", base, static_cast<ea_t>(base + bytes.size()), bytes}, nullptr);
  db.SetCursor(base);
  return fuzz::MakeSegmentInput(db, 1 << 3);
}

bool HandMadeSeeds(const fs::path &out) {
  constexpr ea_t kBase = 0x00401000;
  bool ok = true;
  {
    // A class record: SelfPtr to its first slot, AutoTable 0, the name pointer
    // at +32, the name behind the slots.
    std::vector<uint8_t> b(256, 0);
    Put32(&b, 0, kBase + 76);
    Put32(&b, 32, kBase + 96);
    PutName(&b, 96, "TForm1");
    Both(out, "hand_class_record", OneSegment(kBase, b), &ok);
  }
  {
    // A type information block of kind 1 and one of kind 7 behind it.
    std::vector<uint8_t> b(128, 0);
    Put32(&b, 0, kBase + 4);
    b[4] = 1;
    PutName(&b, 5, "TColor");
    Put32(&b, 64, kBase + 68);
    b[68] = 7;
    PutName(&b, 69, "TForm1");
    Both(out, "hand_type_infos", OneSegment(kBase, b), &ok);
  }
  {
    // A method type without a name: its first parameter's name follows.
    std::vector<uint8_t> b(64, 0);
    Put32(&b, 0, kBase + 4);
    b[4] = 8;
    b[5] = 0;
    PutName(&b, 9, "Sender");
    Both(out, "hand_unnamed_method", OneSegment(kBase, b), &ok);
  }
  {
    // A resource directory whose one type leads to a table of names whose
    // entry leads back to the root.
    std::vector<uint8_t> b(64, 0);
    b[14] = 1;          // root: one numbered entry
    Put32(&b, 16, 10);  // RCDATA
    Put32(&b, 20, 0x80000000u | 24);
    b[24 + 14] = 1;  // names: one numbered entry
    Put32(&b, 24 + 16, 1);
    Put32(&b, 24 + 20, 0x80000000u);  // back to the root
    std::vector<uint8_t> input = {0x00, 0x10, 0x00, 0x00};
    input.insert(input.end(), b.begin(), b.end());
    ok &= Write(out / "form_reader", "hand_directory_loop", input);
  }
  // Calculator: typing into every field, pasting, a lone ".", digits beyond
  // the 64-bit range, a preset click.
  const auto text = [](uint8_t action, const std::string &t) {
    std::vector<uint8_t> v{action, static_cast<uint8_t>(t.size())};
    v.insert(v.end(), t.begin(), t.end());
    return v;
  };
  const std::vector<std::vector<uint8_t>> actions = {
      text(0, "4095"), text(1, "45000000"),
      text(2, "9999"), text(3, "75"),
      text(4, "80"),   text(5, "1.5"),
      text(5, "."),    text(0, "123456789012345678901234"),
      text(8, ""),     {14, 0, 14, 4},
  };
  std::vector<uint8_t> all;
  for (size_t i = 0; i < actions.size(); ++i) {
    ok &= Write(out / "calculator", "hand_" + std::to_string(i), actions[i]);
    all.insert(all.end(), actions[i].begin(), actions[i].end());
  }
  ok &= Write(out / "calculator", "hand_all", all);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  int i = 1;
  const bool hand_made = argc > 1 && std::string(argv[1]) == "--hand-made";
  if (hand_made) ++i;
  if (i >= argc) {
    fputs("usage: make_fuzz_seeds [--hand-made] OUT_DIR [PROGRAM...]\n", stderr);
    return 2;
  }
  const fs::path out = argv[i++];
  bool ok = !hand_made || HandMadeSeeds(out);
  for (; i < argc; ++i) ok &= ProgramSeeds(out, argv[i]);
  return ok ? 0 : 1;
}
