#pragma once
// A usage map: a bitmap of pages, kept in a row of a data page (mdbtools'
// HACKING.md, "Page Usage Maps"). Its first byte is its type:
//   0, inline:    the first page (u32) and the bits of the pages from it on,
//                 in the row itself (64 bytes in the maps Jet and Jackcess
//                 make);
//   1, reference: 17 page numbers (u32, 0 for none) of usage map pages
//                 (type 05), the k-th holding the bits of the k-th slice of
//                 kPagesPerMapPage pages.
// Bit i of a bitmap is bit i % 8 of byte i / 8. A table has two maps: the
// pages it owns and those of them with free space; the database has one in
// row 0 of page 1 (page.h), of the pages that are free.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/jet/format/page.h"

namespace kw::jet {

namespace usage_map {
inline constexpr uint8_t kInline = 0;
inline constexpr uint8_t kReference = 1;
inline constexpr size_t kType = 0;
inline constexpr size_t kFirstPage = 1;   // inline: u32
inline constexpr size_t kInlineBits = 5;  // inline: the bitmap
inline constexpr size_t kMapPages = 1;    // reference: u32 each
inline constexpr size_t kInlineBitmapBytes = 64;
inline constexpr size_t kMapPagePointers = 17;
inline constexpr size_t kRowBytes = kInlineBits + kInlineBitmapBytes;  // = 1 + 4 * kMapPagePointers
// A usage map page: type 05, 01, two zero bytes, then the bitmap.
inline constexpr size_t kMapPageBits = 4;
}  // namespace usage_map
inline constexpr uint32_t kPagesPerMapPage = (kPageSize - usage_map::kMapPageBits) * 8;

// A new usage map page without any bit set.
inline void InitMapPage(uint8_t* page) {
  std::fill(page, page + kPageSize, uint8_t{0});
  SetPageType(page, kUsageMapPageType);
}

inline void SetMapBit(uint8_t* bits, uint64_t bit) {
  bits[bit / 8] = static_cast<uint8_t>(bits[bit / 8] | 1u << (bit % 8));
}

}  // namespace kw::jet
