#include "platform/jet/format/index_page.h"

#include <algorithm>

namespace kw::jet {

using namespace index_page;

IndexPageHeader ReadIndexPageHeader(const PageBytes& page) {
  IndexPageHeader h;
  h.type = page[kPageTypeAt];
  h.freeSpace = Get16(&page[kFreeSpace]);
  h.owner = Get32(&page[kOwner]);
  h.prev = Get32(&page[kPrevPage]);
  h.next = Get32(&page[kNextPage]);
  h.tail = Get32(&page[kTailPage]);
  h.prefixLength = Get16(&page[kPrefixLength]);
  return h;
}

IndexPageEntries ReadIndexEntries(const PageBytes& page) {
  IndexPageEntries out;
  auto fail = [&](std::string why) {
    out.entries.clear();
    out.fault = std::move(why);
    return out;
  };
  const IndexPageHeader h = ReadIndexPageHeader(page);
  if (h.type != kIndexLeafPageType && h.type != kIndexNodePageType) return fail("is not an index page");
  const size_t pointers = kEntryRowPointerBytes + (h.Leaf() ? 0 : kEntryChildPointerBytes);
  size_t last = 0;
  for (size_t bit = 0; bit < (kEntries - kEntryMask) * 8; ++bit) {
    if (!(page[kEntryMask + bit / 8] >> (bit % 8) & 1)) continue;
    if (bit > kIndexEntrySpace) return fail("marks an entry beyond the page");
    const uint8_t* stored = &page[kEntries + last];
    Bytes e;
    if (!out.entries.empty()) {
      if (h.prefixLength > out.entries.front().size()) return fail("shares more bytes than its first entry has");
      e.assign(out.entries.front().begin(), out.entries.front().begin() + h.prefixLength);
    }
    e.insert(e.end(), stored, stored + (bit - last));
    if (e.size() <= pointers) return fail("has an entry too short for its pointers");
    out.entries.push_back(std::move(e));
    last = bit;
  }
  if (h.freeSpace != kIndexEntrySpace - last) return fail("has a free space that does not agree with its entries");
  return out;
}

bool BuildIndexPage(PageBytes& page, const IndexPageHeader& header,
                    const std::vector<std::span<const uint8_t>>& entries) {
  page.fill(0);
  SetPageType(page.data(), static_cast<PageType>(header.type));
  Put32(&page[kOwner], header.owner);
  Put32(&page[kPrevPage], header.prev);
  Put32(&page[kNextPage], header.next);
  Put32(&page[kTailPage], header.tail);
  size_t used = 0;
  for (const std::span<const uint8_t> e : entries) {
    if (e.empty() || e.size() > kIndexEntrySpace - used) return false;
    std::copy(e.begin(), e.end(), page.begin() + static_cast<long>(kEntries + used));
    used += e.size();
    page[kEntryMask + used / 8] |= static_cast<uint8_t>(1u << (used % 8));  // where the entry ends
  }
  Put16(&page[kFreeSpace], static_cast<uint32_t>(kIndexEntrySpace - used));
  return true;
}

}  // namespace kw::jet
