#include "platform/jet/table_def.h"

#include <set>

#include "platform/jet/byte_view.h"
#include "platform/jet/format/text_codec.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

constexpr size_t kMaxDefinitionPages = 64;

// The definition pages' contents, one after the other, without the headers
// of the continuation pages.
std::vector<uint8_t> Gather(PageStore& store, uint32_t first, const std::string& what) {
  std::vector<uint8_t> bytes;
  std::set<uint32_t> seen;
  PageBytes page;
  for (uint32_t n = first; n != 0;) {
    if (n >= store.PageCount())
      ThrowDamaged(store.Name(), what + ": page " + std::to_string(n) + " is beyond the end of the file");
    if (!seen.insert(n).second || seen.size() > kMaxDefinitionPages)
      ThrowDamaged(store.Name(), what + ": its pages form a loop");
    store.Read(n, page);
    if (page[kPageTypeAt] != kTableDefinitionPageType || page[kPageMarkAt] != kPageMark)
      ThrowDamaged(store.Name(), what + ": page " + std::to_string(n) + " is not a table definition page");
    bytes.insert(bytes.end(), page.begin() + (bytes.empty() ? 0 : tdef::kPageHeader), page.end());
    n = Get32(&page[tdef::kNextPage]);
  }
  return bytes;
}

std::string ReadName(const ByteView& d, size_t& at) {
  const uint16_t length = d.U16(at);
  const ByteView name = d.Sub(at + tdef::kNameLength, length, d.What());
  at += tdef::kNameLength + length;
  return DecodeText(name.Data(), name.Size());
}

// What a real index entry holds; the names come from the logical entries.
Index ReadRealIndex(const ByteView& e, uint32_t number) {
  Index index;
  index.realIndex = number;
  for (size_t k = 0; k < real_index::kMaxColumns; ++k) {
    const size_t slot = real_index::kColumns + k * real_index::kColumnSlot;
    const uint16_t column = e.U16(slot);
    if (column != kNoColumn)
      index.columns.push_back({column, e.U8(slot + real_index::kColumnOrder) == kAscendingColumn});
  }
  index.usageMap = RowOf(e.U32(real_index::kUsageMap));
  index.rootPage = e.U32(real_index::kRootPage);
  index.flags = e.U8(real_index::kFlags);
  return index;
}

}  // namespace

const Column* TableDef::Find(std::string_view column) const {
  for (const Column& c : columns)
    if (JetTextEqual(c.name, column)) return &c;
  return nullptr;
}

std::vector<const Index*> TableDef::IndexesOf(const Column& column) const {
  std::vector<const Index*> out;
  for (const Index& i : indexes)
    for (const IndexColumn& c : i.columns)
      if (c.number == column.number) {
        out.push_back(&i);
        break;
      }
  return out;
}

TableDef ReadTableDef(PageStore& store, uint32_t page, const std::string& name) {
  const std::string what = "the definition of table " + Quoted(name);
  const std::vector<uint8_t> bytes = Gather(store, page, what);
  const ByteView d(bytes.data(), bytes.size(), store.Name(), what);

  TableDef t;
  t.name = name;
  t.page = page;
  t.rowColumns = d.U16(tdef::kMaxColumns);
  t.varColumns = d.U16(tdef::kVarColumns);
  const uint16_t columnCount = d.U16(tdef::kColumnCount);
  const uint32_t logicalIndexes = d.U32(tdef::kLogicalIndexCount);
  const uint32_t realIndexes = d.U32(tdef::kRealIndexCount);
  t.ownedPages = RowOf(d.U32(tdef::kOwnedPages));
  t.freePages = RowOf(d.U32(tdef::kFreePages));
  // Counts beyond what the bytes can hold are refused before anything is sized by them.
  if (realIndexes > bytes.size() / tdef::kRealIndexEntry || logicalIndexes > bytes.size() / tdef::kLogicalIndexEntry ||
      columnCount > bytes.size() / tdef::kColumnEntry)
    d.Fail("its counts of columns and indexes do not fit its pages");

  size_t at = tdef::kHeader + realIndexes * tdef::kRealIndexCountEntry;
  const size_t columnsAt = at;
  at += columnCount * tdef::kColumnEntry;
  t.columns.resize(columnCount);
  for (uint16_t i = 0; i < columnCount; ++i) {
    const ByteView e = d.Sub(columnsAt + i * tdef::kColumnEntry, tdef::kColumnEntry, what);
    Column& c = t.columns[i];
    c.type = static_cast<ColumnType>(e.U8(column_entry::kType));
    c.number = e.U16(column_entry::kNumber);
    c.varIndex = e.U16(column_entry::kVarIndex);
    c.sortOrder = e.U16(column_entry::kSortOrder);
    c.sortVersion = e.U8(column_entry::kSortVersion);
    c.flags = e.U8(column_entry::kFlags);
    c.extraFlags = e.U8(column_entry::kExtraFlags);
    c.fixedOffset = e.U16(column_entry::kFixedOffset);
    c.length = e.U16(column_entry::kLength);
  }
  for (Column& c : t.columns) c.name = ReadName(d, at);
  for (const Column& c : t.columns) {
    if (c.number >= t.rowColumns)
      d.Fail("column " + Quoted(c.name) + " has the number " + std::to_string(c.number) + " of " +
             std::to_string(t.rowColumns) + " columns");
    if (c.Fixed() && c.fixedOffset + static_cast<size_t>(c.type == ColumnType::kBoolean ? 0 : c.length) > kPageSize)
      d.Fail("column " + Quoted(c.name) + " lies beyond a page");
  }

  std::vector<Index> real;
  for (uint32_t r = 0; r < realIndexes; ++r)
    real.push_back(ReadRealIndex(d.Sub(at + r * tdef::kRealIndexEntry, tdef::kRealIndexEntry, what), r));
  at += realIndexes * tdef::kRealIndexEntry;
  std::vector<uint32_t> backing(logicalIndexes);
  std::vector<uint8_t> types(logicalIndexes);
  std::vector<bool> related(logicalIndexes);
  for (uint32_t l = 0; l < logicalIndexes; ++l) {
    const ByteView e = d.Sub(at + l * tdef::kLogicalIndexEntry, tdef::kLogicalIndexEntry, what);
    backing[l] = e.U32(logical_index::kRealIndex);
    types[l] = e.U8(logical_index::kIndexType);
    related[l] = e.U32(logical_index::kRelatedIndex) != kNoRelatedIndex;
    if (backing[l] >= realIndexes) d.Fail("an index refers to index data that is not there");
  }
  at += logicalIndexes * tdef::kLogicalIndexEntry;
  for (uint32_t l = 0; l < logicalIndexes; ++l) {
    Index index = real[backing[l]];
    index.name = ReadName(d, at);
    index.type = types[l];
    index.related = related[l];
    t.indexes.push_back(std::move(index));
  }
  // Index data that no named index uses still constrains its columns.
  for (uint32_t r = 0; r < realIndexes; ++r) {
    bool named = false;
    for (uint32_t b : backing) named = named || b == r;
    if (!named) {
      real[r].name = "(index data " + std::to_string(r) + ")";
      t.indexes.push_back(real[r]);
    }
  }
  return t;
}

}  // namespace kw::jet
