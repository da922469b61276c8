#pragma once
// Walks an index from its root and checks it whole, as the tests read every
// index the engine changed: every page an index page of the table, held in
// the index's page map; entries in order on each page and across pages;
// every intermediate entry the last entry below its child (a tail being the
// last child of a page with two or more); leaves linked both ways from the
// first to the last, intermediate pages to their neighbours under the same
// parent. Gives every leaf entry in order, or what is wrong.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/jet/index_node.h"
#include "platform/jet/page_store.h"

namespace kw::jet::test {

struct IndexWalk {
  std::vector<std::vector<uint8_t>> entries;  // leaf entries, in order
  std::string fault;                          // empty when the index is sound
  size_t pages = 0, depth = 0;
};

inline IndexWalk WalkIndex(PageStore& store, uint32_t root, uint32_t tdefPage,
                           const std::function<bool(uint32_t page)>& inPageMap) {
  IndexWalk w;
  std::set<uint32_t> seen;
  std::vector<std::vector<uint32_t>> levels;  // pages of each level, left to right
  std::function<std::vector<uint8_t>(uint32_t, size_t)> walk = [&](uint32_t n, size_t depth) {
    if (!w.fault.empty()) return std::vector<uint8_t>{};
    auto fail = [&](const std::string& why) {
      if (w.fault.empty()) w.fault = "page " + std::to_string(n) + ": " + why;
      return std::vector<uint8_t>{};
    };
    if (n == 0 || n >= store.PageCount() || !seen.insert(n).second) return fail("not a page of its own");
    if (!inPageMap(n)) return fail("not in the index's page map");
    PageBytes bytes;
    store.Read(n, bytes);
    IndexNode node;
    try {
      node = IndexNode::Read(bytes, n, tdefPage, store.Name(), "the index");
    } catch (const std::exception& e) {
      return fail(e.what());
    }
    if (levels.size() <= depth) levels.resize(depth + 1);
    levels[depth].push_back(n);
    w.depth = std::max(w.depth, depth + 1);
    ++w.pages;
    if (node.leaf) {
      if (node.Count() == 0 && n != root) return fail("an empty leaf below the root");
      for (size_t i = 0; i < node.Count(); ++i) {
        const auto e = node.Entry(i);
        if (!w.entries.empty() && CompareEntries(w.entries.back(), e) >= 0) return fail("entries out of order");
        w.entries.emplace_back(e.begin(), e.end());
      }
      return node.Count() ? std::vector<uint8_t>(node.Entry(node.Count() - 1).begin(), node.Entry(node.Count() - 1).end())
                          : std::vector<uint8_t>{};
    }
    if (node.tail != 0 && node.Count() == 0) return fail("a tail as its only child");
    std::vector<uint8_t> last;
    const size_t firstChild = levels.size() > depth + 1 ? levels[depth + 1].size() : 0;
    for (size_t i = 0; i < node.Count(); ++i) {
      last = walk(node.Child(i), depth + 1);
      const auto held = node.Sorted(i);
      if (w.fault.empty() && CompareEntries(held, last) != 0) return fail("an entry that is not its child's last");
    }
    if (node.tail != 0) last = walk(node.tail, depth + 1);
    // Its children link to each other.
    if (w.fault.empty()) {
      const auto& below = levels[depth + 1];
      for (size_t i = firstChild; i + 1 < below.size(); ++i) {
        PageBytes a, b;
        store.Read(below[i], a);
        store.Read(below[i + 1], b);
        const IndexNode x = IndexNode::Read(a, below[i], tdefPage, store.Name(), "the index");
        const IndexNode y = IndexNode::Read(b, below[i + 1], tdefPage, store.Name(), "the index");
        if (x.next != y.number || y.prev != x.number) return fail("children not linked to each other");
      }
    }
    return last;
  };
  walk(root, 0);
  // Leaves link from the first to the last across the whole level.
  if (w.fault.empty() && !levels.empty()) {
    const auto& leaves = levels.back();
    for (size_t i = 0; i < leaves.size(); ++i) {
      PageBytes b;
      store.Read(leaves[i], b);
      const IndexNode x = IndexNode::Read(b, leaves[i], tdefPage, store.Name(), "the index");
      if (!x.leaf) w.fault = "page " + std::to_string(leaves[i]) + ": leaves on different levels";
      if (x.prev != (i ? leaves[i - 1] : 0) || x.next != (i + 1 < leaves.size() ? leaves[i + 1] : 0))
        w.fault = "page " + std::to_string(leaves[i]) + ": leaves not linked in order";
      if (!w.fault.empty()) break;
    }
  }
  return w;
}

}  // namespace kw::jet::test
