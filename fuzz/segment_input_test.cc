#include "fuzz/segment_input.h"

#include <gtest/gtest.h>

#include "fuzz/pe_image_size.h"
#include "testing/pe_builder.h"

namespace {

kernel::Segment Seg(const char *name, ea_t start, std::vector<uint8_t> bytes) {
  return {name, start, static_cast<ea_t>(start + bytes.size()), std::move(bytes)};
}

struct SegmentInputTest : testing::Test {
  ~SegmentInputTest() override { kernel::TheDatabase().Clear(); }
  fuzz::SegmentInput input;
};

TEST_F(SegmentInputTest, WrittenDatabaseLoadsBackWithItsCursorAndFlags) {
  kernel::Database db;
  ASSERT_TRUE(db.AddSegment(Seg("CODE", 0x401000, {1, 2, 3, 4, 5}), nullptr));
  ASSERT_TRUE(db.AddSegment(Seg("DATA", 0x402000, {6, 7}), nullptr));
  db.SetCursor(0x401002);
  const std::vector<uint8_t> bytes = fuzz::MakeSegmentInput(db, 4 | 3 << 3);

  ASSERT_TRUE(fuzz::LoadSegmentInput(bytes.data(), bytes.size(), &input));
  const kernel::Database &loaded = kernel::TheDatabase();
  ASSERT_EQ(2u, loaded.segments().size());
  EXPECT_EQ(db.segments()[0].bytes, loaded.segments()[0].bytes);
  EXPECT_EQ(0x402000u, loaded.segments()[1].start);
  EXPECT_EQ(db.segments()[1].bytes, loaded.segments()[1].bytes);
  EXPECT_EQ(0x401002u, input.cursor);
  EXPECT_EQ(0x401002u, input.start);  // bit 2: start at the cursor
  EXPECT_EQ(3, input.strtype);
  EXPECT_EQ(3, int32_t{inf.strtype});
  EXPECT_EQ(0, loaded.processor());
  EXPECT_EQ(0x402002u, ea_t{inf.max_ea});
}

TEST_F(SegmentInputTest, ShortDataCutsTheLastSegmentsAndRefusalsAreLeftOut) {
  kernel::Database db;
  ASSERT_TRUE(db.AddSegment(Seg("A", 0x1000, std::vector<uint8_t>(16, 0xAA)), nullptr));
  ASSERT_TRUE(db.AddSegment(Seg("B", 0x2000, std::vector<uint8_t>(16, 0xBB)), nullptr));
  std::vector<uint8_t> bytes = fuzz::MakeSegmentInput(db, 0);
  bytes.resize(bytes.size() - 10);  // B keeps 6 of its 16 bytes
  ASSERT_TRUE(fuzz::LoadSegmentInput(bytes.data(), bytes.size(), &input));
  ASSERT_EQ(2u, kernel::TheDatabase().segments().size());
  EXPECT_EQ(0x2006u, kernel::TheDatabase().segments()[1].end);
  EXPECT_EQ(0x1000u, input.start);

  // Overlapping B onto A leaves B out; a segment far beyond the others too.
  for (uint32_t b_start : {0x1008u, 0x40001000u}) {
    SCOPED_TRACE(b_start);
    std::vector<uint8_t> moved = fuzz::MakeSegmentInput(db, 0);
    for (int i = 0; i < 4; ++i)
      moved[5 + 8 + i] = static_cast<uint8_t>(b_start >> (8 * i));
    ASSERT_TRUE(fuzz::LoadSegmentInput(moved.data(), moved.size(), &input));
    ASSERT_EQ(1u, kernel::TheDatabase().segments().size());
    EXPECT_EQ(0x1000u, kernel::TheDatabase().segments()[0].start);
  }

  EXPECT_FALSE(fuzz::LoadSegmentInput(bytes.data(), 4, &input));
  EXPECT_FALSE(fuzz::LoadSegmentInput(bytes.data(), 12, &input));  // headers cut
}

TEST(PeImageSizeTest, SumsTheDeclaredSectionSizes) {
  test_pe::PeImage image = test_pe::SamplePe();  // virtual sizes 0x30, 0x20, 0x100
  image.section_alignment = 0x10;
  std::vector<uint8_t> file = test_pe::BuildPe(image);
  EXPECT_EQ(0x150u, fuzz::DeclaredImageBytes(file.data(), file.size()));

  image.sections[1].virtual_size = 0;  // the raw size (15 bytes) counts instead
  file = test_pe::BuildPe(image);
  EXPECT_EQ(0x140u, fuzz::DeclaredImageBytes(file.data(), file.size()));

  // Each section takes at least one alignment unit.
  image.section_alignment = 0x40000000;
  file = test_pe::BuildPe(image);
  EXPECT_EQ(3 * 0x40000000ull, fuzz::DeclaredImageBytes(file.data(), file.size()));

  // A file cut inside its section table declares nothing.
  const uint32_t table = test_pe::BuiltSectionTableOffset(image);
  EXPECT_EQ(0u, fuzz::DeclaredImageBytes(file.data(), table + 40));
  EXPECT_EQ(0u, fuzz::DeclaredImageBytes(file.data(), 63));
}

}  // namespace
