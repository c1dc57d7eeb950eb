#include "samples/type_info.h"

#include <gtest/gtest.h>

#include <vector>

namespace samples {
namespace {

std::vector<uint8_t> Bytes(const Image &image, Addr from, size_t n) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < n; ++i) out.push_back(image.Read8(from + static_cast<Addr>(i)));
  return out;
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
}

struct TypeInfoTest : testing::Test {
  TypeInfoTest() { image.BeginSection("CODE", 0x60000020); }
  Image image;
};

TEST_F(TypeInfoTest, ColorModeEnumerationMatchesTheWorkedExampleByteForByte) {
  TypeSpec t;
  t.kind = kEnumeration;
  t.name = "TColorMode";
  t.cell = image.NewLabel();
  t.ord_type = 1;
  t.min_value = 0;
  t.max_value = 1;
  t.enum_names = {"cmRed", "cmGreen"};
  t.unit = "Modes";
  TypeInfoAddrs at = WriteTypeInfo(image, t);
  image.Resolve();
  const Addr s = at.cell;

  std::vector<uint8_t> want = Le32(s + 4);
  want.push_back(3);
  want.push_back(10);
  for (char c : std::string("TColorMode")) want.push_back(static_cast<uint8_t>(c));
  want.push_back(1);  // OrdType: unsigned byte
  for (uint8_t b : Le32(0)) want.push_back(b);
  for (uint8_t b : Le32(1)) want.push_back(b);
  for (uint8_t b : Le32(s)) want.push_back(b);  // its own base type
  for (const char *n : {"\x05"
                        "cmRed",
                        "\x07"
                        "cmGreen",
                        "\x05"
                        "Modes"})
    for (const char *p = n; *p; ++p) want.push_back(static_cast<uint8_t>(*p));
  ASSERT_EQ(49u, want.size());
  for (uint8_t b : {0x8D, 0x40, 0x00}) want.push_back(b);  // filler up to S+52

  EXPECT_EQ(want, Bytes(image, s, 52));
  EXPECT_EQ(s + 49, at.end);
  EXPECT_EQ(s + 52, image.Here());
}

TEST_F(TypeInfoTest, ClassTypePropertyRecordsArePackedBehindTheUnitName) {
  Label record = image.NewLabel();
  image.BindAt(record, 0x401000);
  Label integer = image.NewLabel();
  image.BindAt(integer, 0x401200);
  Label getter = image.NewLabel();
  image.BindAt(getter, 0x401300);
  TypeSpec t;
  t.kind = kClass;
  t.name = "TShape";
  t.cell = image.NewLabel();
  t.vmt = Ref::To(record, 76);
  t.inherited_props = 3;
  t.unit = "Shapes";
  PropSpec color;
  color.name = "Color";
  color.type_cell = integer;
  color.get = Ref::To(getter);
  color.set = Ref::Raw(0xFF000010);
  color.stored = Ref::Raw(1);
  color.name_index = 3;
  PropSpec width = color;
  width.name = "Width11";
  width.default_value = 0x40;
  width.name_index = 4;
  t.props = {color, width};
  TypeInfoAddrs at = WriteTypeInfo(image, t);
  image.Resolve();

  const Addr data = at.cell + 4 + 1 + 7;
  EXPECT_EQ(0x401000u + 76, image.Read32(data));  // ClassType: the table of slots
  EXPECT_EQ(0u, image.Read32(data + 4));          // no parent information
  EXPECT_EQ(5u, image.Read8(data + 8) | image.Read8(data + 9) << 8);  // PropCount
  EXPECT_EQ(6u, image.Read8(data + 10));                              // "Shapes"
  const Addr count = data + 11 + 6;
  EXPECT_EQ(2u, image.Read8(count));  // own properties
  ASSERT_EQ(2u, at.props.size());
  EXPECT_EQ(count + 2, at.props[0]);
  EXPECT_EQ(at.props[0] + 26 + 1 + 5, at.props[1]);  // no gap between records
  const Addr r = at.props[1];
  EXPECT_EQ(0x401200u, image.Read32(r));
  EXPECT_EQ(0x401300u, image.Read32(r + 4));
  EXPECT_EQ(0xFF000010u, image.Read32(r + 8));
  EXPECT_EQ(1u, image.Read32(r + 12));
  EXPECT_EQ(0x80000000u, image.Read32(r + 16));
  EXPECT_EQ(0x40u, image.Read32(r + 20));
  EXPECT_EQ(4u, image.Read8(r + 24) | image.Read8(r + 25) << 8);
  EXPECT_EQ(7u, image.Read8(r + 26));
  EXPECT_EQ(r + 27 + 7, at.end);
}

