#include "platform/jet/data_page.h"

#include <algorithm>
#include <cstring>

#include "platform/jet/byte_view.h"

namespace kw::jet {
namespace {

constexpr uint16_t kOffsetMask = 0x1FFF;

uint16_t Get16(const PageBytes& p, size_t at) { return static_cast<uint16_t>(p[at] | p[at + 1] << 8); }
uint16_t SlotWord(const PageBytes& p, uint16_t i) { return Get16(p, kDataHeader + 2u * i); }
uint16_t LowestStart(const PageBytes& p, uint16_t count) {
  return count == 0 ? static_cast<uint16_t>(kPageSize) : static_cast<uint16_t>(SlotWord(p, count - 1) & kOffsetMask);
}

}  // namespace

DataPage::DataPage(const PageBytes& page, const std::string& file, uint32_t number)
    : page_(page), file_(file), number_(number) {
  auto where = [number] { return "data page " + std::to_string(number); };
  if (page[0] != 0x01) ThrowDamaged(file, "page " + std::to_string(number) + " is not a data page");
  count_ = Get16(page, 12);
  if (kDataHeader + 2u * count_ > kPageSize)
    ThrowDamaged(file, where() + " claims " + std::to_string(count_) + " rows, more than it can hold");
  uint32_t end = kPageSize;
  for (uint16_t i = 0; i < count_; ++i) {
    const uint32_t start = SlotWord(page, i) & kOffsetMask;
    if (start > end || start < kDataHeader + 2u * count_)
      ThrowDamaged(file, where() + ": row " + std::to_string(i) + " lies outside its place on the page");
    end = start;
  }
}

uint32_t DataPage::TableDefPage() const {
  return static_cast<uint32_t>(page_[4] | page_[5] << 8 | page_[6] << 16) |
         static_cast<uint32_t>(page_[7]) << 24;
}

Slot DataPage::SlotAt(uint16_t i) const {
  if (i >= count_)
    ThrowDamaged(file_, "data page " + std::to_string(number_) + " has no row " + std::to_string(i));
  const uint16_t word = SlotWord(page_, i);
  Slot s;
  s.flags = word & static_cast<uint16_t>(~kOffsetMask);
  s.start = word & kOffsetMask;
  s.end = i == 0 ? static_cast<uint16_t>(kPageSize) : SlotWord(page_, i - 1) & kOffsetMask;
  return s;
}

uint32_t DataPage::Room() const { return LowestStart(page_, count_) - (kDataHeader + 2u * count_); }

bool DataPage::FreeSpaceAgrees() const { return Get16(page_, 2) == Room(); }

void InitDataPage(PageBytes& page, uint32_t tdefPage) {
  page.fill(0);
  page[0] = 0x01;
  page[1] = 0x01;
  Put16(&page[2], kPageSize - kDataHeader);
  Put16(&page[4], tdefPage & 0xFFFF);
  Put16(&page[6], tdefPage >> 16);
}

bool ReplaceRow(PageBytes& page, uint16_t slot, std::span<const uint8_t> row, uint16_t flags) {
  const uint16_t count = Get16(page, 12);
  const uint32_t start = SlotWord(page, slot) & kOffsetMask;
  const uint32_t end = slot == 0 ? kPageSize : SlotWord(page, slot - 1) & kOffsetMask;
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
    const uint16_t keptFlags = j == slot ? flags : word & static_cast<uint16_t>(~kOffsetMask);
    const auto moved = static_cast<uint16_t>((word & kOffsetMask) - delta);
    Put16(&page[kDataHeader + 2u * j], keptFlags | moved);
  }
  Put16(&page[2], static_cast<uint32_t>(Get16(page, 2) - delta));
  return true;
}

std::optional<uint16_t> AppendRow(PageBytes& page, std::span<const uint8_t> row, uint16_t flags) {
  const uint16_t count = Get16(page, 12);
  if (count >= kMaxRowsOnPage) return std::nullopt;
  const uint32_t lowest = LowestStart(page, count);
  if (row.size() + kDataHeader + 2u * (count + 1u) > lowest) return std::nullopt;
  const auto start = static_cast<uint16_t>(lowest - row.size());
  std::copy(row.begin(), row.end(), page.begin() + start);
  Put16(&page[kDataHeader + 2u * count], flags | start);
  Put16(&page[12], count + 1u);
  Put16(&page[2], static_cast<uint32_t>(Get16(page, 2) - row.size() - 2));
  return count;
}

}  // namespace kw::jet
