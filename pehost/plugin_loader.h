// Plug-in libraries: found by name beside pehost or by path, opened, and
// their exported PLUGIN descriptor checked before any entry is called.
#pragma once

#include <string>

#include "detector/core/host_api.h"

namespace pehost {

/// The library for `name_or_path`: "corvale" and "lumisk" are NAME.plw beside
/// the pehost executable; anything else is a path, used as given.
std::string PluginPath(const std::string &name_or_path);

/// Opens the library at `path` and returns its descriptor, or null with one
/// line of reason in *err (the library cannot be opened, has no PLUGIN, was
/// built for another interface version, lacks an entry). The library stays
/// loaded until the program ends.
const plugin_t *OpenPlugin(const std::string &path, std::string *err);

}  // namespace pehost
