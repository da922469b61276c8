#include "tools/jet/jet_tdef.h"

#include <stdexcept>

#include "platform/jet/text_codec.h"

namespace kw::jetw {
namespace {

// A word Jet 4 files repeat in the header and in every column entry.
constexpr uint32_t kDefinitionTag = 0x0659;
constexpr uint16_t kGeneralSortOrder = 0x0409;
constexpr uint32_t kIndexTag = 0x0783;  // begins every index's column list
constexpr size_t kIndexColumns = 10;
constexpr uint8_t kAscending = 0x01;
// Index flags: unique, required, and one that every index made by Access 2000
// and later carries.
constexpr uint8_t kUnique = 0x01, kRequired = 0x08, kModernIndex = 0x80;
constexpr uint8_t kPrimaryKeyType = 0x01;

bool IsLongValue(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }
bool IsTextual(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

void AppendName(Bytes& b, const std::string& utf8) {
  Bytes name = kw::jet::EncodeText(utf8, false);
  Append16(b, static_cast<uint32_t>(name.size()));
  AppendBytes(b, name);
}

}  // namespace

Bytes TableDefinitionPage(const TableLayout& t, bool system, const TableCounts& counts) {
  Bytes b(63, 0);
  uint8_t* p = b.data();
  p[0] = 0x02;
  p[1] = 0x01;
  Put32(p + 12, kDefinitionTag);
  Put32(p + 16, counts.rows);
  Put32(p + 20, counts.nextAutoNumber);
  p[24] = 0x01;
  p[40] = system ? 0x53 : 0x4E;
  const uint32_t ncols = static_cast<uint32_t>(t.columns.size());
  Put16(p + 41, ncols);
  Put16(p + 43, t.varCount);
  Put16(p + 45, ncols);
  const uint32_t nindexes = static_cast<uint32_t>(counts.indexes.size());
  Put32(p + 47, nindexes);  // named indexes, each over index data of its own
  Put32(p + 51, nindexes);
  Put32(p + 55, counts.usedPagesMap);
  Put32(p + 59, counts.freePagesMap);
  for (const IndexInfo& i : counts.indexes) {
    Append32(b, i.rows);
    Append32(b, i.distinctKeys);
    Append32(b, 0);
  }
  for (const ColumnLayout& c : t.columns) {
    size_t at = b.size();
    b.resize(at + 25, 0);
    uint8_t* e = b.data() + at;
    e[0] = static_cast<uint8_t>(c.def.type);
    Put32(e + 1, kDefinitionTag);
    Put16(e + 5, c.number);
    Put16(e + 7, c.varIndex);
    Put16(e + 9, c.number);
    if (IsTextual(c.def.type)) Put16(e + 11, kGeneralSortOrder);
    uint8_t flags = 0x02;
    if (c.fixed) flags |= 0x01;
    if (c.def.autoNumber) flags |= 0x04;
    e[15] = flags;
    e[16] = (IsTextual(c.def.type) && c.def.compressed) ? 0x01 : 0x00;
    Put16(e + 21, c.fixedOffset);
    Put16(e + 23, c.storedLength);
  }
  for (const ColumnLayout& c : t.columns) AppendName(b, c.def.name);
  for (const IndexInfo& i : counts.indexes) {
    if (i.columns.empty() || i.columns.size() > kIndexColumns)
      throw std::invalid_argument("table " + t.table + ", index " + i.name + ": an index has 1 to 10 columns");
    Append32(b, kIndexTag);
    for (size_t k = 0; k < kIndexColumns; ++k) {
      Append16(b, k < i.columns.size() ? i.columns[k] : 0xFFFF);
      Append8(b, k < i.columns.size() ? kAscending : 0);
    }
    Append32(b, i.usageMap);
    Append32(b, i.rootPage);
    Append32(b, 0);
    Append8(b, i.primaryKey ? (kUnique | kRequired | kModernIndex) : kModernIndex);
    b.resize(b.size() + 5, 0);
  }
  for (size_t n = 0; n < counts.indexes.size(); ++n) {
    Append32(b, kDefinitionTag);
    Append32(b, static_cast<uint32_t>(n));  // the index's number
    Append32(b, static_cast<uint32_t>(n));  // its index data
    Append8(b, 0);
    Append32(b, 0xFFFFFFFFu);  // no foreign key
    Append32(b, 0);
    Append8(b, 0x04);  // as Access writes them for an index without a relationship
    Append8(b, 0x04);
    Append8(b, counts.indexes[n].primaryKey ? kPrimaryKeyType : 0);
    Append32(b, 0);
  }
  for (const IndexInfo& i : counts.indexes) AppendName(b, i.name);
  size_t lv = 0;
  for (const ColumnLayout& c : t.columns) {
    if (!IsLongValue(c.def.type)) continue;
    if (lv >= counts.longValueMaps.size()) throw std::logic_error("a usage map for every long-value column");
    Append16(b, c.number);
    Append32(b, counts.longValueMaps[lv].first);
    Append32(b, counts.longValueMaps[lv].second);
    ++lv;
  }
  Append16(b, 0xFFFF);
  if (b.size() + 8 > kPageSize)
    throw std::length_error("table " + t.table + ": the definition does not fit on one page");
  Put16(b.data() + 2, static_cast<uint32_t>(kPageSize - 8 - b.size()));
  Put32(b.data() + 8, static_cast<uint32_t>(b.size()));
  b.resize(kPageSize, 0);
  return b;
}

}  // namespace kw::jetw
