#include "model/c_names.h"

#include <gtest/gtest.h>

namespace model {
namespace {

// Every C keyword, at either end of the list and between, gets "_k"; a word
// that only begins or ends like one, or differs in case, does not.
TEST(CIdentifierTest, KeywordsAndLeadingDigitsGetAPrefix) {
  struct Case {
    const char *name;
    const char *identifier;
  };
  const Case cases[] = {
      {"int", "_kint"},
      {"while", "_kwhile"},
      {"do", "_kdo"},
      {"double", "_kdouble"},
      {"bool", "_kbool"},
      {"Int", "Int"},
      {"dou", "dou"},
      {"doubles", "doubles"},
      {"whilst", "whilst"},
      {"a", "a"},
      {"zz", "zz"},
      {"1st", "_k1st"},
      {"", "_k"},
      // An underscore is always doubled, so no name maps to "_Bool".
      {"_Bool", "__Bool"},
      {"T.Item<A,B>", "T_dItem_lA_cB_g"},
      // Every other byte in hex, at either end and between letters.
      {"a-b\xE9", "a_x2Db_xE9"},
      {"\x01@` ", "_x01_a_q_s"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.identifier, CIdentifier(c.name)) << c.name;
    // Put behind a class's name, the name is mapped by itself: a keyword
    // or a digit after "TForm1_" still takes its prefix there.
    std::string method = "TForm1_";
    AppendCIdentifier(c.name, &method);
    EXPECT_EQ(std::string("TForm1_") + c.identifier, method) << c.name;
  }
}

}  // namespace
}  // namespace model
