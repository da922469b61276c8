#pragma once
// A data page as the engine reads and changes it; its layout is in
// platform/jet/format/data_page.h.
#include <cstdint>
#include <span>
#include <string>

#include "platform/jet/format/data_page.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

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

  uint32_t TableDefPage() const { return OwnerOf(page_); }
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

// Puts `row` in the place of row `slot` with `flags`, moving the rows after
// it so that every one of them keeps its bytes; the free space follows.
// False, with the page unchanged, when the page has no room for it. The page
// must be one whose free space agrees (DataPage::FreeSpaceAgrees).
bool ReplaceRow(PageBytes& page, uint16_t slot, std::span<const uint8_t> row, uint16_t flags);

}  // namespace kw::jet
