#pragma once
// One page of an index as the engine works on it: its whole entries, in
// order, with the shared prefix put back in front of each. The page's
// layout (leaf and intermediate pages, entries, tails, links) is in
// platform/jet/format/index_page.h. Leaf pages link to their neighbours
// across the whole level; intermediate pages only to those under the same
// parent.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/jet/format/index_page.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

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
    return leaf ? e : e.first(e.size() - kEntryChildPointerBytes);
  }
  uint32_t Child(size_t i) const { return EntryChild(Entry(i)); }  // intermediate pages
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
  // nobody has explained. The entries must fit (StoredSize() <= kIndexEntrySpace).
  void Write(PageBytes& page) const;

 private:
  std::vector<uint8_t> bytes_;  // the entries one after another
  std::vector<uint32_t> ends_;  // where each ends in bytes_
};

}  // namespace kw::jet
