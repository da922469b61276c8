#pragma once
// A table's definition as its definition pages hold it: the columns with
// their types, places in a row and flags, the indexes with their columns,
// and where the usage maps of its pages are.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/jet/page_store.h"

namespace kw::jet {

enum ColumnType : uint8_t {
  kBool = 0x01, kByte = 0x02, kInt = 0x03, kLong = 0x04, kMoney = 0x05, kFloat = 0x06,
  kDouble = 0x07, kDateTime = 0x08, kBinary = 0x09, kText = 0x0A, kOle = 0x0B, kMemo = 0x0C,
  kGuid = 0x0F, kNumeric = 0x10,
};

struct Column {
  std::string name;
  uint8_t type = 0;
  uint16_t number = 0;       // bit in the null mask, counting deleted columns
  uint16_t varIndex = 0;     // entry in a row's table of variable-length offsets
  uint16_t fixedOffset = 0;  // place in a row's fixed part, after the column count
  uint16_t length = 0;       // bytes (text: two a character)
  uint8_t flags = 0;
  uint8_t extraFlags = 0;
  bool Fixed() const { return (flags & 0x01) != 0; }
  bool Compressed() const { return (extraFlags & 0x01) != 0; }
};

struct Index {
  std::string name;
  std::vector<uint16_t> columns;  // column numbers
};

// A row pointer: page << 8 | row.
struct RowRef {
  uint32_t page = 0;
  uint8_t row = 0;
};

struct TableDef {
  std::string name;
  uint32_t page = 0;  // first definition page; data pages point back to it
  uint16_t rowColumns = 0;  // columns a new row holds, deleted ones included
  uint16_t varColumns = 0;
  std::vector<Column> columns;
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
