// The type information walks on real programs of the 88-byte class layout,
// fetched by scripts/fetch_real_programs.sh into third_party_samples/; the
// tests are skipped when the programs are not there.
//
// Blocks of one unit lie back to back, so a walk that reads a block right
// ends exactly where the next block's reference cell begins (after
// alignment). The measure: of the blocks whose next neighbour is a block,
// the share whose walk ends there, by kind. A block whose walk ends in
// front of code or constant data is the last of its run: its neighbour is
// no block, and it is not counted.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/x86/decoder.h"
#include "samples/mapped_pe.h"
#include "testing/command_run.h"
#include "testing/real_programs.h"
#include "testing/test_folder.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char *const kKindNames[] = {
    "",        "Integer",  "Char",    "Enumeration", "Float",   "String",
    "Set",     "Class",    "Method",  "WChar",       "LString", "WString",
    "Variant", "Array",    "Record",  "Interface",   "Int64",   "DynArray",
    "UString", "ClassRef", "Pointer", "Procedure",   "MRecord",
};

uint32_t Align4(uint32_t ea) { return (ea + 3) & ~3u; }

/// Whether the bytes at `at` are what the compiler puts behind the last
/// type information block of a run: a string constant, text in two-byte
/// characters, or code. Code is taken to run from `at` up to a return or a
/// jump, up to `limit`, or for 64 instructions, none of them beginning
/// with a zero byte: type data is full of zero bytes (high bytes of
/// addresses, counts, empty attribute blocks), which code hardly ever
/// starts an instruction with.
bool StartsOtherData(const samples::MappedPe &pe, uint32_t at, uint32_t limit) {
  // A string constant: code page, character size, a reference count of -1.
  if (pe.Read32(at + 4) == 0xFFFFFFFF) return true;
  bool text = true;
  for (uint32_t i = 0; i < 8; i += 2) {
    const uint32_t c = pe.Read8(at + i);
    text = text && c >= 0x20 && c < 0x7F && pe.Read8(at + i + 1) == 0;
  }
  if (text) return true;
  std::vector<uint8_t> bytes(64 * 15);
  for (uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = pe.Read8(at + i);
  size_t offset = 0;
  for (int n = 0; n < 64; ++n) {
    if (at + offset >= limit) return true;
    x86::Instruction instruction;
    if (bytes[offset] == 0x00 ||
        !x86::DecodeInstruction(bytes.data() + offset, bytes.size() - offset, at + offset,
                                &instruction)) {
      return false;
    }
    offset += instruction.length;
    if (!instruction.falls_through) return true;
  }
  return true;
}

/// Whether a walk that ended at `end` ended a run: the compiler's filler
/// (or zeros) up to the next multiple of 4, then other data.
bool EndsRun(const samples::MappedPe &pe, uint32_t end, uint32_t limit) {
  const uint32_t at = Align4(end);
  std::string filler;
  for (uint32_t ea = end; ea < at; ++ea) filler += static_cast<char>(pe.Read8(ea));
  const bool padded = filler.empty() || filler == "\x90" || filler == "\x8B\xC0" ||
                      filler == std::string("\x8D\x40\x00", 3) ||
                      filler == std::string(filler.size(), '\0');
  return padded && StartsOtherData(pe, at, limit);
}

struct KindMeasure {
  int counted = 0;
  int ended_at_neighbour = 0;
};

struct Program {
  const char *file;
  int least_counted;  // blocks whose neighbour is a block
  // Published or public methods that only the extended method tables of
  // the program name; none in programs of the first compilers of the
  // layout.
  std::vector<std::string> extended_methods;
};

const Program kPrograms[] = {
    {"installer-5.5.9/Setup.e32", 100, {}},
    {"installer-5.5.9/SetupLdr.e32", 5, {}},
    {"installer-5.5.9/Compil32.exe", 100, {}},
    {"installer-5.5.9/ISCC.exe", 5, {}},
    {"installer-6.3.1/Setup.e32", 1000, {"TObject@Create", "TStringList@Sort"}},
    {"installer-6.3.1/SetupLdr.e32", 300, {"TObject@Create"}},
    {"installer-6.3.1/Compil32.exe", 1000, {"TObject@Create", "TStringList@Sort"}},
    {"installer-6.3.1/ISCC.exe", 300, {"TObject@Create"}},
};

class RealProgramTypesTest : public testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    const fs::path program = fs::path(REAL_PROGRAMS_DIR) / GetParam().file;
    if (!fs::exists(program)) {
      GTEST_SKIP() << program
                   << " is absent; run scripts/fetch_real_programs.sh to fetch it";
    }
    copy = dir / program.filename();
    fs::copy_file(program, copy);

    const std::string bytes = ReadFile(program);
    std::string err;
    ASSERT_TRUE(pe.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()), &err)) << err;

    // The finder lists what it finds only when it keeps a log.
    ASSERT_EQ(0, Pehost(LUMISK_PATH, "--log yes", "finder.out"));
    found = ParseFinderOutput(ReadFile(dir / "finder.out"));
    ASSERT_EQ(0,
              Pehost(CORVALE_PATH, "--log no --json '" + (dir / "db.json").string() + "'",
                     "detector.out"))
        << ReadFile(dir / "detector.out.err");
    const json db = json::parse(ReadFile(dir / "db.json"));
    for (const json &item : db["items"]) {
      const uint32_t ea = item["ea"];
      items[ea] = {ea + item["size"].get<uint32_t>(), item["type"] == "align"};
    }
    for (const json &name : db["names"]) names[name["ea"]] = name["name"];
  }

  int Pehost(const std::string &plugin, const std::string &options,
             const std::string &out) {
    return RunCommand(std::string(PEHOST_PATH) + " --plugin '" + plugin + "' --start 0 " +
                          options + " '" + copy.string() + "'",
                      dir / out);
  }

  /// Where the items made from `block` on run out, looking no further than
  /// `limit`, less the alignment behind the last.
  uint32_t WalkEnd(uint32_t block, uint32_t limit) const {
    uint32_t end = block, data_end = block;
    for (auto it = items.find(end); it != items.end() && end < limit;
         it = items.find(end)) {
      end = it->second.end;
      if (!it->second.align) data_end = end;
    }
    return data_end;
  }

  TestFolder dir;
  fs::path copy;
  samples::MappedPe pe;
  FoundRecords found;
  struct Extent {
    uint32_t end;
    bool align;
  };
  std::map<uint32_t, Extent> items;  // by start
  std::map<uint32_t, std::string> names;
};

