#include "samples/sample_program.h"

#include <utility>

#include "samples/catalogue.h"
#include "samples/pe_writer.h"
#include "samples/sample_resources.h"
#include "samples/type_info.h"
#include "samples/wide_text.h"
#include "samples/x86_emitter.h"

namespace samples {

namespace {

// What the layout learns before every label is bound; turned into addresses
// once the whole image is laid out.
struct PendingClass {
  ClassEntry entry;
  Label type_cell;
  std::vector<std::pair<Label, std::string>> methods;
};

struct PendingType {
  TypeEntry entry;
  std::vector<Addr> props;
  std::vector<std::string> prop_names;
};

class Layout {
 public:
  Layout(Image &image, SampleProgram &out, Addr bound)
      : image_(image), out_(out), bound_(bound) {}

  void WriteUnits(Catalogue &cat) {
    for (UnitSpec &unit : cat.units()) WriteUnit(unit);
    cat.ForgetUnits();
  }

  void Finish(Catalogue &cat) {
    for (PendingClass &p : classes_) {
      if (p.type_cell.valid()) p.entry.type_cell = image_.AddressOf(p.type_cell);
      for (auto &m : p.methods)
        p.entry.methods.push_back({image_.AddressOf(m.first), m.second});
      out_.classes.push_back(std::move(p.entry));
    }
    for (PendingType &p : types_) {
      for (size_t i = 0; i < p.props.size(); ++i) {
        const Addr r = p.props[i];
        p.entry.props.push_back({r, p.prop_names[i], image_.Read32(r + 4),
                                 image_.Read32(r + 8), image_.Read32(r + 12)});
      }
      out_.types.push_back(std::move(p.entry));
    }
    for (const SeedRequest &s : cat.seeds())
      out_.seeds.push_back({image_.AddressOf(s.label) + static_cast<uint32_t>(s.addend),
                            s.text, s.is_comment});
  }

 private:
  void WriteUnit(const UnitSpec &unit) {
    ++out_.units;
    for (const GroupSpec &g : unit.groups) {
      auto text = g.texts.begin();
      // The literals meant to go in front of type block `i`.
      auto write_texts_before = [&](size_t i) {
        for (; text != g.texts.end() && text->first <= i; ++text) {
          image_.GuardFiller(kWideLiteralStart, bound_);
          const ClassShapedText &t = text->second;
          out_.texts.push_back({WriteClassShapedText(image_, t),
                                std::string(t.first.begin(), t.first.end())});
        }
      };
      std::vector<Addr> intf_tables;
      for (const ClassRecordSpec &c : g.classes) {
        // The slot tables start with code addresses, known only at the end.
        if (!c.interfaces.empty()) image_.GuardFillerAlways();
        intf_tables.push_back(WriteInterfaceTable(image_, c));
      }
      image_.AlignFiller();
      for (size_t i = 0; i < g.classes.size(); ++i) {
        const ClassRecordSpec &c = g.classes[i];
        image_.GuardFiller(image_.Here() + HeaderSize(c), bound_);
        PendingClass p;
        p.entry.name = c.name;
        p.entry.unit = unit.name;
        p.entry.at = WriteClassRecord(image_, c, intf_tables[i]);
        p.entry.slots = c.virtual_methods.size();
        p.entry.decoy = c.decoy;
        p.type_cell = c.type_cell;
        for (const PublishedMethod &m : c.methods) p.methods.emplace_back(m.code, m.name);
        classes_.push_back(std::move(p));
      }
      for (size_t i = 0; i < g.types.size(); ++i) {
        const TypeSpec &t = g.types[i];
        write_texts_before(i);
        image_.GuardFiller(image_.Here() + 4, bound_);
        TypeInfoAddrs at = WriteTypeInfo(image_, t);
        PendingType p;
        p.entry = {at.cell, at.end, t.kind, t.name, unit.name, {}};
        p.props = std::move(at.props);
        for (const PropSpec &prop : t.props) p.prop_names.push_back(prop.name);
        for (const PropSpec &prop : t.public_props) p.prop_names.push_back(prop.name);
        // Later passes only need the pending copies; property values are read
        // back from the image once references are filled in.
        types_.push_back(std::move(p));
      }
      write_texts_before(g.types.size());
    }
    for (const FunctionSpec &f : unit.functions) {
      FunctionRange r = EmitFunction(image_, f.shape, f.label, f.callee, f.operand);
      out_.functions.push_back({r.start, r.end, f.name});
    }
  }

