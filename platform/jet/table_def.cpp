#include "platform/jet/table_def.h"

#include <set>

#include "platform/jet/byte_view.h"
#include "platform/jet/text_codec.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

constexpr size_t kMaxDefinitionPages = 64;
constexpr size_t kColumnEntry = 25;
constexpr size_t kRealIndexEntry = 12;
constexpr size_t kRealIndexDef = 52;
constexpr size_t kLogicalIndexDef = 28;
constexpr size_t kColumnsPerIndex = 10;

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
    if (page[0] != 0x02 || page[1] != 0x01)
      ThrowDamaged(store.Name(), what + ": page " + std::to_string(n) + " is not a table definition page");
    bytes.insert(bytes.end(), page.begin() + (bytes.empty() ? 0 : 8), page.end());
    n = static_cast<uint32_t>(page[4] | page[5] << 8 | page[6] << 16 | static_cast<uint32_t>(page[7]) << 24);
  }
  return bytes;
}

std::string ReadName(const ByteView& d, size_t& at) {
  const uint16_t length = d.U16(at);
  const ByteView name = d.Sub(at + 2, length, d.What());
  at += 2u + length;
  return DecodeText(name.Data(), name.Size());
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
    for (uint16_t c : i.columns)
      if (c == column.number) {
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
  t.rowColumns = d.U16(41);
  t.varColumns = d.U16(43);
  const uint16_t columnCount = d.U16(45);
  const uint32_t logicalIndexes = d.U32(47);
  const uint32_t realIndexes = d.U32(51);
  const uint32_t owned = d.U32(55), free = d.U32(59);
  t.ownedPages = {owned >> 8, static_cast<uint8_t>(owned)};
  t.freePages = {free >> 8, static_cast<uint8_t>(free)};
  // Counts beyond what the bytes can hold are refused before anything is sized by them.
  if (realIndexes > bytes.size() / kRealIndexDef || logicalIndexes > bytes.size() / kLogicalIndexDef ||
      columnCount > bytes.size() / kColumnEntry)
    d.Fail("its counts of columns and indexes do not fit its pages");

  size_t at = 63 + realIndexes * kRealIndexEntry;
  const size_t columnsAt = at;
  at += columnCount * kColumnEntry;
  t.columns.resize(columnCount);
  for (uint16_t i = 0; i < columnCount; ++i) {
    const ByteView e = d.Sub(columnsAt + i * kColumnEntry, kColumnEntry, what);
    Column& c = t.columns[i];
    c.type = e.U8(0);
    c.number = e.U16(5);
    c.varIndex = e.U16(7);
    c.flags = e.U8(15);
    c.extraFlags = e.U8(16);
    c.fixedOffset = e.U16(21);
    c.length = e.U16(23);
  }
  for (Column& c : t.columns) c.name = ReadName(d, at);
  for (const Column& c : t.columns) {
    if (c.number >= t.rowColumns)
      d.Fail("column " + Quoted(c.name) + " has the number " + std::to_string(c.number) + " of " +
             std::to_string(t.rowColumns) + " columns");
    if (c.Fixed() && c.fixedOffset + static_cast<size_t>(c.type == kBool ? 0 : c.length) > kPageSize)
      d.Fail("column " + Quoted(c.name) + " lies beyond a page");
  }

  std::vector<std::vector<uint16_t>> realColumns(realIndexes);
  for (uint32_t r = 0; r < realIndexes; ++r) {
    const ByteView e = d.Sub(at + r * kRealIndexDef, kRealIndexDef, what);
    for (size_t k = 0; k < kColumnsPerIndex; ++k) {
      const uint16_t number = e.U16(4 + k * 3);
      if (number != 0xFFFF) realColumns[r].push_back(number);
    }
  }
  at += realIndexes * kRealIndexDef;
  std::vector<uint32_t> backing(logicalIndexes);
  for (uint32_t l = 0; l < logicalIndexes; ++l) {
    const ByteView e = d.Sub(at + l * kLogicalIndexDef, kLogicalIndexDef, what);
    backing[l] = e.U32(8);
    if (backing[l] >= realIndexes) d.Fail("an index refers to index data that is not there");
  }
  at += logicalIndexes * kLogicalIndexDef;
  for (uint32_t l = 0; l < logicalIndexes; ++l) {
    Index index;
    index.name = ReadName(d, at);
    index.columns = realColumns[backing[l]];
    t.indexes.push_back(std::move(index));
  }
  // Index data that no named index uses still constrains its columns.
  for (uint32_t r = 0; r < realIndexes; ++r) {
    bool named = false;
    for (uint32_t b : backing) named = named || b == r;
    if (!named) t.indexes.push_back({"(index data " + std::to_string(r) + ")", realColumns[r]});
  }
  return t;
}

}  // namespace kw::jet
