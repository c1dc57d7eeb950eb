#include "host/kernel/addr_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

#include "host/kernel/addr_index.h"
#include "host/kernel/delta_index.h"
#include "host/kernel/name_table.h"
#include "host/kernel/position_index.h"
#include "host/kernel/struct_ids.h"

namespace {

// Random inserts and erases over a small key space (so that probe runs
// collide and wrap) must agree with a standard map at every step.
TEST(AddrMapTest, AgreesWithStandardMap) {
  kernel::AddrMap<uint32_t> map;
  std::unordered_map<ea_t, uint32_t> expected;
  std::mt19937 rng(7);
  for (int step = 0; step < 200000; ++step) {
    ea_t key = rng() % 3000;
    if (key == 2999) key = 0xFFFFFFFFu;  // the key the table reserves
    if (rng() % 3 == 0) {
      EXPECT_EQ(expected.erase(key) != 0, map.Erase(key));
    } else {
      map.Set(key, step);
      expected[key] = step;
    }
    if (step % 1000 == 0) {
      ASSERT_EQ(expected.size(), map.size());
      for (const auto &[k, v] : expected) {
        const uint32_t *found = map.Find(k);
        ASSERT_NE(nullptr, found) << k;
        ASSERT_EQ(v, *found);
      }
      size_t visited = 0;
      map.ForEach([&](ea_t, uint32_t) { ++visited; });
      ASSERT_EQ(expected.size(), visited);
    }
  }
  EXPECT_EQ(nullptr, map.Find(5000));
  map.Clear();
  EXPECT_EQ(0u, map.size());
  EXPECT_EQ(nullptr, map.Find(0xFFFFFFFFu));
}

// Runs in order, runs backwards and random keys, with erases, so that
// chunks are appended, halved and emptied; lookups, Floor and Next must agree
// with a standard ordered map throughout.
TEST(AddrIndexTest, AgreesWithOrderedMap) {
  kernel::AddrIndex<uint32_t> index;
  std::map<ea_t, uint32_t> expected;
  std::mt19937 rng(3);
  auto check = [&] {
    ASSERT_EQ(expected.size(), index.size());
    std::vector<std::pair<ea_t, uint32_t>> seen;
    index.ForEach([&](ea_t k, uint32_t v) { seen.emplace_back(k, v); });
    const std::vector<std::pair<ea_t, uint32_t>> want(expected.begin(), expected.end());
    ASSERT_EQ(want, seen);
    for (int probe = 0; probe < 300; ++probe) {
      const ea_t ea = rng() % 70000;
      auto up = expected.upper_bound(ea);
      ea_t key = 0;
      uint32_t value = 0;
      const bool floor = index.Floor(ea, &key, &value);
      ASSERT_EQ(up != expected.begin(), floor) << ea;
      if (floor) {
        ASSERT_EQ(std::prev(up)->first, key);
      }
      ASSERT_EQ(up != expected.end(), index.Next(ea, &key)) << ea;
      if (up != expected.end()) {
        ASSERT_EQ(up->first, key);
      }
      ASSERT_EQ(expected.count(ea) != 0, index.Find(ea) != nullptr);
    }
  };
  for (ea_t k = 20000; k < 30000; k += 3) index.Set(k, k), expected[k] = k;
  check();
  for (ea_t k = 19999; k > 10000; k -= 2) index.Set(k, k), expected[k] = k;
  check();
  for (int step = 0; step < 40000; ++step) {
    const ea_t k = rng() % 60000;
    if (rng() % 2 == 0) {
      ASSERT_EQ(expected.erase(k) != 0, index.Erase(k));
    } else {
      // Looked for first, as names are, sometimes with a change between.
      if (rng() % 2 == 0) ASSERT_EQ(expected.count(k) != 0, index.Find(k) != nullptr);
      if (rng() % 4 == 0) {
        const ea_t other = rng() % 60000;
        ASSERT_EQ(expected.erase(other) != 0, index.Erase(other));
      }
      index.Set(k, step);
      expected[k] = step;
    }
  }
  check();
  for (auto it = expected.begin(); it != expected.end();) {
    ASSERT_TRUE(index.Erase(it->first));
    it = expected.erase(it);
  }
  check();
  index.Set(5, 1);
  EXPECT_EQ(1u, *index.Find(5));
}

TEST(StructIdsTest, AgreesWithAPlainMapPastTheMostNumbers) {
  // Ids from a set larger than the numbers, set, set again to another id
  // (a numbered one over a far one and back) and erased at random: every
  // address must keep the id a plain map holds.
  kernel::StructIds ids(40);
  std::map<ea_t, tid_t> expected;
  std::mt19937 rng(9);
  for (int step = 0; step < 30000; ++step) {
    const ea_t ea = 0x400000 + rng() % 3000;
    if (rng() % 4 == 0) {
      ASSERT_EQ(expected.erase(ea) != 0, ids.Erase(ea)) << step;
    } else {
      const tid_t id = 0xFF000000u + rng() % 60;
      ids.Set(ea, id);
      expected[ea] = id;
    }
    if (step % 500 != 0) continue;
    ASSERT_EQ(expected.size(), ids.size());
    for (ea_t at = 0x400000; at < 0x400000 + 3000; ++at) {
      const auto it = expected.find(at);
      const tid_t *got = ids.Find(at);
      ASSERT_EQ(it != expected.end(), got != nullptr) << step << " " << at;
      if (got != nullptr) {
        ASSERT_EQ(it->second, *got) << step << " " << at;
      }
    }
  }
}

TEST(AddrIndexTest, AgreesWithOrderedMapAcrossPages) {
  // Keys from a few pages densely and from the whole address range sparsely,
  // inserted out of order: chunks begin and split at page borders.
  kernel::AddrIndex<uint8_t> index;
  std::map<ea_t, uint8_t> expected;
  std::mt19937 rng(5);
  auto pick = [&]() -> ea_t {
    switch (rng() % 3) {
      case 0:
        return 0x400000 + rng() % 0x30000;
      case 1:
        return 0xFFFF0000u | (rng() % 0x10000);
      default:
        return static_cast<ea_t>(rng());
    }
  };
  for (ea_t k = 0x40FFF0; k < 0x411010; ++k) index.Set(k, 1), expected[k] = 1;
  for (int step = 0; step < 60000; ++step) {
    const ea_t k = pick();
    if (rng() % 3 == 0) {
      ASSERT_EQ(expected.erase(k) != 0, index.Erase(k)) << k;
    } else {
      const auto v = static_cast<uint8_t>(step);
      index.Set(k, v);
      expected[k] = v;
    }
  }
  ASSERT_EQ(expected.size(), index.size());
  std::vector<std::pair<ea_t, uint8_t>> seen;
  index.ForEach([&](ea_t k, uint8_t v) { seen.emplace_back(k, v); });
  const std::vector<std::pair<ea_t, uint8_t>> want(expected.begin(), expected.end());
  ASSERT_EQ(want, seen);
  for (int probe = 0; probe < 20000; ++probe) {
    const ea_t ea = probe % 2 == 0 ? pick() : expected.begin()->first + rng() % 0x80000;
    auto up = expected.upper_bound(ea);
    ea_t key = 0;
    uint8_t value = 0;
    ASSERT_EQ(up != expected.begin(), index.Floor(ea, &key, &value)) << ea;
    if (up != expected.begin()) {
      ASSERT_EQ(std::prev(up)->first, key);
      ASSERT_EQ(std::prev(up)->second, value);
    }
    ASSERT_EQ(up != expected.end(), index.Next(ea, &key)) << ea;
    if (up != expected.end()) {
      ASSERT_EQ(up->first, key);
    }
    const uint8_t *found = index.Find(ea);
    ASSERT_EQ(expected.count(ea) != 0, found != nullptr) << ea;
  }
}

// Entries as comments come: runs in address order a few bytes apart, then
// random ones between and around them; gaps up to past a byte's reach, so
// that chunks begin at far entries and split where a removal leaves a gap
// too wide; overwrites, removals, and both ends of the address space. With
// `layouts`, the run is records of a few layouts (the same values at the
// same distances) among odd entries of a few values, so that closed chunks
// are coded as phrases and the random changes open them again.
void CheckDeltaIndex(kernel::DeltaIndex &index, bool layouts, uint32_t seed) {
  std::map<ea_t, uint8_t> expected;
  std::mt19937 rng(seed);
  auto set = [&](ea_t ea, uint8_t value) {
    index.Set(ea, value);
    expected[ea] = value;
  };
  std::vector<std::vector<std::pair<uint8_t, uint8_t>>> records(6);
  for (auto &record : records) {
    record.resize(1 + rng() % 30);
    for (auto &[distance, value] : record) {
      distance = static_cast<uint8_t>(1 + rng() % 12);
      value = static_cast<uint8_t>(rng());
    }
  }
  ea_t ea = 0x401000;
  while (expected.size() < 20000) {
    ea += 1 + (rng() % 50 == 0 ? rng() % 600 : rng() % 20);
    if (layouts && rng() % 4 != 0) {
      const auto &record = records[rng() % records.size()];
      set(ea, record[0].second);
      for (size_t f = 1; f < record.size(); ++f)
        set(ea += record[f].first, record[f].second);
    } else {
      set(ea, static_cast<uint8_t>(layouts ? rng() % 8 : rng()));
    }
  }
  if (layouts) {
    ASSERT_GT(index.ClosedChunks(), 0u);
    for (ea_t at = 0x401000; at <= ea; ++at) {
      const uint8_t *found = index.Find(at);
      const auto it = expected.find(at);
      ASSERT_EQ(it != expected.end(), found != nullptr) << at;
      if (found != nullptr) {
        ASSERT_EQ(it->second, *found) << at;
      }
    }
  }
  set(0, 1);
  set(0xFFFFFFFFu, 2);
  set(0xFFFFFF00u, 3);
  for (int step = 0; step < 60000; ++step) {
    const ea_t at = 0x400F00 + rng() % (ea - 0x400F00 + 0x200);
    const auto value = static_cast<uint8_t>(rng());
    switch (rng() % 3) {
      case 0:
        set(at, value);
        break;
      case 1:
        ASSERT_EQ(expected.erase(at) != 0, index.Erase(at)) << at;
        break;
      default: {
        // A removal beside an entry: the gap it leaves may pass 255.
        auto it = expected.lower_bound(at);
        if (it == expected.end()) break;
        const ea_t gone = it->first;
        expected.erase(it);
        ASSERT_TRUE(index.Erase(gone)) << gone;
      }
    }
  }
  ASSERT_EQ(expected.size(), index.size());
  for (int probe = 0; probe < 100000; ++probe) {
    const ea_t at = 0x400F00 + rng() % (ea - 0x400F00 + 0x200);
    const uint8_t *found = index.Find(at);
    const auto it = expected.find(at);
    ASSERT_EQ(it != expected.end(), found != nullptr) << at;
    if (found != nullptr) {
      ASSERT_EQ(it->second, *found) << at;
    }
  }
  auto it = expected.begin();
  index.ForEach([&](ea_t key, uint8_t value) {
    ASSERT_NE(it, expected.end());
    EXPECT_EQ(it->first, key);
    EXPECT_EQ(it->second, value);
    ++it;
  });
  EXPECT_EQ(it, expected.end());
  for (auto e = expected.begin(); e != expected.end(); e = expected.erase(e))
    ASSERT_TRUE(index.Erase(e->first)) << e->first;
  EXPECT_EQ(0u, index.size());
  EXPECT_EQ(nullptr, index.Find(0));
}

TEST(DeltaIndexTest, AgreesWithOrderedMap) {
  kernel::DeltaIndex index;
  CheckDeltaIndex(index, false, 17);
}

TEST(DeltaIndexTest, RecordLayoutsAgreeWithOrderedMap) {
  kernel::DeltaIndex index;
  CheckDeltaIndex(index, true, 23);
  // Phrases stop growing where the table is full; pairs are still coded.
  kernel::DeltaIndex few_phrases(kernel::PairPhrases::kMostPhrases, 50);
  CheckDeltaIndex(few_phrases, true, 31);
  EXPECT_EQ(50u, few_phrases.PhraseCount() - few_phrases.PairCount());
}

TEST(DeltaIndexTest, FullPhraseTableLeavesChunksPlain) {
  // Later chunks meet pairs the table has no room for and stay plain.
  kernel::DeltaIndex index(1000, 800);
  CheckDeltaIndex(index, true, 29);
  EXPECT_EQ(1000u, index.PhraseCount());
}

TEST(NameTableTest, AgreesWithStandardMapsThroughRebuilds) {
  kernel::NameTable table;
  std::unordered_map<ea_t, std::string> expected;
  std::mt19937 rng(11);
  // Long names and many removals make the arena compact itself. The
  // addresses lie on pages of different rows of the position index's bases,
  // the last one at the top of the address space; a page's positions spread
  // past two bytes' reach, so that many are kept whole.
  const ea_t pages[] = {0, 0x01010000, 0x7FFF0000, 0xFFFF0000};
  for (int step = 0; step < 60000; ++step) {
    const uint32_t key = rng() % 5000;
    const ea_t ea = pages[key % 4] + key / 4 * 3;
    if (expected.count(ea) != 0) {
      table.Remove(ea);
      expected.erase(ea);
    } else {
      std::string name = "name_" + std::to_string(step) + std::string(rng() % 200, 'x');
      table.Add(ea, name);
      expected[ea] = name;
    }
  }
  ASSERT_EQ(expected.size(), table.size());
  for (const auto &[ea, name] : expected) {
    EXPECT_EQ(name, table.NameAt(ea));
    ASSERT_TRUE(table.Find(name));
  }
  EXPECT_FALSE(table.Find("name_"));
  EXPECT_TRUE(table.NameAt(1).empty());
  EXPECT_TRUE(table.NameAt(0xFFFF0001).empty());
  size_t visited = 0;
  table.ForEach([&](ea_t ea, std::string_view name) {
    ++visited;
    EXPECT_EQ(expected[ea], name);
  });
  EXPECT_EQ(expected.size(), visited);
}

TEST(PositionIndexTest, AgreesWithOrderedMap) {
  // Positions mostly growing by a few bytes, now and then by more than two
  // bytes reach or below a page's base, set again and erased, over pages of
  // several rows of bases: every entry near or far must read back whole.
  kernel::PositionIndex index;
  std::map<ea_t, uint32_t> expected;
  std::mt19937 rng(17);
  const ea_t pages[] = {0, 0x00010000, 0x12340000, 0xFFFF0000};
  // First the distances around two bytes' reach from a page's base.
  uint32_t at = 1000;
  for (const uint32_t distance : {0u, 0xFFFEu, 0xFFFFu, 0x10000u}) {
    index.Set(0x00020000 + distance / 4, at + distance);
    expected[0x00020000 + distance / 4] = at + distance;
  }
  at += 0x10000;
  for (int step = 0; step < 40000; ++step) {
    const ea_t ea = pages[rng() % 4] + rng() % 3000;
    const uint32_t r = rng() % 100;
    if (r < 20) {
      index.Erase(ea);
      expected.erase(ea);
    } else {
      at += r < 25 ? 70000 : rng() % 40;
      const uint32_t value = r < 28 ? rng() % 1000 : at;
      index.Set(ea, value);
      expected[ea] = value;
    }
    if (step % 997 == 0) {
      uint32_t found = 0;
      const ea_t probe = pages[rng() % 4] + rng() % 3000;
      const auto it = expected.find(probe);
      ASSERT_EQ(it != expected.end(), index.Find(probe, &found)) << probe;
      if (it != expected.end()) EXPECT_EQ(it->second, found);
    }
  }
  ASSERT_EQ(expected.size(), index.size());
  auto it = expected.begin();
  index.ForEach([&](ea_t ea, uint32_t value) {
    ASSERT_NE(it, expected.end());
    EXPECT_EQ(it->first, ea);
    EXPECT_EQ(it->second, value);
    ++it;
  });
  EXPECT_EQ(it, expected.end());
  for (const auto &[ea, value] : expected) {
    uint32_t found = 0;
    ASSERT_TRUE(index.Find(ea, &found));
    EXPECT_EQ(value, found);
  }
}

TEST(NameTableTest, NamesBeginningAlikeAgreeWithAMap) {
  // Families of names that begin alike, as a detector gives them (a class's
  // name, then its tables and methods): a record keeps only what it does not
  // share with one written just before it, through several such references,
  // beside removals and the compaction that writes the live ones anew. Some
  // names begin another one, some share more than a record can refer to, and a
  // quarter carry a long tail of their own, so that removals fill the arena
  // with dead records. After many a name comes one that ends with it (an
  // ending), or one that begins with it, so that chains of references pass
  // through endings both ways. Half the names end with one of a few ends
  // that recur (a fixed suffix, a method's name, one around the longest end a
  // record copies), so that records copy them from the text of others near
  // and, as the arena grows, far back.
  kernel::NameTable table;
  std::map<ea_t, std::string> expected;
  std::set<std::string> used;
  std::mt19937 rng(5);
  const std::string stems[] = {"TForm", "_cls_TForm", std::string(300, 'L'), "a"};
  const std::string ends[] = {"_method_list",
                              "@GetValueProc",
                              "@Refresh",
                              "_lst",
                              "_" + std::string(253, 'e'),
                              "_" + std::string(254, 'e'),
                              "_" + std::string(255, 'e'),
                              "@Gen7@SetValueProc"};
  for (int step = 0; step < 60000; ++step) {
    const ea_t ea = rng() % 4000;
    if (expected.count(ea) != 0) {
      if (rng() % 3 != 0) continue;
      table.Remove(ea);
      used.erase(expected[ea]);
      expected.erase(ea);
      continue;
    }
    std::string name = stems[rng() % std::size(stems)] + std::to_string(rng() % 40) +
                       "@" + std::to_string(step);
    if (rng() % 4 == 0) {
      for (size_t n = 100 + rng() % 300; n > 0; --n)
        name += static_cast<char>('a' + rng() % 26);
    } else if (rng() % 3 == 0) {
      // A rest of its own around the longest a copied end's head counts.
      name += std::string(15 + rng() % 16, 'm');
    }
    if (rng() % 2 == 0) name += ends[rng() % std::size(ends)];
    table.Add(ea, name);
    expected[ea] = name;
    used.insert(name);
    for (ea_t next = ea + 1; rng() % 2 == 0 && expected.count(next) == 0; ++next) {
      const std::string &last = expected[next - 1];
      if (rng() % 3 == 0)
        name = last + std::to_string(rng() % 10);
      else
        name = std::string(rng() % 3 == 0 ? 130 : 1 + rng() % 8, 'o') + last;
      if (name.empty() || used.count(name) != 0) break;
      table.Add(next, name);
      expected[next] = name;
      used.insert(name);
    }
  }
  ASSERT_EQ(expected.size(), table.size());
  for (const auto &[ea, name] : expected) {
    ASSERT_EQ(name, table.NameAt(ea));
    ASSERT_TRUE(table.Find(name));
    EXPECT_FALSE(table.Find(name + "@"));
    const std::string shorter = name.substr(0, name.size() - 1);
    EXPECT_EQ(used.count(shorter) != 0, table.Find(shorter)) << shorter;
    // Looked for with the hash of this name, a name differing from it in
    // one byte anywhere reaches its record's text and must not match it.
    const size_t hash = kernel::NameTable::Hash(name);
    // Around where a copied end may begin, too.
    for (size_t i : {size_t{0}, name.size() / 3, name.size() / 2, name.size() - 1,
                     name.size() - std::min(name.size(), size_t{5}),
                     name.size() - std::min(name.size(), size_t{14}),
                     name.size() - std::min(name.size(), size_t{256})}) {
      std::string other = name;
      other[i] ^= 1;
      if (used.count(other) == 0) ASSERT_FALSE(table.Find(other, hash)) << other;
    }
    if (used.count(name.substr(1)) == 0) EXPECT_FALSE(table.Find(name.substr(1), hash));
  }
  auto it = expected.begin();
  table.ForEach([&](ea_t ea, std::string_view name) {
    ASSERT_NE(it, expected.end());
    EXPECT_EQ(it->first, ea);
    EXPECT_EQ(it->second, name);
    ++it;
  });
  EXPECT_EQ(it, expected.end());
}

TEST(NameTableTest, CrowdedHomesAgreeWithASetThroughEveryGrowth) {
  // A name's first slot is its hash scaled to the table. Names whose hashes
  // scale to the table's last slots or its first crowd there at every size,
  // so that runs of slots wrap around the end and removals shift slots back
  // across it; beside ordinary names, added and removed at random, and
  // checked whole after every step while the table is small, at each size it
  // grows to and just before, when it is at its fullest.
  std::vector<std::string> crowded;
  for (uint32_t i = 0; crowded.size() < 400; ++i) {
    const std::string name = "c" + std::to_string(i);
    const uint32_t low = static_cast<uint32_t>(kernel::NameTable::Hash(name));
    if (low >= 0xFFF00000u || low < 0x00080000u) crowded.push_back(name);
  }
  kernel::NameTable table;
  std::map<ea_t, std::string> expected;
  std::mt19937 rng(23);
  const auto check_all = [&] {
    ASSERT_EQ(expected.size(), table.size());
    for (const auto &[ea, name] : expected) {
      ASSERT_TRUE(table.Find(name)) << name << " of " << table.size();
      ASSERT_FALSE(table.Find(name + "_")) << name;
    }
  };
  size_t slots = 0;
  for (int step = 0; step < 12000; ++step) {
    const ea_t ea = rng() % 3000;
    if (expected.count(ea) != 0 && rng() % 3 == 0) {
      table.Remove(ea);
      expected.erase(ea);
    } else if (expected.count(ea) == 0) {
      const std::string name =
          rng() % 3 == 0 ? "n" + std::to_string(step) : crowded[rng() % crowded.size()];
      if (table.Find(name)) continue;
      // The table as it is before an add that may grow it.
      if (table.size() < 600 || rng() % 64 == 0) check_all();
      table.Add(ea, name);
      expected[ea] = name;
    }
    if (table.slot_count() != slots) {
      slots = table.slot_count();
      check_all();
    }
  }
  check_all();
  for (const std::string &name : crowded) {
    const bool used = std::any_of(expected.begin(), expected.end(),
                                  [&](const auto &e) { return e.second == name; });
    EXPECT_EQ(used, table.Find(name)) << name;
  }
}

TEST(NameTableTest, LongNamesAfterManyShortOnesOutgrowTheSlotsRoom) {
  // A slot keeps a record's position in as many bits as the arena took when
  // the slots grew, twice over; long names after many short ones fill more
  // than that before the slots grow again, and every name is still found.
  kernel::NameTable table;
  std::vector<std::string> names;
  for (int i = 0; i < 100000; ++i) names.push_back("n" + std::to_string(i));
  for (int i = 0; i < 2500; ++i)
    names.push_back(std::string(3000 + i % 1000, static_cast<char>('a' + i % 26)) +
                    std::to_string(i));
  for (size_t i = 0; i < names.size(); ++i) table.Add(static_cast<ea_t>(i), names[i]);
  for (size_t i = 0; i < names.size(); i += 7) {
    ASSERT_EQ(names[i], table.NameAt(static_cast<ea_t>(i)));
    ASSERT_TRUE(table.Find(names[i])) << i;
    ASSERT_FALSE(table.Find(names[i] + "x")) << i;
  }
}

TEST(NameTableTest, LengthsAroundTheRecordHeader) {
  // A name's length takes one byte below 128 and two from there on.
  kernel::NameTable table;
  const size_t lengths[] = {1, 127, 128, 255, 256, kernel::NameTable::kMaxName};
  for (size_t i = 0; i < std::size(lengths); ++i)
    table.Add(static_cast<ea_t>(i), std::string(lengths[i], static_cast<char>('a' + i)));
  for (size_t i = 0; i < std::size(lengths); ++i) {
    const std::string name(lengths[i], static_cast<char>('a' + i));
    EXPECT_EQ(name, table.NameAt(static_cast<ea_t>(i)));
    EXPECT_TRUE(table.Find(name));
    EXPECT_FALSE(table.Find(name + name[0]));
  }
}

}  // namespace