  Image &image_;
  SampleProgram &out_;
  Addr bound_;
  std::vector<PendingClass> classes_;
  std::vector<PendingType> types_;
};

std::string KeyText(const ResourceId &id) {
  if (id.name.empty()) return "#" + std::to_string(id.id);
  return std::string(id.name.begin(), id.name.end());  // the sample's names are ASCII
}

/// The resource section, last in the image.
void WriteResources(Image &image, SampleProgram &out) {
  image.BeginSection(".rsrc", kResourceCharacteristics);
  const Addr start = image.Here();
  const std::vector<ResourceSpec> specs = SampleResources(out.layout == 88);
  std::vector<ResourcePlace> places;
  const std::vector<uint8_t> bytes =
      BuildResourceSection(start - Image::kImageBase, specs, &places);
  image.PutBytes(bytes.data(), bytes.size());
  out.resource_directory = start;
  out.resource_size = static_cast<uint32_t>(bytes.size());
  for (size_t i = 0; i < specs.size(); ++i)
    out.resources.push_back({KeyText(specs[i].type), KeyText(specs[i].name),
                             specs[i].language, start + places[i].offset,
                             places[i].size});
}

void AddHandWrittenUnits(Catalogue &cat) {
  if (cat.oldest()) {
    AddOldestUnits(cat);
    return;
  }
  AddLibraryUnits(cat);
  if (cat.header_size() == 88) AddNewerUnits(cat);
  AddApplicationUnits(cat);
}

// The readers take a doubleword for an address when it lies below the end of
// the code section, which is known only when the program is complete. The
// guard against fillers that read as addresses needs that end beforehand,
// so it is taken from the options, generously: a guess too high costs a few
// filler bytes, one too low would let a filler pass for data.
Addr CodeEndBound(const SampleOptions &options) {
  constexpr uint32_t kMargin = 16u << 20;
  uint64_t bound = Image::kImageBase + Image::kSectionAlignment + uint64_t{kMargin} +
                   options.min_code_bytes;
  if (options.units > 0) {
    // Measure a few generated units behind the hand-written ones.
    constexpr int kProbe = 4;
    SampleProgram scratch;
    Image image;
    image.BeginSection("CODE", kCodeCharacteristics);
    Catalogue cat(image, options.layout);
    Layout layout(image, scratch, 0);
    AddHandWrittenUnits(cat);
    layout.WriteUnits(cat);
    const Addr before = image.Here();
    for (int n = 0; n < kProbe; ++n) {
      AddGeneratedUnit(cat, n, options.classes_per_unit);
      layout.WriteUnits(cat);
    }
    const uint64_t per_unit = (image.Here() - before) / kProbe;
    const uint64_t by_units =
        uint64_t{before} + kMargin + per_unit * options.units * 5 / 4;
    if (by_units > bound) bound = by_units;
  }
  return bound > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<Addr>(bound);
}

}  // namespace

SampleProgram BuildSample(const SampleOptions &options) {
  SampleProgram out;
  out.layout = options.layout;
  Image image;
  image.BeginSection("CODE", kCodeCharacteristics);
  const Addr code_start = image.Here();
  Catalogue cat(image, options.layout);
  Layout layout(image, out, CodeEndBound(options));

  AddHandWrittenUnits(cat);
  layout.WriteUnits(cat);
  for (int n = 0; n < options.units || image.Here() - code_start < options.min_code_bytes;
       ++n) {
    AddGeneratedUnit(cat, n, options.classes_per_unit);
    layout.WriteUnits(cat);
  }
  AddProgramStart(cat);
  layout.WriteUnits(cat);

  // The data section: import cells through which classes of other modules
  // are reached, then the unit count the start code reads.
  image.BeginSection("DATA", kDataCharacteristics);
  for (const auto &cell : cat.data_cells()) {
    image.Bind(cell.first);
    cell.second.Put(image);
  }
  image.Put32(static_cast<uint32_t>(out.units));
  image.Put32(0);
  image.BeginSection("BSS", kBssCharacteristics);
  image.ReserveVirtual(0x1000);
  if (options.forms) WriteResources(image, out);

  image.Resolve();
  layout.Finish(cat);
  out.entry = image.AddressOf(cat.entry());
  out.lowest = image.lowest();
  out.highest = image.highest();
  for (const Section &s : image.sections()) {
    const uint32_t size = s.virtual_size > s.bytes.size()
                              ? s.virtual_size
                              : static_cast<uint32_t>(s.bytes.size());
    out.sections.push_back(
        {s.name, s.start,
         s.start + (size + Image::kSectionAlignment - 1) / Image::kSectionAlignment *
                       Image::kSectionAlignment});
  }
  PeOptions pe;
  pe.entry_point = out.entry;
  pe.resource_directory = out.resource_directory;  // 0 without forms
  pe.resource_size = out.resource_size;
  out.file = WritePe(image, pe);
  return out;
}

}  // namespace samples