TEST_P(RealProgramTypesTest, WalksEndAtTheNextBlock) {
  std::set<uint32_t> records;
  for (const auto &[ea, name] : found.classes) records.insert(ea);
  for (const auto &[ea, label] : found.types) records.insert(ea);

  std::map<int, KindMeasure> measure;
  std::ostringstream misses;
  int positions = 0, taken_for_other_data = 0;
  for (auto it = records.begin(); it != records.end(); ++it) {
    const uint32_t block = *it;
    const auto next = std::next(it);
    if (!found.types.count(block) || next == records.end() || !found.types.count(*next)) {
      continue;
    }
    const uint32_t neighbour = *next;
    const uint32_t end = WalkEnd(block, neighbour);
    const int kind = pe.Read8(block + 4);
    if (Align4(end) == neighbour) {
      ++measure[kind].counted;
      ++measure[kind].ended_at_neighbour;
      // A walk that stopped at any field inside this block must not look
      // like the end of a run: the measure would not see the miss.
      const uint32_t data = block + 6 + pe.Read8(block + 5);
      for (auto field = items.upper_bound(data);
           field != items.end() && field->first < end; ++field) {
        ++positions;
        taken_for_other_data += EndsRun(pe, field->first, neighbour);
      }
    } else if (end > neighbour || !EndsRun(pe, end, neighbour)) {
      ++measure[kind].counted;
      misses << "  " << found.types[block] << " at " << std::hex << block
             << ": the walk ends at " << end << ", the next block begins at " << neighbour
             << std::dec << "\n";
    }
  }

  std::cout << GetParam().file << ": walks ending at the next block, by kind\n";
  int counted = 0;
  for (const auto &[kind, m] : measure) {
    counted += m.counted;
    const double share = 100.0 * m.ended_at_neighbour / m.counted;
    std::cout << "  " << (kind < 23 ? kKindNames[kind] : "?") << " "
              << m.ended_at_neighbour << "/" << m.counted << " " << share << "%\n";
    EXPECT_GE(share, 95.0) << "kind " << kind;
  }
  std::cout << misses.str() << "  fields inside blocks that look like the end of a run: "
            << taken_for_other_data << " of " << positions << "\n";
  EXPECT_GE(counted, GetParam().least_counted);
  // A stop inside a block would be taken for the end of a run, and the miss
  // not seen, only now and then.
  EXPECT_LT(100.0 * taken_for_other_data, 10.0 * positions)
      << taken_for_other_data << " of " << positions
      << " fields inside blocks look like the end of a run";
}

