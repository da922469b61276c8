#include "platform/jet/row_codec.h"

#include <cstring>

#include "platform/jet/format/row_layout.h"
#include "platform/jet/format/text_codec.h"

namespace kw::jet {
namespace {

struct Frame {
  uint16_t columns = 0;
  size_t maskAt = 0;    // the null mask's first byte
  uint16_t varCount = 0;
  size_t tableEnd = 0;  // offset entries lie below this, entry i at tableEnd - 2 - 2i
};

// Entry i of the offsets (i <= varCount; the last is the end of the values),
// which ReadFrame found inside the row.
uint16_t Offset(const ByteView& row, const Frame& f, uint16_t i) { return Get16(row.Data() + f.tableEnd - 2 - 2u * i); }

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
    const size_t tableStart = f.tableEnd - 2u * (f.varCount + 1u);
    uint16_t before = 2;
    bool ordered = true;
    for (uint16_t i = 0; i <= f.varCount; ++i) {
      const uint16_t o = Offset(row, f, i);
      ordered &= o >= before && o <= tableStart;
      before = o;
    }
    if (!ordered) row.Fail("its variable-length offsets are out of order");
  }
  return f;
}

// The null mask's bit of column n; the mask has one for each of the row's
// columns.
bool Bit(const ByteView& row, const Frame& f, uint16_t n) {
  return n < f.columns && (row.Data()[f.maskAt + n / 8u] >> (n % 8u) & 1u) != 0;
}

}  // namespace

std::vector<Cell> DecodeRow(const TableDef& table, const ByteView& row) {
  std::vector<Cell> cells;
  DecodeRow(table, row, cells);
  return cells;
}

void DecodeRow(const TableDef& table, const ByteView& row, std::vector<Cell>& cells) {
  const Frame f = ReadFrame(table, row);
  const size_t fixedEnd = table.varColumns > 0 ? Offset(row, f, 0) : f.maskAt;
  cells.assign(table.columns.size(), Cell{});
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
      const uint16_t from = Offset(row, f, c.varIndex);
      cell = {false, false, from, static_cast<uint16_t>(Offset(row, f, c.varIndex + 1u) - from)};
    }
  }
}

FieldValue CellText(const Column& c, const ByteView& row, const Cell& cell) {
  if (c.type == ColumnType::kBoolean) return std::string(cell.flag ? "True" : "False");
  if (cell.null) return std::nullopt;
  const ByteView v = row.Sub(cell.offset, cell.length);
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

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

}  // namespace

std::optional<bool> StoredTextEquals(const uint8_t* data, size_t size, std::string_view literal) {
  // A character outside ASCII never equals an ASCII one, whatever the case:
  // only ASCII letters fold to ASCII letters.
  const bool compressed = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  const size_t step = compressed ? 1 : 2;
  const size_t from = compressed ? 2 : 0;
  if (compressed ? std::memchr(data + from, 0, size - from) != nullptr : size % 2 != 0) return std::nullopt;
  bool ascii = true;
  for (size_t i = from; i < size && ascii; i += step) ascii = data[i] < 0x80 && (compressed || data[i + 1] == 0);
  if (!ascii || (size - from) / step != literal.size()) return false;
  for (size_t i = from, k = 0; i < size; i += step, ++k)
    if (FoldAscii(static_cast<char>(data[i])) != FoldAscii(literal[k])) return false;
  return true;
}

std::vector<uint8_t> WithValue(const TableDef& table, const ByteView& row, const Column& c,
                               const std::optional<std::vector<uint8_t>>& value) {
  std::vector<uint8_t> out;
  WithValue(table, row, c, value, out);
  return out;
}

void WithValue(const TableDef& table, const ByteView& row, const Column& c,
               const std::optional<std::vector<uint8_t>>& value, std::vector<uint8_t>& out) {
  const Frame f = ReadFrame(table, row);
  if (c.Fixed() || c.varIndex >= f.varCount || c.number >= f.columns)
    throw RunError("The column " + Quoted(c.name) + " of table " + Quoted(table.name) +
                   " has no place in this row; it is left unchanged.");
  const uint16_t from = Offset(row, f, c.varIndex), to = Offset(row, f, c.varIndex + 1u);
  const size_t newLength = value ? value->size() : 0;
  const int64_t delta = static_cast<int64_t>(newLength) - (to - from);
  out.clear();
  out.reserve(static_cast<size_t>(static_cast<int64_t>(row.Size()) + delta));
  out.insert(out.end(), row.Data(), row.Data() + from);
  if (value) out.insert(out.end(), value->begin(), value->end());
  out.insert(out.end(), row.Data() + to, row.Data() + row.Size());
  // The tail (offsets, count, mask) keeps its length and moves by delta.
  const size_t shift = static_cast<size_t>(static_cast<int64_t>(f.tableEnd) + delta);
  for (uint16_t i = c.varIndex + 1u; i <= f.varCount; ++i) {
    const auto o = static_cast<uint32_t>(Offset(row, f, i) + delta);
    Put16(&out[shift - 2 - 2u * i], o);
  }
  uint8_t& mask = out[out.size() - (row.Size() - f.maskAt) + c.number / 8u];
  const auto bit = static_cast<uint8_t>(1u << (c.number % 8u));
  mask = static_cast<uint8_t>(value ? mask | bit : mask & ~bit);
}

}  // namespace kw::jet
