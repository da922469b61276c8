#include "tools/jet/jet_catalog.h"

#include "platform/jet/format/catalog.h"

namespace kw::jetw {
namespace {

ColumnSchema Col(const char* name, ColumnType type, int length = 0) {
  ColumnSchema c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

using namespace jet::catalog;

int32_t Signed(uint32_t v) { return static_cast<int32_t>(v); }

RowValues Object(uint32_t id, uint32_t parent, const std::string& name, int32_t type, uint32_t flags,
                 DateTime created) {
  RowValues row(17);
  row[0] = Signed(id);
  row[1] = Signed(parent);
  row[2] = name;
  row[3] = type;
  row[4] = created;
  row[5] = created;
  row[7] = Signed(flags);
  return row;
}

}  // namespace

std::vector<TableSchema> SystemTables() {
  using T = ColumnType;
  TableSchema objects{"MSysObjects",
                   {Col("Id", T::kLong), Col("ParentId", T::kLong), Col("Name", T::kText, 255),
                    Col("Type", T::kInteger), Col("DateCreate", T::kDateTime), Col("DateUpdate", T::kDateTime),
                    Col("Owner", T::kBinary, 510), Col("Flags", T::kLong), Col("Database", T::kMemo),
                    Col("Connect", T::kMemo), Col("ForeignName", T::kText, 255),
                    Col("RmtInfoShort", T::kBinary, 510), Col("RmtInfoLong", T::kOle), Col("Lv", T::kOle),
                    Col("LvProp", T::kOle), Col("LvModule", T::kOle), Col("LvExtra", T::kOle)},
                   true};
  TableSchema aces{"MSysACEs",
                {Col("ObjectId", T::kLong), Col("SID", T::kBinary, 510), Col("ACM", T::kLong),
                 Col("FInheritable", T::kBoolean)},
                true};
  TableSchema queries{"MSysQueries",
                   {Col("ObjectId", T::kLong), Col("Attribute", T::kByte), Col("Order", T::kBinary, 510),
                    Col("Name1", T::kText, 255), Col("Name2", T::kText, 255), Col("Expression", T::kMemo),
                    Col("Flag", T::kInteger), Col("LvExtra", T::kLong)},
                   true};
  TableSchema relationships{"MSysRelationships",
                         {Col("szRelationship", T::kText, 255), Col("grbit", T::kLong), Col("ccolumn", T::kLong),
                          Col("icolumn", T::kLong), Col("szObject", T::kText, 255), Col("szColumn", T::kText, 255),
                          Col("szReferencedObject", T::kText, 255), Col("szReferencedColumn", T::kText, 255)},
                         true};
  return {objects, aces, queries, relationships};
}

std::vector<RowValues> CatalogRows(const std::vector<CatalogTable>& tables, DateTime created) {
  std::vector<RowValues> rows = {
      Object(kTablesId, kRootId, "Tables", kContainerObject, kSystemObject, created),
      Object(kDatabasesId, kRootId, "Databases", kContainerObject, kSystemObject, created),
      Object(kRelationshipsId, kRootId, "Relationships", kContainerObject, kSystemObject, created),
      Object(kDatabaseId, kDatabasesId, "MSysDb", kDatabaseObject, kSystemObject, created),
  };
  for (const CatalogTable& t : tables)
    rows.push_back(Object(t.definitionPage, kTablesId, t.name, kTableObject, t.system ? kSystemObject : 0, created));
  return rows;
}

}  // namespace kw::jetw
