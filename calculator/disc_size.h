// The disc size model: one size held as bytes, sectors of 2048 bytes and a playing time
// of minutes, seconds and psec (1/75 second, one sector each). Every operation takes a
// new value of one quantity and derives the others, within the largest size of
// 9999 min 59 s 74 psec. The arithmetic detects overflow instead of wrapping; an
// overflow stops the operation at the failing step and leaves the fields assigned
// before it with their new values, which is what the window shows afterwards.
//
// Negative input never comes from the window, whose filter keeps digits and points
// only. The model takes a negative number of bytes, sectors or megabytes as 0, so that
// no count it holds is ever negative; the operations do not report that as a clamp,
// which speaks of the upper limits only.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

/// Raised when a step of the model's integer arithmetic leaves its range.
class IntegerOverflowError : public std::overflow_error {
 public:
  explicit IntegerOverflowError(const char *step);
};

inline constexpr int64_t BytesPerSector = 2048;
inline constexpr int64_t SectorsPerSecond = 75;
inline constexpr int64_t SecondsPerMinute = 60;
inline constexpr int64_t SectorsPerMinute = SecondsPerMinute * SectorsPerSecond;
inline constexpr int64_t BytesPerMB = 1024 * 1024;

inline constexpr uint32_t MaxMinute = 9999;
inline constexpr uint32_t MaxSecond = 59;
inline constexpr uint32_t MaxPsecond = 74;
inline constexpr int64_t MaxSectors =
    MaxMinute * SectorsPerMinute + MaxSecond * SectorsPerSecond + MaxPsecond;
inline constexpr int64_t MaxBytes = MaxSectors * BytesPerSector;
/// The megabyte limit, as a number of bytes.
inline constexpr double MaxBytesFloat = 92159997952.0;

/// A standard disc capacity and the window button that loads it.
struct StdDisc {
  const char *Button;
  const char *Caption;
  uint32_t Minute;
  uint32_t Second;
  uint32_t Psecond;
};

/// The presets in the order MatchStdDisc tests them; preset k is StdDiscs[k - 1].
inline constexpr std::array<StdDisc, 5> StdDiscs{{
    {"RdBtn1_74min", "74min CD", 74, 41, 0},
    {"RdBtn2_80min", "80min CD", 79, 57, 74},
    {"RdBtn3_90min", "90min CD", 89, 57, 74},
    {"RdBtn4_99min", "99min CD", 98, 57, 74},
    {"RdBtn5_DVD_120min", "120min DVD (4.38GB)", 510, 1, 29},
}};

/// Result of ClampEdited: the value to use and whether the field must show it.
struct EditedClamp {
  uint32_t Value;
  bool Rewrite;
};

/// One disc size; all fields 0 until the first operation.
struct DiscSize {
  int64_t Bytes = 0;
  int64_t Sectors = 0;
  uint32_t Minute = 0;
  uint32_t Second = 0;
  uint32_t Psecond = 0;

  /// True when the value was clamped to MaxBytes or rounded up to a whole sector;
  /// the new value is in Bytes.
  bool SetFromBytes(int64_t value);
  /// True when the value was clamped to MaxSectors.
  bool SetFromSectors(int64_t value);
  /// Keeps the time exactly as given; the caller has clamped it.
  void SetFromTime(uint32_t minute, uint32_t second, uint32_t psec);
  /// True when the value was clamped to the megabyte limit (a NaN is clamped too).
  bool SetFromMB(long double mb);
  void SetFromWholeMB(int64_t mb);
  /// `k` is the preset number, 1 to 5.
  void LoadStdDisc(int k);
  /// Number of the first preset whose time equals the current time; 0 when none does.
  int MatchStdDisc() const;
  long double MBValue() const;

 private:
  void SplitSectors();
  void SectorsFromTime();
};

/// Megabytes in the general format with 15 significant digits and "." as the
/// decimal point whatever the locale; whole sectors always come out exact.
std::string FormatMB(long double x);

/// Clamp for the time field being edited; a negative value counts as above any limit.
EditedClamp ClampEdited(int32_t value, uint32_t limit);
/// Clamp for the two other time fields, into 0 to `limit`.
uint32_t ClampCompanion(int32_t value, int32_t limit);
