// A class record is 19 doublewords in front of the class's virtual method
// table: a pointer to that table, the addresses of the interface, auto, init,
// type information, field, method and dynamic tables, the class name, the
// instance size, the parent class and the eight standard virtual methods.
// Older compilers had five standard virtual methods (a 64-byte header),
// newer ones eleven (88 bytes); the eleven fields up to the parent class are
// the same in all three. The oldest compilers wrote neither the pointer to
// the table nor the interface table, and four standard methods (52 bytes).
// The user's virtual method slots follow it, then the sub-tables and the
// class name string, and the compiler places the next class record of the
// unit right behind. The walk here annotates such a run record by record,
// each record starting where the previous one's annotation ended.
#include "detector/annotate_class.h"

#include <string.h>

#include "detector/annotate_type.h"
#include "detector/class_tables.h"
#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"

namespace {

/// Comments of the header fields up to ParentClass, by field index: for a
/// field that holds an address of its segment, and for a lone zero.
struct FieldComments {
  const char *address;
  const char *zero;
};

constexpr ea_t kTableFields = 11;

const FieldComments kTableFieldComments[kTableFields] = {
    {"SelfPtr", nullptr},           {"IntfTable", "IntfTable"},
    {nullptr, "AutoTable"},         {"InitTable", "InitTable"},
    {"TypeInfo", "TypeInfo"},       {"FieldTable", "FieldTable"},
    {"MethodTable", "MethodTable"}, {"DynamicTable", "DynamicTable"},
    {"ClassName Address", nullptr}, {nullptr, nullptr},  // InstanceSize
    {"ParentClass", nullptr},
};

const char *const kSlotComments[] = {"QueryInterface", "AddRef", "Release",
                                     "CreateObject"};

/// What one record's walk needs besides its address.
struct ClassRecord {
  ea_t record;  // A, the SelfPtr field
  ea_t vtable;  // V, the value of SelfPtr
  ea_t intf_table;
  ea_t init_table;
  ea_t field_table;
  ea_t method_table;
  ea_t dynamic_table;
  char name[kTextSize];
  // The method table's reading (88-byte layout), made on first need.
  bool method_table_read;
  MethodTableReading method_reading;
};

/// The header comment for the field at `ea` of the record at `record`, or
/// null when the field has none.
const char *header_comment(ea_t record, ea_t ea, bool zero) {
  const int offset = class_field_of(record, ea);
  if (offset < 0) return nullptr;
  const ea_t field = static_cast<ea_t>(offset) / 4;
  if (field < kTableFields) {
    const FieldComments &comments = kTableFieldComments[field];
    return zero ? comments.zero : comments.address;
  }
  if (zero) return nullptr;
  return standard_method_name(class_layout(), static_cast<int>(field - kTableFields));
}

/// The record's first field as its layout demands: in the classic layout
/// any address of the record's range, in the others exactly the address
/// behind the header.
bool holds_own_table(ea_t a) {
  const int header = class_layout();
  return !exact_self_pointer(header) || get_long(a) == a + static_cast<ea_t>(header);
}

/// Whether a record of the run may start at `a`: the first fields tested as
/// the search tests them; in the oldest layout, with nothing to test in
/// front, the whole recognition.
bool starts_record(ea_t a) {
  if (!has_self_pointer(class_layout())) return is_class_record(a) != 0;
  const ea_t end = segment_end(a);
  const uint32_t self_ptr = get_long(a);
  return self_ptr >= lowest_address() && self_ptr < end && get_long(a + 4) < end &&
         get_long(a + 8) == 0 && holds_own_table(a);
}

/// Whether the run goes on with a record at `a`, behind the one before.
bool continues_run(ea_t a) {
  if (!has_self_pointer(class_layout())) return is_class_record(a) != 0;
  return get_long(a) < segment_end(a) && get_long(a + 8) == 0 && holds_own_table(a);
}

void set_comment(ea_t ea, const char *text) {
  if (text != nullptr) set_cmt(ea, text, 0);
}

/// The number of zero doublewords from `ea` on, up to the end of its
/// segment.
int count_zero_dwords(ea_t ea) {
  const ea_t end = segment_end(ea);
  int count = 0;
  while (ea < end && end - ea >= 4 && get_long(ea) == 0) {
    ++count;
    ea += 4;
  }
  return count;
}

/// A table address of the record's segment.
bool is_table_address(const ClassRecord &record, ea_t table) {
  return in_record_range(table, record.record);
}

/// The reading of the record's method table, which the record's end and
/// the table's annotation share.
const MethodTableReading &method_table_reading(ClassRecord &record) {
  if (!record.method_table_read) {
    record.method_reading = read_method_table(record.method_table);
    record.method_table_read = true;
  }
  return record.method_reading;
}

/// In programs of the newest compilers, the position behind the method
/// entries that the record's extended method table points to and that the
/// compiler put at `pos`, aligned as a whole; `pos` when none is there.
ea_t behind_method_entries(ClassRecord &record, ea_t pos) {
  if (!has_newer_type_data(class_layout()) ||
      !is_table_address(record, record.method_table)) {
    return pos;
  }
  const ea_t behind = method_entries_behind(&method_table_reading(record), pos);
  return behind != pos ? make_align4(behind) : pos;
}

/// Where the record ends behind its class name string, which ends at
/// `name_end`: behind the method entries that may follow the name directly
/// (aligning the name first would take the first entry's length word for
/// filler), else behind the name's alignment and any entries after it.
ea_t end_behind_name(ClassRecord &record, ea_t name_end) {
  const ea_t behind = behind_method_entries(record, name_end);
  if (behind != name_end) return behind;
  return behind_method_entries(record, make_align4(name_end));
}

/// Annotates one header field at `pos`; the position of the next field.
ea_t annotate_header_field(ClassRecord &record, ea_t pos) {
  const ea_t a = record.record;
  const ea_t instance_size = class_field_at(a, FIELD_INSTANCE_SIZE);
  const uint32_t value = get_long(pos);
  if (in_record_range(value, pos)) {
    if (!make_offset_item(pos)) return pos + 4;
    set_comment(pos, header_comment(a, pos, false));
    if (pos == class_field_at(a, FIELD_CLASS_NAME) && make_pascal_string(value))
      end_behind_name(record, get_item_end(value));
    // The standard virtual methods point to code; so does the parent class
    // field of a class without instances (InstanceSize 0).
    if (pos > instance_size + 4 || (pos > instance_size && get_long(instance_size) == 0))
      ensure_function(value);
    return field_end(pos, 1, 4);
  }
  if (value != 0) {
    clear_field_name(pos);
    if (pos == instance_size) set_cmt(pos, "InstanceSize", 0);
    if (!make_dword_items(pos, 1)) return pos + 4;
    return field_end(pos, 1, 4);
  }
  // A run of zero fields becomes one item; only a lone zero is commented.
  const int zeros = count_zero_dwords(pos);
  if (zeros == 1) set_comment(pos, header_comment(a, pos, true));
  make_dword_items(pos, zeros);
  return field_end(pos, 1, 4 * (zeros > 0 ? zeros : 1));
}

/// Annotates the user virtual method slots from `pos`; the position behind
/// the last slot made.
ea_t annotate_user_slots(const ClassRecord &record, ea_t pos) {
  if (!in_record_range(pos, pos)) {
    // No room for slots: what follows can only be the class name string.
    if (make_pascal_string(pos)) pos = get_item_end(pos);
    return make_align4(pos);
  }
  // A table or the name where the slots would go ends them, even when its
  // first words read as addresses.
  const ea_t segment_limit = class_slots_end(record.record);
  if (pos >= segment_limit) return pos;
  for (;;) {
    const ea_t before = pos;
    if (make_offset_item(pos)) {
      const ea_t header = static_cast<ea_t>(class_layout());
      const ea_t slot = pos - record.record - header;
      // The oldest compilers knew no interfaces: no slot of theirs is named
      // after the interface methods.
      if (pos >= record.record + header && slot % 4 == 0 && slot / 4 < 4 &&
          has_self_pointer(class_layout())) {
        set_cmt(pos, kSlotComments[slot / 4], 0);
      }
      ensure_function(get_long(pos));
      pos = field_end(pos, 1, 4);
    } else if (in_record_range(get_long(pos), pos)) {
      pos += 4;  // refused, but still a slot: step over it
    } else {
      return pos;
    }
    if (pos <= before || pos >= segment_limit) return pos;
    if (!in_record_range(get_long(pos), pos)) return pos;
  }
}

/// Tables the compiler placed in front of what was already annotated are
/// looked for at the furthest position instead.
ea_t not_below(ea_t table, ea_t furthest) {
  return table != 0 && table < furthest ? furthest : table;
}

ea_t max_ea(ea_t a, ea_t b) { return a > b ? a : b; }

/// Hands the record's tables to their annotators; returns the position
/// behind the last one annotated (`pos` when none was) and raises *furthest.
ea_t annotate_sub_tables(ClassRecord &record, ea_t pos, ea_t *furthest) {
  if (is_table_address(record, record.intf_table)) {
    annotate_interface_table(record.intf_table, record.name);
    *furthest = max_ea(*furthest, record.intf_table);
  }
  ea_t table = not_below(record.init_table, *furthest);
  if (is_table_address(record, table) && get_long(table) == 14) {
    pos = annotate_init_table(table, record.name);
    *furthest = max_ea(*furthest, pos);
  }
  table = not_below(record.method_table, *furthest);
  if (is_table_address(record, table)) {
    if (table == record.method_table && has_newer_type_data(class_layout())) {
      pos = annotate_read_method_table(&method_table_reading(record), record.name);
    } else {
      pos = annotate_method_table(table, record.name);
    }
    *furthest = max_ea(*furthest, pos);
  }
  table = not_below(record.dynamic_table, *furthest);
  if (is_table_address(record, table)) {
    pos = annotate_dynamic_table(table, record.name);
    *furthest = max_ea(*furthest, pos);
  }
  if (is_table_address(record, record.field_table)) {
    pos = annotate_field_table(record.field_table, record.name);
    *furthest = max_ea(*furthest, pos);
  }
  return pos;
}

/// Names the virtual method table "_cls_" + the display name and the record
/// "offset" + that, where the names there may be replaced.
void name_record(const ClassRecord &record) {
  static char comment[kTextSize];
  static char name[kTextSize];
  static char existing[kTextSize];

  // A user's repeatable comment on the table names the class for display,
  // as long as it is one word.
  const char *display = record.name;
  if (get_cmt(record.vtable, 1, comment, sizeof(comment)) > 0 &&
      strchr(comment, ' ') == nullptr) {
    display = comment;
  }
  qstrncpy(name, "_cls_", sizeof(name));
  qstrncat(name, display, sizeof(name));

  const char *vtable_name =
      get_true_name(record.vtable, record.vtable, existing, sizeof(existing));
  if (is_dummy_name(vtable_name, kRecordDummies) || vtable_name[0] == 'a') {
    do_name_anyway(record.vtable, name, 0);
  }

  const char *record_name =
      get_true_name(record.record, record.record, existing, sizeof(existing));
  if (is_dummy_name(record_name, kRecordDummies)) {
    static char offset_name[kTextSize];
    qstrncpy(offset_name, "offset", sizeof(offset_name));
    qstrncat(offset_name, name, sizeof(offset_name));
    do_name_anyway(record.record, offset_name, 0);
  }
}

/// The class name of the record at `a` and its table addresses; false when
/// the record has no valid name.
bool read_record(ea_t a, ClassRecord *record) {
  const char *name = get_record_name(get_long(class_field_at(a, FIELD_CLASS_NAME)), a);
  if (name == nullptr) return false;
  // The sub-tables read names through the same static buffer.
  qstrncpy(record->name, name, sizeof(record->name));
  record->record = a;
  record->vtable = class_vmt(a);
  const ea_t intf = class_field_at(a, FIELD_INTF_TABLE);
  record->intf_table = intf == BADADDR ? 0 : get_long(intf);
  record->init_table = get_long(class_field_at(a, FIELD_INIT_TABLE));
  record->field_table = get_long(class_field_at(a, FIELD_FIELD_TABLE));
  record->method_table = get_long(class_field_at(a, FIELD_METHOD_TABLE));
  record->dynamic_table = get_long(class_field_at(a, FIELD_DYNAMIC_TABLE));
  record->method_table_read = false;
  return true;
}

}  // namespace

