#pragma once
// Pages and the pointers between them. A Jet 4 file is a row of 4096-byte
// pages, page n at n * 4096. Every page begins with its type and the byte
// 01 (page 0, the database definition page, is of type 00).
#include <array>
#include <cstddef>
#include <cstdint>

namespace kw::jet {

inline constexpr uint32_t kPageSize = 4096;
using PageBytes = std::array<uint8_t, kPageSize>;

enum PageType : uint8_t {
  kDefinitionPageType = 0x00,       // page 0 only (platform/jet/format/definition_page.h)
  kDataPageType = 0x01,             // rows, and the rows of long values (data_page.h)
  kTableDefinitionPageType = 0x02,  // a table's columns and indexes (table_definition.h)
  kIndexNodePageType = 0x03,        // an index's intermediate pages (index_page.h)
  kIndexLeafPageType = 0x04,        // an index's leaf pages
  kUsageMapPageType = 0x05,         // a slice of a usage map's bits (usage_map.h)
};
inline constexpr size_t kPageTypeAt = 0;
inline constexpr size_t kPageMarkAt = 1;
inline constexpr uint8_t kPageMark = 0x01;
// Begins a page of `type`: its type byte and the 01 after it.
inline void SetPageType(uint8_t* page, PageType type) {
  page[kPageTypeAt] = type;
  page[kPageMarkAt] = kPageMark;
}

// Pages every file has in the same place.
inline constexpr uint32_t kGlobalMapPage = 1;  // its row 0: the map of the file's free pages
inline constexpr uint32_t kCatalogPage = 2;    // the definition of MSysObjects (catalog.h)

// A row's address as the file keeps it: the page in the upper three bytes,
// the row's slot on that page in the lowest. Little-endian in rows (usage
// map pointers, a moved row's pointer, long values), big-endian in index
// entries.
struct RowRef {
  uint32_t page = 0;
  uint8_t row = 0;
};
inline constexpr size_t kRowPointerBytes = 4;
inline constexpr uint32_t kRowPointerPages = 1u << 24;  // pages a row pointer can name
inline constexpr uint32_t RowPointer(uint32_t page, uint32_t row) { return page << 8 | (row & 0xFF); }
inline constexpr RowRef RowOf(uint32_t pointer) { return {pointer >> 8, static_cast<uint8_t>(pointer)}; }

}  // namespace kw::jet
