// Indexes of files made by the writer: their pages read back from the roots
// the table's definition names, their order, refused definitions and keys,
// and the engine converting such a file. (The keys themselves are checked
// against Access's in platform/jet/format/index_key_test.cpp.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>

#include "platform/jet/catalog.h"
#include "tests/index_walk.h"
#include "tests/jet_readers.h"
#include "platform/jet/format/index_key.h"
#include "tests/jet_test_support.h"
#include "tools/jet/jet_index.h"
#include "tools/jet/jet_writer.h"

namespace kw::jetw {
namespace {

namespace jr = kw::jet_readers;

const DateTime kCreated = MakeDateTime(2024, 5, 1, 12, 30, 0);

// The key of one value, as the writer makes it.
Bytes Key(ColumnType type, const Value& v, jet::KeyOrder order = jet::KeyOrder::kAscending) {
  Bytes k;
  AppendIndexKey(k, type, v, order);
  return k;
}

// The table's definition as the engine reads it.
kw::jet::TableDef Postal(kw::jet::PageStore& store) { return kw::jet::FindTable(store, "PLZSTM"); }

TEST(JetIndexKeyOfValues, TheWritersValuesMakeTheLibrarysKeysAndOtherTypesAreRefused) {
  auto library = [](ColumnType type, const kw::jet::KeyValue& v) {
    Bytes k;
    kw::jet::AppendIndexKey(k, type, v);
    return k;
  };
  EXPECT_EQ(Key(ColumnType::kDateTime, DateTime{1.5}), library(ColumnType::kDateTime, 1.5));
  EXPECT_EQ(Key(ColumnType::kDouble, Double{-2}), library(ColumnType::kDouble, -2.0));
  EXPECT_EQ(Key(ColumnType::kLong, int32_t{7}), library(ColumnType::kLong, int32_t{7}));
  EXPECT_EQ(Key(ColumnType::kText, std::string("Zug")), library(ColumnType::kText, std::string("Zug")));
  EXPECT_EQ(Key(ColumnType::kText, Value()), library(ColumnType::kText, {}));
  EXPECT_THROW(Key(ColumnType::kDouble, DateTime{1}), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kDateTime, Double{1}), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kLong, Double{1}), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kText, true), std::invalid_argument);
}

ColumnSchema Col(const char* name, ColumnType type, int length = 0) { return ColumnSchema{name, type, length, true, false}; }

TableSchema Postal() {
  TableSchema def{"PLZSTM",
               {{"PLZNR", ColumnType::kLong, 0, false, true}, Col("PLZ", ColumnType::kText, 10),
                Col("ORT", ColumnType::kText, 40), Col("LAND", ColumnType::kText, 3),
                Col("TELVOR", ColumnType::kText, 5), Col("SEIT", ColumnType::kDateTime)},
               false};
  def.indexes = {{"PrimaryKey", {"PLZNR"}, true}, {"PLZ", {"PLZ"}, false}, {"OrtSeit", {"ORT", "SEIT"}, false}};
  return def;
}

const char* const kTowns[] = {"Zürich", "Winterthur", "Genève", "Uster", "Aarau", "Zug", "Neuchâtel"};

RowValues PostalRow(int i) {
  Value seit = i % 9 == 0 ? Value() : Value(MakeDateTime(1990 + i % 30, 1 + i % 12, 1 + i % 28));
  return {std::monostate{}, std::to_string(1000 + (i * 7919) % 8000), std::string(kTowns[i % 7]),
          std::string(i % 4 ? "CH" : "D"), std::string(i % 3 ? "01" : "044"), seit};
}

class JetIndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = jr::MissingReaders();
    ASSERT_TRUE(missing.empty()) << "missing: " << missing;
    file_ = "/tmp/kw_jetindex_" + std::to_string(getpid()) + ".mdb";
  }
  void TearDown() override { std::remove(file_.c_str()); }
  void Write(int rows) {
    JetWriter w(file_, kCreated);
    const size_t id = w.AddTable(Postal());
    for (int i = 0; i < rows; ++i) w.AddRow(id, PostalRow(i));
    w.Finish();
  }
  std::string file_;
};

