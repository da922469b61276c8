#include "platform/jet/key_set.h"

#include <map>

#include "platform/jet/row_codec.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

// An operand found in the table: a column, by its place among the table's
// columns, or a text.
struct Term {
  bool column = false;
  size_t index = 0;
  std::string text;
  bool ascii = false;  // a text of ASCII alone: compared with stored texts as they are
};

// The condition with its operands found, so that a row is tested on its
// stored bytes: only the cells the condition names are read, and a text is
// decoded only where its stored form cannot tell.
struct Bound {
  Condition::Kind kind = Condition::Kind::kEquals;
  Term left, right;
  std::vector<Bound> parts;
};

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

class RowTest {
 public:
  RowTest(const TableDef& table, const std::map<std::pair<std::string, std::string>, size_t>& place,
          const Condition& condition)
      : table_(table), place_(place), root_(Bind(condition)) {}

  bool Holds(const ByteView& row, const std::vector<Cell>& cells) const { return Test(root_, row, cells); }

 private:
  Term BindOperand(const Operand& o) const {
    Term t;
    if (o.kind == Operand::Kind::kColumn) {
      t.column = true;
      t.index = place_.at({o.qualifier, o.name});
    } else {
      t.text = o.name;
      t.ascii = IsAscii(o.name);
    }
    return t;
  }

  Bound Bind(const Condition& c) const {
    Bound b;
    b.kind = c.kind;
    if (c.kind == Condition::Kind::kEquals || c.kind == Condition::Kind::kIsNull) b.left = BindOperand(c.left);
    if (c.kind == Condition::Kind::kEquals) b.right = BindOperand(c.right);
    for (const Condition& part : c.parts) b.parts.push_back(Bind(part));
    return b;
  }

  FieldValue Value(const Term& t, const ByteView& row, const std::vector<Cell>& cells) const {
    if (!t.column) return t.text;
    return CellText(table_.columns[t.index], row, cells[t.index]);
  }

  // Jet's meaning: texts compare without regard to case, NULL equals nothing.
  bool Equal(const Term& a, const Term& b, const ByteView& row, const std::vector<Cell>& cells) const {
    if (a.column != b.column) {
      const Term& column = a.column ? a : b;
      const Term& text = a.column ? b : a;
      const Cell& cell = cells[column.index];
      if (cell.null) return false;
      if (text.ascii)
        if (const auto same = StoredTextEquals(row.Data() + cell.offset, cell.length, text.text)) return *same;
    }
    const FieldValue left = Value(a, row, cells);
    if (!left) return false;
    const FieldValue right = Value(b, row, cells);
    return right && JetTextEqual(*left, *right);
  }

  bool Test(const Bound& b, const ByteView& row, const std::vector<Cell>& cells) const {
    switch (b.kind) {
      case Condition::Kind::kEquals:
        return Equal(b.left, b.right, row, cells);
      case Condition::Kind::kIsNull:
        return b.left.column && cells[b.left.index].null;
      case Condition::Kind::kAnd:
        for (const Bound& part : b.parts)
          if (!Test(part, row, cells)) return false;
        return true;
      case Condition::Kind::kOr:
        for (const Bound& part : b.parts)
          if (Test(part, row, cells)) return true;
        return false;
    }
    return false;
  }

  const TableDef& table_;
  const std::map<std::pair<std::string, std::string>, size_t>& place_;
  Bound root_;
};

}  // namespace

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
  const RowTest test(t, place, selection.where);
  std::vector<RowLocation> keys;
  std::vector<Cell> cells;
  rows.Scan([&](RowLocation at, const ByteView& row, bool tidy) {
    if (selection.hasWhere) {
      DecodeRow(t, row, cells);
      if (!test.Holds(row, cells)) return;
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
