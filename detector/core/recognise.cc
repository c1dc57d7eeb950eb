// Delphi leaves no symbols behind, so its class records and type
// information blocks are found by their shape alone.
//
// A class record sits just before its virtual method table: its first field
// points into the program (normally at the first slot, 76 bytes on), the
// AutoTable field at +8 is always empty, and the pointer at +32 leads to the
// class name as a short string. Compilers of other generations put 64 or 88
// bytes of header in front of the table; in their programs the first field
// always holds exactly the table's address, which the tests then demand. The
// oldest compilers wrote neither SelfPtr nor IntfTable (a 52-byte header): their
// records are told from other bytes by the fields they have and by their
// parents, which must lead to the root class TObject. A type
// information block starts with a reference cell holding the address of the kind byte
// right behind it, followed by the kind (1 to 17) and the type's name. Every pointer must
// stay within the record's range: from the program's lowest address up to the end of the
// segment holding the record.
//
// Names are short strings restricted to the characters the compiler puts in
// identifiers and generated names; anything else means the bytes are not a
// record at all, which is what keeps code and data from passing as one.
#include "detector/core/recognise.h"

#include <string.h>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr uint8_t kLastClassicKind = KIND_DYN_ARRAY;
constexpr uint8_t kLastKind = KIND_MRECORD;
constexpr int kWitnessesNeeded = 32;
// The oldest layout's records lack SelfPtr and IntfTable in front.
constexpr ea_t kOldestMissing = FIELD_AUTO_TABLE;
// Class hierarchies are a few dozen classes deep at most; a root further up
// than this many parents is a loop or no hierarchy.
constexpr int kMaxParentDepth = 64;
// An instance holds its class pointer; one of 16 MiB or more is no instance.
constexpr uint32_t kMaxInstanceSize = 0x1000000;

const char *const kKindNames[kLastKind + 1] = {
    nullptr,   "Integer",  "Char",    "Enumeration", "Float",   "String",
    "Set",     "Class",    "Method",  "WChar",       "LString", "WString",
    "Variant", "Array",    "Record",  "Interface",   "Int64",   "DynArray",
    "UString", "ClassRef", "Pointer", "Procedure",   "MRecord",
};

// The header size of the program's class records, decided once per run.
int header_size = LAYOUT_CLASSIC;

bool newest_layout() { return has_newer_type_data(header_size) != 0; }

/// The program's little-endian word at `b` (one load: compilers see the
/// pattern).
ea_t word_at(const uint8_t *b) {
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<ea_t>(b[3]) << 24;
}

/// Of the `n` words at `words`, four bytes apart, the first that may begin a
/// record: a pointer into the record's range (first - lowest < span), or a
/// zero when records start with one; `n` when none. A loop of its own, its
/// values in registers and the layout's test decided outside it: it passes
/// over nearly every word of the program.
template <bool kZeroStarts>
size_t next_record_start(const uint8_t *words, size_t n, ea_t lowest, ea_t span) {
  for (size_t i = 0; i < n; ++i) {
    const ea_t first = word_at(words + 4 * i);
    if (first - lowest < span || (kZeroStarts && first == 0)) return i;
  }
  return n;
}

bool is_name_byte(uint8_t c) {
  return (c >= 0x24 && c <= 0x26) ||  // $ % &
         c == 0x28 || c == 0x29 ||    // ( )
         c == 0x2E ||                 // .
         (c >= 0x30 && c <= 0x3A) ||  // digits, :
         (c >= 0x3F && c <= 0x5B) ||  // ? @ A-Z [
         c == 0x5D || c == 0x5F ||    // ] _
         (c >= 0x61 && c <= 0x7A);    // a-z
}

/// Generic names add the comma, the angle brackets and the backquote.
bool is_wide_name_byte(uint8_t c) {
  return is_name_byte(c) || c == 0x2C || c == 0x3C || c == 0x3E || c == 0x60;
}

bool is_valid_kind(uint8_t kind) {
  return kind >= 1 && kind <= (newest_layout() ? kLastKind : kLastClassicKind);
}

/// The short string at `ea` into `out` (room for 256 bytes); false when it
/// is empty or holds a byte outside the name set.
bool read_name(ea_t ea, bool wide, char *out) {
  const uint8_t n = get_byte(ea);
  if (n == 0) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t c = get_byte(ea + 1 + i);
    if (!(wide ? is_wide_name_byte(c) : is_name_byte(c))) return false;
    out[i] = static_cast<char>(c);
  }
  out[n] = '\0';
  return true;
}

