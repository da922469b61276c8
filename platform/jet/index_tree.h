#pragma once
// The tree of one index, kept current as Jet keeps it when a row's key
// changes: the row's old entry leaves its leaf page and its new one goes
// where it belongs. A page that overflows is split as Jet splits it (its
// first half to a new page before it, an entry for that page in the parent,
// the root kept on its page by moving its content one level down); a page
// left empty leaves the tree; a page's new last entry goes up to its parent;
// an intermediate page with two or more children keeps its last one as its
// tail. New pages come from the allocator; every page changed is written
// into the caller's edit and read back before the change counts.
//
// Pages read are kept between changes. They stay true as long as nothing
// else writes the file: Forget() lets them go.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/jet/index_node.h"
#include "platform/jet/page_allocator.h"

namespace kw::jet {

using EntryBytes = std::vector<uint8_t>;  // a key and a row place

struct IndexTreeDef {
  uint32_t root = 0;
  uint32_t tdefPage = 0;
  bool unique = false;
  std::string what;  // "the index 'X' of table 'Y'", for errors
};

class IndexTree {
 public:
  // `owned` is the index's map of its pages.
  IndexTree(PageStore& store, IndexTreeDef def, UsageMap owned);

  // Whether the tree holds exactly this entry.
  bool Contains(std::span<const uint8_t> entry);

  // Replaces a row's entry `from` (nullopt: it has none) by `to` (nullopt:
  // it gets none), building the change in `edit`. A `from` the tree does not
  // hold is the damaged-file error. In a unique index, a `to` whose key
  // another entry has throws Jet's duplicate-values error. On any error the
  // tree and `edit`'s index pages are as before.
  void Change(PageEdit& edit, PageAllocator& allocator, const std::optional<EntryBytes>& from,
              const std::optional<EntryBytes>& to);

  void Forget() { nodes_.clear(); }

  // Every entry in order, walking the leaves from the first; the test of a
  // whole tree (order, links, parents) is the walker in the tests'.
  void ForEachEntry(const std::function<void(std::span<const uint8_t>)>& visit);

 private:
  struct Step {
    uint32_t page;
    size_t child;  // the entry taken; Count() for the tail
  };
  using Path = std::vector<Step>;

  IndexNode& Node(uint32_t n);
  IndexNode& Modify(uint32_t n);
  IndexNode& Create(PageEdit& edit, PageAllocator& allocator, bool leaf);
  Path Descend(std::span<const uint8_t> sorted);
  EntryBytes LastOf(uint32_t n);
  bool KeyTaken(const IndexNode& leaf, size_t at, std::span<const uint8_t> entry);

  void Remove(PageEdit& edit, PageAllocator& allocator, std::span<const uint8_t> entry);
  void Insert(std::span<const uint8_t> entry);
  void LastChanged(const Path& path, size_t level);
  void RemovePage(PageEdit& edit, PageAllocator& allocator, const Path& path, size_t level);
  void Split(PageEdit& edit, PageAllocator& allocator, Path path, size_t level);
  // Splits every changed page that its entries overflow.
  void Settle(PageEdit& edit, PageAllocator& allocator);
  Path PathTo(uint32_t n);
  void KeepTail(IndexNode& node);
  void WriteChanged(PageEdit& edit);

  PageStore& store_;
  IndexTreeDef def_;
  UsageMap owned_;
  std::unordered_map<uint32_t, IndexNode> nodes_;
  // The change being made: each page's state before it (nullopt for pages
  // it created), so that a failure puts the tree back.
  std::map<uint32_t, std::optional<IndexNode>> before_;
  std::vector<uint32_t> freed_;
};

}  // namespace kw::jet
