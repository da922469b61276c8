#pragma once
// The pages of a new index: its entries (a key and the row it points to),
// sorted, on leaf pages as full as they go, and above them as many levels of
// intermediate pages as it takes to reach one root page, as
// platform/jet/format/index_page.h describes them; no entry shares a prefix.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/jet/format/index_key.h"
#include "platform/jet/format/index_page.h"
#include "tools/jet/jet_schema.h"

namespace kw::jetw {

// Appends the key of one of the writer's values (jet::AppendIndexKey); a
// value of another type than the column's is refused (std::invalid_argument).
void AppendIndexKey(Bytes& key, ColumnType type, const Value& value,
                    jet::KeyOrder order = jet::KeyOrder::kAscending);

// Keys with their rows, held in one buffer so that a million entries stay
// cheap. Entries are the key followed by the row pointer (page in three bytes
// and row, big-endian).
class IndexEntries {
 public:
  // nullKey: the key is null in every column.
  void Add(const Bytes& key, uint32_t rowPointer, bool nullKey = false);
  size_t Size() const { return spans_.size(); }
  // Sorts by key, then row; afterwards Entry(i) is the i-th in order.
  void Sort();
  const uint8_t* Entry(size_t i, size_t* length) const;
  // Distinct keys (after Sort).
  uint32_t DistinctKeys() const;
  // Whether two entries have the same key (after Sort); keys null in every
  // column count only when nullKeysCount.
  bool HasDuplicateKey(bool nullKeysCount) const;

 private:
  struct Span {
    uint64_t offset;
    uint16_t length;  // key and row pointer
    bool nullKey;
  };
  bool SameKey(const Span& a, const Span& b) const;
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
