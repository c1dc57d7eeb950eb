// A forward reader over the database for the variable-length tables of
// type data, which refuses every read past the end it was given.
#pragma once

#include <cstdint>
#include <string>

#include "detector/core/host_api.h"
#include "model/program_model.h"

namespace model {

/// Reads forward from a position, refusing anything past the segment's end.
class Cursor {
 public:
  Cursor(ea_t at, ea_t end) : p_(at), end_(end) {}
  bool Has(uint64_t n) const { return p_ <= end_ && n <= end_ - p_; }
  ea_t at() const { return p_; }
  void Skip(uint32_t n) { p_ += n; }

  bool Byte(uint8_t *v) {
    if (!Has(1)) return false;
    *v = get_byte(p_++);
    return true;
  }
  bool Word(uint16_t *v) {
    if (!Has(2)) return false;
    *v = get_word(p_);
    p_ += 2;
    return true;
  }
  bool Long(uint32_t *v) {
    if (!Has(4)) return false;
    *v = get_long(p_);
    p_ += 4;
    return true;
  }
  bool Quad(int64_t *v) {
    uint32_t low, high;
    if (!Has(8) || !Long(&low) || !Long(&high)) return false;
    *v = static_cast<int64_t>(uint64_t{high} << 32 | low);
    return true;
  }
  /// Any short string.
  bool String(std::string *s) {
    if (!Has(1) || !Has(1u + get_byte(p_))) return false;
    *s = ShortStringAt(p_);
    p_ += 1 + get_byte(p_);
    return true;
  }
  /// A short string that is a name as the recognition takes names.
  bool Name(std::string *s) {
    if (!Has(1) || !Has(1u + get_byte(p_))) return false;
    *s = NameAt(p_);
    if (s->empty()) return false;
    p_ += 1 + get_byte(p_);
    return true;
  }

  /// An attribute block: a 2-byte length that counts itself, then the rest.
  bool Attributes() {
    uint16_t length;
    if (!Word(&length) || length < 2 || !Has(length - 2u)) return false;
    p_ += length - 2u;
    return true;
  }

 private:
  ea_t p_;
  ea_t end_;
};

}  // namespace model
