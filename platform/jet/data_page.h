#pragma once
// A data page: a header (type 01, free space, the table's definition page,
// row count), then one 2-byte slot a row, each the row's start with two
// flags in its high bits; rows lie from the page's end downwards, row 0
// last, each ending where the row before it starts.
//   0x4000 alone: the row moved; its slot holds a 4-byte pointer (row
//                 number, 3-byte page) to the moved copy.
//   0x8000 alone: a moved copy, reached through its pointer.
//   both:         a deleted row.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/jet/page_store.h"

namespace kw::jet {

inline constexpr uint16_t kPointerFlag = 0x4000;
inline constexpr uint16_t kMovedFlag = 0x8000;
inline constexpr uint16_t kDeletedFlags = 0xC000;
inline constexpr uint16_t kMaxRowsOnPage = 255;
inline constexpr uint32_t kDataHeader = 14;

struct Slot {
  uint16_t flags = 0;
  uint16_t start = 0, end = 0;
  bool Deleted() const { return (flags & kDeletedFlags) == kDeletedFlags; }
  bool Pointer() const { return (flags & kDeletedFlags) == kPointerFlag; }
  bool MovedCopy() const { return (flags & kDeletedFlags) == kMovedFlag; }
};

class DataPage {
 public:
  // Checks the header and every slot against the page; throws the
  // damaged-file error naming the page.
  DataPage(const PageBytes& page, const std::string& file, uint32_t number);

  uint32_t TableDefPage() const;
  uint16_t RowCount() const { return count_; }
  // Slot i; throws the damaged-file error when the page has no such row.
  Slot SlotAt(uint16_t i) const;
  // True when the stored free space is exactly the room between the slots
  // and the rows, so that the page can be rewritten without guessing.
  bool FreeSpaceAgrees() const;
  uint32_t Room() const;  // bytes between the slots and the rows

 private:
  const PageBytes& page_;
  const std::string& file_;
  uint32_t number_;
  uint16_t count_ = 0;
};

// A page of long values (memo and OLE data kept outside their rows): a data
// page whose owner field reads "LVAL". A table's page map may list it.
inline bool IsLongValuePage(const PageBytes& page) {
  return page[0] == 0x01 && page[4] == 'L' && page[5] == 'V' && page[6] == 'A' && page[7] == 'L';
}

// A new, empty data page of the table whose definition starts on tdefPage.
void InitDataPage(PageBytes& page, uint32_t tdefPage);

// Puts `row` in the place of row `slot` with `flags`, moving the rows after
// it so that every one of them keeps its bytes; the free space follows.
// False, with the page unchanged, when the page has no room for it. The page
// must be one whose free space agrees (DataPage::FreeSpaceAgrees).
bool ReplaceRow(PageBytes& page, uint16_t slot, std::span<const uint8_t> row, uint16_t flags);

// Adds `row` as a new last row with `flags`; its number, or nullopt when the
// page has no room or no free row number.
std::optional<uint16_t> AppendRow(PageBytes& page, std::span<const uint8_t> row, uint16_t flags);

}  // namespace kw::jet
