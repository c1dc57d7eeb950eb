// A class record points to up to five tables: the interfaces the class
// implements, the fields the runtime must initialise and finalise, the
// published methods, the dynamic (message) methods and the published fields
// with the list of their classes. Each routine here lays items over one
// table, comments its count, names it after the class and turns the code its
// slots point to into functions.
//
// The counts and addresses come from the program and are not trusted: every
// loop stops when its position leaves the segment the table starts in or a
// pass moves nothing, and a maker the host refuses inside a loop moves the
// position on by the width of its field, so that a table of hostile bytes
// is walked once at most.
#include "detector/class_tables.h"

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"
#include "detector/field_walk.h"

namespace {

/// The segment holding `ea`, or an empty range when none does.
area_t segment_of(ea_t ea) {
  const area_t *area = areacb_t_get_area(&segs, ea);
  if (area == nullptr) return area_t{0, 0};
  return *area;
}

bool inside(const area_t &segment, ea_t ea) {
  return ea >= segment.start_ea && ea < segment.end_ea;
}

/// The class's name followed by `suffix`, in a buffer owned here.
const char *compose(const char *class_name, const char *separator, const char *suffix) {
  static char text[kTextSize];
  qstrncpy(text, class_name, sizeof(text));
  qstrncat(text, separator, sizeof(text));
  qstrncat(text, suffix, sizeof(text));
  return text;
}

/// The name `ea` has now (given or dummy), or null.
const char *current_name(ea_t ea) {
  static char name[kTextSize];
  return get_true_name(ea, ea, name, sizeof(name));
}

/// Entries are laid out only for tables the program itself refers to.
bool has_referrer(ea_t table) { return get_long(get_first_dref_to(table)) != 0; }

/// The width of the short string at `ea`: its length byte and characters.
asize_t short_string_width(ea_t ea) { return 1 + get_byte(ea); }

/// Makes the code behind the method slots that begin at `slot` into
/// functions, up to the first slot that holds no address of its segment.
void annotate_method_slots(ea_t slot) {
  const area_t segment = segment_of(slot);
  for (;;) {
    const ea_t before = slot;
    if (make_offset_item(slot)) {
      ensure_function(get_long(slot));
      slot = field_end(slot, 1, 4);
    } else if (in_record_range(get_long(slot), slot)) {
      slot += 4;
    } else {
      return;
    }
    if (slot <= before || !inside(segment, slot)) return;
    if (!in_record_range(get_long(slot), slot)) return;
  }
}

/// Names the code that the method entry field `code_field` points to
/// "<class>@<method>" after the name behind the field, unless somebody
/// named the code.
void name_method(ea_t code_field, const char *class_name) {
  const ea_t code = get_long(code_field);
  const int replaceable = is_dummy_name(current_name(code), kCodeDummies);
  const char *method = get_pascal_name(code_field + 4, 0);
  if (method != nullptr && replaceable) {
    do_name_anyway(code, compose(class_name, "@", method), 0);
  }
}

// Newer compilers describe methods and fields beyond the published ones:
// a method entry's size leaves room for its signature, the method table
// goes on with a table of pointers to entries (which lie elsewhere, most
// behind the class name), and the field table with entries that carry a
// type reference and attributes.

/// The signature behind a method entry's name, up to `end`.
void method_signature_fields(FieldWalk &w, ea_t end) {
  byte_field(w, "Version");
  const char *cc = calling_convention_text(get_byte(w.p));
  if (cc == nullptr) fail(w);
  byte_field(w, cc);
  reference_field(w, "ResultType:PPTypeInfo");
  word_field(w, "ParOff");
  const uint8_t params = byte_field(w, "ParamCount");
  for (uint32_t i = 0; i < params && going(w); ++i) {
    byte_field(w, param_flags_text(get_byte(w.p)));
    reference_field(w, "ParamType:PPTypeInfo");
    word_field(w, "ParOff");
    name_field(w, "ParamName", kAnyName);
    attributes_field(w);
    if (w.p > end) fail(w);  // the entry's size bounds the walk
  }
  attributes_field(w);
  if (going(w) && w.p != end) fail(w);
}

/// A method entry: its size, code address and name, and the signature
/// when the size leaves room for one. A signature of another shape is
/// stepped over by the size.
void method_entry_fields(FieldWalk &w) {
  const ea_t entry = w.p;
  const ea_t end = entry + word_field(w, "Len");
  if (code_field(w, "Code") == 0) fail(w);
  name_field(w, "Name", kAnyName);
  if (!going(w)) return;
  if (end < w.p) {
    fail(w);
    return;
  }
  const auto signature = [end](FieldWalk &x) { method_signature_fields(x, end); };
  if (!walk_if_held(w, signature)) skip_field(w, end - w.p);
}

/// Whether a method entry begins at `entry`.
bool method_entry_at(ea_t entry) {
  FieldWalk probe = reading_walk(entry);
  method_entry_fields(probe);
  return probe.state != FieldWalk::kFailed;
}

void extended_method_fields(FieldWalk &w) {
  const uint16_t count = word_field(w, "MethodTable ExCount");
  for (uint32_t i = 0; i < count && going(w); ++i) {
    if (!method_entry_at(address_field(w, "MethodEntry"))) fail(w);
    word_field(w, "Flags");
    word_field(w, "VirtualIndex");
  }
  word_field(w, "VirtCount");
}

void method_table_fields(FieldWalk &w) {
  const uint16_t count = word_field(w, nullptr);
  for (uint32_t i = 0; i < count && going(w); ++i) method_entry_fields(w);
  optional_fields(w, extended_method_fields);
}

/// The published method table of a program of the 88-byte layout; the
/// position behind the table when its items were made, else `table`.
ea_t annotate_method_table_newer(const MethodTableReading &reading,
                                 const char *class_name) {
  const ea_t table = reading.table;
  // A table of another shape (or bytes taken for one) is left alone.
  if (!reading.held) return table;

  const uint32_t count = get_word(table);
  if (count != 0) {
    do_name_anyway(table, compose(class_name, "", "_method_list"), 0);
    set_cmt(table, "MethodTable Count", 0);
  }
  ea_t pos = table;
  const bool items = has_referrer(table);
  // The reading has walked the table from the same place.
  if (items) annotate_read_shape(&pos, method_table_fields);

  ea_t entry = table + 2;
  for (uint32_t i = 0; i < count; ++i) {
    if (is_code_of(get_long(entry + 2), entry + 2)) name_method(entry + 2, class_name);
    entry += get_word(entry);
  }
  if (reading.extended == BADADDR) return pos;
  const uint16_t extended_count = get_word(entry);
  for (uint32_t i = 0; i < extended_count; ++i) {
    const ea_t target = get_long(entry + 2 + 8 * i);
    // Entries inside the table are the published ones, walked above.
    if (target >= table && target < reading.end) continue;
    ea_t at = target;
    if (items) walk_shape(&at, method_entry_fields);
    if (is_code_of(get_long(target + 2), target + 2)) name_method(target + 2, class_name);
  }
  return pos;
}

void extended_field_fields(FieldWalk &w) {
  const uint16_t count = word_field(w, "FieldTable ExCount");
  for (uint32_t i = 0; i < count && going(w); ++i) {
    byte_field(w, visibility_text(get_byte(w.p)));
    reference_field(w, "TypeRef:PPTypeInfo");
    dword_field(w, "Offset");
    name_field(w, nullptr, kAnyName);
    attributes_field(w);
  }
}

}  // namespace

