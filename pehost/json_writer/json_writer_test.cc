#include "pehost/json_writer/json_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

using json_writer::Characters;
using json_writer::Quoted;

// One rule for every file pehost writes; the two forms differ only in how a
// character above ASCII (and the apostrophe) is spelt.
TEST(QuotedTest, OneRuleInBothForms) {
  struct Case {
    const char *text;
    const char *utf8;
    const char *ascii;
    const char *decoded;  // what a JSON reader makes of both
  };
  const Case cases[] = {
      {"plain 'x' ~\x7F", "\"plain 'x' ~\x7F\"", "\"plain \\u0027x\\u0027 ~\x7F\"",
       "plain 'x' ~\x7F"},
      {"\"\\", "\"\\\"\\\\\"", "\"\\\"\\\\\"", "\"\\"},
      {"a\nb\tc\rd\x01\x1F", "\"a\\nb\\tc\\rd\\u0001\\u001F\"",
       "\"a\\nb\\tc\\rd\\u0001\\u001F\"", "a\nb\tc\rd\x01\x1F"},
      // Valid UTF-8, up to four bytes.
      {"Gr\xC3\xB6\xC3\x9F"
       "e \xE2\x9C\x93 \xF0\x9F\x98\x80",
       "\"Gr\xC3\xB6\xC3\x9F"
       "e \xE2\x9C\x93 \xF0\x9F\x98\x80\"",
       "\"Gr\\u00F6\\u00DFe \\u2713 \\uD83D\\uDE00\"",
       "Gr\xC3\xB6\xC3\x9F"
       "e \xE2\x9C\x93 \xF0\x9F\x98\x80"},
      // A single-byte code page: each byte that starts no valid sequence is
      // Latin-1, a truncated sequence and a surrogate included.
      {"caf\xE9 \xFF\xFE \xC3 \xED\xA0\x80",
       "\"caf\\u00E9 \\u00FF\\u00FE \\u00C3 \\u00ED\\u00A0\\u0080\"",
       "\"caf\\u00E9 \\u00FF\\u00FE \\u00C3 \\u00ED\\u00A0\\u0080\"",
       "caf\xC3\xA9 \xC3\xBF\xC3\xBE \xC3\x83 \xC3\xAD\xC2\xA0\xC2\x80"},
      // A run of valid sequences broken by a Latin-1 byte, and cut at its end.
      {"\xC3\xB6\xE9\xC3\xB6\xC3", "\"\xC3\xB6\\u00E9\xC3\xB6\\u00C3\"",
       "\"\\u00F6\\u00E9\\u00F6\\u00C3\"", "\xC3\xB6\xC3\xA9\xC3\xB6\xC3\x83"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.utf8, Quoted(c.text));
    EXPECT_EQ(c.ascii, Quoted(c.text, Characters::kAscii));
    EXPECT_EQ(c.decoded, nlohmann::json::parse(Quoted(c.text)).get<std::string>());
    EXPECT_EQ(
        c.decoded,
        nlohmann::json::parse(Quoted(c.text, Characters::kAscii)).get<std::string>());
  }
}

