#include "samples/form_writer.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace samples {

namespace {

enum : uint8_t {
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

}  // namespace

FormWriter::FormWriter() { bytes_ = {'T', 'P', 'F', '0'}; }

void FormWriter::Little(uint64_t v, int n) {
  for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void FormWriter::Short(const std::string &text) {
  if (text.size() > 255) throw std::logic_error("a short string of over 255 bytes");
  bytes_.push_back(static_cast<uint8_t>(text.size()));
  bytes_.insert(bytes_.end(), text.begin(), text.end());
}

void FormWriter::Counted(const std::string &bytes) {
  Little(bytes.size(), 4);
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void FormWriter::BeginComponent(const std::string &class_name, const std::string &name,
                                uint8_t flags, int32_t position) {
  if (flags != 0) {
    bytes_.push_back(static_cast<uint8_t>(0xF0 | flags));
    if (flags & kChildPosition) Int(position);
  }
  Short(class_name);
  Short(name);
}

void FormWriter::Property(const std::string &name) { Short(name); }

void FormWriter::Int(int32_t v) {
  if (v >= INT8_MIN && v <= INT8_MAX) {
    Type(kInt8);
    Little(static_cast<uint8_t>(v), 1);
  } else if (v >= INT16_MIN && v <= INT16_MAX) {
    Type(kInt16);
    Little(static_cast<uint16_t>(v), 2);
  } else {
    Type(kInt32);
    Little(static_cast<uint32_t>(v), 4);
  }
}

void FormWriter::Int64(int64_t v) {
  Type(kInt64);
  Little(static_cast<uint64_t>(v), 8);
}

void FormWriter::Extended(double v) {
  // Sign, 15-bit exponent biased by 16383 and a 64-bit mantissa whose top
  // bit is the integer bit.
  Type(kExtended);
  uint64_t mantissa = 0;
  uint16_t exponent = 0;
  if (v != 0) {
    int e = 0;
    const double fraction = std::frexp(std::fabs(v), &e);  // [0.5, 1)
    mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
    exponent = static_cast<uint16_t>(e - 1 + 16383);
  }
  if (std::signbit(v)) exponent |= 0x8000;
  Little(mantissa, 8);
  Little(exponent, 2);
}

void FormWriter::Single(float v) {
  Type(kSingle);
  uint32_t bits;
  memcpy(&bits, &v, sizeof bits);
  Little(bits, 4);
}

void FormWriter::Double(double v) {
  Type(kDouble);
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  Little(bits, 8);
}

void FormWriter::Date(double v) {
  Type(kDate);
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  Little(bits, 8);
}

void FormWriter::Currency(int64_t ten_thousandths) {
  Type(kCurrency);
  Little(static_cast<uint64_t>(ten_thousandths), 8);
}

void FormWriter::String(const std::string &bytes) {
  Type(kString);
  Short(bytes);
}

void FormWriter::LString(const std::string &bytes) {
  Type(kLString);
  Counted(bytes);
}

void FormWriter::WString(const std::u16string &text) {
  Type(kWString);
  Little(text.size(), 4);
  for (char16_t u : text) Little(u, 2);
}

void FormWriter::Utf8String(const std::string &text) {
  Type(kUtf8String);
  Counted(text);
}

void FormWriter::Ident(const std::string &name) {
  Type(kIdent);
  Short(name);
}

void FormWriter::Bool(bool v) { Type(v ? kTrue : kFalse); }

void FormWriter::Nil() { Type(kNil); }

void FormWriter::Binary(const std::vector<uint8_t> &data) {
  Type(kBinary);
  Little(data.size(), 4);
  bytes_.insert(bytes_.end(), data.begin(), data.end());
}

void FormWriter::Set(const std::vector<std::string> &elements) {
  Type(kSet);
  for (const std::string &e : elements) Short(e);
  bytes_.push_back(0);
}

void FormWriter::BeginList() { Type(kList); }

void FormWriter::BeginCollection() { Type(kCollection); }

void FormWriter::BeginItem(std::optional<int32_t> index) {
  if (index) Int(*index);
  Type(kList);
}

}  // namespace samples
