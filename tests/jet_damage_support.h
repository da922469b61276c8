#pragma once
// Where the parts of one table lie in a Jet file's bytes, found with the
// engine's readers on the undamaged file, so that a test can damage exactly
// one of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/jet/byte_view.h"
#include "platform/jet/catalog.h"
#include "platform/jet/data_page.h"
#include "platform/jet/format/row_layout.h"
#include "platform/jet/key_set.h"
#include "platform/jet/memory_page_store.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_rows.h"
#include "platform/text_compare.h"

namespace kw::jet::test {

using Bytes = std::vector<uint8_t>;

// The file's numbers at `at`, checked to lie in it.
inline uint16_t Get16(const Bytes& b, size_t at) { return jet::Get16(&b.at(at + 1) - 1); }
inline uint32_t Get32(const Bytes& b, size_t at) { return jet::Get32(&b.at(at + 3) - 3); }
inline void Set16(Bytes& b, size_t at, uint32_t v) { Put16(&b.at(at + 1) - 1, v); }
inline void Set32(Bytes& b, size_t at, uint32_t v) { Put32(&b.at(at + 3) - 3, v); }

struct Landmarks {
  uint32_t tdefPage = 0;
  uint32_t dataPage = 0;     // the page of the first row the pass selects
  uint16_t keyRow = 0;       // that row's slot
  size_t keyStart = 0, keyEnd = 0;  // its bytes in the file
  size_t maskBytes = 0;      // its null mask
  uint32_t catalogPage = 0;  // the page of the table's catalog row
  size_t catalogId = 0;      // the Id of that row in the file
  size_t realIndexes = 0;   // entries between the definition's header and its columns
  TableDef table;
  RowRef catalogOwned;  // the catalog's page map

  size_t Tdef(size_t at) const { return size_t{tdefPage} * kPageSize + at; }
  size_t Data(size_t at) const { return size_t{dataPage} * kPageSize + at; }
  size_t ColumnEntry(size_t i) const {
    return Tdef(tdef::kHeader + realIndexes * tdef::kRealIndexCountEntry + i * tdef::kColumnEntry);
  }
  size_t Column(const std::string& name) const {
    for (size_t i = 0; i < table.columns.size(); ++i)
      if (table.columns[i].name == name) return ColumnEntry(i);
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  size_t FirstName() const { return ColumnEntry(table.columns.size()); }
  size_t RowStart(const Bytes&) const { return keyStart; }
  size_t RowEnd(const Bytes&) const { return keyEnd; }
  // The first byte of a usage map's row.
  static size_t MapRow(const Bytes& b, RowRef map) {
    return size_t{map.page} * kPageSize + (Get16(b, size_t{map.page} * kPageSize + kDataHeader + 2u * map.row) & kSlotOffsetMask);
  }
  size_t OwnedMap(const Bytes& b) const { return MapRow(b, table.ownedPages); }
  size_t FreeMap(const Bytes& b) const { return MapRow(b, table.freePages); }
  size_t CatalogMap(const Bytes& b) const { return MapRow(b, catalogOwned); }
  // Makes slot `slot` of the data page a pointer to (page, row).
  void Point(Bytes& b, uint16_t slot, uint32_t page, uint8_t row) const {
    Flag(b, slot, kPointerFlag);
    const size_t at = size_t{dataPage} * kPageSize + (Get16(b, Data(kDataHeader + 2u * slot)) & kSlotOffsetMask);
    Set32(b, at, RowPointer(page, row));
  }
  void Flag(Bytes& b, uint16_t slot, uint16_t flags) const {
    Set16(b, Data(kDataHeader + 2u * slot), (Get16(b, Data(kDataHeader + 2u * slot)) & kSlotOffsetMask) | flags);
  }


  static Landmarks Of(const Bytes& bytes, const std::string& table, const std::string& column) {
    Landmarks l;
    MemoryPageStore store("x", bytes);
    l.table = FindTable(store, table);
    l.tdefPage = l.table.page;
    l.realIndexes = Get32(bytes, l.Tdef(tdef::kRealIndexCount));
    TableRows rows(store, l.table);
    const Selection s = ParseSelection("SELECT * FROM " + table + " WHERE LAND = 'CH' AND " + column + " = '01'");
    const std::vector<RowLocation> keys = SelectKeys(rows, s);
    EXPECT_FALSE(keys.empty());
    l.dataPage = keys.at(0).page;
    l.keyRow = keys.at(0).row;
    PageBytes page;
    store.Read(l.dataPage, page);
    const DataPage dp(page, "x", l.dataPage);
    EXPECT_GE(dp.RowCount(), 4);
    const Slot slot = dp.SlotAt(l.keyRow);
    l.keyStart = l.Data(slot.start);
    l.keyEnd = l.Data(slot.end);
    l.maskBytes = row::NullMaskBytes(Get16(bytes, l.keyStart + row::kColumnCount));
    EXPECT_GT(l.dataPage, l.tdefPage);

    TableRows catalog(store, ReadTableDef(store, kCatalogPage, "MSysObjects"));
    const TableDef& c = catalog.Table();
    l.catalogOwned = c.ownedPages;
    catalog.Scan([&](RowLocation at, const ByteView& row, bool) {
      const std::vector<Cell> cells = DecodeRow(c, row);
      for (size_t i = 0; i < c.columns.size(); ++i) {
        if (c.columns[i].name != "Name" || CellText(c.columns[i], row, cells[i]) != table) continue;
        for (size_t k = 0; k < c.columns.size(); ++k) {
          if (c.columns[k].name != "Id") continue;
          PageBytes p;
          store.Read(at.page, p);
          l.catalogPage = at.page;
          l.catalogId = size_t{at.page} * kPageSize + DataPage(p, "x", at.page).SlotAt(at.row).start + cells[k].offset;
        }
      }
    });
    EXPECT_NE(l.catalogId, 0u);
    return l;
  }
};

}  // namespace kw::jet::test
