#pragma once
// One row's bytes (mdbtools' HACKING.md, "Jet4 Row Definition"): the column
// count (u16), the fixed part (each fixed-length column at its entry's fixed
// offset), the variable-length values one after the other, then from the
// row's end backwards: the null mask (one bit a column by its number, set
// when the column has a value; a yes/no column's value itself), the number
// of variable-length values (u16), their offsets from the row's start (u16
// each, the first value's nearest the count) and the offset of the end of
// the last one.
//
// A memo or OLE value is a 12-byte reference in the row: its length in the
// low bits of a u32 with how it is kept in the high ones, then a row pointer
// (page.h) where it is not inline.
#include <cstddef>
#include <cstdint>

namespace kw::jet {

namespace row {
inline constexpr size_t kColumnCount = 0;  // u16
inline constexpr size_t kFixedPart = 2;    // where a fixed offset counts from
inline constexpr size_t kOffsetBytes = 2;  // each variable-length offset, the count and the end
inline size_t NullMaskBytes(size_t columns) { return (columns + 7) / 8; }
}  // namespace row

namespace long_value {
inline constexpr size_t kReferenceBytes = 12;
inline constexpr size_t kRowPointer = 4;             // u32, where the value is on long-value pages
inline constexpr uint32_t kInline = 0x80000000u;     // the value follows the reference in the row
inline constexpr uint32_t kOneRow = 0x40000000u;     // the value is one row of a long-value page
// Neither flag: a chain of rows, each beginning with the next one's pointer.
inline constexpr size_t kMaxInline = 64;             // as Jackcess keeps them
inline constexpr size_t kChainPointer = 4;
// Memo text longer than this is stored without Unicode compression.
inline constexpr size_t kMaxCompressedMemo = 1024;
}  // namespace long_value

}  // namespace kw::jet
