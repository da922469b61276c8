#pragma once
// Column types as a column's entry in its table's definition names them
// (mdbtools' HACKING.md, Jackcess' DataType), and what each takes in a row.
#include <cstdint>

namespace kw::jet {

enum class ColumnType : uint8_t {
  kBoolean = 0x01,   // yes/no: kept in the row's null mask, no bytes of its own
  kByte = 0x02,
  kInteger = 0x03,   // 16 bits
  kLong = 0x04,      // 32 bits
  kCurrency = 0x05,  // 64 bits, ten-thousandths
  kFloat = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,  // days since 1899-12-30 as a double, the fraction the time of day
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,       // a long value: a 12-byte reference in the row (row_layout.h)
  kMemo = 0x0C,      // a long value holding text
  kGuid = 0x0F,
  kNumeric = 0x10,
};

// Kept among a row's variable-length values; the others have a fixed place.
inline bool IsVariableLength(ColumnType t) {
  return t == ColumnType::kText || t == ColumnType::kMemo || t == ColumnType::kBinary || t == ColumnType::kOle;
}
inline bool IsLongValue(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }
// Text (encoded by text_codec.h), with a sort order in the column's entry.
inline bool IsTextual(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

// The length a column's entry declares for a fixed-length type (a yes/no
// column declares 1 and takes no bytes of the row's fixed part).
inline uint16_t FixedLength(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean:
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong:
    case ColumnType::kFloat: return 4;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    default: return 8;
  }
}
// Bytes the column takes in the row's fixed part.
inline uint16_t FixedBytes(ColumnType t) { return t == ColumnType::kBoolean ? 0 : FixedLength(t); }

}  // namespace kw::jet
