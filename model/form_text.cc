#include "model/form_text.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "model/text_encoding.h"

namespace model {

namespace {

// Characters of string text a line, as the designer breaks long strings.
constexpr size_t kLineLength = 64;
constexpr size_t kBinaryBytesPerLine = 32;

class TextWriter {
 public:
  explicit TextWriter(std::ostream &out) : out_(out) {}

  void Object(const FormObject &o, int indent) {
    Indent(indent);
    out_ << (o.inherited ? "inherited " : o.is_inline ? "inline " : "object ");
    if (!o.name.empty()) out_ << o.name << ": ";
    out_ << o.class_name;
    if (o.position) out_ << " [" << *o.position << "]";
    out_ << '\n';
    Properties(o.properties, indent + 1);
    for (const FormObject &child : o.children) Object(child, indent + 1);
    Indent(indent);
    out_ << "end\n";
  }

 private:
  void Indent(int indent) {
    for (int i = 0; i < indent; ++i) out_ << "  ";
  }

  void NewLine(int indent) {
    out_ << '\n';
    Indent(indent);
  }

  void Properties(const std::vector<FormProperty> &properties, int indent) {
    for (const FormProperty &p : properties) {
      Indent(indent);
      out_ << p.name << " = ";
      Value(p.value, indent);
      out_ << '\n';
    }
  }

  void Value(const FormValue &v, int indent) {
    switch (v.type) {
      case ValueType::kNull:
        out_ << "Null";
        break;
      case ValueType::kList:
        out_ << '(';
        for (const FormValue &item : v.list) {
          NewLine(indent + 1);
          Value(item, indent + 1);
        }
        out_ << ')';
        break;
      case ValueType::kInt8:
      case ValueType::kInt16:
      case ValueType::kInt32:
      case ValueType::kInt64:
        out_ << v.integer;
        break;
      case ValueType::kExtended:
      case ValueType::kDouble:
        out_ << Real(v.real);
        break;
      case ValueType::kSingle:
        out_ << Real(static_cast<float>(v.real)) << 's';
        break;
      case ValueType::kDate:
        out_ << Real(v.real) << 'd';
        break;
      case ValueType::kCurrency:
        out_ << Currency(v.integer) << 'c';
        break;
      case ValueType::kString:
      case ValueType::kLString: {
        std::u32string chars;
        for (char c : v.bytes) chars.push_back(static_cast<uint8_t>(c));
        String(chars, indent);
        break;
      }
      case ValueType::kWString:
        String(DecodeUtf16Le(reinterpret_cast<const uint8_t *>(v.bytes.data()),
                             v.bytes.size() / 2),
               indent);
        break;
      case ValueType::kUtf8String:
        String(DecodeUtf8(v.bytes), indent);
        break;
      case ValueType::kIdent:
        out_ << v.bytes;
        break;
      case ValueType::kFalse:
        out_ << "False";
        break;
      case ValueType::kTrue:
        out_ << "True";
        break;
      case ValueType::kNil:
        out_ << "nil";
        break;
      case ValueType::kBinary:
        Binary(v.bytes, indent);
        break;
      case ValueType::kSet:
        out_ << '[';
        for (size_t i = 0; i < v.list.size(); ++i)
          out_ << (i ? ", " : "") << v.list[i].bytes;
        out_ << ']';
        break;
      case ValueType::kCollection:
        out_ << '<';
        for (const CollectionItem &item : v.items) {
          NewLine(indent + 1);
          out_ << "item";
          if (item.index) out_ << " [" << *item.index << "]";
          out_ << '\n';
          Properties(item.properties, indent + 2);
          Indent(indent + 1);
          out_ << "end";
        }
        out_ << '>';
        break;
    }
  }

  /// Printable ASCII in quotes, anything else (the quote too) as #code; a
  /// string longer than a line starts on the next line and breaks with " +".
  void String(const std::u32string &s, int indent) {
    if (s.empty()) {
      out_ << "''";
      return;
    }
    const int inner = indent + 1;
    if (s.size() > kLineLength) NewLine(inner);
    size_t i = 0;
    size_t line_start = 0;
    auto plain = [](char32_t c) { return c >= ' ' && c != '\'' && c <= '~'; };
    while (i < s.size()) {
      if (plain(s[i])) {
        out_ << '\'';
        while (i < s.size() && plain(s[i]) && i - line_start < kLineLength)
          out_ << static_cast<char>(s[i++]);
        out_ << '\'';
      } else {
        out_ << '#' << static_cast<uint32_t>(s[i++]);
      }
      if (i - line_start >= kLineLength && i < s.size()) {
        out_ << " +";
        NewLine(inner);
        line_start = i;
      }
    }
  }

  void Binary(const std::string &bytes, int indent) {
    static const char kHex[] = "0123456789ABCDEF";
    out_ << '{';
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i % kBinaryBytesPerLine == 0) NewLine(indent + 1);
      const uint8_t b = static_cast<uint8_t>(bytes[i]);
      out_ << kHex[b >> 4] << kHex[b & 15];
    }
    out_ << '}';
  }

  /// The shortest text that reads back as the same number.
  template <typename Float>
  static std::string Real(Float v) {
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
  }

  /// Ten-thousandths as a decimal number without trailing zeros.
  static std::string Currency(int64_t v) {
    const bool negative = v < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : v;
    std::string text = std::to_string(magnitude / 10000);
    uint64_t fraction = magnitude % 10000;
    if (fraction != 0) {
      char digits[8];
      snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(fraction));
      std::string f = digits;
      while (f.back() == '0') f.pop_back();
      text += "." + f;
    }
    return negative ? "-" + text : text;
  }

  std::ostream &out_;
};

}  // namespace

void WriteFormText(const FormObject &form, std::ostream &out) {
  TextWriter(out).Object(form, 0);
}

}  // namespace model
