#pragma once
// The pages of one index: its entries (a key and the row it points to),
// sorted, on leaf pages (0x04) as full as they go, and above them as many
// levels of intermediate pages (0x03) as it takes to reach one root page.
// Every page links to its neighbours on the same level; an intermediate
// entry is the last entry of its child followed by the child's page.
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/jet/jet_bytes.h"

namespace kw::jetw {

constexpr size_t kIndexEntriesStart = 0x1E0;
constexpr size_t kIndexEntrySpace = kPageSize - kIndexEntriesStart;
constexpr size_t kIndexMaskStart = 0x1B;
constexpr size_t kRowPointerBytes = 4;
constexpr size_t kChildPointerBytes = 4;
// The longest key an index takes: its entry, with the row and the child
// pointer of an intermediate page, must fit on a page.
constexpr size_t kMaxIndexKey = kIndexEntrySpace - kRowPointerBytes - kChildPointerBytes;

// Keys with their rows, held in one buffer so that a million entries stay
// cheap. Entries are the key followed by the row pointer (page in three bytes
// and row, big-endian).
class IndexEntries {
 public:
  void Add(const Bytes& key, uint32_t rowPointer);
  size_t Size() const { return spans_.size(); }
  // Sorts by key, then row; afterwards Entry(i) is the i-th in order.
  void Sort();
  const uint8_t* Entry(size_t i, size_t* length) const;
  // Distinct keys (after Sort).
  uint32_t DistinctKeys() const;
  // The first pair of entries with the same key (after Sort); false if none.
  bool HasDuplicateKey() const;

 private:
  struct Span {
    uint64_t offset;
    uint16_t length;  // key and row pointer
  };
  Bytes data_;
  std::vector<Span> spans_;
};

struct IndexPages {
  uint32_t root = 0;
  std::vector<uint32_t> pages;  // ascending
};

// Writes the sorted entries' pages. allocate gives consecutive new page
// numbers; write stores a page. An index without entries is one empty leaf.
IndexPages WriteIndexPages(const IndexEntries& entries, uint32_t tableDefinitionPage,
                           const std::function<uint32_t()>& allocate,
                           const std::function<void(uint32_t, const Bytes&)>& write);

}  // namespace kw::jetw
