#include "host/pe_loader/pe_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "testing/pe_builder.h"

namespace pe_loader {
namespace {

using namespace test_pe;

struct PeLoaderTest : testing::Test {
  std::string Write(const std::vector<uint8_t> &bytes) {
    const std::string path = TestPath("pe_loader_test.exe");
    EXPECT_TRUE(WriteBytes(path, bytes));
    return path;
  }
  bool Load(const PeImage &image) { return LoadPe(Write(BuildPe(image)), &db, &err); }
  // Loads `bytes` from a file and from memory: both must give the same
  // answer, the same reason and the same program.
  bool LoadBoth(const std::vector<uint8_t> &bytes) {
    const bool from_file = LoadPe(Write(bytes), &db, &err);
    kernel::Database in_memory;
    std::string memory_err;
    const bool from_memory = LoadPeBytes("/memory/app.exe", bytes.data(), bytes.size(),
                                         &in_memory, &memory_err);
    EXPECT_EQ(from_file, from_memory);
    // A loaded program leaves the reason as it was.
    if (!from_file) {
      EXPECT_EQ(err, memory_err);
    }
    EXPECT_EQ(db.cursor(), in_memory.cursor());
    EXPECT_EQ(db.resource_directory(), in_memory.resource_directory());
    EXPECT_EQ(db.segments().size(), in_memory.segments().size());
    for (size_t i = 0; i < db.segments().size() && i < in_memory.segments().size(); ++i) {
      const kernel::Segment &a = db.segments()[i];
      const kernel::Segment &b = in_memory.segments()[i];
      EXPECT_TRUE(a.name == b.name && a.start == b.start && a.end == b.end &&
                  a.bytes == b.bytes)
          << "segment " << i;
    }
    if (from_memory) {
      EXPECT_EQ("/memory/app.exe", in_memory.input_path());
    }
    return from_file;
  }
  void TearDown() override { std::remove(TestPath("pe_loader_test.exe").c_str()); }
  kernel::Database db;
  std::string err;
};

TEST_F(PeLoaderTest, LoadsEachSectionAsAnAlignedSegment) {
  ASSERT_TRUE(Load(SamplePe())) << err;
  const std::vector<kernel::Segment> &segs = db.segments();
  ASSERT_EQ(3u, segs.size());
  EXPECT_EQ(".text", segs[0].name);
  EXPECT_EQ(0x401000u, segs[0].start);
  EXPECT_EQ(0x402000u, segs[0].end);
  EXPECT_EQ(".data", segs[1].name);
  EXPECT_EQ(0x402000u, segs[1].start);
  EXPECT_EQ(".bss", segs[2].name);
  EXPECT_EQ(0x404000u, segs[2].end);
  EXPECT_EQ(0x401000u, db.min_ea());
  EXPECT_EQ(0x404000u, db.max_ea());

  // Raw data, then zeros where the raw data (and its file padding) ends.
  EXPECT_EQ(0x55, segs[0].bytes[0x10]);
  EXPECT_EQ(0xC3, segs[0].bytes[0x16]);
  EXPECT_EQ(0x78, segs[1].bytes[0]);
  EXPECT_EQ('1', segs[1].bytes[14]);
  EXPECT_EQ(0, segs[1].bytes[0x800]);
  EXPECT_EQ(0, segs[2].bytes[0]);

  EXPECT_EQ(0, db.processor());
  EXPECT_EQ(0x400000u, db.image_base());
  EXPECT_EQ(0x401010u, db.cursor());
  EXPECT_TRUE(std::filesystem::path(db.input_path()).is_absolute());
  EXPECT_EQ(TestPath("pe_loader_test.exe"), db.input_path());
  EXPECT_TRUE(db.Names().empty());
  EXPECT_TRUE(db.Comments().empty());
  int items = 0;
  db.ForEachItem([&](const kernel::Item &) { ++items; });
  EXPECT_EQ(0, items);
}

TEST_F(PeLoaderTest, SizesFollowTheVirtualSizeElseTheRawSize) {
  PeImage image = SamplePe();
  image.section_alignment = 0x100;
  // Raw data longer than the virtual size is cut at the segment's end.
  image.sections[0].virtual_size = 0x11;
  image.sections[0].data.assign(0x400, 0xAB);
  // No virtual size: the raw size counts.
  image.sections[1].virtual_size = 0;
  image.sections[1].data.assign(0x180, 0xCD);
  // Neither size: no segment.
  image.sections[2].virtual_size = 0;
  ASSERT_TRUE(Load(image)) << err;
  ASSERT_EQ(2u, db.segments().size());
  EXPECT_EQ(0x401100u, db.segments()[0].end);
  EXPECT_EQ(0xAB, db.segments()[0].bytes.back());
  EXPECT_EQ(0x402200u, db.segments()[1].end);
  EXPECT_EQ(0xCD, db.segments()[1].bytes[0x17F]);
  EXPECT_EQ(0, db.segments()[1].bytes[0x180]);
}

TEST_F(PeLoaderTest, ProcessorAndCursorEdgeCases) {
  PeImage image = SamplePe();
  image.machine = 0x1C0;  // an ARM program in a PE32 file
  image.entry_rva = 0;    // no entry point, as a library may have
  ASSERT_TRUE(Load(image)) << err;
  EXPECT_NE(0, db.processor());
  EXPECT_EQ(db.min_ea(), db.cursor());
}

TEST_F(PeLoaderTest, TellsWhereTheResourceDirectoryIsWhenDeclared) {
  PeImage image = SamplePe();
  image.image_base = 0x10000000;
  image.resources_rva = 0x2100;
  image.resources_size = 0x80;
  ASSERT_TRUE(LoadPe(Write(BuildPe(image)), &db, &err)) << err;
  EXPECT_EQ(0x10000000u, db.image_base());
  EXPECT_EQ(0x10002100u, db.resource_directory());
  EXPECT_EQ(0x80u, db.resource_directory_size());

  // Two directory entries declare no resources, whatever the header holds
  // where the third would be.
  image.directory_entries = 2;
  ASSERT_TRUE(LoadPe(Write(BuildPe(image)), &db, &err)) << err;
  EXPECT_EQ(0u, db.resource_directory());
  EXPECT_EQ(0u, db.resource_directory_size());
  image.directory_entries = 16;
  image.resources_size = 0;
  ASSERT_TRUE(LoadPe(Write(BuildPe(image)), &db, &err)) << err;
  EXPECT_EQ(0u, db.resource_directory());
}

TEST_F(PeLoaderTest, RefusesMalformedFilesWithOneReason) {
  struct Case {
    const char *name;
    std::function<void(PeImage &)> change;
    const char *reason;
  };
  const Case cases[] = {
      {"64-bit", [](PeImage &i) { i.magic = 0x20B; }, "PE32+"},
      {"unknown magic", [](PeImage &i) { i.magic = 0x107; }, "magic 0x107"},
      {"short optional header", [](PeImage &i) { i.optional_header_size = 64; },
       "optional header is too small"},
      {"no sections", [](PeImage &i) { i.sections.clear(); }, "no sections"},
      {"absurd section count", [](PeImage &i) { i.section_count = 97; },
       "absurd section count 97"},
      {"section table past the end", [](PeImage &i) { i.section_count = 60; },
       "section table ends outside the file"},
      {"raw data past the end", [](PeImage &i) { i.sections[1].raw_pointer = 0x10000; },
       ".data: raw data"},
      {"raw size past the end", [](PeImage &i) { i.sections[1].raw_size = 0xFFFFFFF0; },
       ".data: raw data"},
      {"overlap", [](PeImage &i) { i.sections[1].virtual_address = 0x1800; }, "overlap"},
      {"wrap",
       [](PeImage &i) {
         i.image_base = 0xFFFF0000;
         i.sections[2].virtual_address = 0xF000;
         i.sections[2].virtual_size = 0x2000;
       },
       ".bss wraps"},
      {"ends at the invalid address",
       [](PeImage &i) {
         i.image_base = 0xFFFF0000;
         i.sections[2].virtual_address = 0xF000;
       },
       ".bss wraps"},
      {"absurd size", [](PeImage &i) { i.sections[2].virtual_size = 0x7FFFFFFF; },
       ".bss: absurd size"},
      {"sections far apart",
       [](PeImage &i) { i.sections[2].virtual_address = 0x60000000; },
       "lie 0x60000000 bytes apart"},
      {"alignment", [](PeImage &i) { i.section_alignment = 0x1800; },
       "not a power of two"},
      {"zero alignment", [](PeImage &i) { i.section_alignment = 0; },
       "not a power of two"},
      {"empty sections",
       [](PeImage &i) {
         for (PeSection &s : i.sections) {
           s.virtual_size = 0;
           s.data.clear();
         }
       },
       "no section has any bytes"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Load(SamplePe())) << err;
    PeImage image = SamplePe();
    c.change(image);
    EXPECT_FALSE(Load(image));
    EXPECT_NE(std::string::npos, err.find(c.reason)) << err;
    EXPECT_EQ(std::string::npos, err.find('\n')) << err;
    // Nothing of the earlier program or of the refused one is left.
    EXPECT_TRUE(db.segments().empty());
  }
}

TEST_F(PeLoaderTest, RefusesFilesThatAreNotPe) {
  EXPECT_FALSE(LoadPe(TestPath("no such file.exe"), &db, &err));
  EXPECT_NE(std::string::npos, err.find("cannot open")) << err;

  std::vector<uint8_t> bytes = BuildPe(SamplePe());
  bytes[0] = 'X';
  EXPECT_FALSE(LoadPe(Write(bytes), &db, &err));
  EXPECT_NE(std::string::npos, err.find("no MZ signature")) << err;

  bytes = BuildPe(SamplePe());
  bytes[kBuiltPeOffset + 1] = 'X';
  EXPECT_FALSE(LoadPe(Write(bytes), &db, &err));
  EXPECT_NE(std::string::npos, err.find("no PE signature")) << err;

  bytes = BuildPe(SamplePe());
  bytes[0x3C + 3] = 0x7F;  // the PE header far beyond the file
  EXPECT_FALSE(LoadPe(Write(bytes), &db, &err));
  EXPECT_NE(std::string::npos, err.find("outside the file")) << err;

  EXPECT_FALSE(LoadPe(testing::TempDir(), &db, &err));
}

TEST_F(PeLoaderTest, RefusesEveryTruncation) {
  // Every prefix that ends before the last raw data lacks something; the
  // file alignment's padding after it is not needed. Read from memory, each
  // gives the same answer.
  const std::vector<uint8_t> whole = BuildPe(SamplePe());
  const size_t data = BuiltSectionTableOffset(SamplePe()) + 40;  // .data's header
  auto field = [&](size_t at) {
    return whole[at] | whole[at + 1] << 8 | whole[at + 2] << 16 | whole[at + 3] << 24;
  };
  const size_t needed = field(data + 20) + field(data + 16);
  ASSERT_LT(needed, whole.size());
  for (size_t n = 0; n < needed; ++n) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + n);
    ASSERT_FALSE(LoadBoth(prefix));
    EXPECT_FALSE(err.empty());
  }
  const std::vector<uint8_t> exact(whole.begin(), whole.begin() + needed);
  EXPECT_TRUE(LoadBoth(exact)) << err;
}

TEST_F(PeLoaderTest, CorruptHeaderBytesNeverLoadInconsistentSegments) {
  // Each header byte set to 0xFF in turn: refused or loaded, the segments
  // stay sound (the sanitizer build checks that nothing outside the file is
  // read), the same from a file as from memory.
  const std::vector<uint8_t> whole = BuildPe(SamplePe());
  const size_t headers = BuiltSectionTableOffset(SamplePe()) + 3 * 40;
  for (size_t at = 0; at < headers; ++at) {
    SCOPED_TRACE(at);
    std::vector<uint8_t> bytes = whole;
    bytes[at] = 0xFF;
    if (!LoadBoth(bytes)) continue;
    uint64_t total = 0;
    for (const kernel::Segment &s : db.segments()) {
      ASSERT_LT(s.start, s.end);
      ASSERT_EQ(uint64_t{s.end} - s.start, s.bytes.size());
      total += s.bytes.size();
    }
    EXPECT_LE(total, kMaxImageBytes);
  }
}

}  // namespace
}  // namespace pe_loader
