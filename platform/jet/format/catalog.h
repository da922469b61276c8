#pragma once
// The catalog: the system table MSysObjects, whose definition is on page 2
// (kCatalogPage, page.h), with one row for every object of the database:
// among others its Id, ParentId, Name, Type and Flags (the columns as
// tools/jet/jet_catalog.cpp lists them, as Access and Jackcess make them).
// A table's row has the Type kTableObject and, in the low three bytes of its
// Id, the page of its definition.
#include <cstdint>

namespace kw::jet::catalog {

inline constexpr int kTableObject = 1;
inline constexpr int kDatabaseObject = 2;
inline constexpr int kContainerObject = 3;
inline constexpr uint32_t kDefinitionPageOfId = 0x00FFFFFF;
inline constexpr uint32_t kSystemObject = 0x80000000;  // in Flags

// The Ids of the objects every file has.
inline constexpr uint32_t kRootId = 0x0F000000;
inline constexpr uint32_t kTablesId = 0x0F000001;        // the container of the tables
inline constexpr uint32_t kDatabasesId = 0x0F000002;
inline constexpr uint32_t kRelationshipsId = 0x0F000003;
inline constexpr uint32_t kDatabaseId = 0x10000000;      // MSysDb

}  // namespace kw::jet::catalog
