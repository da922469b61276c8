#include "tools/jet/jet_tdef.h"

#include <stdexcept>

#include "platform/jet/format/definition_page.h"
#include "platform/jet/format/page.h"
#include "platform/jet/format/table_definition.h"
#include "platform/jet/format/text_codec.h"

namespace kw::jetw {
namespace {

namespace tdef = jet::tdef;
namespace column = jet::column_entry;
namespace real = jet::real_index;
namespace logical = jet::logical_index;

void AppendName(Bytes& b, const std::string& utf8) {
  Bytes name = jet::EncodeText(utf8, false);
  jet::Append16(b, static_cast<uint32_t>(name.size()));
  jet::AppendBytes(b, name);
}

// Appends an entry of `size` zero bytes and gives its first byte.
uint8_t* AppendEntry(Bytes& b, size_t size) {
  b.resize(b.size() + size, 0);
  return b.data() + b.size() - size;
}

}  // namespace

Bytes TableDefinitionPage(const TableLayout& t, bool system, const TableCounts& counts) {
  Bytes b(tdef::kHeader, 0);
  uint8_t* p = b.data();
  jet::SetPageType(p, jet::kTableDefinitionPageType);
  jet::Put32(p + tdef::kTag, jet::kDefinitionTag);
  jet::Put32(p + tdef::kRowCount, counts.rows);
  jet::Put32(p + tdef::kNextAutoNumber, counts.nextAutoNumber);
  p[tdef::kAutoNumberFlag] = 0x01;
  p[tdef::kTableType] = system ? jet::kSystemTable : jet::kUserTable;
  const uint32_t ncols = static_cast<uint32_t>(t.columns.size());
  jet::Put16(p + tdef::kMaxColumns, ncols);
  jet::Put16(p + tdef::kVarColumns, t.varCount);
  jet::Put16(p + tdef::kColumnCount, ncols);
  const uint32_t nindexes = static_cast<uint32_t>(counts.indexes.size());
  jet::Put32(p + tdef::kLogicalIndexCount, nindexes);  // named indexes, each over index data of its own
  jet::Put32(p + tdef::kRealIndexCount, nindexes);
  jet::Put32(p + tdef::kOwnedPages, counts.usedPagesMap);
  jet::Put32(p + tdef::kFreePages, counts.freePagesMap);
  for (const IndexInfo& i : counts.indexes) {
    uint8_t* e = AppendEntry(b, tdef::kRealIndexCountEntry);
    jet::Put32(e + jet::real_index_count::kRows, i.rows);
    jet::Put32(e + jet::real_index_count::kDistinctKeys, i.distinctKeys);
  }
  for (const ColumnLayout& c : t.columns) {
    uint8_t* e = AppendEntry(b, tdef::kColumnEntry);
    e[column::kType] = static_cast<uint8_t>(c.def.type);
    jet::Put32(e + column::kTag, jet::kDefinitionTag);
    jet::Put16(e + column::kNumber, c.number);
    jet::Put16(e + column::kVarIndex, c.varIndex);
    jet::Put16(e + column::kNumberAgain, c.number);
    if (jet::IsTextual(c.def.type)) jet::Put16(e + column::kSortOrder, jet::kGeneralSortOrder);
    uint8_t flags = jet::kNullableColumn;
    if (c.fixed) flags |= jet::kFixedColumn;
    if (c.def.autoNumber) flags |= jet::kAutoNumberColumn;
    e[column::kFlags] = flags;
    e[column::kExtraFlags] = (jet::IsTextual(c.def.type) && c.def.compressed) ? jet::kCompressedText : 0;
    jet::Put16(e + column::kFixedOffset, c.fixedOffset);
    jet::Put16(e + column::kLength, c.storedLength);
  }
  for (const ColumnLayout& c : t.columns) AppendName(b, c.def.name);
  for (const IndexInfo& i : counts.indexes) {
    if (i.columns.empty() || i.columns.size() > real::kMaxColumns)
      throw std::invalid_argument("table " + t.table + ", index " + i.name + ": an index has 1 to 10 columns");
    if (i.orders.size() != i.columns.size()) throw std::logic_error("an order for every column of an index");
    uint8_t* e = AppendEntry(b, tdef::kRealIndexEntry);
    jet::Put32(e + real::kTag, jet::kIndexTag);
    for (size_t k = 0; k < real::kMaxColumns; ++k) {
      uint8_t* slot = e + real::kColumns + k * real::kColumnSlot;
      jet::Put16(slot, k < i.columns.size() ? i.columns[k] : jet::kNoColumn);
      if (k < i.columns.size())
        slot[real::kColumnOrder] =
            i.orders[k] == jet::KeyOrder::kDescending ? jet::kDescendingColumn : jet::kAscendingColumn;
    }
    jet::Put32(e + real::kUsageMap, i.usageMap);
    jet::Put32(e + real::kRootPage, i.rootPage);
    uint8_t flags = jet::kModernIndex;
    if (i.primaryKey) flags |= jet::kUniqueIndex | jet::kRequiredIndex;
    if (i.unique) flags |= jet::kUniqueIndex;
    e[real::kFlags] = flags;
  }
  for (size_t n = 0; n < counts.indexes.size(); ++n) {
    uint8_t* e = AppendEntry(b, tdef::kLogicalIndexEntry);
    jet::Put32(e + logical::kTag, jet::kDefinitionTag);
    jet::Put32(e + logical::kNumber, static_cast<uint32_t>(n));
    jet::Put32(e + logical::kRealIndex, static_cast<uint32_t>(n));  // its index data
    jet::Put32(e + logical::kRelatedIndex, jet::kNoRelatedIndex);
    e[logical::kCascadeUpdates] = jet::kNoRelationship;
    e[logical::kCascadeDeletes] = jet::kNoRelationship;
    e[logical::kIndexType] = counts.indexes[n].primaryKey ? jet::kPrimaryKeyIndex : 0;
  }
  for (const IndexInfo& i : counts.indexes) AppendName(b, i.name);
  size_t lv = 0;
  for (const ColumnLayout& c : t.columns) {
    if (!jet::IsLongValue(c.def.type)) continue;
    if (lv >= counts.longValueMaps.size()) throw std::logic_error("a usage map for every long-value column");
    jet::Append16(b, c.number);
    jet::Append32(b, counts.longValueMaps[lv].first);
    jet::Append32(b, counts.longValueMaps[lv].second);
    ++lv;
  }
  jet::Append16(b, tdef::kEndOfLongValueMaps);
  if (b.size() + tdef::kPageHeader > jet::kPageSize)
    throw std::length_error("table " + t.table + ": the definition does not fit on one page");
  jet::Put16(b.data() + tdef::kFreeSpace, static_cast<uint32_t>(jet::kPageSize - tdef::kPageHeader - b.size()));
  jet::Put32(b.data() + tdef::kLength, static_cast<uint32_t>(b.size()));
  b.resize(jet::kPageSize, 0);
  return b;
}

}  // namespace kw::jetw
