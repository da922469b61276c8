#pragma once
// A data page: a header, then one 2-byte slot a row; the rows lie from the
// page's end downwards, row 0 last, each ending where the row before it
// starts (mdbtools' HACKING.md; the page layout of Access-made files in
// tests/data/jet/access-made/). A slot holds the row's start in its low 13
// bits and two flags in its high bits (as in overflowTestV2000.mdb, made by
// Access):
//   0x4000 alone: the row moved; its slot holds a 4-byte row pointer
//                 (page.h) to the moved copy.
//   0x8000 alone: a moved copy, reached through its pointer.
//   both:         a deleted row.
// A page of long values (memo and OLE data kept outside their rows) is a
// data page whose owner reads "LVAL".
//
// These functions add rows as Jet packs them; the engine's reader checks a
// page before anything reads its slots (platform/jet/data_page.h).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/jet/format/bytes.h"
#include "platform/jet/format/page.h"

namespace kw::jet {

namespace data_page {
inline constexpr size_t kFreeSpace = 2;  // u16: bytes between the slots and the rows
inline constexpr size_t kOwner = 4;      // u32: the table's first definition page, or kLongValueOwner
inline constexpr size_t kRowCount = 12;  // u16: slots
}  // namespace data_page
inline constexpr uint32_t kDataHeader = 14;  // the slots start here

inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;
inline constexpr uint16_t kPointerFlag = 0x4000;
inline constexpr uint16_t kMovedFlag = 0x8000;
inline constexpr uint16_t kDeletedFlags = 0xC000;
inline constexpr uint16_t kMaxRowsOnPage = 255;  // a row pointer has one byte for the row
inline constexpr size_t kMaxRowBytes = kPageSize - kDataHeader - 2;
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"

inline uint16_t RowCountOf(const PageBytes& p) { return Get16(&p[data_page::kRowCount]); }
inline uint16_t SlotWord(const PageBytes& p, uint16_t i) { return Get16(&p[kDataHeader + 2u * i]); }
inline uint32_t OwnerOf(const PageBytes& p) { return Get32(&p[data_page::kOwner]); }

inline bool IsLongValuePage(const PageBytes& page) {
  return page[kPageTypeAt] == kDataPageType && OwnerOf(page) == kLongValueOwner;
}

// A new, empty data page of `owner`.
void InitDataPage(PageBytes& page, uint32_t owner);

// Adds `row` as a new last row with `flags`; its number, or nullopt when the
// page has no room or no free row number. The page's free space must agree
// with its rows.
std::optional<uint16_t> AppendRow(PageBytes& page, std::span<const uint8_t> row, uint16_t flags);

}  // namespace kw::jet
