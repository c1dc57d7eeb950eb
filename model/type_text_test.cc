#include "model/type_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Every structure refers to the texts it shares with its ancestors, so a
// kept text must stay where it is while more are kept (blocks filled, texts
// longer than a block) and when the store is moved into the types it
// builds; each ends in a NUL for c_str().
TEST(TypeTextsTest, KeptTextsStayWhereTheyAreThroughGrowthAndMoves) {
  model::TypeTexts texts;
  std::vector<std::pair<std::string, model::TypeText>> kept;
  uint32_t seed = 3;
  const auto next = [&seed] { return seed = seed * 1103515245 + 12345; };
  for (int i = 0; i < 40000; ++i) {
    const size_t length =
        i % 1000 == 999 ? (size_t{1} << 20) + next() % 5000 : next() % 70;
    std::string text(length, 'a');
    for (size_t k = 0; k < length; ++k) text[k] = static_cast<char>('a' + (k + i) % 26);
    // Every other text kept from three parts, one of them empty.
    const std::string_view v = text;
    kept.emplace_back(text, i % 2 == 0 ? texts.Keep(v)
                                       : texts.KeepJoined({v.substr(0, length / 3), "",
                                                           v.substr(length / 3)}));
  }
  const model::TypeTexts moved = std::move(texts);
  for (const auto &[text, t] : kept) {
    ASSERT_EQ(text, t.view());
    ASSERT_EQ('\0', t.c_str()[t.size()]);
  }
}

// An empty text is kept as no text at all, and still reads as one.
TEST(TypeTextsTest, AnEmptyTextReadsAsOne) {
  model::TypeTexts texts;
  for (const model::TypeText t :
       {texts.Keep(""), texts.KeepJoined({"", ""}), model::TypeText()}) {
    EXPECT_TRUE(t.empty());
    EXPECT_STREQ("", t.c_str());
    EXPECT_TRUE(t == "");
  }
}

}  // namespace
