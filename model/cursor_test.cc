#include "model/cursor.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/test_db.h"

namespace model {
namespace {

constexpr ea_t kBase = 0x00401000;

// A cursor reads a segment's bytes from memory and whatever reaches past
// them through the byte services: from every start in a segment that has
// another right behind it and a gap behind that, each read gives what
// get_byte, get_word and get_long give, across the border too, and
// nothing past the end it was given.
TEST(CursorTest, ReadsAsTheByteServicesOnBothSidesOfASegmentBorder) {
  TestDb db(kBase, 0x20);
  db.AddSegment(".data", kBase + 0x20, 0x10);
  std::vector<uint8_t> bytes(0x30);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0x11 * i + 3);
  db.PutBytes(kBase, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 0x20));
  db.PutBytes(kBase + 0x20, std::vector<uint8_t>(bytes.begin() + 0x20, bytes.end()));
  const ea_t end = kBase + 0x34;  // past both segments: the gap reads as 0xFF
  for (ea_t at = kBase; at < end; ++at) {
    SCOPED_TRACE(at - kBase);
    Cursor b(at, end), w(at, end), l(at, end);
    uint8_t byte;
    uint16_t word;
    uint32_t dword;
    ASSERT_TRUE(b.Byte(&byte));
    EXPECT_EQ(get_byte(at), byte);
    EXPECT_EQ(at + 2 <= end, w.Word(&word));
    if (at + 2 <= end) {
      EXPECT_EQ(get_word(at), word);
    }
    EXPECT_EQ(at + 4 <= end, l.Long(&dword));
    if (at + 4 <= end) {
      EXPECT_EQ(get_long(at), dword);
    }
    // Reading on from where the first read ended.
    if (at + 5 <= end) {
      ASSERT_TRUE(b.Long(&dword));
      EXPECT_EQ(get_long(at + 1), dword);
    }
  }
  EXPECT_EQ(0xFFFFFFFFu, get_long(kBase + 0x30));
}

}  // namespace
}  // namespace model
