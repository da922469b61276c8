#include "platform/jet/data_page.h"

#include <algorithm>
#include <cstring>

#include "platform/jet/jet_errors.h"

namespace kw::jet {
namespace {

uint16_t LowestStart(const PageBytes& p, uint16_t count) {
  return count == 0 ? static_cast<uint16_t>(kPageSize)
                    : static_cast<uint16_t>(SlotWord(p, count - 1) & kSlotOffsetMask);
}

}  // namespace

DataPage::DataPage(const PageBytes& page, const std::string& file, uint32_t number)
    : page_(page), file_(file), number_(number) {
  auto where = [number] { return "data page " + std::to_string(number); };
  if (page[kPageTypeAt] != kDataPageType) ThrowDamaged(file, "page " + std::to_string(number) + " is not a data page");
  count_ = RowCountOf(page);
  if (kDataHeader + 2u * count_ > kPageSize)
    ThrowDamaged(file, where() + " claims " + std::to_string(count_) + " rows, more than it can hold");
  // Each row starts at or below the start of the row before it (the first
  // at or below the page's end) and above the slots. Checked in one sweep
  // over every slot; the row at fault is looked for only when one is.
  const uint32_t lowest = kDataHeader + 2u * count_;
  auto startOf = [&page](uint32_t i) -> uint32_t { return SlotWord(page, static_cast<uint16_t>(i)) & kSlotOffsetMask; };
  uint32_t outOfPlace = count_ > 0 && (startOf(0) > kPageSize || startOf(count_ - 1u) < lowest);
  for (uint32_t i = 1; i < count_; ++i) outOfPlace |= static_cast<uint32_t>(startOf(i) > startOf(i - 1));
  if (outOfPlace == 0) return;
  uint32_t end = kPageSize;
  for (uint16_t i = 0; i < count_; ++i) {
    const uint32_t start = SlotWord(page, i) & kSlotOffsetMask;
    if (start > end || start < lowest)
      ThrowDamaged(file, where() + ": row " + std::to_string(i) + " lies outside its place on the page");
    end = start;
  }
}

Slot DataPage::SlotAt(uint16_t i) const {
  if (i >= count_)
    ThrowDamaged(file_, "data page " + std::to_string(number_) + " has no row " + std::to_string(i));
  const uint16_t word = SlotWord(page_, i);
  Slot s;
  s.flags = word & static_cast<uint16_t>(~kSlotOffsetMask);
  s.start = word & kSlotOffsetMask;
  s.end = i == 0 ? static_cast<uint16_t>(kPageSize) : SlotWord(page_, i - 1) & kSlotOffsetMask;
  return s;
}

uint32_t DataPage::Room() const { return LowestStart(page_, count_) - (kDataHeader + 2u * count_); }

bool DataPage::FreeSpaceAgrees() const { return Get16(&page_[data_page::kFreeSpace]) == Room(); }

bool ReplaceRow(PageBytes& page, uint16_t slot, std::span<const uint8_t> row, uint16_t flags) {
  const uint16_t count = RowCountOf(page);
  const uint32_t start = SlotWord(page, slot) & kSlotOffsetMask;
  const uint32_t end = slot == 0 ? kPageSize : SlotWord(page, slot - 1) & kSlotOffsetMask;
  const uint32_t lowest = LowestStart(page, count);
  const int64_t delta = static_cast<int64_t>(row.size()) - (end - start);
  const int64_t newLowest = static_cast<int64_t>(lowest) - delta;
  if (newLowest < static_cast<int64_t>(kDataHeader + 2u * count) || newLowest > kPageSize) return false;
  // The rows after this one lie below it: they move together by delta.
  std::memmove(page.data() + newLowest, page.data() + lowest, start - lowest);
  if (delta < 0) std::memset(page.data() + lowest, 0, static_cast<size_t>(-delta));
  std::copy(row.begin(), row.end(), page.begin() + (end - row.size()));
  for (uint16_t j = slot; j < count; ++j) {
    const uint16_t word = SlotWord(page, j);
    const uint16_t keptFlags = j == slot ? flags : word & static_cast<uint16_t>(~kSlotOffsetMask);
    const auto moved = static_cast<uint16_t>((word & kSlotOffsetMask) - delta);
    Put16(&page[kDataHeader + 2u * j], keptFlags | moved);
  }
  Put16(&page[data_page::kFreeSpace], static_cast<uint32_t>(Get16(&page[data_page::kFreeSpace]) - delta));
  return true;
}

}  // namespace kw::jet
