#pragma once
// A table's definition as its definition pages hold it: the columns with
// their types, places in a row and flags, the indexes with their columns,
// pages and flags, and where the usage maps of its pages are. The layout is
// in platform/jet/format/table_definition.h.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/jet/format/column_type.h"
#include "platform/jet/format/table_definition.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

struct Column {
  std::string name;
  ColumnType type{};
  uint16_t number = 0;       // bit in the null mask, counting deleted columns
  uint16_t varIndex = 0;     // entry in a row's table of variable-length offsets
  uint16_t fixedOffset = 0;  // place in a row's fixed part, after the column count
  uint16_t length = 0;       // bytes (text: two a character)
  uint16_t sortOrder = 0;    // text and memo: the sort order of its index keys
  uint8_t sortVersion = 0;
  uint8_t flags = 0;
  uint8_t extraFlags = 0;
  bool Fixed() const { return (flags & kFixedColumn) != 0; }
  bool Compressed() const { return (extraFlags & kCompressedText) != 0; }
};

struct IndexColumn {
  uint16_t number = 0;  // the column's number (Column::number)
  bool ascending = true;
};

// An index as its logical entry names it, with what its real index holds.
struct Index {
  std::string name;
  std::vector<IndexColumn> columns;  // in the order of the key
  uint32_t realIndex = 0;  // another index may share it (and its pages)
  uint8_t flags = 0;       // the real index's: kUniqueIndex, kIgnoreNullsIndex, kRequiredIndex, ...
  uint8_t type = 0;        // kPrimaryKeyIndex, kForeignKeyIndex or 0
  bool related = false;    // one side of a relationship between two tables
  uint32_t rootPage = 0;
  RowRef usageMap;         // the row holding the map of its pages
  bool Unique() const { return (flags & kUniqueIndex) != 0; }
  bool PrimaryKey() const { return type == kPrimaryKeyIndex; }
};

struct TableDef {
  std::string name;
  uint32_t page = 0;  // first definition page; data pages point back to it
  uint16_t rowColumns = 0;  // columns a new row holds, deleted ones included
  uint16_t varColumns = 0;
  std::vector<Column> columns;
  // Every logical index, then every real index that none of them names
  // (named "(index data N)"): it still holds its columns' values.
  std::vector<Index> indexes;
  RowRef ownedPages, freePages;  // the rows holding the two usage maps

  // Case-insensitive, as Jet names compare; nullptr when there is none.
  const Column* Find(std::string_view column) const;
  // The indexes holding the column.
  std::vector<const Index*> IndexesOf(const Column& column) const;
};

// Reads the definition that starts on `page`, following its continuation
// pages. `name` is the table's name, for errors.
TableDef ReadTableDef(PageStore& store, uint32_t page, const std::string& name);

}  // namespace kw::jet
