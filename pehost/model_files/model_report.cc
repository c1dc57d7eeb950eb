#include "pehost/model_files/model_report.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <string_view>
#include <type_traits>

#include "detector/core/recognise.h"
#include "model/class_reader.h"
#include "pehost/json_writer/json_writer.h"

namespace model_files {

using namespace model;

namespace {

// Classes deeper than this in the tree are not indented further, so that a
// crafted parent chain cannot make the report grow with its square.
constexpr int kMaxIndent = 24;

std::string HexDigits(uint64_t v, int width) {
  std::string s;
  json_writer::AppendHex(v, width, &s);
  return s;
}

std::string Hex(ea_t ea) { return HexDigits(ea, 8); }

std::string SmallHex(int64_t v) { return HexDigits(static_cast<uint64_t>(v), 1); }

/// Text for a table cell: the pipe would end the cell.
std::string Cell(const std::string &text) {
  if (text.find('|') == std::string::npos) return text;  // nearly every name
  std::string out;
  for (char c : text) {
    if (c == '|') out += "\\";
    out += c;
  }
  return out;
}

std::string CodeText(ea_t ea) {
  const std::string name = DatabaseName(ea);
  return name.empty() ? Hex(ea) : name + " (" + Hex(ea) + ")";
}

std::string AccessorText(const Accessor &a) {
  switch (a.kind) {
    case Accessor::kNone:
      return "";
    case Accessor::kField:
      return "field " + SmallHex(a.value);
    case Accessor::kStatic:
      return CodeText(static_cast<ea_t>(a.value));
    case Accessor::kVirtual:
      return "virtual slot " + std::to_string(a.value);
    case Accessor::kConstant:
      return a.value != 0 ? "True" : "False";
  }
  return "";
}

/// The report's text, put together with << as on a stream (numbers in
/// decimal, a character as itself) in the writers' own buffer.
class ReportText {
 public:
  explicit ReportText(std::ostream &out) : buffer_(&out) {}

  ReportText &operator<<(std::string_view text) {
    buffer_.append(text);
    return *this;
  }
  ReportText &operator<<(char c) {
    buffer_.push_back(c);
    return *this;
  }
  template <typename T,
            std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char> &&
                                 !std::is_same_v<T, signed char> &&
                                 !std::is_same_v<T, unsigned char>,
                             int> = 0>
  ReportText &operator<<(T value) {
    if constexpr (std::is_signed_v<T>)
      json_writer::AppendInt(value, &buffer_);
    else
      json_writer::AppendUnsigned(value, &buffer_);
    return *this;
  }
  /// True while the stream is good.
  bool Flush() { return buffer_.Flush(); }

 private:
  json_writer::TextBuffer buffer_;
};

class Report {
 public:
  Report(const ProgramModel &model, const ProgramTypes &types, std::ostream &out)
      : model_(model), types_(types), out_(out) {
    names_.reserve(model.classes.size());
    for (const ClassTypes &c : types.classes) names_.push_back(c.details.name);
    if (has_newer_type_data(model.header_size))
      for (const MethodType &m : types.methods) methods_[m.class_record].push_back(&m);
  }

  void Write() {
    out_ << "# Class model of " << (model_.file.empty() ? "the program" : model_.file)
         << "\n\n";
    Summary();
    Tree();
    Units();
    Forms();
    Problems();
  }
  /// True while the stream is good.
  bool Flush() { return out_.Flush(); }

 private:
  size_t IndexOf(ea_t record) const {
    auto it = std::lower_bound(model_.classes.begin(), model_.classes.end(), record,
                               [](const ClassEntry &c, ea_t r) { return c.record < r; });
    return static_cast<size_t>(it - model_.classes.begin());
  }

  void Summary() {
    size_t without_unit = 0;
    for (const ClassEntry &c : model_.classes) without_unit += c.unit == 0;
    std::map<int, size_t> kinds;
    for (const TypeEntry &t : model_.types) ++kinds[t.kind];
    size_t unreadable = 0;
    for (const FormEntry &f : model_.forms) unreadable += !f.decoded;

    out_ << "## Program\n\n";
    out_ << "| | |\n|---|---|\n";
    out_ << "| Class record header | " << model_.header_size << " bytes |\n";
    out_ << "| Image | " << Hex(model_.lowest) << " to " << Hex(model_.highest)
         << " (image base " << Hex(model_.image_base) << ") |\n";
    out_ << "| Classes | " << model_.classes.size() << " in " << model_.units.size() - 1
         << " units";
    if (without_unit != 0) out_ << ", " << without_unit << " without type information";
    out_ << " |\n";
    out_ << "| Type information blocks | " << model_.types.size();
    const char *separator = ": ";
    for (const auto &[kind, count] : kinds) {
      const char *name = type_kind_name(kind);
      out_ << separator << count << " " << (name != nullptr ? name : "other");
      separator = ", ";
    }
    out_ << " |\n";
    out_ << "| Forms | " << model_.forms.size();
    if (unreadable != 0) out_ << " (" << unreadable << " not readable)";
    out_ << " |\n\n";
  }