// A record's address with what every test of it reads first: its first
// field and its range, from the lowest address of the program up to the end
// of the segment that holds the record.
struct Place {
  ea_t at;
  ea_t first;  // get_long(at)
  ea_t lowest;
  ea_t end;  // segment_end(at)
  bool in_range(ea_t value) const { return value >= lowest && value < end; }
};

Place place_of(ea_t at) { return {at, get_long(at), lowest_address(), segment_end(at)}; }

const char *record_name(const Place &p, ea_t name_ea);

/// The address of a field present in every layout, in the layout in use.
ea_t field_at(ea_t record, ea_t field) {
  return has_self_pointer(header_size) ? record + field : record + field - kOldestMissing;
}

/// Everything a record of the oldest layout at `p` must show but its link
/// into the hierarchy: an empty AutoTable (its first field), tables of zero
/// or of its range, a TypeInfo of zero or a class type's kind byte and name,
/// a readable class name, a plausible instance size, a parent of zero or its
/// range, and standard methods of its range.
bool oldest_fields_pass(const Place &p, char *name) {
  if (p.first != 0 || p.end == BADADDR || p.end - p.at < LAYOUT_OLDEST) return false;
  for (ea_t table : {FIELD_INIT_TABLE, FIELD_FIELD_TABLE, FIELD_METHOD_TABLE,
                     FIELD_DYNAMIC_TABLE, FIELD_PARENT}) {
    const ea_t v = get_long(field_at(p.at, table));
    if (v != 0 && !p.in_range(v)) return false;
  }
  const uint32_t size = get_long(field_at(p.at, FIELD_INSTANCE_SIZE));
  if (size < 4 || size >= kMaxInstanceSize) return false;
  for (ea_t slot = FIELD_FIRST_STANDARD; slot < LAYOUT_OLDEST + kOldestMissing;
       slot += 4) {
    if (!p.in_range(get_long(field_at(p.at, slot)))) return false;
  }
  const ea_t type_info = get_long(field_at(p.at, FIELD_TYPE_INFO));
  if (type_info != 0 && (!p.in_range(type_info) || get_byte(type_info) != KIND_CLASS ||
                         !read_name(type_info + 1, false, name))) {
    return false;
  }
  const ea_t name_ea = get_long(field_at(p.at, FIELD_CLASS_NAME));
  return p.in_range(name_ea) && read_name(name_ea, false, name);
}

/// A record of the oldest layout: its fields pass, and so do its parents',
/// up to a root named TObject. The parent field holds the parent's table,
/// which lies right behind the parent's header.
bool oldest_record_at(const Place &p) {
  char name[256];
  if (!oldest_fields_pass(p, name)) return false;
  ea_t record = p.at;
  for (int steps = 0;; ++steps) {
    const ea_t parent = get_long(field_at(record, FIELD_PARENT));
    if (parent == 0) return strcmp(name, "TObject") == 0;
    // A loop never reaches a root either; the bound ends it.
    if (steps == kMaxParentDepth || parent < LAYOUT_OLDEST) return false;
    record = parent - LAYOUT_OLDEST;
    if (!oldest_fields_pass(place_of(record), name)) return false;
  }
}

bool class_record_at(const Place &p) {
  if (!has_self_pointer(header_size)) return oldest_record_at(p);
  if (!p.in_range(p.first)) return false;
  // In the classic layout SelfPtr is only range-tested.
  if (exact_self_pointer(header_size) && p.first != p.at + header_size) return false;
  if (get_long(p.at + 8) != 0) return false;  // AutoTable is always empty
  return record_name(p, get_long(p.at + 32)) != nullptr;
}

bool type_info_at(const Place &p) {
  if (!p.in_range(p.first)) return false;
  // The cheap tests first: nearly every address fails the reference cell's.
  if (p.first != p.at + 4) return false;
  if (!is_valid_kind(get_byte(p.at + 4))) return false;
  return record_name(p, p.at + 5) != nullptr;
}

/// True when a record of the oldest layout with a parent starts at `a`
/// (in a segment ending at `end`) and links into the hierarchy.
bool links_as_oldest(ea_t a, ea_t end) {
  const int saved = header_size;
  header_size = LAYOUT_OLDEST;
  const Place p{a, get_long(a), lowest_address(), end};
  const bool linked = get_long(field_at(a, FIELD_PARENT)) != 0 && oldest_record_at(p);
  header_size = saved;
  return linked;
}

}  // namespace

