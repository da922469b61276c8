#pragma once
// The catalog of a new file: the system tables' definitions and the rows of
// MSysObjects that name every container and table.
#include <cstdint>
#include <vector>

#include "tools/jet/jet_schema.h"

namespace kw::jetw {

// MSysObjects first (its definition goes on jet::kCatalogPage, where
// readers look for it), then the other system tables.
std::vector<TableSchema> SystemTables();

struct CatalogTable {
  std::string name;
  uint32_t definitionPage = 0;
  bool system = false;
};

// Rows of MSysObjects for the containers and the given tables.
std::vector<RowValues> CatalogRows(const std::vector<CatalogTable>& tables, DateTime created);

}  // namespace kw::jetw