TEST_F(TypeInfoTest, FunctionTypeEndsWithResultReferenceConventionAndParameterTypes) {
  Label integer = image.NewLabel();
  image.BindAt(integer, 0x401200);
  Label str = image.NewLabel();
  image.BindAt(str, 0x401240);
  TypeSpec t;
  t.kind = kMethod;
  t.name = "TFormatFunc";
  t.cell = image.NewLabel();
  t.method_kind = 1;
  t.params = {{2, "Value", "Integer", integer}, {1, "Text", "string", str}};
  t.result_type = "string";
  t.result_cell = str;
  t.ref_tail = true;
  TypeInfoAddrs at = WriteTypeInfo(image, t);
  image.Resolve();

  Addr p = at.cell + 4 + 1 + 12;
  EXPECT_EQ(1u, image.Read8(p));      // function
  EXPECT_EQ(2u, image.Read8(p + 1));  // parameter count
  p += 2;
  EXPECT_EQ(2u, image.Read8(p));  // const Value: Integer
  EXPECT_EQ(5u, image.Read8(p + 1));
  p += 1 + 6 + 8;
  EXPECT_EQ(1u, image.Read8(p));  // var Text: string
  p += 1 + 5 + 7;
  EXPECT_EQ(6u, image.Read8(p));  // result type name
  p += 7;
  while (p % 4 != 0) EXPECT_EQ(0u, image.Read8(p++));  // zero padding inside the block
  EXPECT_EQ(0x401240u, image.Read32(p));               // result type reference
  EXPECT_EQ(0u, image.Read8(p + 4));                   // calling convention
  EXPECT_EQ(0x401200u, image.Read32(p + 5));
  EXPECT_EQ(0x401240u, image.Read32(p + 9));
  EXPECT_EQ(p + 13, at.end);
}

TEST_F(TypeInfoTest, InterfaceMemberListAndClosingWordFollowTheCountWord) {
  Label parent = image.NewLabel();
  image.BindAt(parent, 0x401200);
  TypeSpec t;
  t.kind = kInterface;
  t.name = "IEmpty";
  t.cell = image.NewLabel();
  t.intf_parent = parent;
  t.guid = Guid{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  t.unit = "Extras";
  t.intf_count = 0;
  t.intf_zero_tail = true;
  TypeInfoAddrs at = WriteTypeInfo(image, t);
  image.Resolve();
  const Addr p = at.cell + 4 + 1 + 7;
  EXPECT_EQ(0x401200u, image.Read32(p));
  EXPECT_EQ(1u, image.Read8(p + 4));  // flags
  EXPECT_EQ(1u, image.Read8(p + 5));  // first byte of the identifier
  EXPECT_EQ(6u, image.Read8(p + 21));
  const Addr words = p + 21 + 7;
  EXPECT_EQ(0u, image.Read32(words));  // first word and the count 0
  EXPECT_EQ(0u, image.Read8(words + 4) | image.Read8(words + 5) << 8);
  EXPECT_EQ(words + 6, at.end);
}

TEST_F(TypeInfoTest, BlocksMustStartOnABoundary) {
  image.Put8(0);
  TypeSpec t;
  t.name = "TOdd";
  t.cell = image.NewLabel();
  EXPECT_THROW(WriteTypeInfo(image, t), std::logic_error);
}

}  // namespace
}  // namespace samples
