#pragma once
// A table's definition (mdbtools' HACKING.md, "TDEF"; Jackcess' JetFormat
// for Jet 4; the offsets checked on the Access-made files of
// tests/data/jet/access-made/). It starts on a page of type 02 and goes on
// over the pages its header links; a continuation page's own 8-byte header
// is not part of it. In order:
//   the header (kHeader bytes);
//   for each real index, its counts (real_index_count);
//   for each column, its entry (column_entry, kColumnEntry bytes);
//   for each column, its name;
//   for each real index, its entry (real_index, kRealIndexEntry bytes);
//   for each logical index, its entry (logical_index, kLogicalIndexEntry);
//   for each logical index, its name;
//   for each memo or OLE column, its number and the row pointers of the
//   usage maps of its long-value pages; then FF FF.
// A name is its length in bytes (u16) and its UCS-2 text. A logical index
// is the index a user sees (its name, whether it is the primary key); the
// real index behind it holds its columns and pages. Two logical indexes may
// share one real index (a foreign key on an indexed column).
#include <cstddef>
#include <cstdint>

namespace kw::jet {

namespace tdef {
inline constexpr size_t kFreeSpace = 2;      // u16: the page's free bytes, less kPageHeader
inline constexpr size_t kNextPage = 4;       // u32: the next page of the definition, 0 on the last
// A page's own header: type, 01, free space, next page; on a continuation
// page, its part of the definition follows it.
inline constexpr size_t kPageHeader = 8;
inline constexpr size_t kLength = 8;         // u32: the definition's bytes on its first page
inline constexpr size_t kTag = 12;           // u32: kDefinitionTag
inline constexpr size_t kRowCount = 16;      // u32
inline constexpr size_t kNextAutoNumber = 20;  // u32, 0 without an autonumber column
inline constexpr size_t kAutoNumberFlag = 24;  // 01
inline constexpr size_t kTableType = 40;     // kUserTable, kSystemTable
inline constexpr size_t kMaxColumns = 41;    // u16: columns a row holds, deleted ones included
inline constexpr size_t kVarColumns = 43;    // u16
inline constexpr size_t kColumnCount = 45;   // u16
inline constexpr size_t kLogicalIndexCount = 47;  // u32
inline constexpr size_t kRealIndexCount = 51;     // u32
inline constexpr size_t kOwnedPages = 55;    // u32 row pointer: the usage map of the table's pages
inline constexpr size_t kFreePages = 59;     // u32 row pointer: the map of those with free space
inline constexpr size_t kHeader = 63;
inline constexpr size_t kRealIndexCountEntry = 12;
inline constexpr size_t kColumnEntry = 25;
inline constexpr size_t kRealIndexEntry = 52;
inline constexpr size_t kLogicalIndexEntry = 28;
inline constexpr size_t kNameLength = 2;     // u16 before each name
inline constexpr uint16_t kEndOfLongValueMaps = 0xFFFF;
}  // namespace tdef

// A word Jet 4 files repeat in the header, in every column entry and in
// every logical index entry.
inline constexpr uint32_t kDefinitionTag = 0x0659;
inline constexpr uint8_t kUserTable = 0x4E;
inline constexpr uint8_t kSystemTable = 0x53;

namespace column_entry {
inline constexpr size_t kType = 0;         // ColumnType (column_type.h)
inline constexpr size_t kTag = 1;          // u32: kDefinitionTag
inline constexpr size_t kNumber = 5;       // u16: its bit in the null mask, deleted columns counted
inline constexpr size_t kVarIndex = 7;     // u16: its place among a row's variable-length values
inline constexpr size_t kNumberAgain = 9;  // u16
inline constexpr size_t kSortOrder = 11;   // u16: text and memo: kGeneralSortOrder (definition_page.h)
inline constexpr size_t kSortVersion = 14;  // u8: 0 for the sort order of Access 2000 to 2007
inline constexpr size_t kFlags = 15;       // kFixedColumn, ...
inline constexpr size_t kExtraFlags = 16;  // kCompressedText
inline constexpr size_t kFixedOffset = 21;  // u16: its place in the row's fixed part
inline constexpr size_t kLength = 23;      // u16: bytes (text: two a character)
}  // namespace column_entry
inline constexpr uint8_t kFixedColumn = 0x01;
inline constexpr uint8_t kNullableColumn = 0x02;
inline constexpr uint8_t kAutoNumberColumn = 0x04;
inline constexpr uint8_t kCompressedText = 0x01;  // Unicode compression (text_codec.h)

// As Access-made files have them (fixedTextTestV2000.mdb).
namespace real_index_count {
inline constexpr size_t kRows = 0;          // u32: the table's rows
inline constexpr size_t kDistinctKeys = 4;  // u32: the index's distinct keys
}  // namespace real_index_count

namespace real_index {
inline constexpr size_t kTag = 0;          // u32: kIndexTag
inline constexpr size_t kColumns = 4;      // kMaxColumns slots: u16 column number (kNoColumn), u8 order
inline constexpr size_t kColumnSlot = 3;
inline constexpr size_t kColumnOrder = 2;  // within a slot: kAscendingColumn or kDescendingColumn
inline constexpr size_t kMaxColumns = 10;
inline constexpr size_t kUsageMap = 34;    // u32 row pointer: the usage map of its pages
inline constexpr size_t kRootPage = 38;    // u32: its root, a leaf page while the index fits on one
inline constexpr size_t kFlags = 46;       // kUniqueIndex, ...
}  // namespace real_index
inline constexpr uint32_t kIndexTag = 0x0783;
inline constexpr uint16_t kNoColumn = 0xFFFF;
inline constexpr uint8_t kAscendingColumn = 0x01;
// As Access writes it (compIndexTestV2000.mdb); Jackcess reads the bit
// 0x01, mdbtools any byte but 00, as ascending. The order bytes of the slots
// after the last column hold whatever Access left there.
inline constexpr uint8_t kDescendingColumn = 0x00;
// The real index's flags: 0x89 on Access's primary keys, 0x81 on its other
// unique indexes (test2V2000.mdb), 0x80 on the rest.
inline constexpr uint8_t kUniqueIndex = 0x01;
inline constexpr uint8_t kIgnoreNullsIndex = 0x02;
inline constexpr uint8_t kRequiredIndex = 0x08;
inline constexpr uint8_t kModernIndex = 0x80;  // on every index of Access 2000 and later

namespace logical_index {
inline constexpr size_t kTag = 0;             // u32: kDefinitionTag
inline constexpr size_t kNumber = 4;          // u32
inline constexpr size_t kRealIndex = 8;       // u32: the real index behind it
inline constexpr size_t kRelatedTableType = 12;  // u8
inline constexpr size_t kRelatedIndex = 13;   // u32: the other table's index of a foreign key, else FFFFFFFF
inline constexpr size_t kRelatedTable = 17;   // u32: the other table's definition page
inline constexpr size_t kCascadeUpdates = 21;  // u8: 04 without a relationship, as Access writes it
inline constexpr size_t kCascadeDeletes = 22;  // u8: likewise
inline constexpr size_t kIndexType = 23;      // u8: kPrimaryKeyIndex, kForeignKeyIndex or 0
}  // namespace logical_index
inline constexpr uint32_t kNoRelatedIndex = 0xFFFFFFFFu;
inline constexpr uint8_t kNoRelationship = 0x04;
inline constexpr uint8_t kPrimaryKeyIndex = 0x01;
inline constexpr uint8_t kForeignKeyIndex = 0x02;

}  // namespace kw::jet
