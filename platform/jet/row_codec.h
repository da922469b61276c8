#pragma once
// One row's bytes: the column count, the fixed part, the variable-length
// values, then from the row's end backwards the null mask (one bit a
// column, set when the column has a value), the number of variable-length
// values, their offsets from the row's start (first value nearest the
// count) and the offset of the end of the last one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
// The same into `cells`, whose room is kept from row to row.
void DecodeRow(const TableDef& table, const ByteView& row, std::vector<Cell>& cells);

// The column's value as text. Text columns decode; whole numbers and yes/no
// read as DAO shows them; other types throw RunError naming the column.
FieldValue CellText(const Column& column, const ByteView& row, const Cell& cell);

// Whether a text cell's stored bytes hold `literal`, a text of ASCII
// characters, as a selection compares texts (JetTextEqual of the decoded
// text), told from the stored form without decoding it: compressed text
// that keeps to one byte a character, and UCS-2 text. nullopt when only the
// decoded text can tell (compressed text that switches to two bytes a
// character, an odd number of UCS-2 bytes).
std::optional<bool> StoredTextEquals(const uint8_t* data, size_t size, std::string_view literal);

// The row with the value of one variable-length column replaced (nullopt:
// null), every other byte as it was and the offsets after it moved. Throws
// RunError when this row has no place for the column.
std::vector<uint8_t> WithValue(const TableDef& table, const ByteView& row, const Column& column,
                               const std::optional<std::vector<uint8_t>>& value);
// The same into `out`, whose room is kept from row to row.
void WithValue(const TableDef& table, const ByteView& row, const Column& column,
               const std::optional<std::vector<uint8_t>>& value, std::vector<uint8_t>& out);

}  // namespace kw::jet
