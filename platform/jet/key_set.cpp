#include "platform/jet/key_set.h"

#include <map>

#include "platform/jet/row_codec.h"
#include "platform/text_compare.h"

namespace kw::jet {

std::vector<RowLocation> SelectKeys(TableRows& rows, const Selection& selection) {
  const TableDef& t = rows.Table();
  std::map<std::pair<std::string, std::string>, size_t> place;  // operand -> column index
  if (selection.hasWhere) {
    for (const Operand& o : ColumnsOf(selection.where)) {
      if (!o.qualifier.empty() && !JetTextEqual(o.qualifier, t.name))
        throw RunError("The column reference " + Quoted(o.qualifier + "." + o.name) +
                       " names a table that is not in the selection.");
      const Column* c = t.Find(o.name);
      if (!c) throw RunError(NoSuchColumn(o.name, t.name));
      if (c->type != ColumnType::kText) throw RunError(kTypeMismatch);
      place[{o.qualifier, o.name}] = static_cast<size_t>(c - t.columns.data());
    }
  }
  std::vector<RowLocation> keys;
  // The operands the condition passes, by address: found by name once each.
  std::vector<std::pair<const Operand*, size_t>> seen;
  auto columnOf = [&](const Operand& o) {
    for (const auto& [p, i] : seen)
      if (p == &o) return i;
    const size_t i = place.at({o.qualifier, o.name});
    seen.emplace_back(&o, i);
    return i;
  };
  rows.Scan([&](RowLocation at, const ByteView& row, bool tidy) {
    if (selection.hasWhere) {
      const std::vector<Cell> cells = DecodeRow(t, row);
      const bool chosen = Evaluate(selection.where, [&](const Operand& o) -> FieldValue {
        const size_t i = columnOf(o);
        return CellText(t.columns[i], row, cells[i]);
      });
      if (!chosen) return;
    }
    // A row that may be changed must lie on pages that can be rewritten
    // without guessing; found now, the table is refused before anything of
    // it is written.
    if (!tidy)
      ThrowDamaged(rows.Store().Name(), "the free space of a data page of table " + Quoted(t.name) +
                                            " (" + row.What() + ") does not agree with its rows");
    keys.push_back(at);
  });
  return keys;
}

}  // namespace kw::jet
