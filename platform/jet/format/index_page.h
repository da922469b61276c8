#pragma once
// The pages of an index (mdbtools' HACKING.md, "Indices"; Jackcess'
// JetFormat and IndexData for Jet 4; read on the Access-made files of
// tests/data/jet/access-made/ and the Jackcess-made ones of product/ and
// variants/). An index is a tree: its leaf pages (type 04) hold one entry a
// row, the row's key (index_key.h) followed by the row's pointer; each
// intermediate page (type 03) holds one entry for each page below it: that
// page's last entry followed by the page's number. Every entry is sorted by
// its bytes, so pointers in entries are big-endian. The root is named by the
// real index's entry in the table's definition (table_definition.h); while
// the index fits on one page it is a leaf.
//
// The entries lie one after the other from kEntries on. A bitmap from
// kEntryMask on marks where each ends: bit i (bit i % 8 of byte i / 8) set
// when an entry ends i bytes after kEntries. When the page has a prefix
// length, every entry but the first leaves out that many bytes at its
// start: those it shares with the first. The free space is the entry area's
// bytes after the last entry (so on every page of the files named above).
// The pages of one level are linked both ways. An intermediate page may
// name its last child in kTailPage instead of by an entry of its own (the
// child's last entry is then on no intermediate page): its children are
// those of its entries, then the tail page. Jackcess keeps the last child
// so on every intermediate page with more than one child (its
// IndexPageCache; the files of product/ and variants/ have them); a leaf's
// kTailPage is 0.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/jet/format/bytes.h"
#include "platform/jet/format/page.h"

namespace kw::jet {

namespace index_page {
inline constexpr size_t kFreeSpace = 2;     // u16
inline constexpr size_t kOwner = 4;         // u32: the table's first definition page
inline constexpr size_t kPrevPage = 12;     // u32: the page before on the same level, 0 for none
inline constexpr size_t kNextPage = 16;     // u32: the page after, 0 for none
inline constexpr size_t kTailPage = 20;     // u32: an intermediate page's last child, 0 for none
inline constexpr size_t kPrefixLength = 24;  // u16
inline constexpr size_t kEntryMask = 0x1B;
inline constexpr size_t kEntries = 0x1E0;
}  // namespace index_page
inline constexpr size_t kIndexEntrySpace = kPageSize - index_page::kEntries;
inline constexpr size_t kEntryRowPointerBytes = 4;    // big-endian RowPointer (page.h)
inline constexpr size_t kEntryChildPointerBytes = 4;  // big-endian page number
// The longest key an index takes: its entry, with the row and the child
// pointer of an intermediate page, must fit on a page.
inline constexpr size_t kMaxIndexKey = kIndexEntrySpace - kEntryRowPointerBytes - kEntryChildPointerBytes;

struct IndexPageHeader {
  uint8_t type = kIndexLeafPageType;  // or kIndexNodePageType
  uint16_t freeSpace = kIndexEntrySpace;
  uint32_t owner = 0;
  uint32_t prev = 0, next = 0, tail = 0;
  uint16_t prefixLength = 0;
  bool Leaf() const { return type == kIndexLeafPageType; }
};

IndexPageHeader ReadIndexPageHeader(const PageBytes& page);

// The entries of an index page, each whole (the shared prefix put back),
// in order, one after another in `bytes`; entry i ends at ends[i]. When the
// page does not hold them as described above, `fault` says why (as the end
// of a sentence that begins with the page) and there are none. `stored` is
// what they take on the page (the free space is kIndexEntrySpace less it).
struct IndexPageEntries {
  Bytes bytes;
  std::vector<uint32_t> ends;
  size_t stored = 0;
  std::string fault;
  size_t Count() const { return ends.size(); }
  std::span<const uint8_t> Entry(size_t i) const {
    const size_t from = i == 0 ? 0 : ends[i - 1];
    return {bytes.data() + from, ends[i] - from};
  }
};
IndexPageEntries ReadIndexEntries(const PageBytes& page);

// Writes an index page with `header`'s type and links, no shared prefix and
// `entries` in order, each stored whole, its free space as they leave it;
// the bytes of the header that nothing here describes keep what `page`
// held. False, with the page unspecified, when they do not fit (or one is
// empty).
bool BuildIndexPage(PageBytes& page, const IndexPageHeader& header,
                    const std::vector<std::span<const uint8_t>>& entries);

// The order of entries: their bytes compared unsigned, a shorter entry
// before a longer one it begins; negative, zero or positive.
int CompareEntries(std::span<const uint8_t> a, std::span<const uint8_t> b);

// The pointers at an entry's end: a leaf entry's row (intermediate entries
// hold the row of their child's last entry before the child), and an
// intermediate entry's child page. The entry must hold them.
inline RowRef EntryRow(std::span<const uint8_t> entry, bool leaf) {
  const size_t at = entry.size() - kEntryRowPointerBytes - (leaf ? 0 : kEntryChildPointerBytes);
  return RowOf(GetBig32(entry.data() + at));
}
inline uint32_t EntryChild(std::span<const uint8_t> entry) {
  return GetBig32(entry.data() + entry.size() - kEntryChildPointerBytes);
}
inline void AppendEntryRow(Bytes& entry, uint32_t rowPointer) { AppendBig32(entry, rowPointer); }
inline void AppendEntryChild(Bytes& entry, uint32_t page) { AppendBig32(entry, page); }

}  // namespace kw::jet
