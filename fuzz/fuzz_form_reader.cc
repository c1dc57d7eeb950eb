// The resource and form readers, and the class model behind them, over
// arbitrary bytes. An input that begins with "TPF0" is one form; any other
// is a resource section: its first four bytes give the section's address
// relative to the image base (0x400000), the rest are its bytes, with the
// resource directory at their start.
//
// A form is read whole or refused with a reason naming the offset; a read
// form's text opens with its component and closes with "end". A section
// gives resources whose data lies in the program, one problem line for each
// part that cannot be read, and a model whose JSON is valid and whose
// report and form texts are written. The program's types are built from
// the same model: every structure's members lie back to back and fill its
// size exactly, and every stack parameter lies inside the stack its
// prototype removes.
#include <cstring>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/json_form_count.h"
#include "model/form_binding.h"
#include "model/form_reader.h"
#include "model/form_text.h"
#include "model/program_model.h"
#include "model/program_types.h"
#include "pehost/c_header/c_header.h"
#include "pehost/model_files/model_json.h"
#include "pehost/model_files/model_report.h"

namespace {

constexpr ea_t kImageBase = 0x00400000;
// Sections lie within the first 256 MB above the image base.
constexpr uint32_t kRvaMask = 0x0FFFF000;

/// Text written through an ostream into a string that keeps its memory from
/// one input to the next. A directory whose every entry gives a problem line
/// with a long name makes megabytes of JSON; written into a fresh string
/// stream each time, most of the run went to mapping, clearing and freeing
/// those pages.
class ReusedText : public std::streambuf {
 public:
  std::ostream &Begin() {
    text_.clear();
    out_.clear();
    return out_;
  }
  const std::string &text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    text_.push_back(traits_type::to_char_type(c));
    return c;
  }
  std::streamsize xsputn(const char *s, std::streamsize n) override {
    text_.append(s, static_cast<size_t>(n));
    return n;
  }

 private:
  std::string text_;
  std::ostream out_{this};
};

ReusedText &JsonText() {
  static ReusedText text;
  return text;
}
ReusedText &ReportText() {
  static ReusedText text;
  return text;
}
ReusedText &HeaderText() {
  static ReusedText text;
  return text;
}

void CheckForm(const uint8_t *data, size_t size) {
  model::FormObject form;
  std::string err;
  if (!model::ReadForm(data, size, &form, &err)) {
    FUZZ_CHECK(!err.empty(), "a form was refused without a reason");
    FUZZ_CHECK(size < 4 || err.rfind("offset 0x", 0) == 0,
               "the reason names no offset: %s", err.c_str());
    FUZZ_CHECK(form.class_name.empty() && form.children.empty(),
               "a refused form kept what it had read");
    return;
  }
  FUZZ_CHECK(!form.class_name.empty(), "a form without a class name was read");
  std::ostringstream text;
  model::WriteFormText(form, text);
  const std::string t = text.str();
  FUZZ_CHECK(t.rfind("object ", 0) == 0 || t.rfind("inherited ", 0) == 0 ||
                 t.rfind("inline ", 0) == 0,
             "the text opens with \"%.20s\"", t.c_str());
  FUZZ_CHECK(t.size() >= 4 && t.compare(t.size() - 4, 4, "end\n") == 0,
             "the text does not close with end");

  // The form alone, bound against a program without classes.
  model::ProgramModel none;
  model::FormEntry entry;
  entry.decoded = true;
  entry.root = std::move(form);
  model::BindForm(none, &entry);
  FUZZ_CHECK(!entry.components.empty(), "the form lists no components");
  for (const model::FormEvent &e : entry.events)
    FUZZ_CHECK(e.address == BADADDR, "event %s bound without a class", e.event.c_str());
}

void CheckTypes(const model::ProgramModel &program, const model::ProgramTypes &types) {
  for (const std::string &p : types.problems)
    FUZZ_CHECK(!p.empty() && p.find('\n') == std::string::npos,
               "type problem line \"%s\"", p.c_str());
  for (const model::CDecl &d : types.decls) {
    if (d.kind != model::CDecl::kStruct) continue;
    uint32_t at = 0;
    for (const model::CMember &m : d.members) {
      FUZZ_CHECK(m.offset == at, "%s.%s at 0x%X, expected 0x%X", d.name.c_str(),
                 m.name.c_str(), m.offset, at);
      at += m.size;
    }
    FUZZ_CHECK(at == d.size, "%s: members fill 0x%X of 0x%X bytes", d.name.c_str(), at,
               d.size);
  }
  for (const model::MethodType &m : types.methods)
    for (const model::PlacedParam &p : m.prototype.params)
      FUZZ_CHECK(p.reg != model::Register::kStack || m.prototype.purge == 0 ||
                     p.stack_offset + p.size <= m.prototype.purge,
                 "%s: %s at ^%u.%u past the purge %u", m.name.c_str(), p.name.c_str(),
                 p.stack_offset, p.size, m.prototype.purge);
  FUZZ_CHECK(c_header::WriteCHeader(program, types, HeaderText().Begin()),
             "the header was not written");
}

void CheckSection(const uint8_t *data, size_t size) {
  if (size < 5) return;
  uint32_t rva =
      (data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24) & kRvaMask;
  if (rva == 0) rva = 0x1000;
  kernel::Database &db = kernel::TheDatabase();
  db.Clear();
  db.SetProcessor(0);
  db.SetImageBase(kImageBase);
  const ea_t start = kImageBase + rva;
  const size_t length = size - 4;
  std::string why;
  FUZZ_CHECK(db.AddSegment({".rsrc", start, static_cast<ea_t>(start + length),
                            std::vector<uint8_t>(data + 4, data + size)},
                           &why),
             "the segment was refused: %s", why.c_str());

  kernel::TheDatabase().SetResourceDirectory(start, static_cast<uint32_t>(length));
  const model::ProgramModel program = model::BuildModel();
  for (const std::string &p : program.problems)
    FUZZ_CHECK(!p.empty() && p.find('\n') == std::string::npos, "problem line \"%s\"",
               p.c_str());
  for (const model::FormEntry &f : program.forms) {
    FUZZ_CHECK(
        f.resource.data >= start && f.resource.size <= start + length - f.resource.data,
        "form data [0x%X, +0x%X) outside the section", f.resource.data, f.resource.size);
    FUZZ_CHECK(f.decoded == f.error.empty(), "form %s: decoded %d, error \"%s\"",
               f.resource.name.Text().c_str(), f.decoded, f.error.c_str());
    if (f.decoded) {
      std::ostringstream text;
      model::WriteFormText(f.root, text);
    }
  }

  const model::ProgramTypes types = model::BuildTypes(program);
  CheckTypes(program, types);

  FUZZ_CHECK(model_files::WriteModelJson(program, types, JsonText().Begin()),
             "the JSON was not written");
  FUZZ_CHECK(model_files::WriteModelReport(program, types, ReportText().Begin()),
             "the report was not written");
  size_t forms = 0;
  FUZZ_CHECK(fuzz::CountJsonForms(JsonText().text(), &forms),
             "the model's JSON does not parse");
  FUZZ_CHECK(forms == program.forms.size(), "%zu forms in the JSON", forms);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ClearDatabaseAfterInput clear;
  if (model::IsForm(data, size)) {
    CheckForm(data, size);
  } else {
    CheckSection(data, size);
  }
  return 0;
}
