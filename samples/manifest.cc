#include "samples/manifest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "samples/type_info.h"

namespace samples {

namespace {

// Names in the sample are identifiers, but the seed's texts are free text, so
// every string goes through the one escaper.
void Quote(std::string &out, const std::string &s) {
  out += '"';
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  out += '"';
}

void Key(std::string &out, const char *key) {
  out += '"';
  out += key;
  out += "\": ";
}

void Num(std::string &out, const char *key, uint64_t v) {
  Key(out, key);
  out += std::to_string(v);
}

void Str(std::string &out, const char *key, const std::string &v) {
  Key(out, key);
  Quote(out, v);
}

/// The member `key`: an array of `items`, an element a line, each an object
/// whose members `write(item)` appends.
template <typename Items, typename Write>
void Array(std::string &out, const char *key, const Items &items, Write write) {
  Key(out, key);
  out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    out += i ? ",\n  {" : "\n  {";
    write(items[i]);
    out += '}';
  }
  out += ']';
}

void ClassMembers(std::string &o, const ClassEntry &c) {
  Num(o, "address", c.at.record);
  o += ", ";
  Str(o, "name", c.name);
  o += ", ";
  Str(o, "unit", c.unit);
  const std::pair<const char *, uint64_t> addresses[] = {
      {"vmt", c.at.vmt},
      {"slots", c.slots},
      {"intf_table", c.at.intf_table},
      {"init_table", c.at.init_table},
      {"method_table", c.at.method_table},
      {"dynamic_table", c.at.dynamic_table},
      {"field_table", c.at.field_table},
      {"field_class_list", c.at.field_class_list},
      {"class_name", c.at.class_name},
      {"end", c.at.end},
      {"type_info", c.type_cell},
  };
  for (const auto &[key, value] : addresses) {
    o += ", ";
    Num(o, key, value);
    // A decoy has a record's shape but is no class.
    if (c.decoy && std::string_view(key) == "slots") o += ", \"decoy\": true";
  }
  o += ", \"methods\": [";
  for (size_t k = 0; k < c.methods.size(); ++k) {
    o += k ? ", {" : "{";
    Num(o, "code", c.methods[k].code);
    o += ", ";
    Str(o, "name", c.methods[k].name);
    o += "}";
  }
  o += "]";
}

void TypeMembers(std::string &o, const TypeEntry &t) {
  Num(o, "address", t.cell);
  o += ", ";
  Num(o, "end", t.end);
  o += ", ";
  Num(o, "kind", t.kind);
  o += ", ";
  Str(o, "kind_name", KindName(t.kind));
  o += ", ";
  Str(o, "name", t.name);
  o += ", ";
  Str(o, "unit", t.unit);
  if (t.props.empty()) return;
  o += ", \"props\": [";
  for (size_t k = 0; k < t.props.size(); ++k) {
    const PropEntry &pr = t.props[k];
    o += k ? ", {" : "{";
    Num(o, "address", pr.record);
    o += ", ";
    Str(o, "name", pr.name);
    o += ", ";
    Num(o, "get", pr.get);
    o += ", ";
    Num(o, "set", pr.set);
    o += ", ";
    Num(o, "stored", pr.stored);
    o += "}";
  }
  o += "]";
}

}  // namespace

std::string ManifestJson(const SampleProgram &p) {
  std::string o;
  o.reserve(256 + p.classes.size() * 400 + p.types.size() * 120 +
            p.functions.size() * 80);
  o += "{\n";
  const std::pair<const char *, uint64_t> facts[] = {
      {"layout", p.layout},   {"image_base", p.image_base}, {"lowest", p.lowest},
      {"highest", p.highest}, {"entry", p.entry},           {"file_size", p.file.size()},
  };
  for (const auto &[key, value] : facts) {
    Num(o, key, value);
    o += ",\n";
  }
  Array(o, "sections", p.sections, [&](const SectionEntry &s) {
    Str(o, "name", s.name);
    o += ", ";
    Num(o, "start", s.start);
    o += ", ";
    Num(o, "end", s.end);
  });
  o += ",\n";
  Array(o, "classes", p.classes, [&](const ClassEntry &c) { ClassMembers(o, c); });
  o += ",\n";
  Array(o, "types", p.types, [&](const TypeEntry &t) { TypeMembers(o, t); });
  o += ",\n";
  Array(o, "class_shaped_texts", p.texts, [&](const TextEntry &t) {
    Num(o, "address", t.address);
    o += ", ";
    Str(o, "text", t.text);
  });
  o += ",\n";
  Array(o, "functions", p.functions, [&](const FunctionEntry &f) {
    Num(o, "start", f.start);
    o += ", ";
    Num(o, "end", f.end);
    o += ", ";
    Str(o, "name", f.name);
  });
  o += ",\n";
  Num(o, "resource_directory", p.resource_directory);
  o += ",\n";
  Num(o, "resource_size", p.resource_size);
  o += ",\n";
  Array(o, "resources", p.resources, [&](const ResourceEntry &r) {
    Str(o, "type", r.type);
    o += ", ";
    Str(o, "name", r.name);
    o += ", ";
    Num(o, "language", r.language);
    o += ", ";
    Num(o, "data", r.data);
    o += ", ";
    Num(o, "size", r.size);
  });
  o += "\n}\n";
  return o;
}

std::string SeedJson(const SampleProgram &p) {
  std::string o = "{\n\"comments\": [";
  bool first = true;
  for (const SeedEntry &s : p.seeds) {
    if (!s.is_comment) continue;
    o += first ? "\n  {" : ",\n  {";
    first = false;
    Num(o, "ea", s.ea);
    o += ", ";
    Str(o, "text", s.text);
    o += ", \"repeatable\": true}";
  }
  o += "],\n\"names\": [";
  first = true;
  for (const SeedEntry &s : p.seeds) {
    if (s.is_comment) continue;
    o += first ? "\n  {" : ",\n  {";
    first = false;
    Num(o, "ea", s.ea);
    o += ", ";
    Str(o, "name", s.text);
    o += "}";
  }
  o += "]\n}\n";
  return o;
}

bool WriteFileWhole(const std::string &path, const void *data, size_t size,
                    std::string *err) {
  const std::string tmp = path + ".tmp";
  FILE *f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    *err = path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(data, 1, size, f) == size;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    *err = path + ": write failed";
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    *err = path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace samples
