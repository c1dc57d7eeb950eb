#include "detector/field_walk.h"

#include "detector/core/recognise.h"
#include "detector/edit_helpers.h"

namespace {

const char *const kCallingConventionTexts[] = {
    "CC:ccReg", "CC:ccCdecl", "CC:ccPascal", "CC:ccStdCall", "CC:ccSafeCall",
};

const char *const kVisibilityTexts[] = {
    "Flags:mvPrivate",
    "Flags:mvProtected",
    "Flags:mvPublic",
    "Flags:mvPublished",
};

/// Whether `width` more bytes lie inside the walk's segment; fails the
/// walk when they do not.
bool fits(FieldWalk &w, uint64_t width) {
  if (!going(w)) return false;
  if (uint64_t{w.p} + width > w.end) {
    fail(w);
    return false;
  }
  return true;
}

/// Puts `comment` on the field at the walk's position when annotating.
void comment_field(const FieldWalk &w, const char *comment) {
  if (w.annotate && comment != nullptr) set_cmt(w.p, comment, 0);
}

/// Makes a `width`-byte item with `make` (when annotating), comments it and
/// steps over it.
template <typename Maker>
void make_and_step(FieldWalk &w, asize_t width, const char *comment, Maker make) {
  if (w.annotate && make(w.p)) comment_field(w, comment);
  w.p += width;
}

struct FlagText {
  uint8_t flags;
  const char *text;
};

/// Every single parameter flag and every pair of two; other values (none,
/// three or more, or an unknown bit) have no text.
const FlagText kParamFlagTexts[] = {
    {1, "pfVar"},
    {2, "pfConst"},
    {4, "pfArray"},
    {8, "pfAddress"},
    {16, "pfReference"},
    {32, "pfOut"},
    {3, "pfVar | pfConst"},
    {5, "pfVar | pfArray"},
    {9, "pfVar | pfAddress"},
    {17, "pfVar | pfReference"},
    {33, "pfVar | pfOut"},
    {6, "pfConst | pfArray"},
    {10, "pfConst | pfAddress"},
    {18, "pfConst | pfReference"},
    {34, "pfConst | pfOut"},
    {12, "pfArray | pfAddress"},
    {20, "pfArray | pfReference"},
    {36, "pfArray | pfOut"},
    {24, "pfAddress | pfReference"},
    {40, "pfAddress | pfOut"},
    {48, "pfReference | pfOut"},
};

/// `count` bytes at `ea` as one item; 1 when made.
int make_bytes_item(ea_t ea, asize_t count) {
  return count > 0x7FFFFFFF ? 0 : make_byte_items(ea, static_cast<int>(count));
}

}  // namespace

FieldWalk reading_walk(ea_t start) {
  const ea_t end = segment_end(start);
  FieldWalk w{start, end, false, FieldWalk::kGoing};
  if (end == BADADDR || start >= end) w.state = FieldWalk::kFailed;
  return w;
}

void fail(FieldWalk &w) { w.state = FieldWalk::kFailed; }

void stop_here(FieldWalk &w) {
  if (going(w)) w.state = FieldWalk::kStopped;
}

uint8_t byte_field(FieldWalk &w, const char *comment) {
  if (!fits(w, 1)) return 0;
  const uint8_t value = get_byte(w.p);
  make_and_step(w, 1, comment, make_byte_item);
  return value;
}

uint16_t word_field(FieldWalk &w, const char *comment) {
  if (!fits(w, 2)) return 0;
  const uint16_t value = get_word(w.p);
  make_and_step(w, 2, comment, [](ea_t ea) { return make_word_items(ea, 1); });
  return value;
}

uint32_t dword_field(FieldWalk &w, const char *comment) {
  if (!fits(w, 4)) return 0;
  const uint32_t value = get_long(w.p);
  make_and_step(w, 4, comment, [](ea_t ea) { return make_dword_items(ea, 1); });
  return value;
}

void numbers_field(FieldWalk &w, int width, int count, const char *comment) {
  if (!fits(w, uint64_t(width) * count)) return;
  make_and_step(w, width * count, comment, [width, count](ea_t ea) {
    switch (width) {
      case 2:
        return make_word_items(ea, count);
      case 4:
        return make_dword_items(ea, count);
      default:
        return make_qword_items(ea, count);
    }
  });
}

