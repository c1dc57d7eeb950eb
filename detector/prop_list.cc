// Published property records of a class type.
//
// A class type's type information ends with its published properties: a
// 16-bit count followed by that many records packed back to back. Each
// record is a fixed part of pointers and numbers (PropType, GetProc, SetProc,
// StoredProc, Index, Default, NameIndex) followed by the property name as a
// short string, so the next record starts right after the name's last
// character. The fixed part is shown through the structure type TPropInfo;
// the accessors that hold code addresses become functions named
// <type>@<unit>@Get|Set|Stored<property>Proc.
#include "detector/prop_list.h"

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"

namespace {

struct Accessor {
  ea_t offset;
  const char *word;
};

const Accessor kAccessors[] = {{4, "Get"}, {8, "Set"}, {12, "Stored"}};

/// "<type>@<unit>@<word><property>Proc" in a static buffer owned here.
const char *accessor_name(const char *type_name, const char *unit_name, const char *word,
                          const char *prop_name) {
  static char name[kTextSize];
  qstrncpy(name, type_name, sizeof(name));
  qstrncat(name, "@", sizeof(name));
  qstrncat(name, unit_name, sizeof(name));
  qstrncat(name, "@", sizeof(name));
  qstrncat(name, word, sizeof(name));
  qstrncat(name, prop_name, sizeof(name));
  qstrncat(name, "Proc", sizeof(name));
  return name;
}

/// Makes the code behind an accessor a function and gives it the accessor
/// name unless somebody already named it.
void name_accessor(ea_t record, const Accessor &accessor, const char *type_name,
                   const char *unit_name, const char *prop_name) {
  const ea_t field = record + accessor.offset;
  const ea_t target = get_long(field);
  // StoredProc typically holds 0 or 1, and a field may hold a constant or
  // a packed field offset instead of code; only addresses of the record's
  // own segment are taken as code.
  if (!in_record_range(target, field)) return;
  ensure_function(target);
  // Without the unit the name would not tell apart classes of the same name
  // in different units; such an accessor stays as it is.
  if (type_name == nullptr || unit_name == nullptr) return;
  static char current[kTextSize];
  const char *name = get_true_name(target, target, current, sizeof(current));
  if (!is_dummy_name(name, kAccessorDummies)) return;
  do_name_anyway(target, accessor_name(type_name, unit_name, accessor.word, prop_name),
                 0);
}

}  // namespace

ea_t annotate_prop_list(ea_t ea, int count, const char *type_name, const char *unit_name,
                        asize_t fixed_size) {
  static char prop_name[kTextSize];
  ea_t p = ea;
  for (int i = 0; i < count; ++i) {
    const ea_t record = p;
    // The fixed part and the name's length byte behind it, as far as the
    // segment reaches: an earlier walk may have taken these bytes for other
    // items. One range call, so that no structure size makes this slow.
    const asize_t room = segment_end(record) - record;
    undefine_bytes(record, fixed_size < room ? fixed_size + 1 : room);
    if (make_struct_item(record, fixed_size, tpropinfo_id())) p = get_item_end(record);

    // The name: its length byte and every character.
    undefine_bytes(p, asize_t{1} + get_byte(p));
    bool named = false;
    if (make_pascal_string(p)) {
      const char *name = get_pascal_name(p, 0);
      if (name != nullptr) {
        qstrncpy(prop_name, name, sizeof(prop_name));
        named = true;
      }
      p = get_item_end(p);
    }

    if (!named) continue;
    for (const Accessor &accessor : kAccessors) {
      name_accessor(record, accessor, type_name, unit_name, prop_name);
    }
  }
  return p;
}
