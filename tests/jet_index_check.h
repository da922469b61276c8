#pragma once
// Every index of a Jet file checked whole, as the tests read the shared
// files and every file the engine changed: every index page readable with
// its free space as its entries leave it, the tree sound (index_walk.h), one
// entry for each row of the table and none for a row that is not there, the
// indexes' columns as mdb-schema reads them, and each entry's key the one
// the format library makes from its row's values as they are now.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/jet/catalog.h"
#include "platform/jet/format/index_key.h"
#include "platform/jet/memory_page_store.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/row_indexes.h"
#include "platform/jet/table_rows.h"
#include "tests/index_walk.h"
#include "tests/jet_readers.h"
#include "tests/jet_test_support.h"

namespace kw::jet::test {

namespace jr = kw::jet_readers;

// The key of a row in an index; nullopt when the library makes no key of it
// (a column of another type, a character outside its tables).
inline std::optional<Bytes> KeyOf(const TableDef& t, const Index& index, const ByteView& row) {
  const std::vector<Cell> cells = DecodeRow(t, row);
  Bytes key;
  for (const IndexColumn& ic : index.columns) {
    size_t i = 0;
    while (i < t.columns.size() && t.columns[i].number != ic.number) ++i;
    if (i == t.columns.size()) return std::nullopt;
    if (!IndexableType(t.columns[i].type)) return std::nullopt;
    try {
      AppendIndexKey(key, t.columns[i].type, IndexKeyValue(t.columns[i], row, cells[i]),
                     ic.ascending ? KeyOrder::kAscending : KeyOrder::kDescending);
    } catch (const std::invalid_argument&) {
      return std::nullopt;
    }
  }
  return key;
}

// An index as mdb-schema shows it: "unique" for a unique index other than
// the primary key, then its columns, each with DESC when descending (a
// primary key's without).
inline std::string Columns(const TableDef& t, const Index& index) {
  std::string out = index.Unique() && !index.PrimaryKey() ? "unique" : "";
  for (const IndexColumn& ic : index.columns)
    for (const Column& c : t.columns)
      if (c.number == ic.number) out += " " + c.name + (ic.ascending || index.PrimaryKey() ? "" : " DESC");
  return out;
}

struct Counts {
  size_t indexes = 0, keysCompared = 0;
  size_t descendingKeysCompared = 0;  // of keys compared, those with a descending column
};

// Every index page of the file reads and its free space agrees.
inline void CheckEveryIndexPage(MemoryPageStore& store) {
  PageBytes page;
  for (uint32_t n = 0; n < store.PageCount(); ++n) {
    store.Read(n, page);
    if (page[kPageTypeAt] != kIndexLeafPageType && page[kPageTypeAt] != kIndexNodePageType) continue;
    const IndexPageEntries read = ReadIndexEntries(page);
    EXPECT_EQ(read.fault, "") << "page " << n;
    EXPECT_EQ(ReadIndexPageHeader(page).freeSpace, kIndexEntrySpace - read.stored) << "page " << n;
  }
}

// Every index of every table of the file at `path`.
inline Counts CheckEveryIndex(const std::string& path) {
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
          if (std::any_of(index.columns.begin(), index.columns.end(), [](const IndexColumn& c) { return !c.ascending; }))
            ++counts.descendingKeysCompared;
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

}  // namespace kw::jet::test
