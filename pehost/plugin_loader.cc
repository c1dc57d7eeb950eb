#include "pehost/plugin_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace pehost {

std::string PluginPath(const std::string &name_or_path) {
  if (name_or_path != "corvale" && name_or_path != "lumisk") {
    // dlopen searches the library path for a bare name; a path means a file.
    return name_or_path.find('/') == std::string::npos ? "./" + name_or_path
                                                       : name_or_path;
  }
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path dir = ec ? std::filesystem::path(".") : self.parent_path();
  return (dir / (name_or_path + ".plw")).string();
}

const plugin_t *OpenPlugin(const std::string &path, std::string *err) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    *err = std::string("cannot load the plug-in: ") + (why ? why : "unknown reason");
    return nullptr;
  }
  const auto *plugin = static_cast<const plugin_t *>(dlsym(handle, "PLUGIN"));
  if (plugin == nullptr) {
    *err = "not a plug-in: it exports no PLUGIN descriptor";
  } else if (plugin->version != PLUGIN_INTERFACE_VERSION) {
    *err = "interface " + std::to_string(plugin->version) + ", expected " +
           std::to_string(PLUGIN_INTERFACE_VERSION);
  } else if (plugin->init == nullptr || plugin->run == nullptr) {
    *err = "the PLUGIN descriptor lacks its init or run entry";
  } else {
    return plugin;
  }
  dlclose(handle);
  return nullptr;
}

}  // namespace pehost
