#include "tools/jet/jet_row.h"

#include <cmath>
#include <set>
#include <stdexcept>

#include "platform/jet/format/row_layout.h"
#include "platform/jet/format/text_codec.h"

namespace kw::jetw {
namespace {

[[noreturn]] void Fail(const TableLayout& t, const ColumnLayout& c, const std::string& what) {
  throw std::invalid_argument("table " + t.table + ", column " + c.def.name + ": " + what);
}

bool Written(ColumnType type) {
  return type != ColumnType::kFloat && type != ColumnType::kGuid && type != ColumnType::kNumeric;
}

std::u16string Utf16(const TableLayout& t, const ColumnLayout& c, const std::string& s) {
  try {
    return jet::Utf16FromUtf8(s);
  } catch (const std::invalid_argument& e) {
    Fail(t, c, e.what());
  }
}

}  // namespace

TableLayout LayOut(const TableSchema& def) {
  TableLayout t;
  t.table = def.name;
  if (def.name.empty() || jet::Utf16FromUtf8(def.name).size() > 64)
    throw std::invalid_argument("table name '" + def.name + "' must have 1 to 64 characters");
  if (def.columns.empty() || def.columns.size() > 255)
    throw std::invalid_argument("table " + def.name + ": a table has 1 to 255 columns");
  std::set<std::u16string> names;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    ColumnLayout c;
    c.def = def.columns[i];
    c.number = static_cast<uint16_t>(i);
    c.fixed = !jet::IsVariableLength(c.def.type);
    std::u16string name = jet::Utf16FromUtf8(c.def.name);
    std::u16string upper;
    for (char16_t ch : name) upper += (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 32) : ch;
    if (name.empty() || name.size() > 64) Fail(t, c, "a column name has 1 to 64 characters");
    if (!names.insert(upper).second) Fail(t, c, "the name is used twice");
    if (!Written(c.def.type)) Fail(t, c, "columns of this type are not written here");
    if (c.def.autoNumber) {
      if (c.def.type != ColumnType::kLong) Fail(t, c, "only a long integer column can be an autonumber");
      if (t.autoNumberColumn >= 0) Fail(t, c, "a table has at most one autonumber column");
      t.autoNumberColumn = static_cast<int>(i);
    }
    if (c.fixed) {
      c.fixedOffset = t.fixedSize;
      c.varIndex = t.varCount;
      c.storedLength = jet::FixedLength(c.def.type);
      t.fixedSize = static_cast<uint16_t>(t.fixedSize + jet::FixedBytes(c.def.type));
    } else {
      c.varIndex = t.varCount++;
      if (c.def.type == ColumnType::kText) {
        if (c.def.length < 1 || c.def.length > 255) Fail(t, c, "a text column has a length of 1 to 255");
        c.storedLength = static_cast<uint16_t>(c.def.length * 2);
      } else if (c.def.type == ColumnType::kBinary) {
        if (c.def.length < 1 || c.def.length > 510) Fail(t, c, "a binary column has a length of 1 to 510");
        c.storedLength = static_cast<uint16_t>(c.def.length);
      }
    }
    t.columns.push_back(c);
  }
  return t;
}

Bytes MemoBytes(const ColumnSchema& column, const std::string& utf8) {
  const std::u16string text = jet::Utf16FromUtf8(utf8);
  return jet::EncodeText(utf8, column.compressed && text.size() <= jet::long_value::kMaxCompressedMemo);
}

