#include "pehost/model_files/form_files.h"

#include <filesystem>
#include <set>

#include "host/output_file/output_file.h"
#include "model/form_text.h"

namespace model_files {

using namespace model;

std::string FormFileName(const Resource &resource) {
  std::string name;
  for (char c : resource.name.Text()) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    name += plain ? c : '_';
  }
  if (name.empty() || name[0] == '.') name = "_" + name;
  if (resource.language != 0) name += "_" + std::to_string(resource.language);
  return name + ".dfm";
}

size_t WriteFormFiles(const ProgramModel &model, const std::string &dir,
                      std::vector<std::string> *errors) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    errors->push_back(dir + ": cannot make the folder: " + ec.message());
    return 0;
  }
  size_t written = 0;
  std::set<std::string> used;
  for (const FormEntry &form : model.forms) {
    if (!form.decoded) continue;
    // Two resources may come to the same file name once cleaned.
    std::string file = FormFileName(form.resource);
    for (int n = 2; !used.insert(file).second; ++n)
      file = file.substr(0, file.rfind('.')) + "_" + std::to_string(n) + ".dfm";
    const std::string path = (fs::path(dir) / file).string();
    std::string err;
    const bool ok = output_file::WriteFileWhole(
        path,
        [&](std::ostream &out) {
          WriteFormText(form.root, out);
          return static_cast<bool>(out);
        },
        &err);
    if (ok) {
      ++written;
    } else {
      errors->push_back(path + ": " + err);
    }
  }
  return written;
}

}  // namespace model_files
