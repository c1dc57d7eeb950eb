// The calculator's filter, parsers and model driven with arbitrary texts in
// the order the window's handlers use them. The window itself needs a
// display, so its six fields are kept here as texts, with the time fields'
// length limits, and each handler is replayed step by step as the window
// runs it: clean, parse, one model operation, clamps, rewrite the fields.
//
// After every handler the fields must describe one size within the limits;
// the only handlers allowed to stop early are the megabyte field's with a
// lone "." (a conversion error) and any with a model overflow.
//
// Input: a list of actions. Action byte % 15: 0-5 type the following text
// into field 0-5 (bytes, sectors, minutes, seconds, psec, MB) and release a
// key there; 6-11 paste the text into field 0-5 without a key release; 12-13
// release a key in field (next byte % 6) without changing it; 14 click
// preset (next byte % 5) + 1. A text is a length byte and that many bytes.
#include <cmath>
#include <string>
#include <string_view>

#include "calculator/conversions.h"
#include "calculator/disc_size.h"
#include "calculator/input_filter.h"
#include "fuzz/fuzz_check.h"

namespace {

enum Field { kBytes, kSectors, kMinute, kSecond, kPsecond, kMB, kFields };

const char *const kFieldNames[kFields] = {"Edit1Bytes",  "Edit2Sectors", "Edit3Minute",
                                          "Edit4Second", "Edit5Psecond", "Edit6MB"};
// The text fields' MaxLength (the toolkit's default for the others).
constexpr size_t kMaxLength[kFields] = {32767, 32767, 4, 2, 2, 32767};

class Window {
 public:
  Window() { FormShow(); }

  /// Replaces a field's text as typing or pasting would, cut to its length.
  void SetText(int f, std::string_view text) {
    text_[f] = std::string(text.substr(0, kMaxLength[f]));
  }
  const std::string &Text(int f) const { return text_[f]; }
  const DiscSize &disc() const { return disc_; }

  void KeyUp(int f) {
    switch (f) {
      case kBytes: {
        const int64_t value = StrToInt64Def(CleanIntegerField(kBytes), 2048);
        if (disc_.SetFromBytes(value)) SetText(kBytes, IntToStr(disc_.Bytes));
        WriteAllBut(kBytes);
        break;
      }
      case kSectors: {
        const int64_t value = StrToInt64Def(CleanIntegerField(kSectors), 1);
        if (disc_.SetFromSectors(value)) SetText(kSectors, IntToStr(MaxSectors));
        WriteAllBut(kSectors);
        break;
      }
      case kMinute:
        TimeKeyUp(kMinute, 1);
        break;
      case kSecond:
        TimeKeyUp(kSecond, 1);
        break;
      case kPsecond:
        TimeKeyUp(kPsecond, 0);
        break;
      case kMB: {
        const long double mb = StrToFloat(CleanMBField());
        if (disc_.SetFromMB(mb))
          SetText(kMB, FormatMB(MaxBytesFloat / 1024.0L / 1024.0L));
        WriteAllBut(kMB);
        break;
      }
    }
  }

  void PresetClick(int k) {
    disc_.LoadStdDisc(k);
    disc_.SetFromTime(disc_.Minute, disc_.Second, disc_.Psecond);
    WriteAllBut(kFields);
  }

 private:
  void FormShow() {
    disc_.SetFromWholeMB(StrToInt64Def(CleanMBField(), 1));
    WriteAllBut(kMB);
  }

  std::string CleanIntegerField(int f) {
    SetText(f, FilterNonNumChars(text_[f]));
    if (text_[f].find('.') != std::string::npos) SetText(f, "0");
    return text_[f];
  }

  std::string CleanMBField() {
    SetText(kMB, FilterNonNumChars(text_[kMB]));
    if (text_[kMB] == "0") SetText(kMB, "1");
    return text_[kMB];
  }

  void Write(int f) {
    switch (f) {
      case kBytes:
        SetText(f, IntToStr(disc_.Bytes));
        break;
      case kSectors:
        SetText(f, IntToStr(disc_.Sectors));
        break;
      case kMinute:
        SetText(f, IntToStr(disc_.Minute));
        break;
      case kSecond:
        SetText(f, IntToStr(disc_.Second));
        break;
      case kPsecond:
        SetText(f, IntToStr(disc_.Psecond));
        break;
      case kMB:
        SetText(f, FloatToStr(disc_.MBValue()));
        break;
    }
  }

  void WriteAllBut(int skip) {
    for (int f = 0; f < kFields; ++f)
      if (f != skip) Write(f);
  }

  void TimeKeyUp(int edited, int32_t second_fallback) {
    const std::string edited_text = CleanIntegerField(edited);
    const uint32_t limits[3] = {MaxMinute, MaxSecond, MaxPsecond};
    const int32_t fallbacks[3] = {1, second_fallback, 1};
    uint32_t values[3];
    for (int i = 0; i < 3; ++i) {
      const int f = kMinute + i;
      if (f == edited) {
        const EditedClamp clamp = ClampEdited(StrToIntDef(edited_text, 1), limits[i]);
        if (clamp.Rewrite) SetText(f, IntToStr(clamp.Value));
        values[i] = clamp.Value;
      } else {
        values[i] = ClampCompanion(StrToIntDef(text_[f], fallbacks[i]),
                                   static_cast<int32_t>(limits[i]));
      }
    }
    disc_.SetFromTime(values[0], values[1], values[2]);
    WriteAllBut(edited);
  }

