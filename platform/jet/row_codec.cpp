#include "platform/jet/row_codec.h"

#include "platform/jet/format/row_layout.h"
#include "platform/jet/format/text_codec.h"

namespace kw::jet {
namespace {

struct Frame {
  uint16_t columns = 0;
  size_t maskAt = 0;    // the null mask's first byte
  uint16_t varCount = 0;
  size_t tableEnd = 0;  // offset entries lie below this, entry i at tableEnd - 2 - 2i
  std::vector<uint16_t> offsets;  // varCount + 1, the last the end of the values
};

Frame ReadFrame(const TableDef& table, const ByteView& row) {
  Frame f;
  f.columns = row.U16(row::kColumnCount);
  const size_t maskBytes = row::NullMaskBytes(f.columns);
  if (row.Size() < row::kFixedPart + maskBytes) row.Fail("it is shorter than its null mask");
  f.maskAt = row.Size() - maskBytes;
  if (table.varColumns > 0) {
    if (f.maskAt < row::kFixedPart + row::kOffsetBytes) row.Fail("it has no room for its variable-length values");
    f.varCount = row.U16(f.maskAt - 2);
    if (f.maskAt < row::kFixedPart + row::kOffsetBytes * (f.varCount + 2u)) row.Fail("its offset table does not fit it");
    f.tableEnd = f.maskAt - 2;
    f.offsets.resize(f.varCount + 1u);
    const size_t tableStart = f.tableEnd - 2u * (f.varCount + 1u);
    uint16_t before = 2;
    for (uint16_t i = 0; i <= f.varCount; ++i) {
      const uint16_t o = row.U16(f.tableEnd - 2 - 2u * i);
      if (o < before || o > tableStart) row.Fail("its variable-length offsets are out of order");
      f.offsets[i] = before = o;
    }
  }
  return f;
}

bool Bit(const ByteView& row, const Frame& f, uint16_t n) {
  return n < f.columns && (row.U8(f.maskAt + n / 8u) >> (n % 8u) & 1u) != 0;
}

}  // namespace

std::vector<Cell> DecodeRow(const TableDef& table, const ByteView& row) {
  const Frame f = ReadFrame(table, row);
  const size_t fixedEnd = table.varColumns > 0 ? f.offsets[0] : f.maskAt;
  std::vector<Cell> cells(table.columns.size());
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const Column& c = table.columns[i];
    Cell& cell = cells[i];
    const bool present = Bit(row, f, c.number);
    if (c.type == ColumnType::kBoolean) {
      cell.null = false;
      cell.flag = present;
      continue;
    }
    if (!present || c.number >= f.columns) continue;
    if (c.Fixed()) {
      const size_t at = 2u + c.fixedOffset;
      if (at + c.length > fixedEnd) row.Fail("column " + Quoted(c.name) + " lies beyond its fixed part");
      cell = {false, false, static_cast<uint16_t>(at), c.length};
    } else {
      // The row holds the column (its bit is set), so its value must be in
      // the row's table of variable-length values.
      if (c.varIndex >= f.varCount)
        row.Fail("column " + Quoted(c.name) + " has a value that is not among the row's " +
                 std::to_string(f.varCount) + " variable-length values");
      cell = {false, false, f.offsets[c.varIndex],
              static_cast<uint16_t>(f.offsets[c.varIndex + 1u] - f.offsets[c.varIndex])};
    }
  }
  return cells;
}

FieldValue CellText(const Column& c, const ByteView& row, const Cell& cell) {
  if (c.type == ColumnType::kBoolean) return std::string(cell.flag ? "True" : "False");
  if (cell.null) return std::nullopt;
  const ByteView v = row.Sub(cell.offset, cell.length, row.What());
  auto whole = [&](int64_t n) -> FieldValue { return std::to_string(n); };
  switch (c.type) {
    case ColumnType::kText: return DecodeText(v.Data(), v.Size());
    case ColumnType::kByte: return whole(v.U8(0));
    case ColumnType::kInteger: return whole(static_cast<int16_t>(v.U16(0)));
    case ColumnType::kLong: return whole(static_cast<int32_t>(v.U32(0)));
    default: break;
  }
  throw RunError("The column " + Quoted(c.name) + " is not a text column; its values cannot be read here.");
}

std::vector<uint8_t> WithValue(const TableDef& table, const ByteView& row, const Column& c,
                               const std::optional<std::vector<uint8_t>>& value) {
  const Frame f = ReadFrame(table, row);
  if (c.Fixed() || c.varIndex >= f.varCount || c.number >= f.columns)
    throw RunError("The column " + Quoted(c.name) + " of table " + Quoted(table.name) +
                   " has no place in this row; it is left unchanged.");
  const uint16_t from = f.offsets[c.varIndex], to = f.offsets[c.varIndex + 1u];
  const size_t newLength = value ? value->size() : 0;
  const int64_t delta = static_cast<int64_t>(newLength) - (to - from);
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(static_cast<int64_t>(row.Size()) + delta));
  out.insert(out.end(), row.Data(), row.Data() + from);
  if (value) out.insert(out.end(), value->begin(), value->end());
  out.insert(out.end(), row.Data() + to, row.Data() + row.Size());
  // The tail (offsets, count, mask) keeps its length and moves by delta.
  const size_t shift = static_cast<size_t>(static_cast<int64_t>(f.tableEnd) + delta);
  for (uint16_t i = c.varIndex + 1u; i <= f.varCount; ++i) {
    const auto o = static_cast<uint32_t>(f.offsets[i] + delta);
    Put16(&out[shift - 2 - 2u * i], o);
  }
  uint8_t& mask = out[out.size() - (row.Size() - f.maskAt) + c.number / 8u];
  const auto bit = static_cast<uint8_t>(1u << (c.number % 8u));
  mask = static_cast<uint8_t>(value ? mask | bit : mask & ~bit);
  return out;
}

}  // namespace kw::jet
