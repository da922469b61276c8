#pragma once
// The key set of a dynaset: the locations of the rows the selection chose,
// in file order, made once when the record set opens.
#include <string>
#include <vector>

#include "platform/jet/selection.h"
#include "platform/jet/table_rows.h"

namespace kw::jet {

// Checks every column of the condition (it must be a text column of the
// table; a qualifier must name the table) and selects the rows for which it
// holds. Throws RunError naming an unknown column or table.
std::vector<RowLocation> SelectKeys(TableRows& rows, const Selection& selection);

}  // namespace kw::jet
