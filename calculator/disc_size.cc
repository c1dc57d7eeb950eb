#include "calculator/disc_size.h"

#include <algorithm>
#include <charconv>
#include <cmath>

IntegerOverflowError::IntegerOverflowError(const char *step)
    : std::overflow_error(std::string("Integer overflow ") + step) {}

namespace {

int64_t CheckedMul(int64_t a, int64_t b, const char *step) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw IntegerOverflowError(step);
  return r;
}

}  // namespace

void DiscSize::SplitSectors() {
  Minute = static_cast<uint32_t>(Sectors / SectorsPerMinute);
  Second = static_cast<uint32_t>(Sectors % SectorsPerMinute / SectorsPerSecond);
  Psecond = static_cast<uint32_t>(Sectors % SectorsPerSecond);
}

// The time is summed in 32 bits, alternately as signed products and unsigned sums,
// so that a time outside the limits is caught as an overflow rather than wrapped into
// a plausible-looking size.
void DiscSize::SectorsFromTime() {
  int32_t product;
  uint32_t sum;
  if (__builtin_mul_overflow(static_cast<int32_t>(Minute), int32_t{60}, &product))
    throw IntegerOverflowError("turning the minutes into seconds");
  if (__builtin_add_overflow(static_cast<uint32_t>(product), Second, &sum))
    throw IntegerOverflowError("adding the seconds to the playing time");
  if (__builtin_mul_overflow(static_cast<int32_t>(sum), int32_t{75}, &product))
    throw IntegerOverflowError("turning the playing time into sectors");
  if (__builtin_add_overflow(static_cast<uint32_t>(product), Psecond, &sum))
    throw IntegerOverflowError("adding the psec to the sectors");
  Sectors = sum;
  Bytes = CheckedMul(Sectors, BytesPerSector, "turning the sectors into bytes");
}

bool DiscSize::SetFromBytes(int64_t value) {
  value = std::max<int64_t>(value, 0);
  bool adjusted = false;
  if (value > MaxBytes) {
    value = MaxBytes;
    adjusted = true;
  }
  const int64_t rest = value % BytesPerSector;
  if (rest > 0) {
    if (__builtin_add_overflow(value - rest, BytesPerSector, &value))
      throw IntegerOverflowError("rounding the bytes up to a whole sector");
    adjusted = true;
  }
  Bytes = value;
  Sectors = value / BytesPerSector;
  SplitSectors();
  return adjusted;
}

bool DiscSize::SetFromSectors(int64_t value) {
  value = std::max<int64_t>(value, 0);
  bool clamped = false;
  if (value > MaxSectors) {
    value = MaxSectors;
    clamped = true;
  }
  Sectors = value;
  SplitSectors();
  Bytes = CheckedMul(Sectors, BytesPerSector, "turning the sectors into bytes");
  return clamped;
}

void DiscSize::SetFromTime(uint32_t minute, uint32_t second, uint32_t psec) {
  Minute = minute;
  Second = second;
  Psecond = psec;
  SectorsFromTime();
}

bool DiscSize::SetFromMB(long double mb) {
  // Multiplied with the 64-bit mantissa of the extended type, then rounded to double
  // before the limit test, so that e.g. 656.3965 lands on the same byte as always.
  double v = static_cast<double>(mb * 1024.0L * 1024.0L);
  bool clamped = false;
  if (!(v <= MaxBytesFloat)) {  // written this way so that a NaN is clamped too
    v = MaxBytesFloat;
    clamped = true;
  }
  if (v < 0) v = 0;
  Bytes = static_cast<int64_t>(std::trunc(v));
  Sectors = Bytes / BytesPerSector;
  SplitSectors();
  return clamped;
}

void DiscSize::SetFromWholeMB(int64_t mb) {
  mb = std::max<int64_t>(mb, 0);
  const int64_t kilobytes = CheckedMul(mb, 1024, "turning the megabytes into bytes");
  Bytes = CheckedMul(kilobytes, 1024, "turning the megabytes into bytes");
  Sectors = Bytes / BytesPerSector;
  SplitSectors();
}

void DiscSize::LoadStdDisc(int k) {
  const StdDisc &disc = StdDiscs.at(k - 1);
  SetFromTime(disc.Minute, disc.Second, disc.Psecond);
}

int DiscSize::MatchStdDisc() const {
  for (size_t i = 0; i < StdDiscs.size(); ++i) {
    const StdDisc &disc = StdDiscs[i];
    if (disc.Minute == Minute && disc.Second == Second && disc.Psecond == Psecond)
      return static_cast<int>(i) + 1;
  }
  return 0;
}

long double DiscSize::MBValue() const {
  return static_cast<long double>(Bytes) / 1024 / 1024;
}

std::string FormatMB(long double x) {
  char text[64];
  // to_chars ignores the C locale, so "." stays the decimal point under any setting.
  const auto end =
      std::to_chars(text, text + sizeof text, x, std::chars_format::general, 15);
  return std::string(text, end.ptr);
}

EditedClamp ClampEdited(int32_t value, uint32_t limit) {
  const uint32_t unsigned_value = static_cast<uint32_t>(value);
  if (unsigned_value > limit) return {limit, true};
  return {unsigned_value, false};
}

// A companion field may hold pasted text such as "-5"; taken as unsigned it would be a
// time beyond every limit, so negative values count as 0.
uint32_t ClampCompanion(int32_t value, int32_t limit) {
  if (value < 0) return 0;
  return static_cast<uint32_t>(value < limit ? value : limit);
}
