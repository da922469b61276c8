#pragma once
// Bounded little-endian reads from bytes of the file. A read beyond the end
// throws the damaged-file error, naming the file and what was being read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/jet/jet_errors.h"

namespace kw::jet {

class ByteView {
 public:
  ByteView(const uint8_t* data, size_t size, const std::string& file, std::string what)
      : data_(data), size_(size), file_(&file), what_(std::move(what)) {}

  size_t Size() const { return size_; }
  const uint8_t* Data() const { return data_; }
  const std::string& File() const { return *file_; }
  const std::string& What() const { return what_; }

  uint8_t U8(size_t at) const {
    Need(at, 1);
    return data_[at];
  }
  uint16_t U16(size_t at) const {
    Need(at, 2);
    return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8);
  }
  uint32_t U24(size_t at) const {
    Need(at, 3);
    return static_cast<uint32_t>(data_[at] | data_[at + 1] << 8 | data_[at + 2] << 16);
  }
  uint32_t U32(size_t at) const {
    Need(at, 4);
    return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
           static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
  }
  ByteView Sub(size_t at, size_t length, std::string what) const {
    Need(at, length);
    return ByteView(data_ + at, length, *file_, std::move(what));
  }
  [[noreturn]] void Fail(const std::string& detail) const { ThrowDamaged(*file_, what_ + ": " + detail); }

 private:
  void Need(size_t at, size_t n) const {
    if (at > size_ || n > size_ - at)
      Fail("ends before byte " + std::to_string(at + n) + " (it has " + std::to_string(size_) + ")");
  }

  const uint8_t* data_;
  size_t size_;
  const std::string* file_;
  std::string what_;
};

inline void Put16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put24(uint8_t* at, uint32_t v) {
  Put16(at, v);
  at[2] = static_cast<uint8_t>(v >> 16);
}

}  // namespace kw::jet
