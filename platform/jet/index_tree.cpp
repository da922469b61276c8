#include "platform/jet/index_tree.h"

#include <algorithm>

#include "platform/jet/jet_errors.h"

namespace kw::jet {
namespace {

// Deeper than any index of a 2 GiB file: a path this long is a loop.
constexpr size_t kMaxDepth = 32;
// Pages kept between changes; all are let go beyond.
constexpr size_t kKeptPages = 512;

// The first entry at or after `sorted`.
size_t LowerBound(const IndexNode& node, std::span<const uint8_t> sorted) {
  size_t lo = 0, hi = node.Count();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (CompareEntries(node.Sorted(mid), sorted) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

bool SameKey(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end() - kEntryRowPointerBytes, b.begin());
}

}  // namespace

IndexTree::IndexTree(PageStore& store, IndexTreeDef def, UsageMap owned)
    : store_(store), def_(std::move(def)), owned_(std::move(owned)) {}

IndexNode& IndexTree::Node(uint32_t n) {
  if (auto it = nodes_.find(n); it != nodes_.end()) return it->second;
  if (n == 0 || n >= store_.PageCount())
    ThrowDamaged(store_.Name(), def_.what + ": it names page " + std::to_string(n) + ", which is not in the file");
  PageBytes page;
  store_.Read(n, page);
  return nodes_.emplace(n, IndexNode::Read(page, n, def_.tdefPage, store_.Name(), def_.what)).first->second;
}

IndexNode& IndexTree::Modify(uint32_t n) {
  IndexNode& node = Node(n);
  before_.try_emplace(n, node);
  return node;
}

IndexNode& IndexTree::Create(PageEdit& edit, PageAllocator& allocator, bool leaf) {
  const uint32_t n = allocator.Append(edit, owned_, nullptr, def_.what);
  IndexNode node;
  node.number = n;
  node.leaf = leaf;
  node.tdefPage = def_.tdefPage;
  before_.emplace(n, std::nullopt);
  return nodes_.insert_or_assign(n, std::move(node)).first->second;
}

IndexTree::Path IndexTree::Descend(std::span<const uint8_t> sorted) {
  Path path;
  uint32_t n = def_.root;
  for (;;) {
    if (path.size() == kMaxDepth) ThrowDamaged(store_.Name(), def_.what + ": its pages lead round in a loop");
    const IndexNode& node = Node(n);
    if (node.leaf) {
      path.push_back({n, 0});
      return path;
    }
    size_t i = LowerBound(node, sorted);
    uint32_t child = 0;
    if (i == node.Count() && node.tail != 0) {
      child = node.tail;
    } else {
      if (node.Count() == 0)
        ThrowDamaged(store_.Name(), def_.what + ": its page " + std::to_string(n) + " has no entries");
      i = std::min(i, node.Count() - 1);
      child = node.Child(i);
    }
    path.push_back({n, i});
    n = child;
  }
}

EntryBytes IndexTree::LastOf(uint32_t n) {
  for (size_t depth = 0; depth < kMaxDepth; ++depth) {
    const IndexNode& node = Node(n);
    if (!node.leaf && node.tail != 0) {
      n = node.tail;
      continue;
    }
    if (node.Count() == 0)
      ThrowDamaged(store_.Name(), def_.what + ": its page " + std::to_string(n) + " has no entries");
    const auto last = node.Sorted(node.Count() - 1);
    return {last.begin(), last.end()};
  }
  ThrowDamaged(store_.Name(), def_.what + ": its pages lead round in a loop");
}

bool IndexTree::Contains(std::span<const uint8_t> entry) {
  if (nodes_.size() > kKeptPages) ForgetClean();
  const Path path = Descend(entry);
  const IndexNode& leaf = Node(path.back().page);
  const size_t i = LowerBound(leaf, entry);
  return i < leaf.Count() && CompareEntries(leaf.Sorted(i), entry) == 0;
}

bool IndexTree::KeyTaken(const IndexNode& leaf, size_t at, std::span<const uint8_t> entry) {
  if (at > 0) {
    if (SameKey(leaf.Entry(at - 1), entry)) return true;
  } else if (leaf.prev != 0) {
    const IndexNode& prev = Node(leaf.prev);
    if (prev.Count() > 0 && SameKey(prev.Entry(prev.Count() - 1), entry)) return true;
  }
  if (at < leaf.Count()) return SameKey(leaf.Entry(at), entry);
  if (leaf.next == 0) return false;
  const IndexNode& next = Node(leaf.next);
  return next.Count() > 0 && SameKey(next.Entry(0), entry);
}

void IndexTree::Restore(std::map<uint32_t, std::optional<IndexNode>>& states) {
  for (auto& [n, was] : states) {
    if (was) {
      nodes_.insert_or_assign(n, std::move(*was));
      pending_.insert(n);  // written again as it was: harmless
    } else {
      nodes_.erase(n);
      pending_.erase(n);
    }
  }
  states.clear();
}

void IndexTree::ForgetClean() {
  for (auto it = nodes_.begin(); it != nodes_.end();) it = pending_.count(it->first) ? std::next(it) : nodes_.erase(it);
}

void IndexTree::Change(PageEdit& edit, PageAllocator& allocator, const std::optional<EntryBytes>& from,
                       const std::optional<EntryBytes>& to) {
  if (nodes_.size() > kKeptPages) ForgetClean();
  before_.clear();
  last_.clear();
  freed_.clear();
  try {
    if (from) Remove(edit, allocator, *from);
    if (to) Insert(*to);
    Settle(edit, allocator);
    for (const auto& [n, was] : before_) {
      if (std::find(freed_.begin(), freed_.end(), n) != freed_.end()) continue;
      if (Node(n).StoredSize() > kIndexEntrySpace)
        throw RunError("Internal check failed for page " + std::to_string(n) + " of " + def_.what + " in " +
                       Quoted(store_.Name()) + "; nothing was written.");
    }
  } catch (...) {
    Restore(before_);
    throw;
  }
  for (const auto& [n, was] : before_) pending_.insert(n);
  for (uint32_t n : freed_) {
    nodes_.erase(n);
    pending_.erase(n);
  }
  last_ = std::move(before_);
  before_.clear();
}

void IndexTree::Undo() { Restore(last_); }

void IndexTree::Keep() { last_.clear(); }

void IndexTree::WritePending(PageEdit& edit) {
  for (uint32_t n : pending_) {
    const IndexNode& node = nodes_.at(n);
    const auto fail = [&] {
      throw RunError("Internal check failed for page " + std::to_string(n) + " of " + def_.what + " in " +
                     Quoted(store_.Name()) + "; nothing was written.");
    };
    if (node.StoredSize() > kIndexEntrySpace) fail();
    PageBytes& page = edit.Get(n);
    node.Write(page);
    // Read back: the page must hold exactly what the tree holds.
    const IndexNode back = IndexNode::Read(page, n, def_.tdefPage, store_.Name(), def_.what);
    bool same = back.leaf == node.leaf && back.prev == node.prev && back.next == node.next &&
                back.tail == node.tail && back.Count() == node.Count();
    for (size_t i = 0; same && i < node.Count(); ++i) same = CompareEntries(back.Entry(i), node.Entry(i)) == 0;
    if (!same) fail();
  }
  pending_.clear();
}

void IndexTree::DropPending() {
  nodes_.clear();
  pending_.clear();
  before_.clear();
  last_.clear();
}

void IndexTree::Forget() { ForgetClean(); }

void IndexTree::Remove(PageEdit& edit, PageAllocator& allocator, std::span<const uint8_t> entry) {
  const Path path = Descend(entry);
  const size_t level = path.size() - 1;
  const uint32_t page = path[level].page;
  const IndexNode& leaf = Node(page);
  const size_t i = LowerBound(leaf, entry);
  if (i == leaf.Count() || CompareEntries(leaf.Sorted(i), entry) != 0)
    ThrowDamaged(store_.Name(), def_.what + ": it holds no entry for a row it should hold");
  IndexNode& changed = Modify(page);
  changed.Erase(i);
  if (changed.Count() == 0) {
    RemovePage(edit, allocator, path, level);
  } else if (i == changed.Count()) {
    LastChanged(path, level);
  }
}

void IndexTree::Insert(std::span<const uint8_t> entry) {
  const Path path = Descend(entry);
  const size_t level = path.size() - 1;
  const uint32_t page = path[level].page;
  const IndexNode& leaf = Node(page);
  const size_t i = LowerBound(leaf, entry);
  if (i < leaf.Count() && CompareEntries(leaf.Sorted(i), entry) == 0)
    ThrowDamaged(store_.Name(), def_.what + ": it holds a row's entry twice");
  if (def_.unique && KeyTaken(leaf, i, entry)) throw RunError(kDuplicateKey);
  IndexNode& changed = Modify(page);
  changed.Insert(i, entry);
  if (i + 1 == changed.Count()) LastChanged(path, level);
}

void IndexTree::LastChanged(const Path& path, size_t level) {
  const EntryBytes last = LastOf(path[level].page);
  for (size_t lv = level; lv > 0; --lv) {
    const Step& up = path[lv - 1];
    const IndexNode& parent = Node(up.page);
    if (up.child == parent.Count()) continue;  // the tail: not held as an entry
    EntryBytes entry = last;
    AppendEntryChild(entry, parent.Child(up.child));
    const bool wasLast = up.child + 1 == parent.Count() && parent.tail == 0;
    Modify(up.page).Replace(up.child, entry);
    if (!wasLast) return;
  }
}

void IndexTree::KeepTail(IndexNode& node) {
  if (node.leaf) return;
  if (node.tail != 0 && node.Count() == 0) {
    EntryBytes entry = LastOf(node.tail);
    AppendEntryChild(entry, node.tail);
    node.Insert(0, entry);
    node.tail = 0;
  } else if (node.tail == 0 && node.Count() > 1) {
    node.tail = node.Child(node.Count() - 1);
    node.Erase(node.Count() - 1);
  }
}

void IndexTree::RemovePage(PageEdit& edit, PageAllocator& allocator, const Path& path, size_t level) {
  const uint32_t page = path[level].page;
  IndexNode& node = Modify(page);
  if (level == 0) {
    // An empty root is an empty leaf, on its page.
    node.leaf = true;
    node.tail = 0;
    return;
  }
  const uint32_t prev = node.prev, next = node.next;
  if (prev != 0) Modify(prev).next = next;
  if (next != 0) Modify(next).prev = prev;
  allocator.Free(edit, page, owned_);
  freed_.push_back(page);

  const Step& up = path[level - 1];
  IndexNode& parent = Modify(up.page);
  const bool wasLast = up.child == parent.Count() || (up.child + 1 == parent.Count() && parent.tail == 0);
  if (up.child == parent.Count()) {
    parent.tail = 0;
  } else {
    parent.Erase(up.child);
  }
  if (parent.Count() == 0 && parent.tail == 0) {
    RemovePage(edit, allocator, path, level - 1);
    return;
  }
  KeepTail(parent);
  if (wasLast) LastChanged(path, level - 1);
}

void IndexTree::Split(PageEdit& edit, PageAllocator& allocator, Path path, size_t level) {
  if (level == 0) {
    // The root stays on its page: its content moves to a new page below it.
    IndexNode& root = Modify(path[0].page);
    IndexNode& below = Create(edit, allocator, root.leaf);
    for (size_t i = 0; i < root.Count(); ++i) below.Insert(i, root.Entry(i));
    below.tail = root.tail;
    while (root.Count() > 0) root.Erase(root.Count() - 1);
    root.leaf = false;
    root.tail = 0;
    EntryBytes entry = LastOf(below.number);
    AppendEntryChild(entry, below.number);
    root.Insert(0, entry);
    path.insert(path.begin() + 1, Step{below.number, path[0].child});
    path[0].child = 0;
    level = 1;
  }
  IndexNode& page = Modify(path[level].page);
  IndexNode& head = Create(edit, allocator, page.leaf);
  // Node references may move as the map of nodes grows: use numbers.
  const uint32_t pageNo = page.number, headNo = head.number;
  const size_t half = (page.Count() + 1) / 2;
  for (size_t i = 0; i < half; ++i) head.Insert(i, page.Entry(i));
  for (size_t i = 0; i < half; ++i) Modify(pageNo).Erase(0);
  head.prev = Node(pageNo).prev;
  head.next = pageNo;
  if (head.prev != 0) Modify(head.prev).next = headNo;
  Modify(pageNo).prev = headNo;
  if (!Node(headNo).leaf) {
    // Intermediate pages link only to neighbours under the same parent.
    const uint32_t lastChild = Node(headNo).Child(Node(headNo).Count() - 1);
    if (!Node(lastChild).leaf) {
      const uint32_t after = Node(lastChild).next;
      Modify(lastChild).next = 0;
      if (after != 0) Modify(after).prev = 0;
    }
    KeepTail(Modify(headNo));
  }

  const Step& up = path[level - 1];
  EntryBytes entry = LastOf(headNo);
  AppendEntryChild(entry, headNo);
  IndexNode& parent = Modify(up.page);
  parent.Insert(std::min(up.child, parent.Count()), entry);
  KeepTail(parent);

  // Either half may still be too large (entries differ in length), and so
  // may the parent now.
  for (uint32_t n : {headNo, pageNo}) {
    if (Node(n).StoredSize() <= kIndexEntrySpace) continue;
    Path again = path;
    const IndexNode& p = Node(up.page);
    size_t at = p.Count();
    for (size_t i = 0; i < p.Count(); ++i)
      if (p.Child(i) == n) at = i;
    again[level - 1].child = at;
    again[level].page = n;
    again.resize(level + 1);
    Split(edit, allocator, again, level);
  }
  if (Node(up.page).StoredSize() > kIndexEntrySpace) {
    path.resize(level);
    Split(edit, allocator, path, level - 1);
  }
}

IndexTree::Path IndexTree::PathTo(uint32_t n) {
  if (n == def_.root) return {{n, 0}};
  Path path = Descend(LastOf(n));
  for (size_t k = 0; k < path.size(); ++k) {
    if (path[k].page != n) continue;
    path.resize(k + 1);
    return path;
  }
  ThrowDamaged(store_.Name(), def_.what + ": its page " + std::to_string(n) + " cannot be reached from its root");
}

void IndexTree::Settle(PageEdit& edit, PageAllocator& allocator) {
  for (bool again = true; again;) {
    again = false;
    std::vector<uint32_t> full;
    for (const auto& entry : before_) {
      const uint32_t n = entry.first;
      if (std::find(freed_.begin(), freed_.end(), n) == freed_.end() && Node(n).StoredSize() > kIndexEntrySpace)
        full.push_back(n);
    }
    for (uint32_t n : full) {
      if (Node(n).StoredSize() <= kIndexEntrySpace) continue;
      const Path path = PathTo(n);
      Split(edit, allocator, path, path.size() - 1);
      again = true;
    }
  }
}

void IndexTree::ForEachEntry(const std::function<void(std::span<const uint8_t>)>& visit) {
  uint32_t n = def_.root;
  for (size_t depth = 0; !Node(n).leaf; ++depth) {
    const IndexNode& node = Node(n);
    if (depth == kMaxDepth) ThrowDamaged(store_.Name(), def_.what + ": its pages lead round in a loop");
    n = node.Count() > 0 ? node.Child(0) : node.tail;
  }
  for (uint32_t pages = 0; n != 0; ++pages) {
    if (pages > store_.PageCount()) ThrowDamaged(store_.Name(), def_.what + ": its pages lead round in a loop");
    const IndexNode& leaf = Node(n);
    for (size_t i = 0; i < leaf.Count(); ++i) visit(leaf.Entry(i));
    n = leaf.next;
  }
}

}  // namespace kw::jet
