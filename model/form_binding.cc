#include "model/form_binding.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "host/kernel/database.h"
#include "model/class_reader.h"
#include "model/text_encoding.h"

namespace model {

namespace {

// Longest chain of ancestors followed; more means the parent links loop.
constexpr int kMaxAncestors = 256;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char &c : out) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return out;
}

/// The published methods a class and its ancestors offer, by upper-case
/// name; a class's own method hides an ancestor's of the same name.
using Handlers = std::map<std::string, ea_t>;

/// The program's classes as the forms name them: found by name through an
/// index made once, their handlers read once per class, however many forms
/// and frames name them.
class FormClasses {
 public:
  explicit FormClasses(const ProgramModel &model) : model_(model) {}

  /// The record of the class named `name` (ignoring case), or BADADDR.
  ea_t Find(const std::string &name) {
    if (names_.empty() && !model_.classes.empty()) {
      for (const ClassEntry &c : model_.classes)
        names_.emplace_back(Upper(ClassName(c.record)), c.record);
      // The first of two classes of one name is the one found.
      std::stable_sort(names_.begin(), names_.end(),
                       [](const auto &a, const auto &b) { return a.first < b.first; });
    }
    const std::string key = Upper(name);
    auto it = std::lower_bound(
        names_.begin(), names_.end(), key,
        [](const auto &entry, const std::string &k) { return entry.first < k; });
    return it != names_.end() && it->first == key ? it->second : BADADDR;
  }

  const Handlers &HandlersOf(ea_t record) {
    auto [it, added] = handlers_.try_emplace(record);
    if (!added) return it->second;
    for (int depth = 0; record != BADADDR && depth < kMaxAncestors; ++depth) {
      for (const PublishedMethod &m : ReadPublishedMethods(record))
        it->second.emplace(Upper(m.name), m.address);
      const ClassEntry *c = model_.FindClass(record);
      record = c != nullptr ? c->parent : BADADDR;
    }
    return it->second;
  }

 private:
  const ProgramModel &model_;
  std::vector<std::pair<std::string, ea_t>> names_;
  std::map<ea_t, Handlers> handlers_;
};

bool IsEvent(const FormProperty &p) {
  return p.value.type == ValueType::kIdent && p.name.size() > 2 && p.name[0] == 'O' &&
         p.name[1] == 'n';
}

class Binder {
 public:
  Binder(FormClasses &classes, FormEntry *form) : classes_(classes), form_(form) {}

  void Component(const FormObject &o, int depth, const Handlers &handlers) {
    form_->components.push_back({o.name, o.class_name, depth});
    // An inline frame's components are bound to the frame's own methods.
    const Handlers *own = &handlers;
    if (depth > 0 && o.is_inline) {
      const ea_t frame = classes_.Find(o.class_name);
      if (frame != BADADDR) own = &classes_.HandlersOf(frame);
    }
    Properties(o.name, "", o.properties, *own);
    for (const FormObject &child : o.children) Component(child, depth + 1, *own);
  }

 private:
  void Properties(const std::string &component, const std::string &prefix,
                  const std::vector<FormProperty> &properties, const Handlers &handlers) {
    for (const FormProperty &p : properties) {
      if (IsEvent(p)) {
        FormEvent e{component, prefix + p.name, p.value.bytes, BADADDR};
        auto it = handlers.find(Upper(p.value.bytes));
        if (it != handlers.end()) e.address = it->second;
        form_->events.push_back(std::move(e));
      } else if (p.value.type == ValueType::kCollection) {
        // Collection items may have events of their own.
        for (size_t i = 0; i < p.value.items.size(); ++i)
          Properties(component, prefix + p.name + "[" + std::to_string(i) + "].",
                     p.value.items[i].properties, handlers);
      }
    }
  }

  FormClasses &classes_;
  FormEntry *form_;
};

void Bind(FormClasses &classes, FormEntry *form) {
  form->components.clear();
  form->events.clear();
  static const Handlers kNone;
  form->class_record = classes.Find(form->root.class_name);
  Binder(classes, form)
      .Component(
          form->root, 0,
          form->class_record != BADADDR ? classes.HandlersOf(form->class_record) : kNone);
}

}  // namespace

void BindForm(const ProgramModel &model, FormEntry *form) {
  FormClasses classes(model);
  Bind(classes, form);
}

void ReadForms(ProgramModel *model) {
  const kernel::Database &db = kernel::TheDatabase();
  ResourceList list = ReadResources(db.resource_directory(), db.resource_directory_size(),
                                    model->image_base);
  for (std::string &p : list.problems) model->problems.push_back(std::move(p));
  FormClasses classes(*model);
  for (Resource &r : list.resources) {
    if (r.type.named || r.type.id != kRcData || r.size < 4) continue;
    const uint8_t signature[4] = {get_byte(r.data), get_byte(r.data + 1),
                                  get_byte(r.data + 2), get_byte(r.data + 3)};
    if (!IsForm(signature, 4)) continue;
    FormEntry form;
    form.resource = std::move(r);
    const std::string what = "form " + OneLine(form.resource.name.Text()) + ": ";
    std::vector<uint8_t> bytes;
    if (!CopyBytes(form.resource.data, form.resource.size, &bytes)) {
      form.error = "its data lies outside the program";
    } else if (ReadForm(bytes.data(), bytes.size(), &form.root, &form.error)) {
      form.decoded = true;
      Bind(classes, &form);
      if (form.class_record == BADADDR)
        model->problems.push_back(what + "its class " + OneLine(form.root.class_name) +
                                  " is not among the program's classes");
    }
    if (!form.decoded) {
      form.error = OneLine(form.error);
      model->problems.push_back(what + form.error);
    }
    model->forms.push_back(std::move(form));
  }
}

}  // namespace model