void bytes_field(FieldWalk &w, asize_t count, const char *comment) {
  if (count == 0 || !fits(w, count)) return;
  make_and_step(w, count, comment,
                [count](ea_t ea) { return make_bytes_item(ea, count); });
}

void skip_field(FieldWalk &w, asize_t width) {
  if (fits(w, width)) w.p += width;
}

uint32_t reference_field(FieldWalk &w, const char *comment) {
  if (!fits(w, 4)) return 0;
  const uint32_t value = get_long(w.p);
  if (value != 0 && !is_program_address(value)) {
    fail(w);
    return 0;
  }
  make_and_step(w, 4, comment, make_offset_item);
  return value;
}

uint32_t address_field(FieldWalk &w, const char *comment) {
  if (!fits(w, 4)) return 0;
  if (get_long(w.p) == 0) {
    fail(w);
    return 0;
  }
  return reference_field(w, comment);
}

uint32_t code_field(FieldWalk &w, const char *comment) {
  const ea_t field = w.p;
  const bool annotate = w.annotate;
  const uint32_t value = reference_field(w, comment);
  if (annotate && going(w) && is_code_of(value, field)) ensure_function(value);
  return value;
}

bool is_code_of(uint32_t value, ea_t field) {
  return value != 0 && in_record_range(value, field);
}

void name_field(FieldWalk &w, const char *comment, NameRule rule) {
  if (!fits(w, 1)) return;
  const uint8_t length = get_byte(w.p);
  if (!fits(w, 1 + uint64_t{length})) return;
  bool printable = length > 0;
  for (uint32_t i = 1; i <= length && printable; ++i) {
    const uint8_t c = get_byte(w.p + i);
    printable = c >= 0x21 && c <= 0x7E;
  }
  if (rule == kPrintableName && !printable) {
    fail(w);
    return;
  }
  if (w.annotate) {
    // Names the host cannot show as a string (empty ones, or ones in a
    // wider character set) still become one item of their bytes.
    const int made =
        printable ? make_pascal_string(w.p) : make_bytes_item(w.p, 1 + length);
    if (made) comment_field(w, comment);
  }
  w.p += 1 + length;
}

void attributes_field(FieldWalk &w) {
  if (!fits(w, 2)) return;
  const ea_t start = w.p;
  const uint16_t length = get_word(start);
  if (length < 2 || !fits(w, length)) {
    fail(w);
    return;
  }
  word_field(w, "AttrData");
  const ea_t end = start + length;
  while (going(w) && w.p < end) {
    address_field(w, "AttrType:PPTypeInfo");
    address_field(w, "AttrCtor");
    const uint16_t args = word_field(w, "ArgLen");
    bytes_field(w, args, "ArgData");
  }
  // The entries must fill the block exactly.
  if (going(w) && w.p != end) fail(w);
}

void optional_attributes(FieldWalk &w) {
  optional_fields(w, [](FieldWalk &x) { attributes_field(x); });
}

void signature_fields(FieldWalk &w) {
  // 255 marks a signature the compiler left out.
  if (byte_field(w, "Flags") == 255) return;
  const char *cc = going(w) ? calling_convention_text(get_byte(w.p)) : nullptr;
  if (going(w) && cc == nullptr) {
    fail(w);
    return;
  }
  byte_field(w, cc);
  reference_field(w, "ResultType:PPTypeInfo");
  const uint8_t params = byte_field(w, "ParamCount");
  for (uint32_t i = 0; i < params && going(w); ++i) {
    byte_field(w, param_flags_text(get_byte(w.p)));
    reference_field(w, "ParamType:PPTypeInfo");
    name_field(w, "ParamName", kAnyName);
    attributes_field(w);
  }
}

const char *calling_convention_text(uint8_t cc) {
  return cc < sizeof(kCallingConventionTexts) / sizeof(kCallingConventionTexts[0])
             ? kCallingConventionTexts[cc]
             : nullptr;
}

const char *visibility_text(uint8_t flags) {
  return flags < 4 ? kVisibilityTexts[flags] : "Flags";
}

const char *param_flags_text(uint8_t flags) {
  for (const FlagText &entry : kParamFlagTexts) {
    if (entry.flags == flags) return entry.text;
  }
  return nullptr;
}