ea_t annotate_class_records(ea_t start, int32_t *found) {
  const ea_t lowest = lowest_address();
  if (!starts_record(start)) {
    *found = 0;
    return 0;
  }
  *found = 1;

  static ClassRecord record;
  ea_t furthest = 0;
  ea_t a = start;
  for (;;) {
    if (!continues_run(a)) return furthest;
    if (!read_record(a, &record)) {
      *found = 0;
      return furthest;
    }

    ea_t pos = a;
    const ea_t slots = a + static_cast<ea_t>(class_layout());
    if (slots > a && in_record_range(slots, a)) {
      while (pos < slots) pos = annotate_header_field(record, pos);
      pos = annotate_user_slots(record, pos);
      furthest = pos;
      pos = annotate_sub_tables(record, pos, &furthest);
    } else {
      // A record cut off by its segment's end: nothing past it was
      // annotated, so the caller must not move beyond it.
      furthest = a;
    }

    make_offset_item(class_field_at(a, FIELD_CLASS_NAME));
    furthest = max_ea(furthest, pos);
    // Newer compilers may put the field table in front of a method table
    // that follows it without a gap; the name then lies behind the method
    // table, where the furthest table ended, not behind the field table.
    const ea_t name_at = get_long(class_field_at(a, FIELD_CLASS_NAME));
    if (has_newer_type_data(class_layout()) && name_at > pos && name_at == furthest)
      pos = name_at;
    // The newest compilers put the method entries their extended method
    // tables point to behind the name; the next record follows them.
    pos = make_pascal_string(pos) ? end_behind_name(record, get_item_end(pos))
                                  : behind_method_entries(record, pos);
    furthest = max_ea(furthest, pos);

    name_record(record);
    // Blocks of the oldest layout have no cell that a search could find:
    // the record's TypeInfo field, which points at the kind byte, leads to
    // its class's block.
    const ea_t type_info = get_long(class_field_at(a, FIELD_TYPE_INFO));
    if (!has_self_pointer(class_layout()) && type_info != 0 &&
        in_record_range(type_info, a)) {
      annotate_type_block(type_info);
      // So do the blocks of its properties' types, by the property records.
      for_each_prop_type(
          type_info,
          [](ea_t type, void *record) {
            if (in_record_range(type, *static_cast<ea_t *>(record)))
              annotate_type_block(type);
          },
          &a);
    }

    if (get_func_num(furthest) != -1) furthest = prevaddr(furthest);
    callui(UI_JUMP_TO, furthest, -1);

    // The next record of the run starts where this one's annotation ended;
    // a position that did not move on cannot start a new record.
    if (pos <= a) return furthest;
    if (get_long(pos) < lowest && has_self_pointer(class_layout())) return furthest;
    a = pos;
  }
}
