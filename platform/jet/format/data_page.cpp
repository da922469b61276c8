#include "platform/jet/format/data_page.h"

#include <algorithm>

namespace kw::jet {

void InitDataPage(PageBytes& page, uint32_t owner) {
  page.fill(0);
  SetPageType(page.data(), kDataPageType);
  Put16(&page[data_page::kFreeSpace], kPageSize - kDataHeader);
  Put32(&page[data_page::kOwner], owner);
}

std::optional<uint16_t> AppendRow(PageBytes& page, std::span<const uint8_t> row, uint16_t flags) {
  const uint16_t count = RowCountOf(page);
  if (count >= kMaxRowsOnPage) return std::nullopt;
  const uint32_t lowest = count == 0 ? kPageSize : SlotWord(page, count - 1) & kSlotOffsetMask;
  if (row.size() + kDataHeader + 2u * (count + 1u) > lowest) return std::nullopt;
  const auto start = static_cast<uint16_t>(lowest - row.size());
  std::copy(row.begin(), row.end(), page.begin() + start);
  Put16(&page[kDataHeader + 2u * count], flags | start);
  Put16(&page[data_page::kRowCount], count + 1u);
  Put16(&page[data_page::kFreeSpace], static_cast<uint32_t>(Get16(&page[data_page::kFreeSpace]) - row.size() - 2));
  return count;
}

}  // namespace kw::jet
