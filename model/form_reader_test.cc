#include "model/form_reader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "model/form_text.h"
#include "samples/form_writer.h"

namespace model {
namespace {

using samples::FormWriter;

std::string Text(const FormObject &form) {
  std::ostringstream out;
  WriteFormText(form, out);
  return out.str();
}

// A form with a value of every type and components of every prefix; the
// text is what the form designer shows for it.
std::vector<uint8_t> EveryValueType() {
  FormWriter f;
  f.BeginComponent("TMainForm", "MainForm", FormWriter::kInherited);
  f.Property("Small");
  f.Int(-5);
  f.Property("Medium");
  f.Int(-300);
  f.Property("Large");
  f.Int(70000);
  f.Property("Huge");
  f.Int64(-5000000000);
  f.Property("Zoom");
  f.Extended(-0.375);
  f.Property("Ratio");
  f.Single(0.1f);
  f.Property("Scale");
  f.Double(1e300);
  f.Property("Price");
  f.Currency(-12345);
  f.Property("When");
  f.Date(2.25);
  f.Property("Caption");
  f.String("It's\r\nfine");
  f.Property("Long");
  f.LString(std::string(70, 'x'));
  f.Property("Empty");
  f.String("");
  f.Property("Wide");
  f.WString(u"\u00C4\u20AC\U0001F600");
  f.Property("Utf8");
  f.Utf8String("\xC3\xBC-");
  f.Property("Color");
  f.Ident("clRed");
  f.Property("Enabled");
  f.Bool(false);
  f.Property("Visible");
  f.Bool(true);
  f.Property("PopupMenu");
  f.Nil();
  f.Property("Style");
  f.Set({"fsBold", "fsItalic"});
  f.Property("Data");
  f.Binary(std::vector<uint8_t>(33, 0xAB));
  f.Property("Lines");
  f.BeginList();
  f.String("one");
  f.BeginList();
  f.Int(1);
  f.EndList();
  f.BeginList();
  f.EndList();
  f.EndList();
  f.Property("Columns");
  f.BeginCollection();
  f.BeginItem();
  f.Property("Width");
  f.Int(10);
  f.EndItem();
  f.BeginItem(300);
  f.EndItem();
  f.EndCollection();
  f.Property("NoColumns");
  f.BeginCollection();
  f.EndCollection();
  f.EndProperties();
  f.BeginComponent("TFrame1", "Frame", FormWriter::kInline | FormWriter::kChildPosition,
                   2);
  f.EndProperties();
  f.BeginComponent("TLabel", "");
  f.EndProperties();
  f.EndComponent();
  f.EndComponent();
  f.EndComponent();
  return f.bytes();
}

TEST(FormReaderTest, ReadsEveryValueTypeAndWritesTheDesignersText) {
  const std::vector<uint8_t> bytes = EveryValueType();
  FormObject form;
  std::string err;
  ASSERT_TRUE(ReadForm(bytes.data(), bytes.size(), &form, &err)) << err;
  EXPECT_TRUE(form.inherited);
  EXPECT_EQ(ValueType::kInt8, form.properties[0].value.type);
  EXPECT_EQ(ValueType::kInt16, form.properties[1].value.type);
  EXPECT_EQ(ValueType::kInt32, form.properties[2].value.type);
  EXPECT_EQ(-12345, form.properties[7].value.integer);  // Currency in 1/10000
  ASSERT_EQ(1u, form.children.size());
  EXPECT_TRUE(form.children[0].is_inline);
  EXPECT_EQ(2, form.children[0].position);

  EXPECT_EQ(R"(inherited MainForm: TMainForm
  Small = -5
  Medium = -300
  Large = 70000
  Huge = -5000000000
  Zoom = -0.375
  Ratio = 0.1s
  Scale = 1e+300
  Price = -1.2345c
  When = 2.25d
  Caption = 'It'#39's'#13#10'fine'
  Long = 
    'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' +
    'xxxxxx'
  Empty = ''
  Wide = #196#8364#128512
  Utf8 = #252'-'
  Color = clRed
  Enabled = False
  Visible = True
  PopupMenu = nil
  Style = [fsBold, fsItalic]
  Data = {
    ABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABAB
    AB}
  Lines = (
    'one'
    (
      1)
    ())
  Columns = <
    item
      Width = 10
    end
    item [300]
    end>
  NoColumns = <>
  inline Frame: TFrame1 [2]
    object TLabel
    end
  end
end
)",
            Text(form));
}

TEST(FormReaderTest, EveryCutOfAFormIsRefusedWithTheOffsetAndNothingHalfRead) {
  const std::vector<uint8_t> bytes = EveryValueType();
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    FormObject form;
    form.name = "stale";
    std::string err;
    ASSERT_FALSE(ReadForm(bytes.data(), cut, &form, &err)) << cut;
    EXPECT_TRUE(form.name.empty() && form.properties.empty() && form.children.empty());
    EXPECT_EQ(cut < 4 ? "no TPF0 signature" : "offset 0x",
              err.substr(0, cut < 4 ? 17 : 9))
        << err;
  }
}

TEST(FormReaderTest, RefusesMalformedFormsWithOneReason) {
  auto form = [](std::initializer_list<uint8_t> tail) {
    std::vector<uint8_t> b = {'T', 'P', 'F', '0', 5, 'T', 'F', 'o', 'r', 'm', 1, 'F'};
    b.insert(b.end(), tail);
    return b;
  };
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    const char *reason;
  };
  std::vector<Case> cases = {
      {"no signature", {'T', 'P', 'F', '1', 0}, "no TPF0 signature"},
      {"an unknown value type", form({1, 'A', 22}), "offset 0xE: unknown value type 22"},
      {"a property without a value", form({1, 'A', 0}), "the property A has no value"},
      {"a collection item that is no list", form({1, 'A', 14, 2, 5, 7}),
       "opens with value type 7, not List"},
      {"a child position that is no integer",
       {'T', 'P', 'F', '0', 0xF2, 6, 1, 'x', 5, 'T', 'F', 'o', 'r', 'm', 0, 0, 0},
       "the child position is a String"},
      {"a component without a class",
       {'T', 'P', 'F', '0', 0, 1, 'F', 0, 0},
       "a component without a class name"},
      {"a wide string longer than the form", form({1, 'W', 18, 0xFF, 0xFF, 0xFF, 0x7F}),
       "a WString runs past the end"},
  };
  // Nesting past the bound, by lists and by components.
  std::vector<uint8_t> lists = form({1, 'L'});
  lists.insert(lists.end(), kMaxFormDepth + 1, 1);
  cases.push_back({"lists nested too deep", lists, "nest deeper than 64 levels"});
  std::vector<uint8_t> components = form({0});
  for (int i = 0; i < kMaxFormDepth; ++i)
    components.insert(components.end(), {1, 'C', 1, 'c', 0});
  cases.push_back(
      {"components nested too deep", components, "nest deeper than 64 levels"});

  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FormObject result;
    std::string err;
    EXPECT_FALSE(ReadForm(c.bytes.data(), c.bytes.size(), &result, &err));
    EXPECT_NE(std::string::npos, err.find(c.reason)) << err;
  }
}

}  // namespace
}  // namespace model
