#pragma once
// One row's bytes: the column count, the fixed part, the variable-length
// values, then from the row's end backwards the null mask (one bit a
// column, set when the column has a value), the number of variable-length
// values, their offsets from the row's start (first value nearest the
// count) and the offset of the end of the last one.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/jet/byte_view.h"
#include "platform/jet/table_def.h"

namespace kw::jet {

struct Cell {
  bool null = true;
  bool flag = false;  // a yes/no column's value, kept in the null mask
  uint16_t offset = 0, length = 0;
};

// One cell for each column of the definition, in its order. Every offset
// and count is checked against the row; throws the damaged-file error.
std::vector<Cell> DecodeRow(const TableDef& table, const ByteView& row);

// The column's value as text. Text columns decode; whole numbers and yes/no
// read as DAO shows them; other types throw RunError naming the column.
FieldValue CellText(const Column& column, const ByteView& row, const Cell& cell);

// The row with the value of one variable-length column replaced (nullopt:
// null), every other byte as it was and the offsets after it moved. Throws
// RunError when this row has no place for the column.
std::vector<uint8_t> WithValue(const TableDef& table, const ByteView& row, const Column& column,
                               const std::optional<std::vector<uint8_t>>& value);

}  // namespace kw::jet
