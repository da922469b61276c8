#pragma once
// Bounded little-endian reads from bytes of the file. A read beyond the end
// throws the damaged-file error, naming the file and what was being read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/jet/format/bytes.h"
#include "platform/jet/jet_errors.h"

namespace kw::jet {

class ByteView {
 public:
  ByteView(const uint8_t* data, size_t size, const std::string& file, std::string what)
      : data_(data), size_(size), file_(&file), ownWhat_(std::move(what)) {}
  // A view whose description the caller keeps, unchanged, for as long as the
  // view and its sub-views are used: nothing is copied (for the loops that
  // look at every row of a table).
  static ByteView Described(const uint8_t* data, size_t size, const std::string& file, const std::string& what) {
    ByteView v(data, size, file, std::string());
    v.what_ = &what;
    return v;
  }

  size_t Size() const { return size_; }
  const uint8_t* Data() const { return data_; }
  const std::string& File() const { return *file_; }
  const std::string& What() const { return what_ ? *what_ : ownWhat_; }

  uint8_t U8(size_t at) const {
    Need(at, 1);
    return data_[at];
  }
  uint16_t U16(size_t at) const {
    Need(at, 2);
    return Get16(data_ + at);
  }
  uint32_t U24(size_t at) const {
    Need(at, 3);
    return Get24(data_ + at);
  }
  uint32_t U32(size_t at) const {
    Need(at, 4);
    return Get32(data_ + at);
  }
  ByteView Sub(size_t at, size_t length, std::string what) const {
    Need(at, length);
    return ByteView(data_ + at, length, *file_, std::move(what));
  }
  // The same with this view's description (copied only when this view owns it).
  ByteView Sub(size_t at, size_t length) const {
    Need(at, length);
    ByteView v = *this;
    v.data_ = data_ + at;
    v.size_ = length;
    return v;
  }
  [[noreturn]] void Fail(const std::string& detail) const { ThrowDamaged(*file_, What() + ": " + detail); }

 private:
  void Need(size_t at, size_t n) const {
    if (at > size_ || n > size_ - at)
      Fail("ends before byte " + std::to_string(at + n) + " (it has " + std::to_string(size_) + ")");
  }

  const uint8_t* data_;
  size_t size_;
  const std::string* file_;
  const std::string* what_ = nullptr;  // the caller's description, when it keeps it
  std::string ownWhat_;
};

}  // namespace kw::jet
