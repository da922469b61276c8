#pragma once
// One page of an index as the engine works on it: its whole entries, in
// order, with the shared prefix put back in front of each.
//
// A leaf page (0x04) holds one entry a row: the key, then the row's place
// (three bytes of page and one of row, big-endian). An intermediate page
// (0x03) holds one entry a child page: the child's last entry, then the
// child's page number (four bytes, big-endian); when it has two or more
// children, the last child is not an entry but its "tail" in the header.
// Leaf pages link to their neighbours across the whole level; intermediate
// pages only to those under the same parent.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/jet/page_store.h"

namespace kw::jet {

inline constexpr uint8_t kIndexNodePage = 0x03;
inline constexpr uint8_t kIndexLeafPage = 0x04;
inline constexpr size_t kRowPlaceBytes = 4;
inline constexpr size_t kChildBytes = 4;
// Room for entries on a page: from the first entry's offset to the page's
// end (and no more than the entry mask can mark).
inline constexpr size_t kIndexEntryRoom = kPageSize - 0x1E0;

class IndexNode {
 public:
  uint32_t number = 0;
  bool leaf = true;
  uint32_t prev = 0, next = 0, tail = 0;
  uint32_t tdefPage = 0;

  size_t Count() const { return ends_.size(); }
  std::span<const uint8_t> Entry(size_t i) const {
    const size_t from = i == 0 ? 0 : ends_[i - 1];
    return {bytes_.data() + from, ends_[i] - from};
  }
  // The part that orders entries: all of a leaf entry; an intermediate
  // entry without its child page.
  std::span<const uint8_t> Sorted(size_t i) const {
    auto e = Entry(i);
    return leaf ? e : e.first(e.size() - kChildBytes);
  }
  uint32_t Child(size_t i) const;  // intermediate pages
  void Insert(size_t i, std::span<const uint8_t> entry);
  void Erase(size_t i);
  void Replace(size_t i, std::span<const uint8_t> entry);

  // The bytes the entries take on the page, each stored whole (a page read
  // with a shared prefix may take more than it did).
  size_t StoredSize() const;

  // Reads page `number` of an index of the table defined on `tdefPage`.
  // Throws the damaged-file error naming `what` for anything that does not
  // fit: type, table, entry marks, lengths, prefix, order.
  static IndexNode Read(const PageBytes& page, uint32_t number, uint32_t tdefPage, const std::string& file,
                        const std::string& what);
  // Writes it over `page`, every entry whole, keeping the header bytes
  // nobody has explained. The entries must fit (StoredSize() <= kIndexEntryRoom).
  void Write(PageBytes& page) const;

 private:
  std::vector<uint8_t> bytes_;  // the entries one after another
  std::vector<uint32_t> ends_;  // where each ends in bytes_
};

// Lexicographic order of entry bytes (unsigned); negative, zero or positive.
int CompareEntries(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace kw::jet
