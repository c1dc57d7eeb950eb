#include "pehost/model_files/model_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// Every class lists the virtual methods it inherits, and the writer copies
// the text of an entry it wrote for an earlier class. A copy must agree with
// the entry in everything written: the same slot and code under another
// name, or without the standard name, is written as it is.
TEST(ModelJsonTest, EachClassListsItsOwnVirtualMethodsWhateverOthersShare) {
  model::ProgramModel program;
  model::ProgramTypes types;
  const auto add = [&](ea_t record, std::vector<model::VirtualMethod> methods) {
    program.classes.push_back({record});
    model::ClassTypes t;
    t.record = record;
    t.name = "T" + std::to_string(record);
    t.details.name = t.name;
    t.details.record = record;
    t.details.virtual_methods = std::move(methods);
    types.classes.push_back(std::move(t));
  };
  add(0x1000, {{-1, 0x500, "TBase_Destroy", "Destroy"}, {0, 0x600, "A", nullptr}});
  add(0x2000, {{-1, 0x500, "TBase_Destroy", "Destroy"},
               {0, 0x600, "B", nullptr},
               {1, 0x700, "", nullptr}});
  add(0x3000, {{-1, 0x500, "TBase_Destroy", nullptr},
               {0, 0x600, "A", nullptr},
               {1, 0x700, "", nullptr},
               {2, 0x600, "A", nullptr}});
  std::ostringstream out;
  ASSERT_TRUE(model_files::WriteModelJson(program, types, out));
  const json doc = json::parse(out.str());
  ASSERT_EQ(types.classes.size(), doc["classes"].size());
  for (size_t i = 0; i < types.classes.size(); ++i) {
    json expected = json::array();
    for (const model::VirtualMethod &m : types.classes[i].details.virtual_methods) {
      json e = {{"slot", m.slot},
                {"address", m.address},
                {"name", m.name.empty() ? json(nullptr) : json(m.name)}};
      if (m.standard != nullptr) e["standard"] = m.standard;
      expected.push_back(e);
    }
    EXPECT_EQ(expected, doc["classes"][i]["virtual_methods"]) << "class " << i;
  }
  // A copy is the entry's own text, laid out as where it was written.
  const std::string text = out.str();
  const std::string line = "\n        {\"slot\": 1, \"address\": 1792, \"name\": null}";
  const size_t first = text.find(line);
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, text.find(line, first + 1));
}

}  // namespace
