#pragma once
// An index read back from its root with the format library, for tests: the
// leaf entries in the order of the tree (an intermediate page's children are
// those of its entries, then its tail page), the number of levels, and what
// is wrong with its pages (entries that differ from their child's last,
// links between neighbours of one level, pages that cannot be read).
#include <algorithm>
#include <string>
#include <vector>

#include "platform/jet/format/index_page.h"
#include "platform/jet/page_store.h"

namespace kw::jet::test {

struct IndexTree {
  std::vector<Bytes> entries;
  int levels = 0;
  std::vector<std::string> faults;
};

namespace internal {

inline void Walk(PageStore& store, uint32_t n, size_t depth, IndexTree& t, std::vector<std::vector<uint32_t>>& levels) {
  const std::string where = "page " + std::to_string(n);
  if (n == 0 || n >= store.PageCount() || depth > 16) {
    t.faults.push_back(where + " cannot be part of the index");
    return;
  }
  PageBytes page;
  store.Read(n, page);
  const IndexPageEntries read = ReadIndexEntries(page);
  if (!read.fault.empty()) {
    t.faults.push_back(where + " " + read.fault);
    return;
  }
  if (levels.size() <= depth) levels.resize(depth + 1);
  levels[depth].push_back(n);
  t.levels = std::max(t.levels, static_cast<int>(depth) + 1);
  if (ReadIndexPageHeader(page).Leaf()) {
    if (ReadIndexPageHeader(page).tail != 0) t.faults.push_back(where + " is a leaf with a tail page");
    t.entries.insert(t.entries.end(), read.entries.begin(), read.entries.end());
    return;
  }
  for (const Bytes& e : read.entries) {
    const uint32_t child = EntryChild(e);
    if (child != 0 && child < store.PageCount()) {
      // The entry is its child's last entry (without a child pointer of its own).
      PageBytes below;
      store.Read(child, below);
      const IndexPageEntries under = ReadIndexEntries(below);
      if (!under.entries.empty()) {
        const Bytes& last = under.entries.back();
        const size_t keep = ReadIndexPageHeader(below).Leaf() ? last.size() : last.size() - kEntryChildPointerBytes;
        if (Bytes(e.begin(), e.end() - kEntryChildPointerBytes) != Bytes(last.begin(), last.begin() + static_cast<long>(keep)))
          t.faults.push_back(where + ": an entry differs from its child's last");
      }
    }
    Walk(store, child, depth + 1, t, levels);
  }
  if (const uint32_t tail = ReadIndexPageHeader(page).tail; tail != 0) Walk(store, tail, depth + 1, t, levels);
}

}  // namespace internal

inline IndexTree ReadIndexTree(PageStore& store, uint32_t root) {
  IndexTree t;
  std::vector<std::vector<uint32_t>> levels;
  internal::Walk(store, root, 0, t, levels);
  // Each level's pages, left to right, link to their neighbours.
  for (const std::vector<uint32_t>& level : levels)
    for (size_t i = 0; i < level.size(); ++i) {
      PageBytes page;
      store.Read(level[i], page);
      const IndexPageHeader h = ReadIndexPageHeader(page);
      if (h.prev != (i > 0 ? level[i - 1] : 0) || h.next != (i + 1 < level.size() ? level[i + 1] : 0))
        t.faults.push_back("page " + std::to_string(level[i]) + " links to the wrong neighbours");
    }
  return t;
}

}  // namespace kw::jet::test
