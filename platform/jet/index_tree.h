#pragma once
// The tree of one index, kept current as Jet keeps it when a row's key
// changes: the row's old entry leaves its leaf page and its new one goes
// where it belongs. A page that overflows is split as Jet splits it (its
// first half to a new page before it, an entry for that page in the parent,
// the root kept on its page by moving its content one level down); a page
// left empty leaves the tree; a page's new last entry goes up to its parent;
// an intermediate page with two or more children keeps its last one as its
// tail. New pages come from the allocator, which enters them in the page
// maps through the caller's edit.
//
// The pages a change leaves different are kept in memory, pending, and
// written to the store by WritePending, each once however many rows changed
// it, as the file's write group is about to be committed; each is read back
// before it is written and must hold exactly what the tree holds. A change
// can be taken back (Undo) until Keep() says that its row was saved.
//
// Pages read are kept between changes. They stay true as long as nothing
// else writes the file: Forget() lets the ones that are not pending go;
// DropPending() lets every page go when the write group was rolled back.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
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
  // tree is as before.
  void Change(PageEdit& edit, PageAllocator& allocator, const std::optional<EntryBytes>& from,
              const std::optional<EntryBytes>& to);
  // Takes back the last change (its edit was thrown away), or keeps it.
  void Undo();
  void Keep();

  // Puts every pending page into `edit`, to be written in the store's open
  // write group. Throws RunError when a page would not hold what the tree
  // holds.
  void WritePending(PageEdit& edit);
  void DropPending();
  void Forget();

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
  void Restore(std::map<uint32_t, std::optional<IndexNode>>& states);
  void ForgetClean();

  PageStore& store_;
  IndexTreeDef def_;
  UsageMap owned_;
  std::unordered_map<uint32_t, IndexNode> nodes_;
  // The change being made: each page's state before it (nullopt for pages
  // it created), so that a failure puts the tree back.
  std::map<uint32_t, std::optional<IndexNode>> before_, last_;
  std::vector<uint32_t> freed_;
  std::set<uint32_t> pending_;
};

}  // namespace kw::jet