MethodTableReading read_method_table(ea_t table) {
  MethodTableReading reading{table, 0, table, BADADDR};
  FieldWalk w = reading_walk(table);
  const uint16_t count = word_field(w, nullptr);
  for (uint32_t i = 0; i < count && going(w); ++i) method_entry_fields(w);
  // The published entries have carried the walk to the extended part.
  const ea_t extended = w.p;
  const bool has_extended = optional_fields(w, extended_method_fields);
  if (w.state == FieldWalk::kFailed) return reading;
  reading.held = 1;
  reading.end = w.p;
  if (has_extended) reading.extended = extended;
  return reading;
}

ea_t annotate_read_method_table(const MethodTableReading *reading,
                                const char *class_name) {
  return annotate_method_table_newer(*reading, class_name);
}

ea_t method_entries_behind(const MethodTableReading *reading, ea_t pos) {
  if (!reading->held || reading->extended == BADADDR) return pos;
  const ea_t extended = reading->extended;
  const uint16_t count = get_word(extended);
  // Entry by entry, each one the table points to: the reading has found
  // each of those of an entry's shape.
  for (;;) {
    bool listed = false;
    for (uint32_t i = 0; i < count && !listed; ++i)
      listed = get_long(extended + 2 + 8 * i) == pos;
    if (!listed) return pos;
    const ea_t next = pos + get_word(pos);
    if (next <= pos) return pos;
    pos = next;
  }
}

