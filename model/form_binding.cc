#include "model/form_binding.h"

#include <cctype>
#include <map>

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

Handlers HandlersOf(const ProgramModel &model, ea_t record) {
  Handlers handlers;
  for (int depth = 0; record != BADADDR && depth < kMaxAncestors; ++depth) {
    for (const PublishedMethod &m : ReadPublishedMethods(record))
      handlers.emplace(Upper(m.name), m.address);
    const ClassEntry *c = model.FindClass(record);
    record = c != nullptr ? c->parent : BADADDR;
  }
  return handlers;
}

bool IsEvent(const FormProperty &p) {
  return p.value.type == ValueType::kIdent && p.name.size() > 2 && p.name[0] == 'O' &&
         p.name[1] == 'n';
}

class Binder {
 public:
  Binder(const ProgramModel &model, FormEntry *form) : model_(model), form_(form) {}

  void Component(const FormObject &o, int depth, const Handlers &handlers) {
    form_->components.push_back({o.name, o.class_name, depth});
    // An inline frame's components are bound to the frame's own methods.
    const Handlers *own = &handlers;
    Handlers frame;
    if (depth > 0 && o.is_inline) {
      if (const ClassEntry *c = model_.FindClassNamed(o.class_name)) {
        frame = HandlersOf(model_, c->record);
        own = &frame;
      }
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

  const ProgramModel &model_;
  FormEntry *form_;
};

}  // namespace

void BindForm(const ProgramModel &model, FormEntry *form) {
  form->components.clear();
  form->events.clear();
  Handlers handlers;
  if (const ClassEntry *c = model.FindClassNamed(form->root.class_name)) {
    form->class_record = c->record;
    handlers = HandlersOf(model, c->record);
  }
  Binder(model, form).Component(form->root, 0, handlers);
}

void ReadForms(const loader::ImageFacts &facts, ProgramModel *model) {
  ResourceList list =
      ReadResources(facts.resources, facts.resources_size, facts.image_base);
  for (std::string &p : list.problems) model->problems.push_back(std::move(p));
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
      BindForm(*model, &form);
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
