// The program image while it is being laid out: its sections in address
// order, labels that name addresses before they are known, and the 4-byte
// references that are filled in once every label is bound.
//
// Sections are laid one after the other; only the last one grows, so the
// address of every byte is known the moment it is written. A reference may
// name a label that is bound later (a class record pointing at a type block
// further on); `Resolve` writes all of them at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace samples {

using Addr = uint32_t;

struct Label {
  int id = -1;
  bool valid() const { return id >= 0; }
};

struct Section {
  std::string name;
  Addr start = 0;             // absolute address of the first byte
  uint32_t virtual_size = 0;  // bytes the section covers in memory
  uint32_t characteristics = 0;
  std::vector<uint8_t> bytes;  // raw data; may be shorter than virtual_size
};

class Image {
 public:
  static constexpr Addr kImageBase = 0x400000;
  static constexpr uint32_t kSectionAlignment = 0x1000;

  Image();

  /// Starts a new section on the next section boundary; later writes go there.
  void BeginSection(const std::string &name, uint32_t characteristics);
  /// Reserves zero-filled memory without raw data (an uninitialised section).
  void ReserveVirtual(uint32_t size);

  Addr Here() const;
  const std::vector<Section> &sections() const { return sections_; }
  Section &current() { return sections_.back(); }

  Label NewLabel();
  void Bind(Label label) { BindAt(label, Here()); }
  void BindAt(Label label, Addr addr);
  bool IsBound(Label label) const;
  /// Address of a bound label; throws when the label was never bound.
  Addr AddressOf(Label label) const;

  void Put8(uint8_t v);
  void Put16(uint16_t v);
  void Put32(uint32_t v);
  void Put64(uint64_t v);
  void PutBytes(const uint8_t *data, size_t n);
  /// A short string: a length byte, then the characters.
  void PutShortString(const std::string &s);
  /// A 4-byte slot that will hold the label's address plus `addend`.
  void PutRef(Label label, int32_t addend = 0);
  /// A 4-byte slot holding the label's address, or 0 when the label is unset.
  void PutRefOrZero(Label label);
  /// Pads with zero bytes to a multiple of 4.
  void AlignZero();
  /// Pads to a multiple of 4 with the one-instruction fillers the linker
  /// puts into code: 90, 8B C0 or 8D 40 00.
  void AlignFiller();
  /// Called right before writing an object whose first doubleword will be
  /// `next`. When the filler just written, read together with the first
  /// bytes of `next`, would give an address in [lowest, bound), a reader
  /// aligning over the filler would take it for data; four more filler bytes
  /// then keep the two apart. True when they were put.
  bool GuardFiller(uint32_t next, Addr bound);
  /// The same for an object whose first doubleword is not known yet: the
  /// four bytes are put whenever a filler ends here.
  bool GuardFillerAlways();

  /// Little-endian read of already written bytes at an absolute address;
  /// 0 outside the written bytes.
  uint32_t Read32(Addr addr) const;
  uint8_t Read8(Addr addr) const;

  /// Fills in every reference; throws when one names an unbound label.
  void Resolve();

  /// Lowest and highest (exclusive) address of the mapped image.
  Addr lowest() const;
  Addr highest() const;

 private:
  struct Fixup {
    size_t section;
    uint32_t offset;
    int label;
    int32_t addend;
  };

  const Section *SectionAt(Addr addr) const;

  std::vector<Section> sections_;
  std::vector<Addr> labels_;
  std::vector<Fixup> fixups_;
  Addr filler_start_ = 0;  // where the last filler began, if it ends at Here()
};

}  // namespace samples
