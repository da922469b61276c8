#pragma once
// The indexes that hold the columns a record set changes, kept current as
// Jet keeps them: when a row's value changes, the row's old entry leaves
// every index that holds the column and its new entry goes in, in the same
// page edit (and so under the same journal) as the row itself. An entry is
// the row's key (format/index_key.h) and its row location, the slot that
// stays where it is when the row moves.
//
// The index pages a row changes are held back and written once for all the
// rows of a write group, just before it is committed (PendingPages).
//
// An index is kept only when every key in it can be made exactly as Jet
// makes it. Taking on a column checks that before anything is written: the
// index's columns are of types and sort orders whose keys are known, it is
// no side of a relationship between tables, and every row that the record
// set may change has in it exactly the entry made here from the row's
// bytes. Otherwise the table is refused and left as it is.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/jet/format/index_key.h"
#include "platform/jet/index_tree.h"
#include "platform/jet/jet_connection.h"
#include "platform/jet/page_allocator.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_rows.h"

namespace kw::jet {

// The value an index key is made of, from a row's cell: null, a whole
// number, a double (dates too) or text. std::invalid_argument for a column
// of another type or a value of the wrong size.
KeyValue IndexKeyValue(const Column& column, const ByteView& row, const Cell& cell);

class RowIndexes : public PendingPages {
 public:
  explicit RowIndexes(TableRows& rows) : rows_(rows) {}

  bool Empty() const { return indexes_.empty(); }

  bool Holds(const Column& column) const { return held_.count(column.number) != 0; }

  // Takes on every index holding `column`, checked as above against the
  // rows at `keys`. Throws RunError refusing the table; nothing is written.
  void Hold(const Column& column, const std::vector<RowLocation>& keys);

  // The row at `key` (its bytes now: `row`, `cells`) gets `changes` (values
  // by column number): every index holding one of them has the row's entry
  // replaced (new pages entered in the maps in `edit`). Throws RunError (a
  // duplicate key in a unique index, a null where the index takes none, a
  // value without an exact key) with the trees as before. Saved() once the
  // edit reached the connection.
  void Change(PageEdit& edit, RowLocation key, const ByteView& row, const std::vector<Cell>& cells,
              std::span<const std::pair<uint16_t, FieldValue>> changes);
  void Saved();

  // The pages kept in memory that are not pending no longer count
  // (something else may have written them).
  void Forget();

  void WritePending(PageEdit& edit) override;
  void DropPending() override;

 private:
  struct Kept {
    std::string name;
    std::vector<IndexColumn> columns;
    bool unique = false, required = false, ignoreNulls = false;
    std::unique_ptr<IndexTree> tree;
  };
  using Values = std::map<uint16_t, KeyValue>;  // by column number

  const Column& ColumnNumbered(uint16_t number) const;
  void Check(const Index& index) const;
  std::string Refusal(const std::string& index, const std::string& why) const;
  Values RowValues(const ByteView& row, const std::vector<Cell>& cells) const;
  // The entry of a row with these values; nullopt for an index that leaves
  // out a key of nulls only.
  std::optional<EntryBytes> Entry(const Kept& index, const Values& values, RowLocation key) const;

  TableRows& rows_;
  std::optional<PageAllocator> allocator_;  // reads its maps anew at each use
  std::map<uint32_t, Kept> indexes_;  // by real index
  std::map<uint16_t, std::vector<uint32_t>> held_;  // column number: its real indexes
  // The keys of a column's latest values, by column number and order.
  mutable std::map<uint32_t, std::vector<std::pair<KeyValue, Bytes>>> keys_;
};

}  // namespace kw::jet