extern "C" {

const char *get_pascal_name(ea_t ea, int deref) {
  static char name[kTextSize];
  if (deref == 1) ea = get_long(ea);
  return read_name(ea, newest_layout(), name) ? name : nullptr;
}

ea_t segment_end(ea_t ea) {
  const area_t *seg = areacb_t_get_area(&segs, ea);
  return seg == nullptr ? BADADDR : seg->end_ea;
}

ea_t lowest_address(void) { return inf.min_ea; }

int is_program_address(uint32_t value) {
  return value >= lowest_address() && value <= inf.max_ea ? 1 : 0;
}

int in_record_range(uint32_t value, ea_t at) {
  return value >= lowest_address() && value < segment_end(at) ? 1 : 0;
}

const char *type_kind_name(int kind) {
  if (kind < 1 || kind > 255 || !is_valid_kind(static_cast<uint8_t>(kind)))
    return nullptr;
  return kKindNames[kind];
}

int decide_class_layout(void) {
  static const int kSizes[] = {LAYOUT_OLDER, LAYOUT_CLASSIC, LAYOUT_NEWEST};
  int witnesses[3] = {0, 0, 0};
  int total = 0;
  bool linked = false;  // a record of the oldest layout with a parent links
  char name[256];
  const ea_t lowest = lowest_address();
  ea_t a = lowest + (4 - lowest % 4) % 4;
  const area_t *seg = nullptr;  // the segment of the last address tested
  while (a >= lowest && a < inf.max_ea && total < kWitnessesNeeded) {
    if (seg == nullptr || a < seg->start_ea || a >= seg->end_ea) {
      seg = areacb_t_get_area(&segs, a);
      // No record lies between segments: from a gap on to the next segment.
      if (seg == nullptr) {
        const area_t *next = areacb_t_get_next_area(&segs, a);
        if (next == nullptr) break;
        const ea_t start = next->start_ea + (4 - next->start_ea % 4) % 4;
        if (start <= a) break;
        a = start;
        continue;
      }
    }
    const auto test = [&](ea_t self) {
      if (self == 0 && total == 0 && !linked) linked = links_as_oldest(a, seg->end_ea);
      for (int i = 0; i < 3; ++i) {
        if (self - a != static_cast<ea_t>(kSizes[i])) continue;
        const ea_t name_ea = get_long(a + 32);
        if (in_record_range(self, a) && get_long(a + 8) == 0 &&
            in_record_range(name_ea, a) && read_name(name_ea, true, name)) {
          ++witnesses[i];
          ++total;
        }
      }
    };
    // The words that lie inside the segment, from its bytes; one that
    // straddles its end, as get_long reads it.
    asize_t left = 0;
    const uint8_t *bytes = get_segment_bytes(a, &left);
    const size_t words = bytes != nullptr && left >= 4 ? (left - 4) / 4 + 1 : 0;
    if (words == 0) {
      test(get_long(a));
      a += 4;
      continue;
    }
    for (size_t i = 0; i < words && a < inf.max_ea && total < kWitnessesNeeded; ++i) {
      const ea_t self = word_at(bytes + 4 * i);
      // Nearly every word is neither zero nor a header's size ahead.
      if (self == 0 || self - a <= LAYOUT_NEWEST) test(self);
      a += 4;
    }
  }
  if (total == 0) return linked ? LAYOUT_OLDEST : LAYOUT_CLASSIC;
  int best = 1;  // classic unless another size has strictly more witnesses
  for (int i = 0; i < 3; ++i) {
    if (witnesses[i] > witnesses[best]) best = i;
  }
  for (int i = 0; i < 3; ++i) {
    if (i != best && witnesses[i] == witnesses[best]) return LAYOUT_CLASSIC;
  }
  return kSizes[best];
}

const char *standard_method_name(int size, int index) {
  static const char *const kMethods52[] = {"DefaultHandler", "NewInstance",
                                           "FreeInstance", "Destroy"};
  static const char *const kMethods64[] = {"SafeCallException", "DefaultHandler",
                                           "NewInstance", "FreeInstance", "Destroy"};
  static const char *const kMethods76[] = {
      "SafeCallException", "AfterConstruction", "BeforeDestruction", "Dispatch",
      "DefaultHandler",    "NewInstance",       "FreeInstance",      "Destroy"};
  static const char *const kMethods88[] = {"Equals",
                                           "GetHashCode",
                                           "ToString",
                                           "SafeCallException",
                                           "AfterConstruction",
                                           "BeforeDestruction",
                                           "Dispatch",
                                           "DefaultHandler",
                                           "NewInstance",
                                           "FreeInstance",
                                           "Destroy"};
  if (index < 0) return nullptr;
  switch (size) {
    case LAYOUT_OLDEST:
      return index < 4 ? kMethods52[index] : nullptr;
    case LAYOUT_OLDER:
      return index < 5 ? kMethods64[index] : nullptr;
    case LAYOUT_NEWEST:
      return index < 11 ? kMethods88[index] : nullptr;
    default:
      return index < 8 ? kMethods76[index] : nullptr;
  }
}

ea_t class_field_at(ea_t record, int field) {
  if (!has_self_pointer(header_size) && field < static_cast<int>(kOldestMissing))
    return BADADDR;
  return field_at(record, static_cast<ea_t>(field));
}

int class_field_of(ea_t record, ea_t ea) {
  const ea_t missing = has_self_pointer(header_size) ? 0 : kOldestMissing;
  if (ea < record || ea - record >= static_cast<ea_t>(header_size) ||
      (ea - record) % 4 != 0)
    return -1;
  return static_cast<int>(ea - record + missing);
}

ea_t class_vmt(ea_t record) {
  return has_self_pointer(header_size) ? get_long(record)
                                       : record + static_cast<ea_t>(header_size);
}

ea_t class_slots_end(ea_t record) {
  const ea_t vmt = class_vmt(record);
  ea_t end = segment_end(record);
  for (int field : {FIELD_INTF_TABLE, FIELD_INIT_TABLE, FIELD_FIELD_TABLE,
                    FIELD_METHOD_TABLE, FIELD_DYNAMIC_TABLE, FIELD_CLASS_NAME}) {
    const ea_t at = class_field_at(record, field);
    if (at == BADADDR) continue;
    const ea_t v = get_long(at);
    if (v >= vmt && v < end) end = v;
  }
  return end;
}

int classic_layout(int size) { return size == LAYOUT_CLASSIC ? 1 : 0; }

int has_self_pointer(int size) { return size != LAYOUT_OLDEST ? 1 : 0; }

int exact_self_pointer(int size) {
  return has_self_pointer(size) && !classic_layout(size) ? 1 : 0;
}

int has_newer_type_data(int size) { return size == LAYOUT_NEWEST ? 1 : 0; }

void set_class_layout(int size) { header_size = size; }

int class_layout(void) { return header_size; }

const char *get_record_name(ea_t name_ea, ea_t record) {
  return record_name(place_of(record), name_ea);
}

void for_each_prop_type(ea_t kind_at, void (*visit)(ea_t prop_type, void *context),
                        void *context) {
  constexpr ea_t kPropRecordFixed = 26;
  const ea_t end = segment_end(kind_at);
  // Room for the kind, the longest name, ClassType, ParentInfo, PropCount,
  // the longest unit name and the count of the records.
  if (get_byte(kind_at) != KIND_CLASS || end == BADADDR ||
      end - kind_at < 2 + 255 + 10 + 256 + 2)
    return;
  ea_t p = kind_at + 2 + get_byte(kind_at + 1) + 10;
  p += 1 + get_byte(p);
  const uint32_t count = get_word(p);
  p += 2;
  for (uint32_t i = 0; i < count && p < end && end - p > kPropRecordFixed; ++i) {
    visit(get_long(p), context);
    p += kPropRecordFixed + 1 + get_byte(p + kPropRecordFixed);
  }
}

int is_class_record(ea_t ea) { return class_record_at(place_of(ea)) ? 1 : 0; }

int is_type_info(ea_t ea) { return type_info_at(place_of(ea)) ? 1 : 0; }

ea_t find_next_group(ea_t ea) {
  const ea_t lowest = lowest_address();
  ea_t x = ea - ea % 4;
  if (x < lowest) return BADADDR;
  while (x < inf.max_ea) {
    asize_t left = 0;
    const uint8_t *bytes = get_segment_bytes(x, &left);
    if (bytes != nullptr && left >= 4) {
      // Every step whose word lies inside the segment, from memory. Both
      // shapes begin with a pointer into the record's range (the program's
      // lowest address up to the segment's end), which nearly every address
      // fails; a record of the oldest layout starts with its empty AutoTable.
      const ea_t from = x;
      const ea_t end = x + left;
      const ea_t last = std::min<ea_t>(end - 4, inf.max_ea - 1);
      const ea_t span = end - lowest;  // first - lowest < span: in the range
      const bool zero_starts = !has_self_pointer(header_size);
      while (x <= last) {
        const uint8_t *words = bytes + (x - from);
        const size_t n = (last - x) / 4 + 1;
        const size_t i = zero_starts ? next_record_start<true>(words, n, lowest, span)
                                     : next_record_start<false>(words, n, lowest, span);
        x += static_cast<ea_t>(4 * i);
        if (i == n) break;
        const Place p{x, word_at(words + 4 * i), lowest, end};
        if (class_record_at(p) || type_info_at(p)) return x;
        x += 4;
      }
      continue;
    }
    // Outside every segment, or at a segment's end where the word straddles
    // the border, the word is read as it lies.
    const ea_t first = get_long(x);
    if (first >= lowest || (first == 0 && !has_self_pointer(header_size))) {
      const area_t *seg = areacb_t_get_area(&segs, x);
      const Place p{x, first, lowest, seg == nullptr ? BADADDR : seg->end_ea};
      if (class_record_at(p) || type_info_at(p)) break;
      // Between segments every word reads 0xFFFFFFFF and fails: on to the
      // last step at or below the start of the next segment.
      const area_t *next_seg =
          seg == nullptr ? areacb_t_get_next_area(&segs, x) : nullptr;
      if (next_seg != nullptr && (next_seg->start_ea & ~3u) > x) {
        x = next_seg->start_ea & ~3u;
        continue;
      }
    }
    const ea_t next = x + 4;
    // A step past the top of the address space wraps; whatever it wraps to
    // has been searched or lies below the program.
    if (next < x) return BADADDR;
    x = next;
  }
  return x >= lowest && x < inf.max_ea ? x : BADADDR;
}

const char *get_group_label(ea_t ea) {
  static char label[kTextSize];
  label[0] = '\0';
  if (is_type_info(ea)) {
    const uint8_t kind = get_byte(ea + 4);
    const char *name = get_pascal_name(ea + 5, 0);
    if (name == nullptr && kind == KIND_METHOD) name = "UnnamedMethod";
    if (name == nullptr) return label;
    qstrncpy(label, "Type ", kTextSize);
    qstrncat(label, name, kTextSize);
    qstrncat(label, " of ", kTextSize);
    qstrncat(label, type_kind_name(kind), kTextSize);
    return label;
  }
  // No candidate lacks a name here, but a caller may ask about any address:
  // without a name the label stays empty.
  const char *name = get_pascal_name(field_at(ea, FIELD_CLASS_NAME), 1);
  if (name == nullptr) return label;
  qstrncpy(label, "Class ", kTextSize);
  qstrncat(label, name, kTextSize);
  // "VritualTable" is spelt so in every log and output users have; keep it.
  qstrncat(label, " of VritualTable", kTextSize);
  return label;
}

}  // extern "C"

namespace {

const char *record_name(const Place &p, ea_t name_ea) {
  static char unnamed[kTextSize];
  // In the oldest layout a class record starts with its empty AutoTable,
  // and a type block has no cell: `p` is then where the cell would be.
  const bool oldest = !has_self_pointer(header_size);
  if (!(oldest || p.in_range(p.first)) || !p.in_range(name_ea)) return nullptr;

  const uint8_t kind = get_byte(p.at + 4);
  const bool type_shape = is_valid_kind(kind) && (oldest || p.first == p.at + 4);
  if (!type_shape && !(get_long(field_at(p.at, FIELD_AUTO_TABLE)) == 0 &&
                       get_long(field_at(p.at, FIELD_CLASS_NAME)) == name_ea)) {
    return nullptr;
  }

  const char *name = get_pascal_name(name_ea, 0);
  if (name != nullptr) return name;
  // A method type without a name of its own has its first parameter's name
  // where the type name would follow.
  if (kind == KIND_METHOD && get_pascal_name(p.at + 9, 0) != nullptr) {
    qstrncpy(unnamed, "unnamed_method", kTextSize);
    return unnamed;
  }
  return nullptr;
}

}  // namespace
