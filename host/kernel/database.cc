// The database's program (segments and bytes), its lifecycle, the saved
// database's restore path and the export views.
#include "host/kernel/database.h"

#include <algorithm>
#include <iterator>

#include "host/kernel/database_impl.h"

namespace kernel {

namespace {

constexpr const char *kItemTypeNames[] = {"byte",    "word",  "dword",  "qword", "offset",
                                          "pstring", "align", "struct", "code"};

bool Fail(std::string *err, std::string reason) {
  if (err != nullptr) *err = std::move(reason);
  return false;
}

}  // namespace

const char *ItemTypeName(ItemType type) {
  const auto i = static_cast<size_t>(type);
  return i < std::size(kItemTypeNames) ? kItemTypeNames[i] : "unknown";
}

bool ParseItemType(std::string_view name, ItemType *type) {
  for (size_t i = 0; i < std::size(kItemTypeNames); ++i) {
    if (name == kItemTypeNames[i]) {
      if (type != nullptr) *type = static_cast<ItemType>(i);
      return true;
    }
  }
  return false;
}

// ---- Segments ---------------------------------------------------------------

int Database::Impl::SegmentIndexSlow(ea_t ea) const {
  // The last segment starting at or below ea is the only candidate.
  auto it = std::upper_bound(segments.begin(), segments.end(), ea,
                             [](ea_t a, const Segment &s) { return a < s.start; });
  if (it == segments.begin()) return -1;
  --it;
  if (ea >= it->end) return -1;
  last_segment = static_cast<size_t>(it - segments.begin());
  return static_cast<int>(last_segment);
}

uint8_t Database::Impl::ByteSlow(ea_t ea) const {
  const int i = SegmentIndex(ea);
  if (i < 0) return 0xFF;
  const Segment &s = segments[i];
  window = {s.start, s.end - s.start, s.bytes.data()};
  return s.bytes[ea - s.start];
}

uint32_t Database::Impl::LongSlow(ea_t ea) const {
  return uint32_t{Byte(ea)} | uint32_t{Byte(ea + 1)} << 8 | uint32_t{Byte(ea + 2)} << 16 |
         uint32_t{Byte(ea + 3)} << 24;
}

void Database::Impl::SegmentsChanged() {
  window = ByteWindow();
  last_segment = 0;
  areas.clear();
  for (const Segment &s : segments) areas.push_back({s.start, s.end});
  PublishGlobals();
}

void Database::Impl::PublishGlobals() const {
  if (!publishes_globals) return;
  inf.min_ea = segments.empty() ? 0 : segments.front().start;
  // inf is packed: its fields are copied, never bound to references.
  ea_t max_ea = 0;
  for (const Segment &s : segments) max_ea = std::max(max_ea, s.end);
  inf.max_ea = max_ea;
  ph.id = processor;
}

// ---- Database -----------------------------------------------------------------

Database::Database() : impl_(std::make_unique<Impl>()) {}
Database::~Database() = default;

void Database::Clear() {
  // The object stays where it is: the services keep a reference to it.
  const bool publishes = impl_->publishes_globals;
  *impl_ = Impl();
  impl_->publishes_globals = publishes;
  impl_->PublishEmpty();
}

void Database::Impl::PublishEmpty() {
  if (publishes_globals) inf.strtype = 0;
  SegmentsChanged();
}

void Database::SetInputPath(std::string path) { impl_->input_path = std::move(path); }
const std::string &Database::input_path() const { return impl_->input_path; }

void Database::SetProcessor(int32_t id) {
  impl_->processor = id;
  impl_->PublishGlobals();
}
int32_t Database::processor() const { return impl_->processor; }

void Database::SetImageBase(ea_t ea) { impl_->image_base = ea; }
ea_t Database::image_base() const { return impl_->image_base; }
void Database::SetResourceDirectory(ea_t start, uint32_t size) {
  impl_->resource_directory = start;
  impl_->resource_directory_size = size;
}
ea_t Database::resource_directory() const { return impl_->resource_directory; }
uint32_t Database::resource_directory_size() const {
  return impl_->resource_directory_size;
}

bool Database::AddSegment(Segment segment, std::string *err) {
  if (segment.end <= segment.start)
    return Fail(err, "segment " + segment.name + " is empty or wraps");
  if (segment.bytes.size() != size_t{segment.end} - segment.start)
    return Fail(err, "segment " + segment.name + " has the wrong number of bytes");
  Impl &d = *impl_;
  auto it = std::upper_bound(d.segments.begin(), d.segments.end(), segment.start,
                             [](ea_t a, const Segment &s) { return a < s.start; });
  if ((it != d.segments.end() && it->start < segment.end) ||
      (it != d.segments.begin() && std::prev(it)->end > segment.start))
    return Fail(err, "segment " + segment.name + " overlaps another");
  const size_t pos = static_cast<size_t>(it - d.segments.begin());
  const size_t size = segment.bytes.size();
  d.segments.insert(it, std::move(segment));
  d.states.insert(d.states.begin() + static_cast<ptrdiff_t>(pos), ItemStates(size));
  d.SegmentsChanged();
  return true;
}

const std::vector<Segment> &Database::segments() const { return impl_->segments; }

bool Database::SetByte(ea_t ea, uint8_t value) {
  Impl &d = *impl_;
  const int i = d.SegmentIndex(ea);
  if (i < 0) return false;
  // An offset over the byte now refers to the value it holds after the
  // change, and the item keeps its type whatever its bytes now suggest.
  Item item;
  const bool in_item = d.ItemAt(ea, &item);
  const bool in_offset = in_item && item.type == ItemType::kOffset;
  if (in_offset) d.RemoveDataRef(item.start, d.Long(item.start));
  Segment &s = d.segments[i];
  s.bytes[ea - s.start] = value;
  if (in_offset) d.AddDataRef(item.start, d.Long(item.start));
  if (in_item) d.RetypeAfterByteChange(item);
  return true;
}

ea_t Database::min_ea() const {
  return impl_->segments.empty() ? 0 : impl_->segments.front().start;
}

ea_t Database::max_ea() const {
  ea_t end = 0;
  for (const Segment &s : impl_->segments) end = std::max(end, s.end);
  return end;
}

ea_t Database::cursor() const { return impl_->cursor; }
void Database::SetCursor(ea_t ea) { impl_->cursor = ea; }

// ---- Restoring ------------------------------------------------------------------

bool Database::RestoreItem(const Item &item, std::string *err) {
  Impl &d = *impl_;
  int seg;
  asize_t off;
  if (item.size == 0 || !d.Locate(item.start, &seg, &off) ||
      d.segments[seg].end - item.start < item.size)
    return Fail(err, "item outside its segment");
  for (asize_t i = 0; i < item.size; ++i)
    if (d.states[seg][off + i] != kUnknown) return Fail(err, "item overlaps another");
  asize_t element = 1;
  switch (item.type) {
    case ItemType::kWord:
      element = 2;
      break;
    case ItemType::kDword:
      element = 4;
      break;
    case ItemType::kQword:
      element = 8;
      break;
    case ItemType::kOffset:
      if (item.size != 4) return Fail(err, "offset item not 4 bytes long");
      break;
    case ItemType::kCode:
      if (item.size > 15) return Fail(err, "code item longer than an instruction");
      break;
    case ItemType::kStruct: {
      const struc_t *s = d.FindStructure(item.struct_id);
      const asize_t n = s != nullptr ? StructureSize(s->s) : 0;
      if (n == 0 || item.size % n != 0)
        return Fail(err, "structure item of no known size");
      break;
    }
    default:
      break;
  }
  if (item.size % element != 0)
    return Fail(err, "item size not a multiple of its element");
  d.PlaceItem(item);
  return true;
}

bool Database::RestoreFunction(const Function &function, std::string *err) {
  return impl_->InsertFunction(function.start, function.end, err);
}

bool Database::RestoreName(ea_t ea, const std::string &name, std::string *err) {
  Impl &d = *impl_;
  if (d.SegmentIndex(ea) < 0) return Fail(err, "name outside every segment");
  if (name.empty() || !IsNameText(name)) return Fail(err, "bad name " + name);
  if (!d.GivenName(ea).empty()) return Fail(err, "second name " + name);
  if (d.names.Find(name)) return Fail(err, "name used twice: " + name);
  return d.SetName(ea, name) ? true : Fail(err, "name refused: " + name);
}

bool Database::RestoreComment(const Comment &comment, std::string *err) {
  Impl &d = *impl_;
  if (d.SegmentIndex(comment.ea) < 0) return Fail(err, "comment outside every segment");
  if (d.CommentOf(comment.ea, comment.repeatable) != nullptr)
    return Fail(err, "second comment at one address");
  if (comment.text.empty()) return Fail(err, "empty comment");
  return d.SetComment(comment.ea, comment.text, comment.repeatable)
             ? true
             : Fail(err, "comment refused");
}

bool Database::RestoreStructure(const Structure &structure, std::string *err) {
  Impl &d = *impl_;
  if (structure.id == BADNODE || d.FindStructure(structure.id) != nullptr)
    return Fail(err, "structure id used twice");
  if (structure.name.empty() || !IsNameText(structure.name) ||
      d.FindStructure(structure.name) != nullptr)
    return Fail(err, "structure name bad or used twice: " + structure.name);
  auto s = std::make_unique<struc_t>();
  s->s.id = structure.id;
  s->s.name = structure.name;
  if (!d.SetMembers(s.get(), structure.members, err)) return false;
  d.InsertStructure(std::move(s), d.structures.size());
  if (structure.id >= d.next_struct_id && structure.id != BADNODE - 1)
    d.next_struct_id = structure.id + 1;
  return true;
}

// ---- Export -------------------------------------------------------------------

void Database::ForEachItem(const std::function<void(const Item &)> &visit) const {
  const Impl &d = *impl_;
  for (size_t seg = 0; seg < d.segments.size(); ++seg) {
    const ItemStates &st = d.states[seg];
    // Runs of unknown bytes are passed nineteen at a time. Every head is
    // visited, also one that a broken item would cover: the checks that
    // items never overlap rely on it.
    for (size_t off = st.NextNonZero(0, st.size()); off < st.size();
         off = st.NextNonZero(off + 1, st.size())) {
      if (IsHead(st[off]))
        visit(d.ItemAtHead(static_cast<int>(seg), static_cast<asize_t>(off)));
    }
  }
}

namespace {

/// The data heads, for ItemStates::NextOf and CountOf.
uint16_t DataHeadStates() { return uint16_t{1} << kDataHead; }

}  // namespace

void Database::ForEachDataItem(const std::function<void(const Item &)> &visit) const {
  const Impl &d = *impl_;
  const ItemStates::Among heads(DataHeadStates());
  for (size_t seg = 0; seg < d.segments.size(); ++seg) {
    const ItemStates &st = d.states[seg];
    for (size_t off = st.NextOf(0, st.size(), heads); off < st.size();
         off = st.NextOf(off + 1, st.size(), heads))
      visit(d.ItemAtHead(static_cast<int>(seg), static_cast<asize_t>(off)));
  }
}

size_t Database::DataItemCount() const {
  const Impl &d = *impl_;
  const ItemStates::Among heads(DataHeadStates());
  size_t n = 0;
  for (const ItemStates &st : d.states) n += st.CountOf(0, st.size(), heads);
  return n;
}

std::vector<std::pair<ea_t, std::string>> Database::Names() const {
  std::vector<std::pair<ea_t, std::string>> out;
  out.reserve(NameCount());
  ForEachName([&](ea_t ea, std::string_view n) { out.emplace_back(ea, std::string(n)); });
  return out;
}

void Database::ForEachName(
    const std::function<void(ea_t, std::string_view)> &visit) const {
  impl_->names.ForEach(visit);
}

size_t Database::NameCount() const { return impl_->names.size(); }

std::vector<Comment> Database::Comments() const {
  std::vector<Comment> out;
  out.reserve(CommentCount());
  ForEachComment([&](ea_t ea, std::string_view text, bool repeatable) {
    out.push_back({ea, std::string(text), repeatable});
  });
  return out;
}

void Database::ForEachComment(
    const std::function<void(ea_t, std::string_view, bool repeatable)> &visit) const {
  // Each kind is kept in address order: the repeatable ones, the fewer, are
  // merged into the walk of the regular ones, a regular comment before a
  // repeatable one at the same address.
  const Impl &d = *impl_;
  std::vector<std::pair<ea_t, uint8_t>> repeatable;
  repeatable.reserve(d.comments[1].size());
  d.comments[1].ForEach(
      [&](ea_t ea, uint8_t text) { repeatable.emplace_back(ea, text); });
  size_t next = 0;
  auto repeatable_before = [&](uint64_t limit) {
    for (; next < repeatable.size() && repeatable[next].first < limit; ++next) {
      const auto [ea, text] = repeatable[next];
      visit(ea, d.CommentText(1, ea, text), true);
    }
  };
  d.comments[0].ForEach([&](ea_t ea, uint8_t text) {
    repeatable_before(ea);
    visit(ea, d.CommentText(0, ea, text), false);
  });
  repeatable_before(uint64_t{BADADDR} + 1);
}

size_t Database::CommentCount() const {
  return impl_->comments[0].size() + impl_->comments[1].size();
}

std::vector<Function> Database::Functions() const {
  std::vector<Function> out;
  impl_->functions.ForEach([&](ea_t start, const StoredFunction &f) {
    out.push_back({start, impl_->FunctionEnd(start, f)});
  });
  return out;
}

std::vector<Structure> Database::Structures() const {
  std::vector<Structure> out;
  for (const auto &s : impl_->structures) out.push_back(s->s);
  return out;
}

bool Database::ItemAt(ea_t ea, Item *item) const {
  Item found;
  if (!impl_->ItemAt(ea, &found)) return false;
  if (item != nullptr) *item = found;
  return true;
}

std::string Database::DisplayName(ea_t ea) const { return impl_->NameOf(ea); }

std::vector<ea_t> Database::DataRefsTo(ea_t ea) const {
  const kernel::FirstRef *ref = impl_->first_refs.Find(ea);
  if (ref == nullptr) return {};
  std::vector<ea_t> refs{impl_->FirstOf(ea, *ref)};
  if (ref->Shared())
    for (ea_t next = impl_->NextDataRef(ea, refs.front()); next != BADADDR;
         next = impl_->NextDataRef(ea, next))
      refs.push_back(next);
  return refs;
}

Database &TheDatabase() {
  // Never destroyed: plug-ins may still call in while the program exits.
  static Database *const db = [] {
    auto *d = new Database();
    d->impl().publishes_globals = true;
    // Empty as it is: only the globals are to be set.
    d->impl().PublishEmpty();
    return d;
  }();
  return *db;
}

}  // namespace kernel
