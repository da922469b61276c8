#pragma once
// Numbers as Jet keeps them in its pages: little-endian everywhere, except
// in index entries, whose row and child pointers are big-endian so that the
// entries sort as their bytes do. Nothing here checks bounds: the engine's
// readers check them first (platform/jet/byte_view.h).
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kw::jet {

using Bytes = std::vector<uint8_t>;

// On a little-endian machine a number is read in one load.
inline uint16_t Get16(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Get24(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16); }
inline uint32_t Get32(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  return Get24(p) | static_cast<uint32_t>(p[3]) << 24;
}

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

inline uint32_t GetBig32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void AppendBig32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace kw::jet
