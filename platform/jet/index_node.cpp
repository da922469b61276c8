#include "platform/jet/index_node.h"

#include "platform/jet/jet_errors.h"

namespace kw::jet {

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
  const IndexPageHeader h = ReadIndexPageHeader(page);
  if (h.type != kIndexNodePageType && h.type != kIndexLeafPageType) fail("is not an index page");
  if (page[kPageMarkAt] != kPageMark || h.owner != tdefPage) fail("does not belong to the table");
  n.leaf = h.Leaf();
  n.tdefPage = tdefPage;
  n.prev = h.prev;
  n.next = h.next;
  n.tail = h.tail;
  if (n.leaf && n.tail != 0) fail("is a leaf with a tail");
  IndexPageEntries entries = ReadIndexEntries(page);
  if (!entries.fault.empty()) fail(entries.fault);
  n.bytes_ = std::move(entries.bytes);
  n.ends_ = std::move(entries.ends);
  for (size_t i = 1; i < n.Count(); ++i)
    if (CompareEntries(n.Sorted(i - 1), n.Sorted(i)) >= 0) fail("holds its entries out of order");
  if (!n.leaf && n.tail != 0 && n.Count() == 0) fail("has a tail but no entries");
  return n;
}

void IndexNode::Write(PageBytes& page) const {
  IndexPageHeader h;
  h.type = leaf ? kIndexLeafPageType : kIndexNodePageType;
  h.owner = tdefPage;
  h.prev = prev;
  h.next = next;
  h.tail = leaf ? 0 : tail;
  std::vector<std::span<const uint8_t>> entries;
  entries.reserve(Count());
  for (size_t i = 0; i < Count(); ++i) entries.push_back(Entry(i));
  if (!BuildIndexPage(page, h, entries))
    throw RunError("Internal check failed: the entries of index page " + std::to_string(number) + " do not fit it.");
}

}  // namespace kw::jet
