#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <vector>

#include "testing/test_db.h"

namespace {

constexpr ea_t kBase = 0x00401000;

struct ItemsTest : testing::Test {
  TestDb db{kBase, 0x1000};
};

TEST_F(ItemsTest, BytesReadLittleEndianAndOutsideSegmentsAsFF) {
  db.PutDword(kBase + 0x10, 0x11223344);
  EXPECT_EQ(0x44, get_byte(kBase + 0x10));
  EXPECT_EQ(0x3344, get_word(kBase + 0x10));
  EXPECT_EQ(0x11223344u, get_long(kBase + 0x10));
  EXPECT_EQ(0xFF, get_byte(kBase - 1));
  EXPECT_EQ(0xFF, get_byte(kBase + 0x1000));
  // The last two bytes lie past the segment's end and read as 0xFF.
  db.PutWord(kBase + 0xFFE, 0xBEEF);
  EXPECT_EQ(0xFFFFBEEFu, get_long(kBase + 0xFFE));
}

TEST_F(ItemsTest, ReadsCrossSegmentBorderByteByByte) {
  SegmentBytes data(kBase + 0x1000, 0x10);
  data.PutDword(kBase + 0x1000, 0xAABBCCDD);
  db.AddSegment(".data", data);
  db.PutWord(kBase + 0xFFE, 0x1122);
  EXPECT_EQ(0xCCDD1122u, get_long(kBase + 0xFFE));
  EXPECT_EQ(kBase, ea_t{inf.min_ea});  // packed: copied, not bound
  EXPECT_EQ(kBase + 0x1010, ea_t{inf.max_ea});
}

TEST_F(ItemsTest, DataItemsAndTheirEnds) {
  EXPECT_EQ(kBase + 1, get_item_end(kBase));
  ASSERT_EQ(1, do_data_ex(kBase, DATA_DWORD, 12, BADNODE));
  EXPECT_EQ(kBase + 12, get_item_end(kBase));
  EXPECT_EQ(kBase + 12, get_item_end(kBase + 7));
  ASSERT_EQ(1, do_data_ex(kBase + 0x20, DATA_WORD, 100, BADNODE));  // a long item
  EXPECT_EQ(kBase + 0x20 + 100, get_item_end(kBase + 0x20 + 99));
  // The longest short item and the shortest long one, from each tail.
  ASSERT_EQ(1, do_data_ex(kBase + 0x200, DATA_BYTE, 32, BADNODE));
  ASSERT_EQ(1, do_data_ex(kBase + 0x220, DATA_QWORD, 40, BADNODE));
  for (ea_t i = 1; i < 32; ++i) ASSERT_EQ(kBase + 0x220, get_item_end(kBase + 0x200 + i));
  kernel::Item item;
  for (ea_t i = 0; i < 40; ++i) {
    ASSERT_TRUE(kernel::TheDatabase().ItemAt(kBase + 0x220 + i, &item));
    ASSERT_EQ(kBase + 0x220, item.start);
    ASSERT_EQ(40u, item.size);
    ASSERT_EQ(kernel::ItemType::kQword, item.type);
  }
  EXPECT_EQ(0, do_data_ex(kBase + 0x100, DATA_WORD, 3, BADNODE));  // not whole words
  EXPECT_EQ(0, do_data_ex(kBase + 0x100, DATA_ASCII, 4, BADNODE));
  EXPECT_EQ(0, do_data_ex(kBase + 0x100, DATA_BYTE, 0, BADNODE));
}

TEST_F(ItemsTest, DataRefusesOverlapsButReplacesItemAtSameHead) {
  ASSERT_EQ(1, do_data_ex(kBase + 4, DATA_DWORD, 4, BADNODE));
  EXPECT_EQ(0, do_data_ex(kBase, DATA_QWORD, 8, BADNODE));     // covers another head
  EXPECT_EQ(0, do_data_ex(kBase + 6, DATA_BYTE, 1, BADNODE));  // inside an item
  ASSERT_EQ(1, do_data_ex(kBase + 4, DATA_BYTE, 2, BADNODE));  // same head: replaced
  EXPECT_EQ(kBase + 6, get_item_end(kBase + 4));
  EXPECT_EQ(kBase + 7, get_item_end(kBase + 6));                    // the rest is unknown
  EXPECT_EQ(0, do_data_ex(kBase + 0xFFC, DATA_QWORD, 8, BADNODE));  // leaves the segment
  EXPECT_EQ(0, do_data_ex(kBase - 8, DATA_QWORD, 8, BADNODE));
}

TEST_F(ItemsTest, UndefiningKeepsNamesAndComments) {
  ASSERT_EQ(1, do_data_ex(kBase, DATA_DWORD, 16, BADNODE));
  ASSERT_EQ(1, do_name_anyway(kBase, "Table", 0));
  ASSERT_EQ(1, set_cmt(kBase, "count", 0));
  ASSERT_EQ(1, do_unknown(kBase + 5, 1));
  EXPECT_EQ(kBase + 1, get_item_end(kBase));
  EXPECT_EQ("Table", TestDb::Name(kBase));
  EXPECT_EQ("count", TestDb::Comment(kBase));
}

TEST_F(ItemsTest, UnknownRangeTakesEveryOverlappingItem) {
  ASSERT_EQ(1, do_data_ex(kBase, DATA_DWORD, 8, BADNODE));
  ASSERT_EQ(1, do_data_ex(kBase + 8, DATA_WORD, 2, BADNODE));
  ASSERT_EQ(1, do_data_ex(kBase + 10, DATA_QWORD, 8, BADNODE));
  ASSERT_EQ(1, do_unknown_range(kBase + 6, 5, 2));  // from inside the first to the third
  EXPECT_FALSE(TestDb::ItemAt(kBase));
  EXPECT_FALSE(TestDb::ItemAt(kBase + 8));
  EXPECT_FALSE(TestDb::ItemAt(kBase + 17));
  // Ranges that wrap or leave every segment are accepted and harmless.
  ASSERT_EQ(1, do_data_ex(kBase + 0x20, DATA_DWORD, 4, BADNODE));
  EXPECT_EQ(1, do_unknown_range(0xFFFFFFF0u, 0x100, 1));
  EXPECT_EQ(1, do_unknown_range(kBase + 0x21, 0xFFFFFFFFu, 1));
  EXPECT_FALSE(TestDb::ItemAt(kBase + 0x20));
}

TEST_F(ItemsTest, RangeUndefineFindsEveryItemPastLongRunsOfUnknownBytes) {
  // The search passes unknown bytes nineteen at a time; an item at any offset
  // from those steps, or right at either end of the range, is found all the same.
  for (asize_t at = 0; at < 40; ++at) {
    SCOPED_TRACE(at);
    const ea_t from = kBase + 0x101;  // off the steps, as a record may be
    ASSERT_EQ(1, do_data_ex(from + at, DATA_BYTE, 1, BADNODE));
    ASSERT_EQ(1, do_data_ex(from + 41, DATA_BYTE, 1, BADNODE));
    ASSERT_EQ(1, do_unknown_range(from, 41, 0));
    EXPECT_FALSE(TestDb::ItemAt(from + at));
    EXPECT_TRUE(TestDb::ItemAt(from + 41));  // the first byte past the range
    ASSERT_EQ(1, do_unknown(from + 41, 0));
  }
}

TEST_F(ItemsTest, OffsetRecordsReferenceAndRefusesCodeAndOtherSizes) {
  db.PutDword(kBase + 0x10, kBase + 0x80);
  db.PutDword(kBase + 0x20, kBase + 0x80);
  db.PutDword(kBase + 0x30, 0x12345678);  // outside every segment
  EXPECT_EQ(BADADDR, get_first_dref_to(kBase + 0x80));
  ASSERT_NE(0, op_offset(kBase + 0x20, 0, 2, BADADDR, 0, 0));
  ASSERT_EQ(1, do_data_ex(kBase + 0x10, DATA_DWORD, 4, BADNODE));
  ASSERT_NE(0, op_offset(kBase + 0x10, 0, 2, BADADDR, 0, 0));  // a dword becomes one
  EXPECT_EQ(kBase + 0x10, get_first_dref_to(kBase + 0x80));
  ASSERT_NE(0, op_offset(kBase + 0x30, 0, 2, BADADDR, 0, 0));
  EXPECT_EQ(kBase + 0x30, get_first_dref_to(0x12345678));

  ASSERT_EQ(1, do_unknown(kBase + 0x12, 0));
  EXPECT_EQ(kBase + 0x20, get_first_dref_to(kBase + 0x80));
  ASSERT_EQ(1, do_unknown(kBase + 0x20, 0));
  EXPECT_EQ(BADADDR, get_first_dref_to(kBase + 0x80));

  ASSERT_EQ(1, do_data_ex(kBase + 0x40, DATA_DWORD, 8, BADNODE));
  EXPECT_EQ(0, op_offset(kBase + 0x40, 0, 2, BADADDR, 0, 0));
  ASSERT_EQ(1, do_data_ex(kBase + 0x50, DATA_WORD, 2, BADNODE));
  EXPECT_EQ(0, op_offset(kBase + 0x50, 0, 2, BADADDR, 0, 0));
  EXPECT_EQ(0, op_offset(kBase + 0xFFE, 0, 2, BADADDR, 0, 0));  // leaves the segment
  db.PutByte(kBase + 0x60, 0xC3);                               // ret
  ASSERT_EQ(1, add_func(kBase + 0x60, BADADDR));
  EXPECT_EQ(0, op_offset(kBase + 0x60, 0, 2, BADADDR, 0, 0));
}

TEST_F(ItemsTest, PascalStringTakesLengthFromItsFirstByte) {
  db.PutShortString(kBase + 0x100, "TForm1");
  ASSERT_EQ(1, make_ascii_string(kBase + 0x100, 0, 1));
  EXPECT_EQ(kBase + 0x107, get_item_end(kBase + 0x100));
  EXPECT_EQ(kernel::ItemType::kPString, TestDb::ItemAt(kBase + 0x106)->type);
  EXPECT_EQ(0, make_ascii_string(kBase + 0x200, 0, 0));  // C strings are not made
  db.PutByte(kBase + 0xFFE, 20);                         // would leave the segment
  EXPECT_EQ(0, make_ascii_string(kBase + 0xFFE, 0, 1));
}

TEST_F(ItemsTest, AlignmentMustEndOnBoundaryOverUnknownBytes) {
  EXPECT_EQ(0, doAlign(kBase + 1, 2, 2));  // ends at 3
  ASSERT_EQ(1, doAlign(kBase + 1, 3, 2));
  EXPECT_EQ(kBase + 4, get_item_end(kBase + 1));
  EXPECT_EQ(1, doAlign(kBase + 1, 3, 2));  // the same alignment again
  EXPECT_EQ(0, doAlign(kBase + 2, 2, 2));  // inside it
  ASSERT_EQ(1, do_data_ex(kBase + 6, DATA_BYTE, 1, BADNODE));
  EXPECT_EQ(0, doAlign(kBase + 5, 3, 2));  // a byte item in the way
  EXPECT_EQ(0, doAlign(kBase + 5, 0, 2));
}

TEST_F(ItemsTest, ReferrersAgreeWithAStandardMapUnderRandomUse) {
  // Offsets at random places of two segments to a few targets, made,
  // undone and pointed elsewhere by writing their bytes (a byte at a time,
  // so through targets no other offset has): the first referrer and the
  // whole list follow every change, also when the first referrer of a target
  // with several goes and the next is found among the offsets. Two small
  // segments lie across the distance a first referrer keeps beside its
  // target (16 KB) from the first target, below and above, and one at the
  // top of the address space across it from the last target.
  db.AddSegment(".data", kBase + 0x1000, 0x400);
  db.AddSegment(".below", kBase + 0x800 - 0x4000 - 0x20, 0x40);
  db.AddSegment(".above", kBase + 0x800 + 0x4000 - 0x20, 0x40);
  db.AddSegment(".top", 0xFFFFC000 - 0x20, 0x40);
  std::map<ea_t, ea_t> target_of;  // referrer -> target
  std::mt19937 rng(3);
  const ea_t targets[] = {kBase + 0x800, kBase + 0x900, kBase + 0x1200, 0x12345678, 0x10};
  auto random_from = [&] {
    switch (rng() % 6) {
      case 0:
        return kBase + 0x800 - 0x4000 - 0x20 + 4 * (rng() % 0x10);
      case 1:
        return kBase + 0x800 + 0x4000 - 0x20 + 4 * (rng() % 0x10);
      case 2:
        return 0xFFFFC000 - 0x20 + 4 * (rng() % 0x10);
      case 3:
        return kBase + 0x1000 + 4 * (rng() % 0x100);
      default:
        return kBase + 4 * (rng() % 0x180);
    }
  };
  for (int step = 0; step < 6000; ++step) {
    const ea_t from = random_from();
    const ea_t to = targets[rng() % std::size(targets)];
    const bool made = target_of.count(from) != 0;
    if (made && rng() % 2 == 0) {
      ASSERT_EQ(1, do_unknown(from, 0));
      target_of.erase(from);
    } else {
      db.PutDword(from, to);
      if (!made) {
        ASSERT_NE(0, op_offset(from, 0, 2, BADADDR, 0, 0));
      }
      target_of[from] = to;
    }
    for (const ea_t t : targets) {
      std::vector<ea_t> want;
      for (const auto &[f, target] : target_of)
        if (target == t) want.push_back(f);
      ASSERT_EQ(want.empty() ? BADADDR : want.front(), get_first_dref_to(t)) << step;
      if (step % 20 == 0) {
        ASSERT_EQ(want, kernel::TheDatabase().DataRefsTo(t)) << step;
      }
    }
  }
  // Between 0x12345678 and 0x00401800 an offset pointed at each value with
  // some of the new bytes: none is referred to now.
  for (const ea_t between :
       {0x12345600u, 0x12341800u, 0x12401800u, 0x00401878u, 0x00405678u, 0x00345678u})
    EXPECT_EQ(BADADDR, get_first_dref_to(between)) << std::hex << between;
}

TEST_F(ItemsTest, DataItemWalkIsTheItemWalkWithoutCode) {
  // Items of every type and size at random places of two segments, short
  // and long ones (past the states' short size) and instructions among
  // them, at even and odd addresses: ForEachDataItem visits exactly the
  // items ForEachItem visits that are not code, in its order, and
  // DataItemCount counts them.
  db.AddSegment(".data", kBase + 0x2000, 0x801);
  std::mt19937 rng(7);
  const kernel::ItemType types[] = {kernel::ItemType::kByte,    kernel::ItemType::kWord,
                                    kernel::ItemType::kDword,   kernel::ItemType::kCode,
                                    kernel::ItemType::kPString, kernel::ItemType::kAlign};
  std::string err;
  for (int i = 0; i < 600; ++i) {
    kernel::Item item;
    item.type = types[rng() % std::size(types)];
    item.start = (rng() % 2 == 0 ? kBase : kBase + 0x2000) + rng() % 0x800;
    const asize_t element = item.type == kernel::ItemType::kWord    ? 2
                            : item.type == kernel::ItemType::kDword ? 4
                                                                    : 1;
    item.size = element * (1 + rng() % (item.type == kernel::ItemType::kCode ? 15 : 24));
    db.db().RestoreItem(item, &err);  // refused where it overlaps one
  }
  std::vector<std::pair<ea_t, asize_t>> all, data;
  db.db().ForEachItem([&](const kernel::Item &item) {
    if (item.type != kernel::ItemType::kCode) all.emplace_back(item.start, item.size);
  });
  db.db().ForEachDataItem(
      [&](const kernel::Item &item) { data.emplace_back(item.start, item.size); });
  EXPECT_GT(all.size(), 100u);
  EXPECT_EQ(all, data);
  EXPECT_EQ(all.size(), db.db().DataItemCount());
}

TEST_F(ItemsTest, ItemsAgreeWithAPlainMapUnderRandomUse) {
  // Items of every type, short and long (past the states' short size),
  // restored at random places of two segments (one of an odd size) over
  // bytes that look like one type or another, undone one at a time or by
  // ranges, and bytes written under them; every byte must show the item a
  // plain map holds, whatever its bytes suggest now or suggested when it was
  // made, also where an item whose bytes did not tell its type was undone
  // and another placed at its head.
  db.AddSegment(".data", kBase + 0x2000, 0x2FB);
  const tid_t pair = add_struc(BADADDR, "Pair", 0);
  ASSERT_EQ(0, add_struc_member(get_struc(pair), "A", 0, 0, nullptr, 4));
  ASSERT_EQ(0, add_struc_member(get_struc(pair), "B", 4, 0, nullptr, 4));
  using kernel::ItemType;
  const ItemType types[] = {ItemType::kByte,  ItemType::kWord,   ItemType::kDword,
                            ItemType::kQword, ItemType::kOffset, ItemType::kPString,
                            ItemType::kAlign, ItemType::kStruct, ItemType::kCode,
                            ItemType::kDword, ItemType::kDword};
  std::map<ea_t, kernel::Item> expected;  // by start
  auto holder = [&](ea_t ea) -> const kernel::Item * {
    auto it = expected.upper_bound(ea);
    if (it == expected.begin()) return nullptr;
    --it;
    return ea < it->second.start + it->second.size ? &it->second : nullptr;
  };
  std::mt19937 rng(21);
  // What data looks like: small numbers, small negative ones, addresses,
  // short strings, the alignments the compiler pads code with, and noise.
  auto put_look = [&](ea_t at, asize_t size) {
    std::vector<uint8_t> bytes;
    const auto printable = [&] { return static_cast<uint8_t>(0x20 + rng() % 0x5F); };
    switch (rng() % 8) {
      case 0:
        bytes = LittleEndianBytes(rng() % 0x10000, 4);
        break;
      case 1:
        bytes = LittleEndianBytes(0xFFFFFFFF - rng() % 0x10000, 4);
        break;
      case 2:
        bytes = LittleEndianBytes(kBase + rng() % 0x3000, 4);
        break;
      case 3:
        bytes = {static_cast<uint8_t>(size - 1)};
        for (asize_t i = 1; i < size; ++i) bytes.push_back(printable());
        break;
      case 4:
        bytes = {0x90};
        break;
      case 5:
        bytes = {0x8B, 0xC0};
        break;
      case 6:
        bytes = {0x8D, 0x40, 0x00};
        break;
      default:
        for (asize_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(rng()));
        break;
    }
    const ea_t end = at < kBase + 0x2000 ? kBase + 0x1000 : kBase + 0x22FB;
    bytes.resize(std::min<size_t>(bytes.size(), end - at));
    db.PutBytes(at, bytes);
  };
  for (ea_t at = kBase; at < kBase + 0x1000; at += 4) put_look(at, 4);
  for (ea_t at = kBase + 0x2000; at < kBase + 0x22FB; at += 4) put_look(at, 4);
  std::string err;
  for (int step = 0; step < 4000; ++step) {
    const ea_t ea =
        (rng() % 2 == 0 ? kBase + rng() % 0x1000 : kBase + 0x2000 + rng() % 0x2FB);
    if (rng() % 6 == 0) {
      // Bytes changed under an item, or across items, keep every type.
      put_look(ea, 1 + rng() % 8);
    } else if (rng() % 3 == 0) {
      if (rng() % 4 == 0) {
        const asize_t size = 1 + rng() % 64;
        ASSERT_EQ(1, do_unknown_range(ea, size, 0));
        for (auto it = expected.begin(); it != expected.end();)
          it = it->second.start < ea + size && ea < it->second.start + it->second.size
                   ? expected.erase(it)
                   : std::next(it);
      } else {
        do_unknown(ea, 0);
        if (const kernel::Item *item = holder(ea)) expected.erase(item->start);
      }
    } else {
      kernel::Item item;
      item.start = ea;
      item.type = types[rng() % std::size(types)];
      const asize_t element = item.type == ItemType::kWord     ? 2
                              : item.type == ItemType::kDword  ? 4
                              : item.type == ItemType::kQword  ? 8
                              : item.type == ItemType::kStruct ? 8
                                                               : 1;
      // Most short, some past the short size, some far past it.
      const asize_t count = rng() % 8 == 0 ? 1 + rng() % 200 : 1 + rng() % (40 / element);
      item.size = item.type == ItemType::kOffset ? 4
                  : item.type == ItemType::kCode ? 1 + rng() % 15
                                                 : element * count;
      if (item.type == ItemType::kStruct) item.struct_id = pair;
      if (rng() % 2 == 0) put_look(ea, item.size);
      bool free =
          ea + item.size <= (ea < kBase + 0x2000 ? kBase + 0x1000 : kBase + 0x22FB);
      for (asize_t i = 0; free && i < item.size; ++i) free = holder(ea + i) == nullptr;
      ASSERT_EQ(free, db.db().RestoreItem(item, &err)) << step;
      if (free) expected[ea] = item;
    }
    if (step % 50 != 0) continue;
    for (const ea_t base : {kBase, kBase + 0x2000}) {
      for (ea_t at = base; at < base + (base == kBase ? 0x1000 : 0x2FB); ++at) {
        const kernel::Item *want = holder(at);
        const auto got = TestDb::ItemAt(at);
        ASSERT_EQ(want != nullptr, got.has_value()) << step << " " << std::hex << at;
        if (want == nullptr) {
          ASSERT_EQ(at + 1, get_item_end(at));
          continue;
        }
        ASSERT_EQ(want->start, got->start) << step << " " << std::hex << at;
        ASSERT_EQ(want->size, got->size) << step << " " << std::hex << at;
        ASSERT_EQ(want->type, got->type) << step << " " << std::hex << at;
        ASSERT_EQ(want->struct_id, got->struct_id);
        ASSERT_EQ(want->start + want->size, get_item_end(at));
      }
    }
    size_t visited = 0;
    db.db().ForEachItem([&](const kernel::Item &item) {
      ++visited;
      EXPECT_EQ(1u, expected.count(item.start));
    });
    ASSERT_EQ(expected.size(), visited);
    size_t data = 0;
    db.db().ForEachDataItem([&](const kernel::Item &item) {
      ++data;
      const auto it = expected.find(item.start);
      ASSERT_TRUE(it != expected.end());
      EXPECT_EQ(it->second.type, item.type);
      EXPECT_NE(ItemType::kCode, item.type);
    });
    ASSERT_EQ(data, db.db().DataItemCount());
    ASSERT_EQ(static_cast<size_t>(std::count_if(
                  expected.begin(), expected.end(),
                  [](const auto &e) { return e.second.type != ItemType::kCode; })),
              data);
  }
}

}  // namespace