TEST_F(JetIndexFileTest, ManyPagesWithTheirIndexesReadInBothReadersAndInOrder) {
  const int rows = 20000;
  Write(rows);
  const auto schema = jr::MdbSchema(file_);
  ASSERT_EQ(schema.size(), 1u);
  std::vector<std::string> indexes;
  for (const auto& i : schema[0].indexes) {
    std::string cols;
    for (const auto& c : i.columns) cols += " " + c;
    indexes.push_back(i.name + ":" + cols);
  }
  std::sort(indexes.begin(), indexes.end());
  EXPECT_EQ(indexes, (std::vector<std::string>{"OrtSeit: ORT SEIT", "PLZ: PLZ", "PRIMARY KEY: PLZNR"}));
  EXPECT_EQ(jr::NodeRead(file_).at(0).rows.size(), static_cast<size_t>(rows));
  EXPECT_EQ(jr::MdbExport(file_, "PLZSTM").rows.size(), static_cast<size_t>(rows));

  kw::jet::MemoryPageStore store(file_, kw::jet::test::ReadBytes(file_));
  const kw::jet::TableDef table = Postal(store);
  ASSERT_EQ(table.indexes.size(), 3u);
  for (size_t r = 0; r < table.indexes.size(); ++r) {
    const kw::jet::test::IndexWalk t = kw::jet::test::WalkIndex(store, table, table.indexes[r]);
    EXPECT_EQ(t.fault, "") << "index " << r;
    EXPECT_GE(t.depth, 2u) << "index " << r << " fits on one leaf; the test wants more";
    ASSERT_EQ(t.entries.size(), static_cast<size_t>(rows)) << "index " << r;
    for (size_t i = 1; i < t.entries.size(); ++i) ASSERT_LT(t.entries[i - 1], t.entries[i]) << "index " << r << " entry " << i;
  }
  // The primary key's entries point at the rows in the order they were added.
  const kw::jet::test::IndexWalk pk = kw::jet::test::WalkIndex(store, table, table.indexes[0]);
  for (int i = 0; i < rows; ++i) {
    const Bytes& e = pk.entries[static_cast<size_t>(i)];
    ASSERT_EQ(Bytes(e.begin(), e.end() - 4), Key(ColumnType::kLong, int32_t{i + 1})) << "entry " << i;
  }
}

TEST_F(JetIndexFileTest, AnIndexOfOneRowOrNoneIsOneLeaf) {
  for (int rows : {0, 1}) {
    Write(rows);
    kw::jet::MemoryPageStore store(file_, kw::jet::test::ReadBytes(file_));
    const kw::jet::TableDef table = Postal(store);
    for (const kw::jet::Index& index : table.indexes) {
      kw::jet::PageBytes root;
      store.Read(index.rootPage, root);
      EXPECT_TRUE(kw::jet::ReadIndexPageHeader(root).Leaf()) << rows << " rows";
      EXPECT_EQ(kw::jet::test::WalkIndex(store, table, index).entries.size(), static_cast<size_t>(rows));
    }
    EXPECT_EQ(jr::MdbSchema(file_).at(0).indexes.size(), 3u);
  }
}

TEST_F(JetIndexFileTest, TheEngineConvertsAnIndexedFileThatBothReadersReadAfterwards) {
  const int rows = 3000;
  Write(rows);
  long expected = 0;
  for (int i = 0; i < rows; ++i) expected += (i % 4 && i % 3) ? 1 : 0;
  kw::jet::test::MemoryJet jet(kw::jet::test::ReadBytes(file_));
  EXPECT_EQ(kw::jet::test::ConvertPass(jet.engine, "PLZSTM", "TELVOR"), expected);
  kw::jet::test::WriteBytes(file_, jet.store.Bytes());
  for (const auto& t : {jr::NodeRead(file_).at(0), jr::MdbExport(file_, "PLZSTM")}) {
    ASSERT_EQ(t.rows.size(), static_cast<size_t>(rows));
    for (const auto& row : t.rows) {
      const int i = std::stoi(*row[0]) - 1;
      EXPECT_EQ(row[4], jr::Value(i % 3 == 0 || i % 4 != 0 ? "044" : "01")) << "row " << i;
    }
  }
  EXPECT_EQ(jr::MdbSchema(file_).at(0).indexes.size(), 3u);
}

void ExpectRefused(const std::function<void()>& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "accepted: " << message;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
  }
}

