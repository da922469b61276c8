#pragma once
// Data pages (rows packed from the end of the page towards its header, as
// Jet packs them) and the usage maps that list a table's pages.
#include <cstdint>
#include <vector>

#include "tools/jet/jet_bytes.h"

namespace kw::jetw {

constexpr size_t kDataHeader = 14;
constexpr size_t kMaxRowsPerPage = 255;  // a row pointer has one byte for the row
constexpr size_t kMaxRowBytes = kPageSize - kDataHeader - 2;
constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL" in place of the owner's page

class DataPage {
 public:
  // owner: the table definition's page, or kLongValueOwner.
  explicit DataPage(uint32_t owner);

  size_t Free() const { return free_; }
  size_t Rows() const { return rows_.size(); }
  bool Fits(size_t bytes) const { return rows_.size() < kMaxRowsPerPage && bytes + 2 <= free_; }
  // Adds a row that Fits and gives its number on the page.
  uint32_t Add(const Bytes& row);
  Bytes Build() const;

 private:
  uint32_t owner_;
  size_t free_;
  size_t used_ = 0;
  std::vector<Bytes> rows_;
};

constexpr size_t kInlineMapBits = 64 * 8;
constexpr size_t kMapPageBits = (kPageSize - 4) * 8;
constexpr size_t kMapPagePointers = 17;

// A usage map as a row: type 0 (start page and a 64-byte bitmap) when the
// pages lie within 512 pages of the first, else type 1: pointers to map
// pages (type 0x05) whose page numbers the caller gives in mapPages, one for
// each slice of kMapPageBits pages that holds a listed page. The pages must
// be ascending.
struct UsageMap {
  Bytes row;
  std::vector<std::pair<uint32_t, Bytes>> mapPages;  // page number and content
};
bool NeedsMapPages(const std::vector<uint32_t>& pages);
// Slices (page / kMapPageBits) that hold a page, in order.
std::vector<uint32_t> MapSlices(const std::vector<uint32_t>& pages);
UsageMap BuildUsageMap(const std::vector<uint32_t>& pages, const std::vector<uint32_t>& mapPageNumbers);

}  // namespace kw::jetw
