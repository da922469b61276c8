#include "platform/jet/format/index_page.h"

#include <algorithm>
#include <cstring>

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
    out = IndexPageEntries{};
    out.fault = std::move(why);
    return out;
  };
  const IndexPageHeader h = ReadIndexPageHeader(page);
  if (h.type != kIndexLeafPageType && h.type != kIndexNodePageType) return fail("is not an index page");
  // An entry holds a key of a flag byte at least, then its pointers.
  const size_t least = 1 + kEntryRowPointerBytes + (h.Leaf() ? 0 : kEntryChildPointerBytes);
  size_t start = 0;
  for (size_t bit = 0; bit < (kEntries - kEntryMask) * 8; ++bit) {
    if (!(page[kEntryMask + bit / 8] >> (bit % 8) & 1)) continue;
    if (bit > kIndexEntrySpace || bit <= start) return fail("marks an entry outside its entry area");
    const size_t stored = bit - start;
    if (out.ends.empty()) {
      if (stored < least || h.prefixLength >= stored) return fail("has a first entry shorter than its shared prefix");
    } else {
      if (h.prefixLength + stored < least) return fail("has an entry too short for a key and its row");
      out.bytes.insert(out.bytes.end(), out.bytes.begin(), out.bytes.begin() + h.prefixLength);
    }
    out.bytes.insert(out.bytes.end(), page.begin() + static_cast<long>(kEntries + start),
                     page.begin() + static_cast<long>(kEntries + bit));
    out.ends.push_back(static_cast<uint32_t>(out.bytes.size()));
    start = bit;
  }
  out.stored = start;
  return out;
}

bool BuildIndexPage(PageBytes& page, const IndexPageHeader& header,
                    const std::vector<std::span<const uint8_t>>& entries) {
  SetPageType(page.data(), static_cast<PageType>(header.type));
  Put32(&page[kOwner], header.owner);
  Put32(&page[kPrevPage], header.prev);
  Put32(&page[kNextPage], header.next);
  Put32(&page[kTailPage], header.tail);
  Put16(&page[kPrefixLength], 0);
  std::fill(page.begin() + kEntryMask, page.end(), uint8_t{0});
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

int CompareEntries(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace kw::jet
