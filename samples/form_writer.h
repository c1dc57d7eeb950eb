// Binary form descriptions ("TPF0") as the form designer stores them in a
// program's resources, written value by value.
//
//   FormWriter f;
//   f.BeginComponent("TForm1", "Form1");
//   f.Property("Caption");  f.String("Main window");
//   f.EndProperties();
//   ...children...
//   f.EndComponent();
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace samples {

class FormWriter {
 public:
  /// Component prefix flags.
  static constexpr uint8_t kInherited = 1;
  static constexpr uint8_t kChildPosition = 2;
  static constexpr uint8_t kInline = 4;

  FormWriter();

  /// A component: its prefix when `flags` are not 0 (with kChildPosition,
  /// `position` follows), the class name and the component name. Its
  /// properties come next, then EndProperties, its children, EndComponent.
  void BeginComponent(const std::string &class_name, const std::string &name,
                      uint8_t flags = 0, int32_t position = 0);
  void EndProperties() { bytes_.push_back(0); }
  void EndComponent() { bytes_.push_back(0); }

  /// The next property's name; one value follows.
  void Property(const std::string &name);

  /// The smallest of Int8, Int16 and Int32 that holds `v`.
  void Int(int32_t v);
  void Int64(int64_t v);
  void Extended(double v);
  void Single(float v);
  void Double(double v);
  void Date(double v);
  /// `ten_thousandths` / 10000.
  void Currency(int64_t ten_thousandths);
  void String(const std::string &bytes);
  void LString(const std::string &bytes);
  void WString(const std::u16string &text);
  void Utf8String(const std::string &text);
  void Ident(const std::string &name);
  void Bool(bool v);
  void Nil();
  void Binary(const std::vector<uint8_t> &data);
  void Set(const std::vector<std::string> &elements);
  void BeginList();
  void EndList() { bytes_.push_back(0); }
  void BeginCollection();
  /// An item, with its index when given; its properties follow up to EndItem.
  void BeginItem(std::optional<int32_t> index = std::nullopt);
  void EndItem() { bytes_.push_back(0); }
  void EndCollection() { bytes_.push_back(0); }

  const std::vector<uint8_t> &bytes() const { return bytes_; }

 private:
  void Type(uint8_t type) { bytes_.push_back(type); }
  void Little(uint64_t v, int n);
  void Short(const std::string &text);
  void Counted(const std::string &bytes);

  std::vector<uint8_t> bytes_;
};

}  // namespace samples