// Every byte from a record's first byte to the next record (a type block's
// reference cell or a class record) is an item, the record's own data or
// the alignment in front of the next, wherever the record's walk reaches
// the next one's multiple of 4. A walk
// that ends further in front leaves other data to the search (code,
// constants), or missed a field, which WalksEndAtTheNextBlock measures.
// Alignment holds nothing but padding: zeros or one filler instruction.
TEST_P(RealProgramTypesTest, LeavesNoByteBareBetweenNeighbouringBlocks) {
  std::set<uint32_t> records;
  for (const auto &[ea, name] : found.classes) records.insert(ea);
  for (const auto &[ea, label] : found.types) records.insert(ea);

  int neighbours = 0, padded = 0, ended_before = 0, bare = 0;
  for (auto it = std::next(records.begin()); it != records.end(); ++it) {
    const uint32_t cell = *it;
    uint32_t end = *std::prev(it);
    bool aligned = false;
    for (auto item = items.find(end); item != items.end() && end < cell;
         item = items.find(end)) {
      aligned = item->second.align;
      end = item->second.end;
    }
    if (end >= cell) {
      ++neighbours;
      padded += aligned;
    } else if (Align4(end) == cell) {
      ++neighbours;
      if (++bare <= 5) {
        ADD_FAILURE() << cell - end << " bytes bare at " << std::hex << end
                      << " in front of the record at " << cell;
      }
    } else {
      ++ended_before;
    }
  }
  std::cout << GetParam().file << ": " << neighbours << " records behind a neighbour, "
            << padded << " of them behind alignment, " << bare << " behind bare bytes; "
            << ended_before << " behind the end of a walk further in front\n";
  EXPECT_EQ(0, bare);
  EXPECT_GE(neighbours, GetParam().least_counted);

  int not_padding = 0;
  for (const auto &[ea, extent] : items) {
    if (!extent.align) continue;
    std::string bytes;
    for (uint32_t a = ea; a < extent.end; ++a) bytes += static_cast<char>(pe.Read8(a));
    if (bytes != std::string(bytes.size(), '\0') && bytes != "\x90" &&
        bytes != "\x8B\xC0" && bytes != std::string("\x8D\x40\x00", 3)) {
      if (++not_padding <= 5)
        ADD_FAILURE() << "alignment over data at " << std::hex << ea;
    }
  }
  EXPECT_EQ(0, not_padding);
}

TEST_P(RealProgramTypesTest, NamesEveryBlockAndTheMethodsOfExtendedTables) {
  int unnamed = 0;
  for (const auto &[cell, label] : found.types) {
    const auto name = names.find(cell);
    if (name == names.end() || name->second.rfind("offset_", 0) != 0 ||
        !names.count(cell + 4)) {
      if (++unnamed <= 5) ADD_FAILURE() << std::hex << cell << " " << label << " unnamed";
    }
  }
  EXPECT_EQ(0, unnamed) << "of " << found.types.size() << " blocks";

  std::set<std::string> all;
  for (const auto &[ea, name] : names) all.insert(name);
  for (const std::string &method : GetParam().extended_methods) {
    EXPECT_TRUE(all.count(method)) << method;
  }
}

INSTANTIATE_TEST_SUITE_P(Installer, RealProgramTypesTest, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program> &info) {
                           std::string name = info.param.file;
                           for (char &c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
