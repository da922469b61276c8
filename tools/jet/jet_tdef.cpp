#include "tools/jet/jet_tdef.h"

#include <stdexcept>

#include "tools/jet/jet_text.h"

namespace kw::jetw {
namespace {

// A word Jet 4 files repeat in the header and in every column entry.
constexpr uint32_t kDefinitionTag = 0x0659;
constexpr uint16_t kGeneralSortOrder = 0x0409;

bool IsLongValue(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }
bool IsTextual(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

void AppendName(Bytes& b, const std::string& utf8) {
  Bytes name = Ucs2Bytes(Utf16FromUtf8(utf8));
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
  Put32(p + 47, 0);  // no indexes
  Put32(p + 51, 0);
  Put32(p + 55, counts.usedPagesMap);
  Put32(p + 59, counts.freePagesMap);
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