  /// Each class under its parent, children by name; classes whose parent
  /// is not one of the program's classes stand at the top.
  void Tree() {
    const size_t n = model_.classes.size();
    std::vector<std::vector<uint32_t>> children(n);
    std::vector<uint32_t> roots;
    for (size_t i = 0; i < n; ++i) {
      const ea_t parent = model_.classes[i].parent;
      if (parent == BADADDR) {
        roots.push_back(static_cast<uint32_t>(i));
      } else {
        children[IndexOf(parent)].push_back(static_cast<uint32_t>(i));
      }
    }
    auto by_name = [this](uint32_t a, uint32_t b) { return names_[a] < names_[b]; };
    for (auto &list : children) std::sort(list.begin(), list.end(), by_name);
    std::sort(roots.begin(), roots.end(), by_name);

    out_ << "## Class tree\n\n";
    out_ << "Each class with its unit, instance size and virtual method table.\n\n```\n";
    std::vector<bool> shown(n, false);
    std::vector<std::pair<uint32_t, int>> stack;
    auto walk = [&](uint32_t root) {
      stack.push_back({root, 0});
      while (!stack.empty()) {
        const auto [i, depth] = stack.back();
        stack.pop_back();
        if (shown[i]) continue;
        shown[i] = true;
        TreeLine(i, depth);
        for (auto it = children[i].rbegin(); it != children[i].rend(); ++it)
          stack.push_back({*it, depth + 1});
      }
    };
    for (uint32_t root : roots) walk(root);
    // Classes whose parent links run in a circle have no root above them.
    for (size_t i = 0; i < n; ++i)
      if (!shown[i]) walk(static_cast<uint32_t>(i));
    out_ << "```\n\n";
  }

  void TreeLine(uint32_t i, int depth) {
    const ClassEntry &c = model_.classes[i];
    out_ << std::string(2 * std::min(depth, kMaxIndent), ' ');
    if (depth > kMaxIndent) out_ << "(level " << depth << ") ";
    out_ << (names_[i].empty() ? "?" : names_[i]) << "  ";
    if (c.unit != 0) out_ << model_.units[c.unit] << ", ";
    out_ << get_long(class_field_at(c.record, FIELD_INSTANCE_SIZE)) << " bytes, "
         << Hex(class_vmt(c.record)) << "\n";
  }

  void Units() {
    // Units by name, the classes without a known unit last.
    std::vector<uint32_t> order(model_.units.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin() + 1, order.end(), [this](uint32_t a, uint32_t b) {
      return model_.units[a] < model_.units[b];
    });
    std::rotate(order.begin(), order.begin() + 1, order.end());
    std::vector<std::vector<uint32_t>> members(model_.units.size());
    for (size_t i = 0; i < model_.classes.size(); ++i)
      members[model_.classes[i].unit].push_back(static_cast<uint32_t>(i));

    out_ << "## Classes by unit\n\n";
    for (uint32_t unit : order) {
      if (members[unit].empty()) continue;
      out_ << "### "
           << (unit == 0 ? "Classes without type information" : model_.units[unit])
           << "\n\n";
      std::sort(members[unit].begin(), members[unit].end(),
                [this](uint32_t a, uint32_t b) { return names_[a] < names_[b]; });
      std::vector<std::string> plain;
      for (uint32_t i : members[unit]) {
        const ClassDetails &c = types_.classes[i].details;
        if (c.published_methods.empty() && c.published_fields.empty() &&
            c.properties.empty() && !Typed(i)) {
          plain.push_back(c.name);
          continue;
        }
        ClassSection(c);
        TypedSection(i);
      }
      if (!plain.empty()) {
        out_ << (plain.size() == members[unit].size() ? "Classes: " : "Other classes: ");
        for (size_t k = 0; k < plain.size(); ++k) out_ << (k ? ", " : "") << plain[k];
        out_ << ".\n\n";
      }
    }
  }

