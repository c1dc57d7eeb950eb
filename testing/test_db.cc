#include "testing/test_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

std::vector<uint8_t> LittleEndianBytes(uint32_t v, int n) {
  std::vector<uint8_t> out(n);
  for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
  return out;
}

std::vector<uint8_t> ShortStringBytes(std::string_view text) {
  if (text.size() > 255) text = text.substr(0, 255);
  std::vector<uint8_t> out(text.size() + 1);
  out[0] = static_cast<uint8_t>(text.size());
  std::copy(text.begin(), text.end(), out.begin() + 1);
  return out;
}

void SegmentBytes::PutBytes(ea_t ea, const std::vector<uint8_t> &bytes) {
  ASSERT_GE(ea, start_);
  ASSERT_LE(uint64_t{ea} - start_ + bytes.size(), bytes_.size());
  std::memcpy(bytes_.data() + (ea - start_), bytes.data(), bytes.size());
}

TestDb::TestDb() {
  kernel::Database &d = db();
  d.Clear();
  d.SetProcessor(0);
  d.SetInputPath("C:\\work\\test.exe");
}

TestDb::TestDb(ea_t start, asize_t size) : TestDb() { AddSegment(".text", start, size); }

TestDb::~TestDb() { db().Clear(); }

void TestDb::AddSegment(std::string name, ea_t start, asize_t size) {
  AddSegment(std::move(name), SegmentBytes(start, size));
}

void TestDb::AddSegment(std::string name, const SegmentBytes &bytes) {
  kernel::Segment s;
  s.name = std::move(name);
  s.start = bytes.start();
  s.end = bytes.start() + static_cast<asize_t>(bytes.bytes().size());
  s.bytes = bytes.bytes();
  std::string err;
  ASSERT_TRUE(db().AddSegment(std::move(s), &err)) << err;
}

void TestDb::PutBytes(ea_t ea, const std::vector<uint8_t> &bytes) {
  for (size_t i = 0; i < bytes.size(); ++i)
    ASSERT_TRUE(db().SetByte(ea + static_cast<ea_t>(i), bytes[i]))
        << "no segment holds " << std::hex << ea + i;
}

std::string TestDb::Name(ea_t ea) {
  char buf[1024];
  return get_true_name(ea, ea, buf, sizeof buf) != nullptr ? buf : "";
}

std::string TestDb::Comment(ea_t ea, bool repeatable) {
  char buf[1024];
  return get_cmt(ea, repeatable ? 1 : 0, buf, sizeof buf) >= 0 ? buf : "";
}

std::optional<kernel::Item> TestDb::ItemAt(ea_t ea) {
  kernel::Item item;
  if (!kernel::TheDatabase().ItemAt(ea, &item)) return std::nullopt;
  return item;
}

RecordingUi::RecordingUi() { kernel::SetUserInterface(this); }
RecordingUi::~RecordingUi() {
  if (kernel::GetUserInterface() == this) kernel::SetUserInterface(nullptr);
}

void RecordingUi::Message(std::string_view text) { output += text; }

int RecordingUi::AskYesNo(int default_answer, std::string_view question) {
  questions.emplace_back(question);
  if (yes_no_answers.empty()) return default_answer;
  const int a = yes_no_answers.front();
  yes_no_answers.pop_front();
  return a;
}

bool RecordingUi::AskText(int history, std::string_view default_text,
                          std::string_view prompt, std::string *answer) {
  (void)history;
  questions.emplace_back(prompt);
  std::optional<std::string> a(default_text);
  if (!text_answers.empty()) {
    a = text_answers.front();
    text_answers.pop_front();
  }
  if (!a) return false;
  *answer = *a;
  return true;
}

void RecordingUi::CursorMoved(ea_t ea) { jumps.push_back(ea); }