// Plain text is passed sixteen bytes at a time: each byte that is not
// plain must be found wherever it falls in such a step or in the last
// sixteen bytes, and the plain bytes around it kept.
TEST(QuotedTest, EveryOddByteFoundAtEveryPlace) {
  struct Odd {
    std::string text, utf8, ascii;
  };
  const Odd odds[] = {{"\"", "\\\"", "\\\""},
                      {"\\", "\\\\", "\\\\"},
                      {"'", "'", "\\u0027"},
                      {"\n", "\\n", "\\n"},
                      {"\x01", "\\u0001", "\\u0001"},
                      {"\x1F", "\\u001F", "\\u001F"},
                      {"\x7F", "\x7F", "\x7F"},
                      {" ", " ", " "},
                      {"\xC3\xB6", "\xC3\xB6", "\\u00F6"},
                      {"\xE9", "\\u00E9", "\\u00E9"}};
  const std::string plain =
      "abcdefghijklmnopqrstuvw~ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (const Odd &odd : odds) {
    // Short texts are tested in words of eight and four: every length up
    // to sixteen, with the odd byte at every place.
    for (size_t length = 0; length <= 16; ++length)
      for (size_t at = 0; at <= length; ++at) {
        const std::string text =
            plain.substr(0, at) + odd.text + plain.substr(at, length - at);
        const std::string before = "\"" + plain.substr(0, at);
        const std::string after = plain.substr(at, length - at) + "\"";
        ASSERT_EQ(before + odd.utf8 + after, Quoted(text)) << length << " " << at;
        ASSERT_EQ(before + odd.ascii + after, Quoted(text, Characters::kAscii))
            << length << " " << at;
        ASSERT_EQ("\"" + plain.substr(0, length) + "\"", Quoted(plain.substr(0, length)));
      }
    for (size_t at = 0; at <= plain.size(); ++at) {
      const std::string text = plain.substr(0, at) + odd.text + plain.substr(at);
      const std::string before = "\"" + plain.substr(0, at);
      const std::string after = plain.substr(at) + "\"";
      ASSERT_EQ(before + odd.utf8 + after, Quoted(text)) << at;
      ASSERT_EQ(before + odd.ascii + after, Quoted(text, Characters::kAscii)) << at;
    }
  }
}

TEST(NumberTest, DecimalAtEveryWidthAndBothEnds) {
  const std::pair<int64_t, const char *> ints[] = {{0, "0"},
                                                   {7, "7"},
                                                   {10, "10"},
                                                   {99, "99"},
                                                   {100, "100"},
                                                   {1234567, "1234567"},
                                                   {4198400, "4198400"},
                                                   {10203040, "10203040"},
                                                   {98765432, "98765432"},
                                                   {-1, "-1"},
                                                   {-100, "-100"},
                                                   {4294967295, "4294967295"},
                                                   {4294967296, "4294967296"},
                                                   {INT64_MAX, "9223372036854775807"},
                                                   {INT64_MIN, "-9223372036854775808"}};
  for (const auto &[value, text] : ints) {
    std::string out = "x";
    json_writer::AppendInt(value, &out);
    EXPECT_EQ(std::string("x") + text, out);
  }
  std::string out;
  json_writer::AppendUnsigned(UINT64_MAX, &out);
  EXPECT_EQ("18446744073709551615", out);
  // Digits are counted before they are written: each side of every power
  // of ten, into a string and into the writers' buffer alike.
  json_writer::TextBuffer buffer;
  std::string expected;
  for (uint64_t power = 10, k = 1; k < 20; power *= 10, ++k) {
    for (uint64_t value : {power - 1, power, power + 1}) {
      std::string text;
      json_writer::AppendUnsigned(value, &text);
      EXPECT_EQ(std::to_string(value), text);
      json_writer::AppendUnsigned(value, &buffer);
      json_writer::AppendInt(-static_cast<int64_t>(value / 2), &buffer);
      expected += std::to_string(value) + "-" + std::to_string(value / 2);
    }
  }
  EXPECT_EQ(expected, buffer.text());
  // Below 10^8 the digits are put together as one word of eight and shifted
  // past the leading zeros: numbers of every length, up to 10^8 and past it.
  char text[24];
  for (uint64_t value = 3; value < 300000000; value = value * 7 + 1) {
    std::memset(text, '#', sizeof text);
    char *end = json_writer::FormatUnsigned(value, text);
    EXPECT_EQ(std::to_string(value), std::string(text, end));
  }
}

TEST(NumberTest, HexPaddedToTheWidthAndNeverCut) {
  const struct {
    uint64_t value;
    int width;
    const char *text;
  } rows[] = {{0, 1, "0x0"},
              {0xAB, 4, "0x00AB"},
              {0xABCDE, 4, "0xABCDE"},
              {0x00401000, 8, "0x00401000"},
              {0x123456789, 8, "0x123456789"},
              {UINT64_MAX, 1, "0xFFFFFFFFFFFFFFFF"},
              {5, 20, "0x0000000000000005"}};
  json_writer::TextBuffer buffer;
  std::string expected;
  for (const auto &row : rows) {
    std::string text = "x";
    json_writer::AppendHex(row.value, row.width, &text);
    EXPECT_EQ(std::string("x") + row.text, text);
    json_writer::AppendHex(row.value, row.width, &buffer);
    expected += row.text;
  }
  EXPECT_EQ(expected, buffer.text());
}

