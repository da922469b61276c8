#pragma once
// The table definition page of a new table (one page, no indexes).
#include <utility>
#include <vector>

#include "tools/jet/jet_bytes.h"
#include "tools/jet/jet_row.h"

namespace kw::jetw {

struct TableCounts {
  uint32_t rows = 0;
  uint32_t nextAutoNumber = 0;  // 0 when the table has no autonumber column
  uint32_t usedPagesMap = 0;    // row pointers of the usage maps
  uint32_t freePagesMap = 0;
  // For each memo and OLE column, in column order: its long-value pages' maps.
  std::vector<std::pair<uint32_t, uint32_t>> longValueMaps;
};

// An error (std::length_error) names the table when the definition does
// not fit on one page.
Bytes TableDefinitionPage(const TableLayout& layout, bool system, const TableCounts& counts);

}  // namespace kw::jetw
