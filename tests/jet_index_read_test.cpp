// Every index of the shared Jet files (made by Access and by Jackcess), read
// from the root its table's definition names: every index page readable
// with its free space as its entries leave it, the tree sound (the tests'
// walker), one entry for each row of the table, the indexes' columns as
// mdb-schema reads them, and each entry's key the one the format library
// makes from its row's values.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "platform/jet/catalog.h"
#include "platform/jet/format/index_key.h"
#include "platform/jet/format/text_codec.h"
#include "platform/jet/memory_page_store.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_rows.h"
#include "tests/index_walk.h"
#include "tests/jet_readers.h"
#include "tests/jet_test_support.h"

namespace kw::jet::test {
namespace {

namespace jr = kw::jet_readers;

// The value a key is made of; nullopt for a column of a type keys are not
// made of here.
std::optional<KeyValue> KeyValueOf(const Column& c, const ByteView& row, const Cell& cell) {
  if (c.type == ColumnType::kBoolean) return std::nullopt;
  if (cell.null) return KeyValue{};
  const ByteView v = row.Sub(cell.offset, cell.length, row.What());
  switch (c.type) {
    case ColumnType::kText: return DecodeText(v.Data(), v.Size());
    case ColumnType::kInteger: return int32_t{static_cast<int16_t>(v.U16(0))};
    case ColumnType::kLong: return static_cast<int32_t>(v.U32(0));
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      const uint64_t bits = uint64_t{v.U32(0)} | uint64_t{v.U32(4)} << 32;
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    default: return std::nullopt;
  }
}

// The key of a row in an index; nullopt when the library makes no key of it
// (a column of another type, a character outside its tables).
std::optional<Bytes> KeyOf(const TableDef& t, const Index& index, const ByteView& row) {
  const std::vector<Cell> cells = DecodeRow(t, row);
  Bytes key;
  for (const IndexColumn& ic : index.columns) {
    size_t i = 0;
    while (i < t.columns.size() && t.columns[i].number != ic.number) ++i;
    if (i == t.columns.size() || !ic.ascending) return std::nullopt;
    const std::optional<KeyValue> value = KeyValueOf(t.columns[i], row, cells[i]);
    if (!value || !IndexableType(t.columns[i].type)) return std::nullopt;
    try {
      AppendIndexKey(key, t.columns[i].type, *value);
    } catch (const std::invalid_argument&) {
      return std::nullopt;
    }
  }
  return key;
}

std::string Columns(const TableDef& t, const Index& index) {
  std::string out;
  for (const IndexColumn& ic : index.columns)
    for (const Column& c : t.columns)
      if (c.number == ic.number) out += " " + c.name;
  return out;
}

struct Counts {
  size_t indexes = 0, keysCompared = 0;
};

// Every index page of the file reads and its free space agrees.
void CheckEveryIndexPage(MemoryPageStore& store) {
  PageBytes page;
  for (uint32_t n = 0; n < store.PageCount(); ++n) {
    store.Read(n, page);
    if (page[kPageTypeAt] != kIndexLeafPageType && page[kPageTypeAt] != kIndexNodePageType) continue;
    const IndexPageEntries read = ReadIndexEntries(page);
    EXPECT_EQ(read.fault, "") << "page " << n;
    EXPECT_EQ(ReadIndexPageHeader(page).freeSpace, kIndexEntrySpace - read.stored) << "page " << n;
  }
}

Counts CheckEveryIndex(const std::string& path) {
  Counts counts;
  MemoryPageStore store(path, ReadBytes(path));
  CheckEveryIndexPage(store);
  const std::vector<jr::Schema> schema = jr::MdbSchema(path);
  for (const std::string& name : jr::MdbTables(path)) {
    SCOPED_TRACE(name);
    TableRows rows(store, FindTable(store, name));
    const TableDef& t = rows.Table();
    std::map<uint32_t, Bytes> rowBytes;  // by row pointer
    rows.Scan([&](RowLocation at, const ByteView& row, bool) {
      rowBytes[RowPointer(at.page, at.row)].assign(row.Data(), row.Data() + row.Size());
    });
    std::multiset<std::string> ours, theirs;
    for (const jr::Schema& s : schema)
      if (s.name == name)
        for (const jr::Index& i : s.indexes) {
          std::string cols;
          for (const std::string& c : i.columns) cols += " " + c;
          theirs.insert(cols);
        }
    for (const Index& index : t.indexes) {
      SCOPED_TRACE(index.name);
      ++counts.indexes;
      if (index.name.front() != '(') ours.insert(Columns(t, index));
      if (index.PrimaryKey()) {
        EXPECT_TRUE(index.Unique());
      }
      const IndexWalk tree = WalkIndex(store, t, index);
      EXPECT_EQ(tree.fault, "");
      EXPECT_EQ(tree.entries.size(), rowBytes.size());
      std::set<uint32_t> seen;
      for (const Bytes& e : tree.entries) {
        const RowRef r = EntryRow(e, true);
        const uint32_t pointer = RowPointer(r.page, r.row);
        const auto row = rowBytes.find(pointer);
        if (row == rowBytes.end()) {
          ADD_FAILURE() << "an entry for page " << r.page << " row " << int{r.row} << ", which holds no row";
          continue;
        }
        EXPECT_TRUE(seen.insert(pointer).second) << "two entries for page " << r.page << " row " << int{r.row};
        const ByteView bytes(row->second.data(), row->second.size(), path, "a row");
        if (const std::optional<Bytes> key = KeyOf(t, index, bytes)) {
          ++counts.keysCompared;
          EXPECT_EQ(*key, Bytes(e.begin(), e.end() - kEntryRowPointerBytes)) << "page " << r.page << " row " << int{r.row};
        }
      }
    }
    // mdb-schema names no column for an index over a column that follows a
    // deleted one (it takes the column's number for its place in the list,
    // delColTestV2000.mdb): such an index only counts.
    const size_t unnamed = theirs.erase("");
    for (const std::string& columns : theirs) {
      const auto found = ours.find(columns);
      if (found == ours.end()) {
        ADD_FAILURE() << "mdb-schema reads an index over" << columns;
        continue;
      }
      ours.erase(found);
    }
    EXPECT_EQ(ours.size(), unnamed) << "indexes mdb-schema does not read";
  }
  return counts;
}

TEST(JetIndexRead, EveryIndexOfTheSharedFilesReadsFromItsRootWithTheKeysOfItsRows) {
  const std::string missing = jr::MissingReaders();
  ASSERT_TRUE(missing.empty()) << "missing: " << missing;
  const char* const files[] = {
      "access-made/delColTestV2000.mdb", "access-made/fixedTextTestV2000.mdb", "access-made/testUnicodeCompV2003.mdb", "product/Public.mdb", "product/NoltData.mdb",
      "variants/deleted-rows.mdb", "variants/full-pages.mdb", "variants/indexed-telvor.mdb",
      "variants/uncompressed.mdb", "variants/v2003.mdb",
  };
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const Counts c = CheckEveryIndex(JetFile(file));
    EXPECT_GT(c.indexes, 0u);
    EXPECT_GT(c.keysCompared, 0u);
  }
}

}  // namespace
}  // namespace kw::jet::test