// Short copies are made of overlapping words: every length up to past the
// longest takes exactly its bytes.
TEST(TextBufferTest, CopiesOfEveryLength) {
  std::string from(48, ' ');
  for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<char>('A' + i);
  for (size_t n = 0; n <= 40; ++n) {
    std::string to(48, '#');
    json_writer::CopyBytes(&to[3], from.data(), n);
    EXPECT_EQ(std::string(3, '#') + from.substr(0, n) + std::string(45 - n, '#'), to)
        << n;
  }
}

// Pieces of every size, from one character to more than a piece handed to
// the stream, reach it whole and in order, and the count of what was
// written goes on across the handing over.
TEST(TextBufferTest, PiecesReachTheStreamInOrder) {
  std::ostringstream stream;
  std::string expected;
  {
    json_writer::TextBuffer streamed(&stream);
    json_writer::TextBuffer kept;
    uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245 + 12345; };
    for (int i = 0; i < 3000; ++i) {
      const size_t size = i % 500 == 499 ? 70000 + next() % 1000 : next() % 40;
      std::string piece(size, ' ');
      for (char &c : piece) c = static_cast<char>('a' + next() % 26);
      switch (i % 3) {
        case 0:
          streamed.append(piece);
          kept.append(piece);
          break;
        case 1:
          for (char c : piece) streamed += c, kept += c;
          break;
        default:
          for (json_writer::TextBuffer *b : {&streamed, &kept}) {
            char *at = b->Room(size);
            std::memcpy(at, piece.data(), size);
            b->Advance(at + size);
          }
      }
      expected += piece;
      ASSERT_EQ(expected.size(), streamed.Written());
      ASSERT_EQ(expected.size(), kept.size());
    }
    EXPECT_LT(streamed.size(), expected.size());
    EXPECT_EQ(expected, kept.text());
  }
  EXPECT_EQ(expected, stream.str());
}

TEST(JsonWriterTest, LinesCompactLevelsAndArrays) {
  std::ostringstream out;
  {
    json_writer::JsonWriter w(out);
    w.BeginObject();
    w.Member("name", "T\xE9");
    w.ObjectArray("rows", std::vector<int>{1, 2}, [&](int i) {
      w.Member("i", i);
      w.Key("list");
      w.BeginArray();  // inside a compact level: stays on the line
      w.Int(i);
      w.Null();
      w.EndArray();
    });
    w.Array("empty", std::vector<int>{}, [&](int i) { w.Int(i); });
    w.Array(
        "flags", std::vector<bool>{true, false}, [&](bool b) { w.Bool(b); }, true);
    w.EndObject();
  }
  EXPECT_EQ(
      "{\n"
      "  \"name\": \"T\\u00E9\",\n"
      "  \"rows\": [\n"
      "    {\"i\": 1, \"list\": [1, null]},\n"
      "    {\"i\": 2, \"list\": [2, null]}\n"
      "  ],\n"
      "  \"empty\": [],\n"
      "  \"flags\": [true, false]\n"
      "}\n",
      out.str());
}

// Each level is indented by two more spaces, below and beyond the depth the
// writer has its indentation ready for.
TEST(JsonWriterTest, IndentationAtEveryDepth) {
  constexpr int kDepth = 70;
  std::ostringstream out;
  {
    json_writer::JsonWriter w(out);
    for (int i = 0; i < kDepth; ++i) {
      w.BeginArray();
      w.Int(i);
    }
    for (int i = 0; i < kDepth; ++i) w.EndArray();
  }
  std::string expected;
  for (int i = 0; i < kDepth; ++i) {
    if (i > 0) expected += ",\n" + std::string(2 * i, ' ');
    expected += "[\n" + std::string(2 * (i + 1), ' ') + std::to_string(i);
  }
  for (int i = kDepth; i > 0; --i) expected += "\n" + std::string(2 * (i - 1), ' ') + "]";
  EXPECT_EQ(expected + "\n", out.str());
}

}  // namespace