void annotate_interface_table(ea_t table, const char *class_name) {
  const int32_t count = static_cast<int32_t>(get_long(table));
  if (count == 0) return;
  set_cmt(table, "InterfaceTable Count", 0);
  if (current_name(table) == nullptr) undefine_bytes(table, 1);
  do_name_anyway(table, compose(class_name, "", "_cls_interface"), 0);

  ea_t pos = table;
  if (make_dword_items(table, 1)) pos = get_item_end(table);

  const area_t segment = segment_of(table);
  ea_t first_slots_field = BADADDR;  // VTable field of the first entry
  for (int32_t i = 0; i < count && inside(segment, pos); ++i) {
    const ea_t entry = pos;
    if (make_dword_items(pos, 4)) {
      set_cmt(pos, "TGUID", 0);
      pos = field_end(pos, 1, 16);
    } else {
      pos += 16;
    }
    if (i == 0) first_slots_field = pos;
    if (make_offset_item(pos)) {
      set_cmt(pos, "VTable", 0);
      pos = field_end(pos, 1, 4);
    } else {
      pos += 4;
    }
    set_cmt(pos, "IOffset,ImplGetter", 0);
    if (!in_record_range(get_long(pos + 4), pos)) {
      pos = field_end(pos, make_dword_items(pos, 2), 8);
    } else {
      // The getter is code of this segment: show it as a reference, and
      // keep the walk on the entry grid.
      make_dword_items(pos, 1);
      make_offset_item(pos + 4);
      pos = entry + 28;
    }
    if (pos <= entry) break;
  }
  make_align4(pos);

  // A negative count walks no entry and leaves no slot table to follow.
  if (first_slots_field != BADADDR) annotate_method_slots(get_long(first_slots_field));
}

ea_t annotate_init_table(ea_t table, const char *class_name) {
  const area_t segment = segment_of(table);
  ea_t pos = table;
  if (get_long(table) == 14) {
    do_name_anyway(table, compose(class_name, "", "_cls_init_list"), 0);
    // Kind, name length and record size share three words.
    if (make_word_items(table, 3)) pos = get_item_end(table);
    const uint32_t count = get_long(pos);
    if (make_dword_items(pos, 1)) {
      clear_field_name(pos);
      set_cmt(pos, "InitTable Count", 0);
      pos = get_item_end(pos);
    }
    for (uint32_t i = 0; i < count && inside(segment, pos); ++i) {
      const ea_t before = pos;
      pos = field_end(pos, make_offset_item(pos), 4);
      clear_field_name(pos);
      pos = field_end(pos, make_dword_items(pos, 1), 4);
      if (pos <= before) break;
    }
    // Compilers of the 88-byte layout since managed records write the table
    // as a record type's data: the managed fields are followed by the count
    // of the record's operators and their addresses. The earlier ones put
    // the next table right there, which the record's header points at.
    if (has_newer_type_data(class_layout()) && inside(segment, pos) &&
        get_first_dref_to(pos) == BADADDR) {
      const uint8_t ops = get_byte(pos);
      const int made = make_byte_items(pos, 1);
      if (made) set_cmt(pos, "NumOps", 0);
      pos = field_end(pos, made, 1);
      for (uint32_t i = 0; i < ops && inside(segment, pos); ++i) {
        if (i == 0) set_cmt(pos, "RecOps", 0);
        pos = field_end(pos, make_offset_item(pos), 4);
      }
      return pos;
    }
  }
  // Pairs of a type reference and a field offset that follow the counted
  // entries belong to the table as well.
  while (inside(segment, pos) && in_record_range(get_long(pos), pos)) {
    const ea_t before = pos;
    pos = field_end(pos, make_offset_item(pos), 4);
    pos = field_end(pos, make_dword_items(pos, 1), 4);
    if (pos <= before) break;
  }
  return pos;
}