  void ClassSection(const ClassDetails &c) {
    out_ << "#### " << c.name;
    if (!c.parent_name.empty()) out_ << " (" << c.parent_name << ")";
    out_ << "\n\n";
    if (!c.published_methods.empty()) {
      out_ << "Published methods: ";
      for (size_t k = 0; k < c.published_methods.size(); ++k)
        out_ << (k ? ", " : "") << c.published_methods[k].name << " "
             << Hex(c.published_methods[k].address);
      out_ << ".\n\n";
    }
    if (!c.published_fields.empty()) {
      out_ << "Published fields: ";
      for (size_t k = 0; k < c.published_fields.size(); ++k) {
        const PublishedField &f = c.published_fields[k];
        out_ << (k ? ", " : "") << f.name;
        if (!f.class_name.empty()) out_ << ": " << f.class_name;
      }
      out_ << ".\n\n";
    }
    if (!c.properties.empty()) {
      out_ << "| Property | Type | Read | Write | Default |\n|---|---|---|---|---|\n";
      for (const Property &p : c.properties) {
        out_ << "| " << Cell(p.name) << " | " << Cell(p.type) << " | "
             << Cell(AccessorText(p.read)) << " | " << Cell(AccessorText(p.write))
             << " | " << (p.has_default ? std::to_string(p.default_value) : "") << " |\n";
      }
      out_ << "\n";
    }
  }

  /// Whether the class has fields or methods to show as declarations.
  bool Typed(size_t i) const {
    if (!has_newer_type_data(model_.header_size)) return false;
    return !types_.classes[i].fields.empty() ||
           methods_.count(model_.classes[i].record) != 0;
  }

  /// The class as the analyst reads Pascal: its fields with types and
  /// offsets, and its methods' declarations with their addresses.
  void TypedSection(size_t i) {
    if (!Typed(i)) return;
    const ClassTypes &t = types_.classes[i];
    if (!t.fields.empty()) {
      out_ << "| Offset | Field | Type |\n|---|---|---|\n";
      for (const FieldType &f : t.fields)
        out_ << "| " << SmallHex(f.offset) << " | " << Cell(f.name) << " | "
             << Cell(f.type.empty() ? "?" : f.type) << " |\n";
      out_ << "\n";
    }
    auto m = methods_.find(model_.classes[i].record);
    if (m == methods_.end()) return;
    out_ << "```\n";
    for (const MethodType *method : m->second)
      out_ << method->pascal.view() << "  // " << Hex(method->address) << "\n";
    out_ << "```\n\n";
  }

  void Forms() {
    if (model_.forms.empty()) return;
    out_ << "## Forms\n\n";
    for (const FormEntry &f : model_.forms) {
      out_ << "### " << f.resource.name.Text();
      if (f.decoded) out_ << ": " << f.root.name << " (" << f.root.class_name << ")";
      out_ << "\n\n";
      if (!f.decoded) {
        out_ << "Not readable: " << f.error << ".\n\n";
        continue;
      }
      if (f.class_record == BADADDR)
        out_ << "The class " << f.root.class_name
             << " is not among the program's classes; no event is bound.\n\n";
      out_ << "```\n";
      for (const FormComponent &c : f.components) {
        out_ << std::string(2 * std::min(c.depth, kMaxIndent), ' ');
        out_ << (c.name.empty() ? "(unnamed)" : c.name) << ": " << c.class_name << "\n";
      }
      out_ << "```\n\n";
      if (f.events.empty()) continue;
      out_ << "| Component | Event | Handler | Address |\n|---|---|---|---|\n";
      for (const FormEvent &e : f.events) {
        out_ << "| " << Cell(e.component) << " | " << Cell(e.event) << " | "
             << Cell(e.handler) << " | "
             << (e.address == BADADDR ? "not a published method" : Hex(e.address))
             << " |\n";
      }
      out_ << "\n";
    }
  }

  void Problems() {
    if (model_.problems.empty()) return;
    out_ << "## Problems\n\n";
    for (const std::string &p : model_.problems) out_ << "- " << p << "\n";
    out_ << "\n";
  }

  const ProgramModel &model_;
  const ProgramTypes &types_;
  ReportText out_;
  std::map<ea_t, std::vector<const MethodType *>> methods_;
  std::vector<std::string> names_;
};

}  // namespace

bool WriteModelReport(const ProgramModel &model, const ProgramTypes &types,
                      std::ostream &out) {
  Report report(model, types, out);
  report.Write();
  return report.Flush();
}

}  // namespace model_files
