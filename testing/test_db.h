// Shared fixtures for tests that run plug-in code against the kernel.
//
// TestDb resets the one database the services act on and builds a program
// in it: segments of zeros or given bytes, and values written into them,
// either into a segment already added or into SegmentBytes before adding
// them. RecordingUi stands in for the user: it keeps what was printed and
// where the view jumped, and answers questions from queues.
//
//   struct RecogniseTest : testing::Test { TestDb db{0x00401000, 0x2000}; };
//   db.PutDword(0x00401000, 0x0040104C);
//   db.PutShortString(0x00401100, "TForm1");
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "detector/core/host_api.h"
#include "host/kernel/database.h"

/// `v` as `n` little-endian bytes.
std::vector<uint8_t> LittleEndianBytes(uint32_t v, int n);
/// A length byte, then the characters (at most 255).
std::vector<uint8_t> ShortStringBytes(std::string_view text);

/// Values written little-endian, and short strings, through the PutBytes of
/// `Target`.
template <typename Target>
class ValueWriter {
 public:
  void PutByte(ea_t ea, uint8_t v) { target().PutBytes(ea, {v}); }
  void PutWord(ea_t ea, uint16_t v) { target().PutBytes(ea, LittleEndianBytes(v, 2)); }
  void PutDword(ea_t ea, uint32_t v) { target().PutBytes(ea, LittleEndianBytes(v, 4)); }
  void PutShortString(ea_t ea, std::string_view text) {
    target().PutBytes(ea, ShortStringBytes(text));
  }
  /// What recognition looks at in a class record at `at`: SelfPtr at the
  /// first slot `header` bytes on, AutoTable empty, the name pointer at +32
  /// leading to `name` at `name_at`.
  void PutClassRecord(ea_t at, ea_t name_at, std::string_view name, ea_t header = 76) {
    PutDword(at, at + header);
    PutDword(at + 8, 0);
    PutDword(at + 32, name_at);
    PutShortString(name_at, name);
  }
  /// The head of a type information block: reference cell, kind, name.
  void PutTypeInfo(ea_t at, uint8_t kind, std::string_view name) {
    PutDword(at, at + 4);
    PutByte(at + 4, kind);
    PutShortString(at + 5, name);
  }

 private:
  Target &target() { return static_cast<Target &>(*this); }
};

/// The bytes of a segment not yet added.
class SegmentBytes : public ValueWriter<SegmentBytes> {
 public:
  SegmentBytes(ea_t start, asize_t size) : start_(start), bytes_(size, 0) {}
  void PutBytes(ea_t ea, const std::vector<uint8_t> &bytes);
  ea_t start() const { return start_; }
  const std::vector<uint8_t> &bytes() const { return bytes_; }

 private:
  ea_t start_;
  std::vector<uint8_t> bytes_;
};

/// Resets kernel::TheDatabase() when made and again when destroyed; the
/// processor is 0 (x86) and the input path "C:\work\test.exe".
class TestDb : public ValueWriter<TestDb> {
 public:
  TestDb();
  /// With one zero-filled segment ".text" over [start, start + size).
  TestDb(ea_t start, asize_t size);
  ~TestDb();
  TestDb(const TestDb &) = delete;
  TestDb &operator=(const TestDb &) = delete;

  /// Adds a segment of zeros; aborts the test on a refusal.
  void AddSegment(std::string name, ea_t start, asize_t size);
  void AddSegment(std::string name, const SegmentBytes &bytes);

  // Writes into a segment already added (the address must lie in one).
  void PutBytes(ea_t ea, const std::vector<uint8_t> &bytes);

  kernel::Database &db() { return kernel::TheDatabase(); }

  // What the services show, for assertions.
  /// The name get_true_name gives, or "" for none.
  static std::string Name(ea_t ea);
  /// The regular (or repeatable) comment, or "" for none.
  static std::string Comment(ea_t ea, bool repeatable = false);
  /// The item holding `ea`, or nothing for an unknown byte.
  static std::optional<kernel::Item> ItemAt(ea_t ea);
};

/// A user that answers from queues and records everything it was shown.
/// With a queue empty, a question takes its default answer.
class RecordingUi : public kernel::UserInterface {
 public:
  /// Sets itself as the kernel's user interface; unsets it when destroyed.
  RecordingUi();
  ~RecordingUi() override;

  void Message(std::string_view text) override;
  int AskYesNo(int default_answer, std::string_view question) override;
  bool AskText(int history, std::string_view default_text, std::string_view prompt,
               std::string *answer) override;
  void CursorMoved(ea_t ea) override;

  std::string output;                                   // the output window, all text
  std::vector<std::string> questions;                   // both kinds, in order asked
  std::vector<ea_t> jumps;                              // every view jump
  std::deque<int> yes_no_answers;                       // 1, 0 or -1
  std::deque<std::optional<std::string>> text_answers;  // nullopt: cancel
};
