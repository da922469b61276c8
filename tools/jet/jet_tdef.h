#pragma once
// The table definition page of a new table (one page).
#include <string>
#include <utility>
#include <vector>

#include "platform/jet/format/index_key.h"
#include "tools/jet/jet_row.h"

namespace kw::jetw {

// An index as the definition describes it.
struct IndexInfo {
  std::string name;
  std::vector<uint16_t> columns;  // column numbers
  std::vector<jet::KeyOrder> orders;  // one for each column
  bool primaryKey = false;
  bool unique = false;  // an index other than the primary key that takes no key twice
  uint32_t rows = 0;
  uint32_t distinctKeys = 0;
  uint32_t usageMap = 0;  // row pointer of the map of its pages
  uint32_t rootPage = 0;
};

struct TableCounts {
  uint32_t rows = 0;
  uint32_t nextAutoNumber = 0;  // 0 when the table has no autonumber column
  uint32_t usedPagesMap = 0;    // row pointers of the usage maps
  uint32_t freePagesMap = 0;
  // For each memo and OLE column, in column order: its long-value pages' maps.
  std::vector<std::pair<uint32_t, uint32_t>> longValueMaps;
  std::vector<IndexInfo> indexes;
};

// An error (std::length_error) names the table when the definition does
// not fit on one page.
Bytes TableDefinitionPage(const TableLayout& layout, bool system, const TableCounts& counts);

}  // namespace kw::jetw
