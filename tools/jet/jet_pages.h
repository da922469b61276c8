#pragma once
// The pages of a new file's rows: data pages packed as Jet packs them, and
// the usage maps that list a table's pages.
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/jet/format/data_page.h"
#include "platform/jet/format/usage_map.h"
#include "tools/jet/jet_schema.h"

namespace kw::jetw {

// Rows added to a new data page, each below the one before.
class DataPageBuilder {
 public:
  // owner: the table definition's page, or jet::kLongValueOwner.
  explicit DataPageBuilder(uint32_t owner) { jet::InitDataPage(page_, owner); }

  bool Fits(size_t bytes) const {
    return jet::RowCountOf(page_) < jet::kMaxRowsOnPage && bytes + 2 <= Free();
  }
  // Adds a row that Fits and gives its number on the page.
  uint32_t Add(const Bytes& row);
  Bytes Build() const { return Bytes(page_.begin(), page_.end()); }

 private:
  size_t Free() const { return jet::Get16(&page_[jet::data_page::kFreeSpace]); }
  jet::PageBytes page_;
};

// A new usage map: its row, and the map pages it refers to.
struct UsageMapImage {
  Bytes row;
  std::vector<std::pair<uint32_t, Bytes>> mapPages;  // page number and content
};
// Inline when the pages lie within the bits of an inline map from the
// first; otherwise a reference map with one map page for each slice of
// jet::kPagesPerMapPage pages that holds a listed page.
bool NeedsMapPages(const std::vector<uint32_t>& pages);
// Slices (page / jet::kPagesPerMapPage) that hold a page, in order.
std::vector<uint32_t> MapSlices(const std::vector<uint32_t>& pages);
// The pages must be ascending; mapPageNumbers gives a page for each slice
// when NeedsMapPages.
UsageMapImage BuildUsageMap(const std::vector<uint32_t>& pages, const std::vector<uint32_t>& mapPageNumbers);

}  // namespace kw::jetw