Bytes EncodeRow(const TableLayout& t, const RowValues& values, const LongValueStore& store) {
  if (values.size() != t.columns.size())
    throw std::invalid_argument("table " + t.table + ": a row has " + std::to_string(t.columns.size()) +
                                " values, not " + std::to_string(values.size()));
  const size_t ncols = t.columns.size();
  Bytes row(jet::row::kFixedPart + t.fixedSize, 0);
  jet::Put16(row.data() + jet::row::kColumnCount, static_cast<uint32_t>(ncols));
  Bytes mask(jet::row::NullMaskBytes(ncols), 0);
  std::vector<uint16_t> varStart(t.varCount, 0);
  for (const ColumnLayout& c : t.columns) {
    const Value& v = values[c.number];
    const bool null = std::holds_alternative<std::monostate>(v);
    uint8_t* fixed = row.data() + jet::row::kFixedPart + c.fixedOffset;
    if (!c.fixed) varStart[c.varIndex] = static_cast<uint16_t>(row.size());
    if (null) continue;
    auto expect = [&](bool ok, const char* what) {
      if (!ok) Fail(t, c, std::string("expects ") + what);
    };
    bool bit = true;
    switch (c.def.type) {
      case ColumnType::kBoolean:
        expect(std::holds_alternative<bool>(v), "yes/no");
        bit = std::get<bool>(v);
        break;
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong: {
        expect(std::holds_alternative<int32_t>(v), "a whole number");
        int32_t n = std::get<int32_t>(v);
        if (c.def.type == ColumnType::kByte && (n < 0 || n > 255)) Fail(t, c, "a byte holds 0 to 255");
        if (c.def.type == ColumnType::kInteger && (n < -32768 || n > 32767))
          Fail(t, c, "an integer holds -32768 to 32767");
        uint32_t u = static_cast<uint32_t>(n);
        if (c.def.type == ColumnType::kByte) fixed[0] = static_cast<uint8_t>(u);
        else if (c.def.type == ColumnType::kInteger) jet::Put16(fixed, u);
        else jet::Put32(fixed, u);
        break;
      }
      case ColumnType::kCurrency:
        expect(std::holds_alternative<Currency>(v), "a currency value");
        jet::Put64(fixed, static_cast<uint64_t>(std::get<Currency>(v).tenThousandths));
        break;
      case ColumnType::kDouble:
        expect(std::holds_alternative<Double>(v), "a double");
        jet::PutDouble(fixed, std::get<Double>(v).value);
        break;
      case ColumnType::kDateTime:
        expect(std::holds_alternative<DateTime>(v) && std::isfinite(std::get<DateTime>(v).days), "a date");
        jet::PutDouble(fixed, std::get<DateTime>(v).days);
        break;
      case ColumnType::kText: {
        expect(std::holds_alternative<std::string>(v), "text");
        std::u16string text = Utf16(t, c, std::get<std::string>(v));
        if (static_cast<int>(text.size()) > c.def.length)
          Fail(t, c, "the text has " + std::to_string(text.size()) + " characters, the column holds " +
                         std::to_string(c.def.length));
        jet::AppendBytes(row, jet::EncodeText(std::get<std::string>(v), c.def.compressed));
        break;
      }
      case ColumnType::kBinary: {
        expect(std::holds_alternative<std::string>(v), "bytes");
        const std::string& b = std::get<std::string>(v);
        if (static_cast<int>(b.size()) > c.def.length) Fail(t, c, "too many bytes for the column");
        row.insert(row.end(), b.begin(), b.end());
        break;
      }
      case ColumnType::kMemo:
      case ColumnType::kOle: {
        expect(std::holds_alternative<std::string>(v), c.def.type == ColumnType::kMemo ? "text" : "bytes");
        const std::string& s = std::get<std::string>(v);
        Bytes data;
        if (c.def.type == ColumnType::kMemo) {
          Utf16(t, c, s);  // names the column when the text is malformed
          data = MemoBytes(c.def, s);
        } else {
          data.assign(s.begin(), s.end());
        }
        if (data.size() > 0xFFFFFF) Fail(t, c, "a long value holds at most 16 MiB");
        jet::AppendBytes(row, store(c.number, data));
        break;
      }
      default:
        Fail(t, c, "columns of this type are not written here");  // refused by LayOut already
    }
    if (bit) mask[c.number / 8] = static_cast<uint8_t>(mask[c.number / 8] | (1u << (c.number % 8)));
  }
  if (t.varCount > 0) {
    jet::Append16(row, static_cast<uint32_t>(row.size()));  // end of the variable data
    for (size_t i = t.varCount; i-- > 0;) jet::Append16(row, varStart[i]);
    jet::Append16(row, t.varCount);
  }
  jet::AppendBytes(row, mask);
  return row;
}

}  // namespace kw::jetw
