// Names and comments. A name belongs to one address and an address has at
// most one given name; the dummy names a disassembler shows for functions
// and data that is referred to are derived from the item each time they are
// asked for, so they follow the item when it changes.
#include <cctype>
#include <charconv>

#include "host/kernel/database_impl.h"

namespace kernel {

namespace {

// The characters a given name may hold, a bit each: a name is checked on
// every naming, a character at a time.
struct NameChars {
  bool ok[256] = {};
  constexpr NameChars() {
    for (int c = '0'; c <= '9'; ++c) ok[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) ok[c] = ok[c - 'A' + 'a'] = true;
    // Generic class names: TList<System.Classes.TComponent>,
    // TDictionary<System.string,System.Integer>, and the rare backquote.
    for (const char c : "_$%&().:?@[]<>,`") ok[static_cast<unsigned char>(c)] = true;
    ok[0] = false;  // the terminator of the list above
  }
};
constexpr NameChars kNameChars;

/// `prefix` and `ea` in upper-case hex without leading zeros. A detector run
/// asks for hundreds of thousands of dummy names: no printf.
std::string Hex(const char *prefix, ea_t ea) {
  std::string name = prefix;
  char digits[8];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[ea & 0xF];
    ea >>= 4;
  } while (ea != 0);
  while (n > 0) name += digits[--n];
  return name;
}

// Splits "base_12" into "base" and 12; false when the name has no numeric
// suffix of the form the unique-name rule appends.
bool SplitSuffix(std::string_view name, std::string_view *base, uint32_t *n) {
  const size_t bar = name.rfind('_');
  if (bar == std::string_view::npos || bar + 1 == name.size()) return false;
  const std::string_view digits = name.substr(bar + 1);
  if (digits.size() > 1 && digits[0] == '0') return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), *n);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  *base = name.substr(0, bar);
  return true;
}

}  // namespace

bool IsNameText(std::string_view name) {
  for (const unsigned char c : name)
    if (!kNameChars.ok[c]) return false;
  return true;
}

bool Database::Impl::SetName(ea_t ea, std::string_view name) {
  if (SegmentIndex(ea) < 0 || name.size() > NameTable::kMaxName || !IsNameText(name))
    return false;
  // The name's slot is fetched while the old name is looked up.
  std::string_view chosen = name;
  size_t hash = NameTable::Hash(chosen);
  names.Prefetch(hash);
  const std::string old(GivenName(ea));
  if (old == name) return true;

  std::string candidate;  // the unique form, when `name` is used
  // The name of ea is not `name`, so a holder of `name` is another address.
  if (!chosen.empty() && names.Find(chosen, hash)) {
    std::string_view old_base;
    uint32_t old_n;
    if (SplitSuffix(old, &old_base, &old_n) && old_base == chosen)
      return true;  // already named with a unique form of this name
    // Every suffix below the remembered one is taken, so the search for the
    // first free one starts there.
    uint32_t &next = next_suffix[std::string(chosen)];
    for (;; ++next) {
      candidate = std::string(chosen) + "_" + std::to_string(next);
      hash = NameTable::Hash(candidate);
      if (!names.Find(candidate, hash)) {
        chosen = candidate;
        ++next;
        break;
      }
    }
  }

  if (!old.empty()) {
    std::string_view base;
    uint32_t n;
    if (SplitSuffix(old, &base, &n)) {
      auto hint = next_suffix.find(std::string(base));
      if (hint != next_suffix.end() && n < hint->second) hint->second = n;
    }
    names.Remove(ea);
  }
  if (!chosen.empty()) names.Add(ea, chosen, hash);
  return true;
}

std::string Database::Impl::NameOf(ea_t ea) const {
  if (const std::string_view given = GivenName(ea); !given.empty())
    return std::string(given);
  return DummyName(ea);
}

std::string Database::Impl::DummyName(ea_t ea) const {
  if (SegmentIndex(ea) < 0) return {};
  if (functions.Find(ea) != nullptr) return Hex("sub_", ea);
  if (FirstDataRef(ea) == BADADDR) return {};
  Item item;
  if (!ItemAt(ea, &item)) return Hex("unk_", ea);
  switch (item.type) {
    case ItemType::kByte:
      return Hex("byte_", ea);
    case ItemType::kWord:
      return Hex("word_", ea);
    case ItemType::kDword:
      return Hex("dword_", ea);
    case ItemType::kQword:
      return Hex("qword_", ea);
    case ItemType::kOffset:
      return Hex("off_", ea);
    case ItemType::kAlign:
      return Hex("algn_", ea);
    case ItemType::kStruct:
      return Hex("stru_", ea);
    case ItemType::kCode:
      return Hex("loc_", ea);
    case ItemType::kPString:
      break;
  }
  if (item.start != ea) return Hex("unk_", ea);
  // A string is named after its text: "a", then the identifier characters
  // with the first one upper-cased and the rest lower-cased.
  std::string text = "a";
  for (ea_t a = item.start + 1; a != item.start + item.size; ++a) {
    const unsigned char c = Byte(a);
    if (!std::isalnum(c) && c != '_') continue;
    text += static_cast<char>(text.size() == 1 ? std::toupper(c) : std::tolower(c));
  }
  return text.size() > 1 ? text : Hex("asc_", ea);
}

bool Database::Impl::SetComment(ea_t ea, std::string_view text, bool repeatable) {
  if (SegmentIndex(ea) < 0) return false;
  const int r = repeatable ? 1 : 0;
  if (text.empty()) {
    comments[r].Erase(ea);
    wide_comments[r].Erase(ea);
    return true;
  }
  const uint32_t index = TextIndex(text);
  if (index < kWideText) {
    comments[r].Set(ea, static_cast<uint8_t>(index));
    wide_comments[r].Erase(ea);
  } else {
    comments[r].Set(ea, kWideText);
    wide_comments[r].Set(ea, index);
  }
  return true;
}

uint32_t Database::Impl::TextIndex(std::string_view text) {
  // Length, ends, middle and quarter tell apart the texts of a run well; the
  // text itself is compared before a remembered index is used.
  const size_t n = text.size();
  const auto at = [&](size_t i) { return size_t{static_cast<unsigned char>(text[i])}; };
  const size_t slot =
      (n * 37 + at(0) * 3 + at(n / 4) * 11 + at(n / 2) * 5 + at(n - 1)) % kRecentTexts;
  if (const uint32_t recent = recent_texts[slot];
      recent != 0 && texts[recent - 1] == text)
    return recent - 1;
  uint32_t index;
  if (auto it = text_index.find(text); it != text_index.end()) {
    index = it->second;
  } else {
    index = static_cast<uint32_t>(texts.size());
    texts.emplace_back(text);
    text_index.emplace(texts.back(), index);
  }
  recent_texts[slot] = index + 1;
  return index;
}

const std::string *Database::Impl::CommentOf(ea_t ea, bool repeatable) const {
  const int r = repeatable ? 1 : 0;
  const uint8_t *index = comments[r].Find(ea);
  return index != nullptr ? &CommentText(r, ea, *index) : nullptr;
}

}  // namespace kernel
