#pragma once
// The rows of one table: a walk over its data pages in file order, and the
// row now at a row location. A row location is the slot that the table's
// index entries name; a moved row is reached through its pointer there.
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/jet/byte_view.h"
#include "platform/jet/data_page.h"
#include "platform/jet/table_def.h"
#include "platform/jet/usage_map.h"

namespace kw::jet {

struct RowLocation {
  uint32_t page = 0;
  uint16_t row = 0;
  bool operator==(const RowLocation&) const = default;
};

// Where a row's bytes are now.
struct RowPlace {
  RowLocation at;     // the bytes' own slot (the moved copy for a moved row)
  bool moved = false;
  Slot slot;          // that slot, checked against its page
};

class TableRows {
 public:
  TableRows(PageStore& store, TableDef table);

  const TableDef& Table() const { return table_; }
  PageStore& Store() const { return store_; }
  const UsageMap& OwnedPages() const { return owned_; }
  const UsageMap& FreePages() const { return free_; }

  // Every row that is not deleted, once, with its bytes, page by page in
  // file order (read many pages at a time). `tidy` is false when
  // the free space of a page holding the row (its slot's or its moved copy's)
  // does not agree with the page's rows, so that the row cannot be rewritten.
  // Two row pointers to one moved copy are a damaged file.
  using Visit = std::function<void(RowLocation, const ByteView&, bool tidy)>;
  void Scan(const Visit& visit);

  // Where the row at `key` is now; nullopt when it has been deleted. `page`
  // gives the page bytes as they are now (the store's, or an edit's).
  std::optional<RowPlace> Locate(RowLocation key, const std::function<const PageBytes&(uint32_t)>& page) const;

  // Checks that page n is a data page of this table; throws otherwise.
  DataPage Check(const PageBytes& bytes, uint32_t n) const;

 private:
  PageStore& store_;
  TableDef table_;
  UsageMap owned_, free_;
};

}  // namespace kw::jet
