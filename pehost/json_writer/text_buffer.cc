#include "pehost/json_writer/text_buffer.h"

#include <algorithm>

namespace json_writer {

namespace {

// A stream is handed the text in pieces of about this size; the buffer
// starts small, so that a small file costs little.
constexpr size_t kPieceSize = size_t{1} << 16;
constexpr size_t kFirstSize = 256;

}  // namespace

bool TextBuffer::Flush() {
  if (out_ == nullptr) return true;
  if (at_ != data_.get())
    out_->write(data_.get(), static_cast<std::streamsize>(at_ - data_.get()));
  handed_on_ += size();
  at_ = data_.get();
  return static_cast<bool>(*out_);
}

void TextBuffer::MakeRoom(size_t n) {
  if (out_ != nullptr && size() >= kPieceSize) Flush();
  const size_t size = this->size();
  const size_t capacity = static_cast<size_t>(end_ - data_.get());
  if (capacity - size >= n) return;
  const size_t grown = std::max({kFirstSize, 2 * capacity, size + n});
  std::unique_ptr<char[]> data(new char[grown]);
  if (size != 0) std::memcpy(data.get(), data_.get(), size);
  data_ = std::move(data);
  at_ = data_.get() + size;
  end_ = data_.get() + grown;
}

}  // namespace json_writer
