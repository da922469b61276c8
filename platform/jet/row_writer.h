#pragma once
// The change of one row's variable-length value, built in a PageEdit and
// checked before anything reaches the store:
// - when the row's page has room, the row is rebuilt in place and the rows
//   after it move so that each keeps its bytes;
// - otherwise the new row goes to another data page of the table with room,
//   or to a new page at the end of the file (entered in the table's page and
//   free-space maps and taken out of the database's map of free pages), as a
//   moved copy; the row's own slot becomes a pointer to it, and a copy it
//   had before is marked deleted.
// Index entries name the row's own slot, which stays where it is.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/jet/page_edit.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_rows.h"

namespace kw::jet {

// Checks that every row of data page n that is not among `changed` (in
// ascending order) kept its flags and bytes from `before` to `after`, and
// that `after` is whole with its free space agreeing; throws RunError naming
// the page or the first row that did not.
void CheckOthersKept(const PageBytes& before, const PageBytes& after, uint32_t n, const std::string& file,
                     std::span<const uint16_t> changed);

class RowWriter {
 public:
  RowWriter(PageStore& store, TableRows& rows);

  // Builds the change in `edit`. Throws RunError (kErrRecordDeleted for a
  // deleted row) with `edit` to be thrown away; nothing has been written.
  void SetValue(PageEdit& edit, RowLocation key, const Column& column,
                const std::optional<std::vector<uint8_t>>& value);

 private:
  uint32_t PageWithRoom(PageEdit& edit, size_t rowSize, uint32_t notThis);
  bool HasRoom(PageEdit& edit, uint32_t n, size_t rowSize);

  PageStore& store_;
  TableRows& rows_;
  UsageMap global_;
  std::optional<uint32_t> lastRoom_;  // the page a moved row went to last
  // The rebuilt row and the cells of the row before and after, their room
  // kept from row to row.
  std::vector<uint8_t> row_;
  std::vector<Cell> was_, now_;
  std::vector<uint16_t> changed_;  // the slots of a page meant to change
  bool searched_ = false;             // the table's pages were looked through once
};

}  // namespace kw::jet