ea_t annotate_method_table(ea_t table, const char *class_name) {
  if (has_newer_type_data(class_layout())) {
    const MethodTableReading reading = read_method_table(table);
    return annotate_method_table_newer(reading, class_name);
  }
  const uint32_t count = get_word(table);
  if (count != 0) {
    do_name_anyway(table, compose(class_name, "", "_method_list"), 0);
    set_cmt(table, "MethodTable Count", 0);
  }
  const area_t segment = segment_of(table);

  ea_t pos = table;
  if (has_referrer(table)) {
    if (make_word_items(table, 1)) pos = get_item_end(table);
    for (uint32_t i = 0; i < count && inside(segment, pos); ++i) {
      const ea_t before = pos;
      pos = field_end(pos, make_word_items(pos, 1), 2);  // entry size
      if (make_offset_item(pos)) {
        ensure_function(get_long(pos));
        pos = field_end(pos, 1, 4);
      } else {
        pos += 4;
      }
      const asize_t name_width = short_string_width(pos);
      pos = field_end(pos, make_pascal_string(pos), name_width);
      if (pos <= before) break;
    }
  }

  // Names are given even when the entries were left as they were: the code
  // addresses are still read through the table.
  ea_t code_field = table + 4;
  for (uint32_t i = 0; i < count && inside(segment, code_field); ++i) {
    name_method(code_field, class_name);
    const ea_t next = code_field + 7 + get_byte(code_field + 4);
    if (next <= code_field) break;
    code_field = next;
  }
  return pos;
}

ea_t annotate_dynamic_table(ea_t table, const char *class_name) {
  const uint32_t count = get_word(table);
  if (count != 0) {
    if (is_dummy_name(current_name(table), kDynamicTableDummies)) {
      do_name_anyway(table, compose(class_name, "", "_dynamic_funcs"), 0);
    }
    set_cmt(table, "DynamicTable Count", 0);
  }
  if (!has_referrer(table)) return table;

  const area_t segment = segment_of(table);
  ea_t pos = table;
  if (make_word_items(table, 1)) pos = get_item_end(table);
  if (make_word_items(pos, static_cast<int>(count))) pos = get_item_end(pos);  // indices
  for (uint32_t i = 0; i < count && inside(segment, pos); ++i) {
    const ea_t before = pos;
    if (make_offset_item(pos)) {
      ensure_function(get_long(pos));
      pos = field_end(pos, 1, 4);
    } else {
      pos += 4;
    }
    if (pos <= before) break;
  }
  return pos;
}

ea_t annotate_field_table(ea_t table, const char *class_name) {
  const ea_t class_list = get_long(table + 2);
  const uint32_t count = get_word(table);
  if (count != 0) set_cmt(table, "FieldTable Count", 0);

  ea_t entries_end = table;
  if (has_referrer(table)) {
    const area_t segment = segment_of(table);
    do_name_anyway(table, compose(class_name, "", "_field_list"), 0);
    ea_t pos = table;
    if (make_word_items(table, 1)) pos = get_item_end(table);
    // The entries start behind the class list pointer even when it holds no
    // address to make an offset of.
    pos = field_end(pos, make_offset_item(pos), 4);
    for (uint32_t i = 0; i < count && inside(segment, pos); ++i) {
      const ea_t before = pos;
      // Field offset and class index share three words.
      pos = field_end(pos, make_word_items(pos, 3), 6);
      const asize_t name_width = short_string_width(pos);
      pos = field_end(pos, make_pascal_string(pos), name_width);
      if (pos <= before) break;
    }
    if (has_newer_type_data(class_layout())) walk_shape(&pos, extended_field_fields);
    entries_end = pos;
  }

  // The class list pointer is the one table address nobody tested. A value
  // that is no address of the program (a newer compiler's field table read
  // in this layout, say) would become the furthest position of the record
  // and end the whole scan there; the walk stays behind the entries instead.
  if (segment_end(class_list) == BADADDR || !in_record_range(class_list, class_list)) {
    return make_align4(entries_end);
  }

  const uint32_t class_count = get_word(class_list);
  ea_t pos = class_list;
  if (class_count != 0) {
    if (make_word_items(class_list, 1)) pos = get_item_end(class_list);
    set_cmt(class_list, "ParentClass Count", 0);
    do_name_anyway(class_list, compose(class_name, "", "_cls_lst"), 0);
  }
  const area_t list_segment = segment_of(class_list);
  for (uint32_t j = 0; j < class_count && inside(list_segment, pos); ++j) {
    const ea_t before = pos;
    pos = field_end(pos, make_offset_item(pos), 4);
    if (pos <= before) break;
  }
  return make_align4(pos);
}