TEST_F(JetIndexFileTest, RefusedIndexesAndKeysNameTableIndexAndColumn) {
  struct DefCase {
    IndexSchema index;
    std::string message;
  };
  const std::vector<DefCase> defs = {
      {{"X", {"NICHTDA"}, false}, "table PLZSTM, index X: there is no column NICHTDA"},
      {{"X", {"NOTIZ"}, false}, "table PLZSTM, index X: the column NOTIZ is of a type this writer does not index"},
      {{"plz", {"ORT"}, false}, "table PLZSTM, index plz: the name is used twice"},
      {{"X", {"ORT", "ort"}, false}, "table PLZSTM, index X: the column ort is named twice"},
      {{"X", {}, false}, "table PLZSTM, index X: an index has 1 to 10 columns"},
      {{"Zweiter", {"ORT"}, true}, "table PLZSTM, index Zweiter: a table has one primary key at most"},
      {{"X", {"ORT"}, false, false, {"PLZ"}},
       "table PLZSTM, index X: the descending column PLZ is not one of the index's columns"},
  };
  {
    JetWriter w(file_, kCreated);
    for (const DefCase& c : defs) {
      TableSchema def = Postal();
      def.columns.push_back(ColumnSchema{"NOTIZ", ColumnType::kMemo, 0, true, false});
      def.indexes.push_back(c.index);
      ExpectRefused([&] { w.AddTable(def); }, c.message);
    }
    const size_t id = w.AddTable(Postal());
    RowValues dot = PostalRow(0);
    dot[1] = std::string("80\u00B701");
    ExpectRefused([&] { w.AddRow(id, dot); }, "table PLZSTM, index PLZ, column PLZ: the character U+00B7");
    RowValues euro = PostalRow(0);
    euro[2] = std::string("5 €");
    ExpectRefused([&] { w.AddRow(id, euro); }, "table PLZSTM, index OrtSeit, column ORT: the character U+20AC");
    w.AddRow(id, PostalRow(0));
    w.Finish();
  }
  // The refused rows are not in the file, nor in its indexes.
  EXPECT_EQ(jr::MdbExport(file_, "PLZSTM").rows.size(), 1u);
  kw::jet::MemoryPageStore store(file_, kw::jet::test::ReadBytes(file_));
  const kw::jet::TableDef table = Postal(store);
  for (const kw::jet::Index& index : table.indexes)
    EXPECT_EQ(kw::jet::test::WalkIndex(store, table, index).entries.size(), 1u);

  // A primary key without an autonumber: no nulls, no value twice.
  TableSchema keyed{"T", {Col("Code", ColumnType::kText, 10)}, false};
  keyed.indexes = {{"PrimaryKey", {"Code"}, true}};
  JetWriter w(file_, kCreated);
  const size_t id = w.AddTable(keyed);
  ExpectRefused([&] { w.AddRow(id, {std::monostate{}}); }, "table T, index PrimaryKey, column Code: a primary key takes no null");
  w.AddRow(id, {std::string("ab")});
  w.AddRow(id, {std::string("AB ")});  // the same key: case and trailing spaces do not count
  ExpectRefused([&] { w.Finish(); }, "table T, index PrimaryKey: the primary key holds a value twice");
}

// A unique index takes any number of keys null in every column, and no
// other key twice, descending or not; the refused file is not left behind.
TEST_F(JetIndexFileTest, AUniqueIndexRefusesAKeyTwiceButNotEmptyKeys) {
  struct UniqueCase {
    std::vector<std::string> descending;
    std::vector<RowValues> rows;
    bool refused;
  };
  const Value null;
  auto s = [](const char* t) { return Value(std::string(t)); };
  const std::vector<UniqueCase> cases = {
      {{}, {{null, null}, {null, null}, {s("a"), null}, {s("b"), s("x")}}, false},
      {{"Ort"}, {{null, null}, {null, null}, {s("a"), s("x")}, {s("a"), s("y")}}, false},
      {{}, {{s("a"), null}, {s("A "), null}}, true},  // case and trailing spaces do not count
      {{"Code"}, {{null, s("x")}, {null, s("X")}}, true},
      {{"Code", "Ort"}, {{s("a"), s("b")}, {s("b"), s("a")}, {s("a"), s("b")}}, true},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    TableSchema def{"T", {Col("Code", ColumnType::kText, 10), Col("Ort", ColumnType::kText, 10)}, false};
    def.indexes = {{"CodeOrt", {"Code", "Ort"}, false, true, cases[i].descending}};
    JetWriter w(file_, kCreated);
    const size_t id = w.AddTable(def);
    for (const RowValues& row : cases[i].rows) w.AddRow(id, row);
    if (cases[i].refused) {
      ExpectRefused([&] { w.Finish(); }, "table T, index CodeOrt: the unique index holds a value twice");
      continue;
    }
    w.Finish();
    EXPECT_EQ(jr::MdbExport(file_, "T").rows.size(), cases[i].rows.size()) << "case " << i;
  }
}

