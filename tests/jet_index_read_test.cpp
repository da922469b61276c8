// Every index of the shared Jet files (made by Access and by Jackcess), read
// from the root its table's definition names: every index page readable
// with its free space as its entries leave it, the tree sound (the tests'
// walker), one entry for each row of the table, the indexes' columns as
// mdb-schema reads them, and each entry's key the one the format library
// makes from its row's values.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "tests/jet_postal_file.h"
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
    if (i == t.columns.size()) return std::nullopt;
    const std::optional<KeyValue> value = KeyValueOf(t.columns[i], row, cells[i]);
    if (!value || !IndexableType(t.columns[i].type)) return std::nullopt;
    try {
      AppendIndexKey(key, t.columns[i].type, *value, ic.ascending ? KeyOrder::kAscending : KeyOrder::kDescending);
    } catch (const std::invalid_argument&) {
      return std::nullopt;
    }
  }
  return key;
}

// An index as mdb-schema shows it: "unique" for a unique index other than
// the primary key, then its columns, each with DESC when descending (a
// primary key's without).
std::string Columns(const TableDef& t, const Index& index) {
  std::string out = index.Unique() && !index.PrimaryKey() ? "unique" : "";
  for (const IndexColumn& ic : index.columns)
    for (const Column& c : t.columns)
      if (c.number == ic.number) out += " " + c.name + (ic.ascending || index.PrimaryKey() ? "" : " DESC");
  return out;
}

struct Counts {
  size_t indexes = 0, keysCompared = 0, descendingKeysCompared = 0;
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
    size_t unnamed = 0;
    for (const jr::Schema& s : schema)
      if (s.name == name)
        for (const jr::Index& i : s.indexes) {
          std::string cols = i.unique ? "unique" : "";
          for (const std::string& c : i.columns)
            cols += " " + c + (std::count(i.descending.begin(), i.descending.end(), c) ? " DESC" : "");
          if (i.columns.empty()) ++unnamed;
          else theirs.insert(cols);
        }
    for (const Index& index : t.indexes) {
      SCOPED_TRACE(index.name);
      ++counts.indexes;
      // mdb-schema shows a foreign key's index as a relationship, if at all.
      if (index.name.front() != '(' && index.type != kForeignKeyIndex) ours.insert(Columns(t, index));
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
          for (const IndexColumn& ic : index.columns) counts.descendingKeysCompared += ic.ascending ? 0 : 1;
          EXPECT_EQ(*key, Bytes(e.begin(), e.end() - kEntryRowPointerBytes)) << "page " << r.page << " row " << int{r.row};
        }
      }
    }
    // mdb-schema names no column for an index over a column that follows a
    // deleted one (it takes the column's number for its place in the list,
    // delColTestV2000.mdb): such an index only counts.
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
  struct FileCase {
    const char* file;
    bool descending;  // it has a descending index whose keys are compared
  };
  const FileCase files[] = {
      {"access-made/delColTestV2000.mdb", false},    {"access-made/fixedTextTestV2000.mdb", false},
      {"access-made/testUnicodeCompV2003.mdb", false}, {"access-made/compIndexTestV2000.mdb", true},
      {"access-made/indexTestV2000.mdb", false},     {"access-made/testV2000.mdb", false},
      {"access-made/test2V2000.mdb", false},         {"product/Public.mdb", false},
      {"product/NoltData.mdb", false},               {"variants/deleted-rows.mdb", false},
      {"variants/full-pages.mdb", false},            {"variants/indexed-telvor.mdb", false},
      {"variants/uncompressed.mdb", false},          {"variants/v2003.mdb", false},
  };
  for (const FileCase& f : files) {
    SCOPED_TRACE(f.file);
    const Counts c = CheckEveryIndex(JetFile(f.file));
    EXPECT_GT(c.indexes, 0u);
    EXPECT_GT(c.keysCompared, 0u);
    EXPECT_EQ(c.descendingKeysCompared > 0, f.descending);
  }
}

// A postal file of the tests' helper with every kind of index it offers
// reads the same way: both readers read its rows, mdb-schema its indexes
// with their flags, and every index is whole with the keys of its rows.
TEST(JetIndexRead, APostalFileWithEveryKindOfIndexReadsInBothReaders) {
  ASSERT_EQ(jr::MissingReaders(), "");
  const int64_t rows = 20000;
  const std::vector<uint8_t> bytes = PostalFile(
      rows, {kTelvorIndex, kLandTelvorIndex, kPlzTelvorOrtIndex, kUniqueTelvorIndex, kDescendingTelvorIndex},
      [](int64_t i, std::vector<std::optional<std::string>>& v) {
        if (i > 0) v[3] = DistinctTelvor(i);
      });
  const kw::testing::TempDir dir;
  const std::string path = dir / "Public.mdb";
  WriteBytes(path, bytes);
  const Counts c = CheckEveryIndex(path);
  EXPECT_EQ(c.indexes, 7u);
  EXPECT_EQ(c.keysCompared, 7u * rows);
  EXPECT_EQ(c.descendingKeysCompared, static_cast<size_t>(rows));
  EXPECT_EQ(jr::NodeRead(path).at(0).rows.size(), static_cast<size_t>(rows));
  EXPECT_EQ(jr::MdbExport(path, "PLZSTM").rows.size(), static_cast<size_t>(rows));
  // A unique index on TELVOR takes the generator's rows only with TELVOR made distinct.
  EXPECT_THROW(PostalFile(100, {kUniqueTelvorIndex}), std::invalid_argument);
  EXPECT_THROW(DistinctTelvor(36 * 36 * 36 * 36), std::out_of_range);
}

}  // namespace
}  // namespace kw::jet::test
