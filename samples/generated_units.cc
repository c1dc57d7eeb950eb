// Units made up for scaled samples. Every choice is taken from a hash of the
// unit and class number, so a given size always gives the same program.
// Classes derive from the library classes or from earlier classes of their
// unit and carry the tables in many combinations; each class comes with its
// class type and one more type of a rotating kind.
#include <string>

#include "samples/catalogue.h"
#include "samples/catalogue_helpers.h"

namespace samples {

namespace {

uint32_t Mix(uint32_t a, uint32_t b) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u);
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

const char *const kBases[] = {"TComponent",     "TControl",        "TWinControl",
                              "TCustomControl", "TGraphicControl", "TCustomForm",
                              "TPersistent",    "TObject",         "TInterfacedObject"};

// First dynamic indices whose 2-byte pair with the count never reads as an
// address of the program: message numbers below 0x40 or at the top of the
// range, as the library's own handlers use.
const uint16_t kDynamicIndices[] = {0x000F, 0x0014, 0x0010, 0xB00B,
                                    0xB013, 0xFFFF, 0xFFFE};

void AddExtraType(Catalogue &cat, const std::string &prefix, uint32_t h) {
  switch (h % 8) {
    case 0: {
      TypeSpec &e = Enumeration(cat, prefix + "Kind", {"gkFirst", "gkSecond", "gkThird"});
      e.enum_names[0] = "gk" + prefix.substr(1) + "First";
      break;
    }
    case 1:
      SetOf(cat, prefix + "Styles", "TAlign");
      break;
    case 2: {
      TypeSpec &m = cat.AddType(kMethod, prefix + "Event");
      m.params = {Param(cat, 0, "Sender", "TObject"), Param(cat, 1, "Value", "Integer")};
      m.ref_tail = (h & 16) != 0;
      break;
    }
    case 3: {
      TypeSpec &r = cat.AddType(kRecord, prefix + "Data");
      r.record_size = 12;
      if (h & 16) r.managed_fields = {{cat.TypeCell("string"), 4}};
      break;
    }
    case 4: {
      TypeSpec &d = cat.AddType(kDynArray, prefix + "Array");
      d.var_type = h & 16 ? 3 : 256;
      d.el_type2 = cat.TypeCell("Integer");
      break;
    }
    case 5:
      Ordinal(cat, kInteger, prefix + "Range", 1, 0, static_cast<int32_t>(h % 200));
      break;
    case 6: {
      TypeSpec &i = cat.AddType(kInt64, prefix + "Big");
      i.min64 = 0;
      i.max64 = static_cast<int64_t>(h) << 20;
      break;
    }
    default:
      cat.AddType(kFloat, prefix + "Real").float_type = static_cast<uint8_t>(h % 5);
      break;
  }
}

}  // namespace

void AddGeneratedUnit(Catalogue &cat, int index, int classes) {
  const std::string unit = "Gen" + std::to_string(index);
  cat.BeginUnit(unit);
  for (int group_start = 0; group_start < classes; group_start += 4) {
    cat.BeginGroup();
    const int group_end = group_start + 4 < classes ? group_start + 4 : classes;
    std::vector<ClassRecordSpec *> made;
    std::vector<std::string> parents;
    for (int i = group_start; i < group_end; ++i) {
      const uint32_t h = Mix(static_cast<uint32_t>(index), static_cast<uint32_t>(i));
      const std::string name = "T" + unit + "C" + std::to_string(i);
      std::string parent = kBases[h % 9];
      if (i > 0 && (h & 0x300) == 0) parent = "T" + unit + "C" + std::to_string(i - 1);
      ClassRecordSpec &c = cat.AddClass(name, parent, 0x40 + (h % 64) * 4);
      cat.OverrideStandard(c, "Destroy");
      for (uint32_t v = 0; v < (h >> 4) % 4; ++v)
        cat.AddVirtual(c, "Virtual" + std::to_string(v));
      if ((h >> 10) % 4 == 0) {
        InterfaceEntry e;
        e.guid = MakeGuid(h);
        e.methods = {cat.Function(name + ".QueryInterface", FunctionShape::kStackArgs),
                     cat.Function(name + "._AddRef", FunctionShape::kEmpty),
                     cat.Function(name + "._Release", FunctionShape::kEmpty)};
        e.ioffset = c.instance_size - 4;
        c.interfaces.push_back(e);
      }
      if (h & 0x1000) {
        c.init_table = true;
        c.init_entries = {{cat.TypeCell("string"), 0x3C}};
      }
      const bool fields = (h & 0x2000) != 0;
      // A field table right behind the slots could read as one more slot,
      // so classes with published fields also publish their handlers.
      if (fields || (h & 0x4000)) {
        c.methods = {
            {cat.Function(name + ".HandleEvent", FunctionShape::kLocals), "HandleEvent"},
            {cat.Function(name + ".Refresh", FunctionShape::kJumpOverRet), "Refresh"}};
      }
      if (h & 0x8000) {
        c.dynamics = {{kDynamicIndices[(h >> 16) % 7],
                       cat.Function(name + ".WMHandler", FunctionShape::kLocals)},
                      {static_cast<uint16_t>(0x0200 + (h >> 20) % 16),
                       cat.Function(name + ".WMMouse", FunctionShape::kEmpty)}};
      }
      if (fields) {
        c.fields = {{0x38, 0, "Owner" + std::to_string(i)}, {0x3C, 1, "Helper"}};
        c.field_classes = {cat.ClassRecord("TComponent"), cat.ClassRecord("TControl")};
      }
      made.push_back(&c);
      parents.push_back(parent);
    }
    for (size_t k = 0; k < made.size(); ++k) {
      ClassRecordSpec *c = made[k];
      const uint32_t h =
          Mix(static_cast<uint32_t>(index) ^ 0x5BD1E995u,
              static_cast<uint32_t>(group_start) + static_cast<uint32_t>(k));
      TypeSpec &t = ClassType(cat, *c, parents[k], 0);
      Label getter =
          cat.Function(c->name + ".GetValue", FunctionShape::kFieldGetter, Label{}, 0x30);
      Label setter = cat.Function(c->name + ".SetValue", FunctionShape::kLocals);
      t.props = {
          Prop(cat, "Value", "Integer", Ref::To(getter), Ref::To(setter), Ref::Raw(1), 0),
          Prop(cat, "Limit", "Integer", FieldAccess(0x34), Ref::To(setter), Ref::Raw(0),
               1)};
      AddExtraType(cat, c->name, h);
    }
  }
}

}  // namespace samples
