#include "model/form_reader.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace model {

namespace {

constexpr uint8_t kPrefixMask = 0xF0;
constexpr uint8_t kFlagInherited = 1;
constexpr uint8_t kFlagChildPosition = 2;
constexpr uint8_t kFlagInline = 4;
constexpr uint8_t kLastValueType = static_cast<uint8_t>(ValueType::kDouble);

const char *const kValueTypeNames[] = {
    "Null",    "List",  "Int8",       "Int16",  "Int32",    "Extended",
    "String",  "Ident", "False",      "True",   "Binary",   "Set",
    "LString", "Nil",   "Collection", "Single", "Currency", "Date",
    "WString", "Int64", "UTF8String", "Double",
};

/// An 80-bit extended float: sign, 15-bit exponent, 64-bit mantissa with an
/// explicit integer bit.
double ExtendedToDouble(const uint8_t *b) {
  uint64_t mantissa = 0;
  for (int i = 7; i >= 0; --i) mantissa = mantissa << 8 | b[i];
  const int exponent = (b[8] | b[9] << 8) & 0x7FFF;
  const bool negative = (b[9] & 0x80) != 0;
  double v;
  if (exponent == 0x7FFF) {
    v = (mantissa << 1) == 0 ? INFINITY : NAN;
  } else {
    v = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
  }
  return negative ? -v : v;
}

class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool Form(FormObject *form) {
    pos_ = 4;  // the signature, checked by the caller
    return Object(form, 1);
  }

  const std::string &error() const { return error_; }

 private:
  bool Fail(const char *format, ...) __attribute__((format(printf, 2, 3))) {
    char text[256];
    va_list va;
    va_start(va, format);
    vsnprintf(text, sizeof text, format, va);
    va_end(va);
    char where[32];
    snprintf(where, sizeof where, "offset 0x%zX: ", at_);
    error_ = std::string(where) + text;
    return false;
  }

  bool Need(size_t n, const char *what) {
    if (n <= size_ - pos_) return true;
    at_ = pos_;
    return Fail("%s runs past the end of the form (%zu bytes needed, %zu left)", what, n,
                size_ - pos_);
  }

  bool Byte(uint8_t *v, const char *what) {
    if (!Need(1, what)) return false;
    *v = data_[pos_++];
    return true;
  }

  uint64_t Little(size_t n) {
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = v << 8 | data_[pos_ + i];
    pos_ += n;
    return v;
  }

  bool Bytes(size_t n, std::string *out, const char *what) {
    if (!Need(n, what)) return false;
    out->assign(reinterpret_cast<const char *>(data_ + pos_), n);
    pos_ += n;
    return true;
  }

  bool ShortString(std::string *out, const char *what) {
    uint8_t n;
    return Byte(&n, what) && Bytes(n, out, what);
  }

  bool Deeper(int depth) {
    if (depth <= kMaxFormDepth) return true;
    at_ = pos_;
    return Fail("components, lists and collections nest deeper than %d levels",
                kMaxFormDepth);
  }

  bool Object(FormObject *object, int depth) {
    if (!Deeper(depth)) return false;
    at_ = pos_;
    if (!Need(1, "a component")) return false;
    if ((data_[pos_] & kPrefixMask) == kPrefixMask) {
      const uint8_t flags = data_[pos_++] & 0x0F;
      object->inherited = (flags & kFlagInherited) != 0;
      object->is_inline = (flags & kFlagInline) != 0;
      if (flags & kFlagChildPosition) {
        FormValue position;
        at_ = pos_;
        if (!Value(&position, depth)) return false;
        if (position.type != ValueType::kInt8 && position.type != ValueType::kInt16 &&
            position.type != ValueType::kInt32)
          return Fail("the child position is a %s, not an integer",
                      ValueTypeName(position.type));
        object->position = position.integer;
      }
    }
    if (!ShortString(&object->class_name, "the class name")) return false;
    if (object->class_name.empty()) return Fail("a component without a class name");
    if (!ShortString(&object->name, "the component name")) return false;
    if (!Properties(&object->properties, depth)) return false;
    for (;;) {
      if (!Need(1, "the list of child components")) return false;
      if (data_[pos_] == 0) {
        ++pos_;
        return true;
      }
      object->children.emplace_back();
      if (!Object(&object->children.back(), depth + 1)) return false;
    }
  }

  bool Properties(std::vector<FormProperty> *properties, int depth) {
    for (;;) {
      at_ = pos_;
      std::string name;
      if (!ShortString(&name, "a property name")) return false;
      if (name.empty()) return true;
      properties->push_back({std::move(name), {}});
      at_ = pos_;
      if (!Value(&properties->back().value, depth)) return false;
      if (properties->back().value.type == ValueType::kNull)
        return Fail("the property %s has no value (Null)",
                    properties->back().name.c_str());
    }
  }

