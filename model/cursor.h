// A forward reader over the database for the variable-length tables of
// type data, which refuses every read past the end it was given.
#pragma once

#include <cstdint>
#include <string>

#include "detector/core/host_api.h"
#include "model/program_model.h"

namespace model {

/// Reads forward from a position, refusing anything past the segment's end.
/// The bytes of the segment it starts in are read from memory; a read that
/// reaches past them goes through the byte services, which read across a
/// segment border as get_word and get_long do.
class Cursor {
 public:
  Cursor(ea_t at, ea_t end) : p_(at), end_(end) {
    asize_t size = 0;
    bytes_ = get_segment_bytes(at, &size);
    if (bytes_ != nullptr) {
      base_ = at;
      bytes_end_ = uint64_t{at} + size;
    }
  }
  bool Has(uint64_t n) const { return p_ <= end_ && n <= end_ - p_; }
  ea_t at() const { return p_; }
  void Skip(uint32_t n) { p_ += n; }

  bool Byte(uint8_t *v) {
    if (!Has(1)) return false;
    *v = InMemory(1) ? bytes_[p_ - base_] : get_byte(p_);
    ++p_;
    return true;
  }
  bool Word(uint16_t *v) {
    if (!Has(2)) return false;
    if (InMemory(2)) {
      const uint8_t *b = bytes_ + (p_ - base_);
      *v = static_cast<uint16_t>(b[0] | b[1] << 8);
    } else {
      *v = get_word(p_);
    }
    p_ += 2;
    return true;
  }
  bool Long(uint32_t *v) {
    if (!Has(4)) return false;
    if (InMemory(4)) {
      const uint8_t *b = bytes_ + (p_ - base_);
      *v = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    } else {
      *v = get_long(p_);
    }
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
  /// Whether the n bytes at p_ lie in the segment's bytes in memory.
  bool InMemory(uint64_t n) const {
    return bytes_ != nullptr && p_ >= base_ && p_ < bytes_end_ && n <= bytes_end_ - p_;
  }

  ea_t p_;
  ea_t end_;
  const uint8_t *bytes_ = nullptr;  // the byte at base_, up to bytes_end_
  ea_t base_ = 0;
  uint64_t bytes_end_ = 0;
};

}  // namespace model