  // The megabyte field starts as "1", the others empty.
  std::string text_[kFields] = {{}, {}, {}, {}, {}, std::string(1, '1')};
  DiscSize disc_;
};

bool AllDigits(const std::string &text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

/// The model within its limits, and every field showing it; `edited` (or
/// kFields for none) may keep the text the user typed where that reads as
/// the same value, or as the handler's default for digits beyond the range.
void CheckFields(const Window &w, int edited) {
  const DiscSize &d = w.disc();
  FUZZ_CHECK(d.Bytes >= 0 && d.Bytes <= MaxBytes, "Bytes %lld", (long long)d.Bytes);
  FUZZ_CHECK(d.Sectors >= 0 && d.Sectors <= MaxSectors, "Sectors %lld",
             (long long)d.Sectors);
  FUZZ_CHECK(d.Minute <= MaxMinute && d.Second <= MaxSecond && d.Psecond <= MaxPsecond,
             "time %u:%u:%u", d.Minute, d.Second, d.Psecond);
  FUZZ_CHECK(d.Sectors == int64_t{d.Minute} * SectorsPerMinute +
                              int64_t{d.Second} * SectorsPerSecond + d.Psecond,
             "Sectors %lld, time %u:%u:%u", (long long)d.Sectors, d.Minute, d.Second,
             d.Psecond);
  FUZZ_CHECK(
      d.Sectors * BytesPerSector <= d.Bytes && d.Bytes < (d.Sectors + 1) * BytesPerSector,
      "Bytes %lld, Sectors %lld", (long long)d.Bytes, (long long)d.Sectors);

  const int64_t values[kMB] = {d.Bytes, d.Sectors, d.Minute, d.Second, d.Psecond};
  for (int f = 0; f < kMB; ++f) {
    const std::string &text = w.Text(f);
    if (f != edited) {
      FUZZ_CHECK(text == IntToStr(values[f]), "%s shows \"%s\", the model %lld",
                 kFieldNames[f], text.c_str(), (long long)values[f]);
      continue;
    }
    FUZZ_CHECK(AllDigits(text), "%s keeps \"%s\"", kFieldNames[f], text.c_str());
    const int64_t parsed = StrToInt64Def(text, -1);
    if (parsed < 0) {
      // Beyond the 64-bit range: the handler took its default.
      FUZZ_CHECK(f == kBytes ? d.Bytes == 2048 : f == kSectors && d.Sectors == 1,
                 "%s \"%s\" beyond range gave %lld", kFieldNames[f], text.c_str(),
                 (long long)values[f]);
      continue;
    }
    FUZZ_CHECK(parsed == values[f], "%s reads %lld, the model %lld", kFieldNames[f],
               (long long)parsed, (long long)values[f]);
  }

  const std::string &mb = w.Text(kMB);
  if (edited != kMB) {
    FUZZ_CHECK(mb == FormatMB(d.MBValue()), "Edit6MB shows \"%s\", the model %s",
               mb.c_str(), FormatMB(d.MBValue()).c_str());
    return;
  }
  // The megabyte text as typed: it must convert to the bytes the model holds.
  DiscSize again;
  again.SetFromMB(StrToFloat(mb));
  FUZZ_CHECK(again.Bytes == d.Bytes, "Edit6MB \"%s\" is %lld bytes, the model %lld",
             mb.c_str(), (long long)again.Bytes, (long long)d.Bytes);
}

struct Reader {
  const uint8_t *data;
  size_t size;
  size_t pos = 0;
  bool Done() const { return pos >= size; }
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  std::string_view Text() {
    const size_t length = Byte();  // read before the rest is measured
    const size_t n = std::min(length, size - pos);
    std::string_view text(reinterpret_cast<const char *>(data + pos), n);
    pos += n;
    return text;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Window w;
  CheckFields(w, kMB);
  Reader in{data, size};
  while (!in.Done()) {
    const int action = in.Byte() % 15;
    int f = kFields;
    if (action < 6) {
      f = action;
      w.SetText(f, in.Text());
    } else if (action < 12) {
      w.SetText(action - 6, in.Text());
      continue;  // pasted with the mouse: no handler runs
    } else if (action < 14) {
      f = in.Byte() % kFields;
    } else {
      w.PresetClick(in.Byte() % 5 + 1);
      CheckFields(w, kFields);
      continue;
    }

    const DiscSize before = w.disc();
    std::string others[kFields];
    for (int i = 0; i < kFields; ++i) others[i] = w.Text(i);
    try {
      w.KeyUp(f);
    } catch (const ConversionError &) {
      FUZZ_CHECK(f == kMB && w.Text(kMB) == ".", "conversion error in %s at \"%s\"",
                 kFieldNames[f], w.Text(f).c_str());
      const DiscSize &after = w.disc();
      FUZZ_CHECK(after.Bytes == before.Bytes && after.Sectors == before.Sectors &&
                     after.Minute == before.Minute && after.Second == before.Second &&
                     after.Psecond == before.Psecond,
                 "a refused megabyte text changed the model");
      for (int i = 0; i < kMB; ++i)
        FUZZ_CHECK(w.Text(i) == others[i], "a refused megabyte text changed %s",
                   kFieldNames[i]);
      continue;
    } catch (const IntegerOverflowError &) {
      // The model stops part-way by design; the next handler starts afresh.
      continue;
    }
    CheckFields(w, f);
  }
  return 0;
}
