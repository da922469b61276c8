#include "platform/jet/index_node.h"

#include <algorithm>
#include <cstring>

#include "platform/jet/byte_view.h"
#include "platform/jet/jet_errors.h"

namespace kw::jet {
namespace {

// The header of an index page (little-endian): type, 01, free space (2),
// the table's definition page (4), four bytes kept as found, previous and
// next page (4 each), tail (4), the shared prefix's length (2), a byte kept
// as found, then the mask: one bit for each byte of the entry area, set at
// the end of each entry. Entries start at 0x1E0.
constexpr size_t kFreeSpace = 2, kTdef = 4, kPrev = 12, kNext = 16, kTail = 20, kPrefix = 24;
constexpr size_t kMask = 0x1B, kEntries = 0x1E0;

uint32_t Get32(const PageBytes& p, size_t at) {
  return static_cast<uint32_t>(p[at] | p[at + 1] << 8 | p[at + 2] << 16) | static_cast<uint32_t>(p[at + 3]) << 24;
}
void Put32(PageBytes& p, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int CompareEntries(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

uint32_t IndexNode::Child(size_t i) const {
  const auto e = Entry(i);
  const uint8_t* p = e.data() + e.size() - kChildBytes;
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1] << 16 | p[2] << 8 | p[3]);
}

void IndexNode::Insert(size_t i, std::span<const uint8_t> entry) {
  const uint32_t at = i == 0 ? 0 : ends_[i - 1];
  bytes_.insert(bytes_.begin() + at, entry.begin(), entry.end());
  ends_.insert(ends_.begin() + static_cast<long>(i), at);
  for (size_t k = i; k < ends_.size(); ++k) ends_[k] += static_cast<uint32_t>(entry.size());
}

void IndexNode::Erase(size_t i) {
  const uint32_t from = i == 0 ? 0 : ends_[i - 1], size = ends_[i] - from;
  bytes_.erase(bytes_.begin() + from, bytes_.begin() + from + size);
  ends_.erase(ends_.begin() + static_cast<long>(i));
  for (size_t k = i; k < ends_.size(); ++k) ends_[k] -= size;
}

void IndexNode::Replace(size_t i, std::span<const uint8_t> entry) {
  Erase(i);
  Insert(i, entry);
}

size_t IndexNode::StoredSize() const { return bytes_.size(); }

IndexNode IndexNode::Read(const PageBytes& page, uint32_t number, uint32_t tdefPage, const std::string& file,
                          const std::string& what) {
  auto fail = [&](const std::string& detail) {
    ThrowDamaged(file, what + ": its page " + std::to_string(number) + " " + detail);
  };
  IndexNode n;
  n.number = number;
  if (page[0] != kIndexNodePage && page[0] != kIndexLeafPage) fail("is not an index page");
  if (page[1] != 0x01 || Get32(page, kTdef) != tdefPage) fail("does not belong to the table");
  n.leaf = page[0] == kIndexLeafPage;
  n.tdefPage = tdefPage;
  n.prev = Get32(page, kPrev);
  n.next = Get32(page, kNext);
  n.tail = Get32(page, kTail);
  if (n.leaf && n.tail != 0) fail("is a leaf with a tail");
  const size_t prefix = static_cast<size_t>(page[kPrefix] | page[kPrefix + 1] << 8);
  const size_t least = kRowPlaceBytes + 1 + (n.leaf ? 0 : kChildBytes);  // a flag byte at least
  size_t start = 0;
  for (size_t bit = 0; bit < (kEntries - kMask) * 8; ++bit) {
    if (!(page[kMask + bit / 8] >> (bit % 8) & 1)) continue;
    if (bit > kIndexEntryRoom || bit <= start) fail("marks an entry outside its entry area");
    const size_t stored = bit - start;
    if (n.ends_.empty()) {
      if (stored < least || prefix >= stored) fail("has a first entry shorter than its shared prefix");
      n.bytes_.insert(n.bytes_.end(), page.begin() + kEntries, page.begin() + static_cast<long>(kEntries + bit));
    } else {
      if (prefix + stored < least) fail("has an entry too short for a key and its row");
      n.bytes_.insert(n.bytes_.end(), n.bytes_.begin(), n.bytes_.begin() + static_cast<long>(prefix));
      n.bytes_.insert(n.bytes_.end(), page.begin() + static_cast<long>(kEntries + start),
                      page.begin() + static_cast<long>(kEntries + bit));
    }
    n.ends_.push_back(static_cast<uint32_t>(n.bytes_.size()));
    if (n.Count() > 1 && CompareEntries(n.Sorted(n.Count() - 2), n.Sorted(n.Count() - 1)) >= 0)
      fail("holds its entries out of order");
    start = bit;
  }
  if (!n.leaf && n.tail != 0 && n.Count() == 0) fail("has a tail but no entries");
  return n;
}

void IndexNode::Write(PageBytes& page) const {
  const size_t prefix = 0;  // every entry stored whole
  page[0] = leaf ? kIndexLeafPage : kIndexNodePage;
  page[1] = 0x01;
  Put32(page, kTdef, tdefPage);
  Put32(page, kPrev, prev);
  Put32(page, kNext, next);
  Put32(page, kTail, leaf ? 0 : tail);
  Put16(&page[kPrefix], static_cast<uint32_t>(prefix));
  std::fill(page.begin() + kMask, page.end(), 0);
  size_t used = 0;
  for (size_t i = 0; i < Count(); ++i) {
    const auto e = Entry(i);
    const size_t skip = i == 0 ? 0 : prefix;
    std::memcpy(page.data() + kEntries + used, e.data() + skip, e.size() - skip);
    used += e.size() - skip;
    page[kMask + used / 8] = static_cast<uint8_t>(page[kMask + used / 8] | 1u << (used % 8));
  }
  Put16(&page[kFreeSpace], static_cast<uint32_t>(kIndexEntryRoom - used));
}

}  // namespace kw::jet
