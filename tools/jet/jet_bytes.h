#pragma once
// Little-endian stores into a byte buffer, as every Jet structure uses them.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kw::jetw {

using Bytes = std::vector<uint8_t>;

inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put24(uint8_t* p, uint32_t v) {
  Put16(p, v);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  Put64(p, bits);
}

inline void Append8(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
inline void Append16(Bytes& b, uint32_t v) {
  b.resize(b.size() + 2);
  Put16(b.data() + b.size() - 2, v);
}
inline void Append32(Bytes& b, uint32_t v) {
  b.resize(b.size() + 4);
  Put32(b.data() + b.size() - 4, v);
}
inline void AppendBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

constexpr size_t kPageSize = 4096;

// A row's address as Jet stores it: the page in the upper three bytes, the
// row number on that page in the lowest.
inline uint32_t RowPointer(uint32_t page, uint32_t row) { return (page << 8) | (row & 0xFF); }

}  // namespace kw::jetw
