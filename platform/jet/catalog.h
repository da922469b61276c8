#pragma once
// The catalog: the system table MSysObjects, whose definition is always on
// page 2, with one row for every object of the database. A table's row
// gives its name and, in the low three bytes of its id, the page of its
// definition.
#include <string>
#include <string_view>

#include "platform/jet/table_def.h"

namespace kw::jet {

// The definition of the table named `name` (compared as Jet compares names).
// Throws RunError naming the table and the file when there is none.
TableDef FindTable(PageStore& store, std::string_view name);

}  // namespace kw::jet
