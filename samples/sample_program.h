// The whole sample program: the catalogue laid out into a code section (each
// unit's runs of class records and type blocks, then the unit's functions),
// a data section with the import cells and the unit table, and an
// uninitialised section; then the PE file and what the manifest and the
// database seed tell about it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "samples/class_record.h"
#include "samples/image.h"

namespace samples {

struct SampleOptions {
  uint32_t layout = kClassicHeaderSize;  // class record header size: 52, 64, 76 or 88
  int units = 0;                         // generated units behind the hand-written ones
  int classes_per_unit = 8;              // classes of each generated unit
  uint32_t min_code_bytes = 0;  // keep adding generated units until code is this big
  bool forms = false;           // a resource section with forms, last in the image
};

struct SectionEntry {
  std::string name;
  Addr start = 0;
  Addr end = 0;  // exclusive, rounded to the section alignment
};

struct MethodEntry {
  Addr code = 0;
  std::string name;
};

struct ClassEntry {
  std::string name;
  std::string unit;
  ClassRecordAddrs at;
  size_t slots = 0;    // the class's own virtual method slots
  bool decoy = false;  // the shape of a record, but no class
  Addr type_cell = 0;  // 0 when the class has no type information
  std::vector<MethodEntry> methods;
};

struct PropEntry {
  Addr record = 0;
  std::string name;
  uint32_t get = 0, set = 0, stored = 0;
};

struct TypeEntry {
  Addr cell = 0;
  Addr end = 0;  // first address after the block's data, before the filler
  uint8_t kind = 0;
  std::string name;
  std::string unit;
  std::vector<PropEntry> props;
};

struct FunctionEntry {
  Addr start = 0;
  Addr end = 0;
  std::string name;
};

/// String literals that read as a class record at `address`.
struct TextEntry {
  Addr address = 0;
  std::string text;  // the first literal, as it reads
};

struct SeedEntry {
  Addr ea = 0;
  std::string text;
  bool is_comment = false;
};

struct ResourceEntry {
  std::string type;  // a name, or "#" and the number
  std::string name;
  uint16_t language = 0;
  Addr data = 0;
  uint32_t size = 0;
};

struct SampleProgram {
  std::vector<uint8_t> file;
  uint32_t layout = kClassicHeaderSize;
  Addr image_base = Image::kImageBase;
  Addr lowest = 0;
  Addr highest = 0;
  Addr entry = 0;
  std::vector<SectionEntry> sections;
  std::vector<ClassEntry> classes;
  std::vector<TypeEntry> types;
  std::vector<FunctionEntry> functions;
  std::vector<TextEntry> texts;
  std::vector<SeedEntry> seeds;
  Addr resource_directory = 0;
  uint32_t resource_size = 0;
  std::vector<ResourceEntry> resources;
  int units = 0;
};

/// Builds the sample; the same options always give the same bytes.
SampleProgram BuildSample(const SampleOptions &options);

}  // namespace samples
