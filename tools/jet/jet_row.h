#pragma once
// The layout of a table's rows and the bytes of one row in it.
#include <functional>
#include <string>
#include <vector>

#include "tools/jet/jet_schema.h"

namespace kw::jetw {

struct ColumnLayout {
  ColumnSchema def;
  uint16_t number = 0;
  bool fixed = false;
  uint16_t fixedOffset = 0;  // within the fixed part (after the column count)
  uint16_t varIndex = 0;     // fixed columns: number of variable columns before it
  uint16_t storedLength = 0; // as the table definition declares it (bytes)
};

struct TableLayout {
  std::string table;
  std::vector<ColumnLayout> columns;
  uint16_t fixedSize = 0;
  uint16_t varCount = 0;
  int autoNumberColumn = -1;
};

// Checks a definition (names, lengths, at most one autonumber column) and
// lays it out; an error names the table and column (std::invalid_argument).
TableLayout LayOut(const TableSchema& def);

// Stores the bytes of a long value (memo or OLE) of a column and gives the
// 12-byte reference that goes into the row.
using LongValueStore = std::function<Bytes(size_t column, const Bytes& data)>;

// The row's bytes; values must match the column types (an error names the
// table and column). Null is allowed in every column.
Bytes EncodeRow(const TableLayout& layout, const RowValues& values, const LongValueStore& store);

// The bytes a memo value is stored as.
Bytes MemoBytes(const ColumnSchema& column, const std::string& utf8);

}  // namespace kw::jetw
