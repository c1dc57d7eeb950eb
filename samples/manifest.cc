#include "samples/manifest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace

std::string ManifestJson(const SampleProgram &p) {
  std::string o;
  o.reserve(256 + p.classes.size() * 400 + p.types.size() * 120 +
            p.functions.size() * 80);
  o += "{\n";
  Num(o, "layout", p.layout);
  o += ",\n";
  Num(o, "image_base", p.image_base);
  o += ",\n";
  Num(o, "lowest", p.lowest);
  o += ",\n";
  Num(o, "highest", p.highest);
  o += ",\n";
  Num(o, "entry", p.entry);
  o += ",\n";
  Num(o, "file_size", p.file.size());
  o += ",\n\"sections\": [";
  for (size_t i = 0; i < p.sections.size(); ++i) {
    o += i ? ",\n  {" : "\n  {";
    Str(o, "name", p.sections[i].name);
    o += ", ";
    Num(o, "start", p.sections[i].start);
    o += ", ";
    Num(o, "end", p.sections[i].end);
    o += "}";
  }
  o += "],\n\"classes\": [";
  for (size_t i = 0; i < p.classes.size(); ++i) {
    const ClassEntry &c = p.classes[i];
    o += i ? ",\n  {" : "\n  {";
    Num(o, "address", c.at.record);
    o += ", ";
    Str(o, "name", c.name);
    o += ", ";
    Str(o, "unit", c.unit);
    o += ", ";
    Num(o, "vmt", c.at.vmt);
    o += ", ";
    Num(o, "slots", c.slots);
    o += ", ";
    if (c.decoy) o += "\"decoy\": true, ";
    Num(o, "intf_table", c.at.intf_table);
    o += ", ";
    Num(o, "init_table", c.at.init_table);
    o += ", ";
    Num(o, "method_table", c.at.method_table);
    o += ", ";
    Num(o, "dynamic_table", c.at.dynamic_table);
    o += ", ";
    Num(o, "field_table", c.at.field_table);
    o += ", ";
    Num(o, "field_class_list", c.at.field_class_list);
    o += ", ";
    Num(o, "class_name", c.at.class_name);
    o += ", ";
    Num(o, "end", c.at.end);
    o += ", ";
    Num(o, "type_info", c.type_cell);
    o += ", \"methods\": [";
    for (size_t k = 0; k < c.methods.size(); ++k) {
      o += k ? ", {" : "{";
      Num(o, "code", c.methods[k].code);
      o += ", ";
      Str(o, "name", c.methods[k].name);
      o += "}";
    }
    o += "]}";
  }
  o += "],\n\"types\": [";
  for (size_t i = 0; i < p.types.size(); ++i) {
    const TypeEntry &t = p.types[i];
    o += i ? ",\n  {" : "\n  {";
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
    if (!t.props.empty()) {
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
    o += "}";
  }
  o += "],\n\"class_shaped_texts\": [";
  for (size_t i = 0; i < p.texts.size(); ++i) {
    o += i ? ",\n  {" : "\n  {";
    Num(o, "address", p.texts[i].address);
    o += ", ";
    Str(o, "text", p.texts[i].text);
    o += "}";
  }
  o += "],\n\"functions\": [";
  for (size_t i = 0; i < p.functions.size(); ++i) {
    const FunctionEntry &f = p.functions[i];
    o += i ? ",\n  {" : "\n  {";
    Num(o, "start", f.start);
    o += ", ";
    Num(o, "end", f.end);
    o += ", ";
    Str(o, "name", f.name);
    o += "}";
  }
  o += "],\n";
  Num(o, "resource_directory", p.resource_directory);
  o += ",\n";
  Num(o, "resource_size", p.resource_size);
  o += ",\n\"resources\": [";
  for (size_t i = 0; i < p.resources.size(); ++i) {
    const ResourceEntry &r = p.resources[i];
    o += i ? ",\n  {" : "\n  {";
    Str(o, "type", r.type);
    o += ", ";
    Str(o, "name", r.name);
    o += ", ";
    Num(o, "language", r.language);
    o += ", ";
    Num(o, "data", r.data);
    o += ", ";
    Num(o, "size", r.size);
    o += "}";
  }
  o += "]\n}\n";
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