// Unique and descending indexes as mdb-schema reads them (and the engine),
// in files both readers read, each index whole and in its order.
TEST_F(JetIndexFileTest, UniqueAndDescendingIndexesReadWithTheirFlagsAndOrder) {
  struct IndexCase {
    IndexSchema index;
    std::string schema;  // as mdb-schema shows it
  };
  const std::vector<IndexCase> cases = {
      {{"NrAb", {"PLZNR"}, false, false, {"plznr"}}, "NrAb: PLZNR DESC"},
      {{"NrEinmal", {"PLZNR"}, false, true}, "NrEinmal unique: PLZNR"},
      {{"TelvorAb", {"TELVOR"}, false, false, {"TELVOR"}}, "TelvorAb: TELVOR DESC"},
      {{"SeitAb", {"SEIT"}, false, false, {"SEIT"}}, "SeitAb: SEIT DESC"},
      {{"LandTelvor", {"LAND", "TELVOR", "ORT"}, false, false, {"TELVOR"}}, "LandTelvor: LAND TELVOR DESC ORT"},
      {{"NrOrt", {"ORT", "PLZNR"}, false, true, {"ORT", "PLZNR"}}, "NrOrt unique: ORT DESC PLZNR DESC"},
  };
  const int rows = 5000;
  TableSchema def = Postal();
  for (const IndexCase& c : cases) def.indexes.push_back(c.index);
  {
    JetWriter w(file_, kCreated);
    const size_t id = w.AddTable(def);
    for (int i = 0; i < rows; ++i) w.AddRow(id, PostalRow(i));
    w.Finish();
  }
  std::set<std::string> read;
  const auto schema = jr::MdbSchema(file_);
  for (const jr::Index& i : schema.at(0).indexes) {
    std::string s = i.name + (i.unique ? " unique:" : ":");
    for (const std::string& c : i.columns)
      s += " " + c + (std::count(i.descending.begin(), i.descending.end(), c) ? " DESC" : "");
    read.insert(s);
  }
  for (const IndexCase& c : cases) EXPECT_TRUE(read.count(c.schema)) << "mdb-schema does not read " << c.schema;
  EXPECT_EQ(jr::NodeRead(file_).at(0).rows.size(), static_cast<size_t>(rows));
  EXPECT_EQ(jr::MdbExport(file_, "PLZSTM").rows.size(), static_cast<size_t>(rows));

  kw::jet::MemoryPageStore store(file_, kw::jet::test::ReadBytes(file_));
  const kw::jet::TableDef table = Postal(store);
  ASSERT_EQ(table.indexes.size(), def.indexes.size());
  for (size_t r = 0; r < table.indexes.size(); ++r) {
    const kw::jet::Index& index = table.indexes[r];
    const IndexSchema& d = def.indexes[r];
    SCOPED_TRACE(index.name);
    EXPECT_EQ(index.Unique(), d.primaryKey || d.unique);
    ASSERT_EQ(index.columns.size(), d.columns.size());
    for (size_t k = 0; k < d.columns.size(); ++k) {
      const bool descending = std::any_of(d.descending.begin(), d.descending.end(), [&](const std::string& n) {
        return kw::JetTextEqual(n, d.columns[k]);
      });
      EXPECT_EQ(index.columns[k].ascending, !descending) << "column " << k;
    }
    const kw::jet::test::IndexWalk t = kw::jet::test::WalkIndex(store, table, index);
    EXPECT_EQ(t.fault, "");
    EXPECT_EQ(t.entries.size(), static_cast<size_t>(rows));
  }
  // The descending index of the autonumber lists the rows from the last to
  // the first; that of a date has its nulls last.
  const kw::jet::test::IndexWalk down = kw::jet::test::WalkIndex(store, table, table.indexes[3]);
  for (int i = 0; i < rows; ++i) {
    const Bytes& e = down.entries[static_cast<size_t>(i)];
    ASSERT_EQ(Bytes(e.begin(), e.end() - 4), Key(ColumnType::kLong, int32_t{rows - i}, jet::KeyOrder::kDescending))
        << "entry " << i;
  }
  DateTime latest{-1e9};
  for (int i = 0; i < rows; ++i) {
    const RowValues row = PostalRow(i);
    if (const DateTime* d = std::get_if<DateTime>(&row[5])) latest.days = std::max(latest.days, d->days);
  }
  const kw::jet::test::IndexWalk dates = kw::jet::test::WalkIndex(store, table, table.indexes[6]);
  EXPECT_EQ(Bytes(dates.entries.front().begin(), dates.entries.front().end() - 4),
            Key(ColumnType::kDateTime, latest, jet::KeyOrder::kDescending));
  EXPECT_EQ(Bytes(dates.entries.back().begin(), dates.entries.back().end() - 4),
            Key(ColumnType::kDateTime, Value(), jet::KeyOrder::kDescending));
}

}  // namespace
}  // namespace kw::jetw
