// Binary form descriptions: the "TPF0" resources in which a program keeps
// each form and data module with its components and their published
// property values.
//
// After the signature comes one component: an optional prefix byte
// (0xF0 | flags: 1 inherited, 2 child position, 4 inline; with flag 2 an
// integer value follows), the class name and the component name as short
// strings, properties (a short string name and a value each) up to an empty
// name, then child components up to a 0 byte. A value is a type byte and its
// data; lists, sets and collections hold further values.
//
// Every length is checked against the bytes left, and nesting of components,
// lists and collections is bounded, so a crafted resource can neither read
// past its end nor drive the reader deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace model {

enum class ValueType : uint8_t {
  kNull = 0,
  kList = 1,
  kInt8 = 2,
  kInt16 = 3,
  kInt32 = 4,
  kExtended = 5,
  kString = 6,
  kIdent = 7,
  kFalse = 8,
  kTrue = 9,
  kBinary = 10,
  kSet = 11,
  kLString = 12,
  kNil = 13,
  kCollection = 14,
  kSingle = 15,
  kCurrency = 16,
  kDate = 17,
  kWString = 18,
  kInt64 = 19,
  kUtf8String = 20,
  kDouble = 21,
};

/// "List", "Int8", ... "Double": the value type's name.
const char *ValueTypeName(ValueType type);

struct FormProperty;

struct CollectionItem {
  std::optional<int64_t> index;
  std::vector<FormProperty> properties;
};

struct FormValue {
  ValueType type = ValueType::kNull;
  /// Int8 to Int64 as read; Currency in ten-thousandths.
  int64_t integer = 0;
  /// Single, Double, Extended and Date.
  double real = 0;
  /// String, LString and Ident: the bytes as stored; UTF8String: UTF-8;
  /// WString: the UTF-16 units, little-endian; Binary: the data; Extended:
  /// its ten bytes.
  std::string bytes;
  std::vector<FormValue> list;        // List: the values; Set: Idents, one per element
  std::vector<CollectionItem> items;  // Collection
};

struct FormProperty {
  std::string name;
  FormValue value;
};

struct FormObject {
  bool inherited = false;
  bool is_inline = false;
  std::optional<int64_t> position;  // the child position of the prefix
  std::string class_name;
  std::string name;
  std::vector<FormProperty> properties;
  std::vector<FormObject> children;
};

/// Deepest nesting of components, lists and collections read.
constexpr int kMaxFormDepth = 64;

/// Reads the form in the `size` bytes at `data`, which start with "TPF0".
/// False with one line of reason in *err (naming the offset) when the bytes
/// are not a whole form; bytes after the form's end are ignored.
bool ReadForm(const uint8_t *data, size_t size, FormObject *form, std::string *err);

/// True when the `size` bytes at `data` begin with the form signature.
bool IsForm(const uint8_t *data, size_t size);

}  // namespace model