  bool Value(FormValue *v, int depth) {
    at_ = pos_;
    uint8_t type;
    if (!Byte(&type, "a value")) return false;
    if (type > kLastValueType) return Fail("unknown value type %u", type);
    v->type = static_cast<ValueType>(type);
    switch (v->type) {
      case ValueType::kNull:
      case ValueType::kFalse:
      case ValueType::kTrue:
      case ValueType::kNil:
        return true;
      case ValueType::kList:
        return List(v, depth + 1);
      case ValueType::kInt8:
        if (!Need(1, "an Int8")) return false;
        v->integer = static_cast<int8_t>(Little(1));
        return true;
      case ValueType::kInt16:
        if (!Need(2, "an Int16")) return false;
        v->integer = static_cast<int16_t>(Little(2));
        return true;
      case ValueType::kInt32:
        if (!Need(4, "an Int32")) return false;
        v->integer = static_cast<int32_t>(Little(4));
        return true;
      case ValueType::kInt64:
        if (!Need(8, "an Int64")) return false;
        v->integer = static_cast<int64_t>(Little(8));
        return true;
      case ValueType::kExtended:
        if (!Bytes(10, &v->bytes, "an Extended")) return false;
        v->real = ExtendedToDouble(reinterpret_cast<const uint8_t *>(v->bytes.data()));
        return true;
      case ValueType::kSingle: {
        if (!Need(4, "a Single")) return false;
        const uint32_t bits = static_cast<uint32_t>(Little(4));
        float f;
        memcpy(&f, &bits, sizeof f);
        v->real = f;
        return true;
      }
      case ValueType::kDouble:
      case ValueType::kDate: {
        if (!Need(8, v->type == ValueType::kDate ? "a Date" : "a Double")) return false;
        const uint64_t bits = Little(8);
        memcpy(&v->real, &bits, sizeof v->real);
        return true;
      }
      case ValueType::kCurrency:
        if (!Need(8, "a Currency")) return false;
        v->integer = static_cast<int64_t>(Little(8));
        return true;
      case ValueType::kString:
      case ValueType::kIdent:
        return ShortString(&v->bytes,
                           v->type == ValueType::kIdent ? "an Ident" : "a String");
      case ValueType::kLString:
      case ValueType::kUtf8String:
      case ValueType::kBinary: {
        const char *what = v->type == ValueType::kBinary    ? "a Binary"
                           : v->type == ValueType::kLString ? "an LString"
                                                            : "a UTF8String";
        if (!Need(4, what)) return false;
        return Bytes(static_cast<uint32_t>(Little(4)), &v->bytes, what);
      }
      case ValueType::kWString: {
        if (!Need(4, "a WString")) return false;
        const uint64_t units = Little(4);
        return Bytes(2 * units, &v->bytes, "a WString");
      }
      case ValueType::kSet:
        for (;;) {
          FormValue element;
          element.type = ValueType::kIdent;
          if (!ShortString(&element.bytes, "a set element")) return false;
          if (element.bytes.empty()) return true;
          v->list.push_back(std::move(element));
        }
      case ValueType::kCollection:
        return Collection(v, depth + 1);
    }
    return Fail("unknown value type %u", type);
  }

  bool List(FormValue *v, int depth) {
    if (!Deeper(depth)) return false;
    for (;;) {
      if (!Need(1, "a list")) return false;
      if (data_[pos_] == 0) {
        ++pos_;
        return true;
      }
      v->list.emplace_back();
      if (!Value(&v->list.back(), depth)) return false;
    }
  }

  bool Collection(FormValue *v, int depth) {
    if (!Deeper(depth)) return false;
    for (;;) {
      at_ = pos_;
      if (!Need(1, "a collection")) return false;
      const uint8_t next = data_[pos_];
      if (next == 0) {
        ++pos_;
        return true;
      }
      CollectionItem item;
      if (next == static_cast<uint8_t>(ValueType::kInt8) ||
          next == static_cast<uint8_t>(ValueType::kInt16) ||
          next == static_cast<uint8_t>(ValueType::kInt32)) {
        FormValue index;
        if (!Value(&index, depth)) return false;
        item.index = index.integer;
      }
      at_ = pos_;
      uint8_t list;
      if (!Byte(&list, "a collection item")) return false;
      if (list != static_cast<uint8_t>(ValueType::kList))
        return Fail("a collection item opens with value type %u, not List", list);
      if (!Properties(&item.properties, depth)) return false;
      v->items.push_back(std::move(item));
    }
  }

  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  size_t at_ = 0;  // where the part being read began, for the message
  std::string error_;
};

}  // namespace

const char *ValueTypeName(ValueType type) {
  const auto i = static_cast<uint8_t>(type);
  return i <= kLastValueType ? kValueTypeNames[i] : "unknown";
}

bool IsForm(const uint8_t *data, size_t size) {
  return size >= 4 && memcmp(data, "TPF0", 4) == 0;
}

bool ReadForm(const uint8_t *data, size_t size, FormObject *form, std::string *err) {
  *form = FormObject{};
  if (!IsForm(data, size)) {
    *err = "no TPF0 signature";
    return false;
  }
  Reader reader(data, size);
  if (reader.Form(form)) return true;
  *err = reader.error();
  *form = FormObject{};
  return false;
}

}  // namespace model
