#include "platform/jet/catalog.h"

#include <optional>

#include "platform/jet/format/catalog.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_rows.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

const Column& Need(const TableDef& t, std::string_view name, ColumnType type, const std::string& file) {
  const Column* c = t.Find(name);
  if (!c || c->type != type) ThrowDamaged(file, "the catalog has no column " + Quoted(name) + " of the expected type");
  return *c;
}

}  // namespace

TableDef FindTable(PageStore& store, std::string_view name) {
  if (store.PageCount() <= kCatalogPage) ThrowDamaged(store.Name(), "the file ends before its catalog");
  TableRows catalog(store, ReadTableDef(store, kCatalogPage, "MSysObjects"));
  const TableDef& t = catalog.Table();
  const Column& id = Need(t, "Id", ColumnType::kLong, store.Name());
  const Column& objectName = Need(t, "Name", ColumnType::kText, store.Name());
  const Column& type = Need(t, "Type", ColumnType::kInteger, store.Name());
  const size_t idAt = static_cast<size_t>(&id - t.columns.data());
  const size_t nameAt = static_cast<size_t>(&objectName - t.columns.data());
  const size_t typeAt = static_cast<size_t>(&type - t.columns.data());
  std::optional<std::pair<std::string, uint32_t>> found;
  catalog.Scan([&](RowLocation, const ByteView& row, bool) {
    if (found) return;
    const std::vector<Cell> cells = DecodeRow(t, row);
    const FieldValue kind = CellText(type, row, cells[typeAt]);
    if (!kind || *kind != std::to_string(catalog::kTableObject)) return;
    const FieldValue n = CellText(objectName, row, cells[nameAt]);
    if (!n || !JetTextEqual(*n, name)) return;
    const FieldValue i = CellText(id, row, cells[idAt]);
    if (!i) return;
    found.emplace(*n, static_cast<uint32_t>(std::stoll(*i)) & catalog::kDefinitionPageOfId);
  });
  if (!found) throw RunError(NoSuchTable(name, store.Name()));
  if (found->second <= kCatalogPage || found->second >= store.PageCount())
    ThrowDamaged(store.Name(), "the catalog puts table " + Quoted(found->first) + " on page " +
                                   std::to_string(found->second) + ", which is not in the file");
  return ReadTableDef(store, found->second, found->first);
}

}  // namespace kw::jet
