// Indexes of files made by the writer: their keys against the ones Access
// itself wrote for the same values, their order, their pages read back, and
// the engine converting such a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>

#include "tests/jet_readers.h"
#include "tests/jet_test_support.h"
#include "tools/jet/jet_index.h"
#include "tools/jet/jet_index_key.h"
#include "tools/jet/jet_writer.h"

namespace kw::jetw {
namespace {

namespace jr = kw::jet_readers;

const DateTime kCreated = MakeDateTime(2024, 5, 1, 12, 30, 0);

Bytes Key(ColumnType type, const Value& v) {
  Bytes k;
  AppendIndexKey(k, type, v);
  return k;
}

std::vector<Bytes> Pages(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<Bytes> pages;
  Bytes page(kPageSize);
  while (in.read(reinterpret_cast<char*>(page.data()), static_cast<long>(kPageSize))) pages.push_back(page);
  return pages;
}

uint32_t Le(const Bytes& p, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[at + static_cast<size_t>(i)];
  return v;
}


// The entries of an index page, each whole (the shared prefix put back).
std::vector<Bytes> EntriesOf(const Bytes& p) {
  const size_t prefix = Le(p, 24, 2);
  std::vector<Bytes> out;
  size_t last = 0;
  for (size_t bit = 0; bit <= kIndexEntrySpace; ++bit) {
    if (!(p[kIndexMaskStart + bit / 8] >> (bit % 8) & 1)) continue;
    Bytes e(p.begin() + static_cast<long>(kIndexEntriesStart + last), p.begin() + static_cast<long>(kIndexEntriesStart + bit));
    if (!out.empty()) e.insert(e.begin(), out.front().begin(), out.front().begin() + static_cast<long>(prefix));
    out.push_back(e);
    last = bit;
  }
  return out;
}

// Every key Access's leaf pages hold in the file, row pointers cut off.
std::set<Bytes> LeafKeys(const std::string& file) {
  std::set<Bytes> keys;
  for (const Bytes& p : Pages(file))
    if (p[0] == 0x04)
      for (Bytes e : EntriesOf(p)) keys.insert(Bytes(e.begin(), e.end() - 4));
  return keys;
}

struct AccessCase {
  const char* file;
  ColumnType type;
  Value value;
};

TEST(JetIndexKeyTest, KeysAreTheOnesAccessWroteForTheSameValues) {
  const std::string unicode = kw::jet::test::JetFile("access-made/testUnicodeCompV2003.mdb");
  const std::string fixed = kw::jet::test::JetFile("access-made/fixedTextTestV2000.mdb");
  const std::vector<AccessCase> cases = {
      {"unicode", ColumnType::kText, std::string("only ascii chars")},
      {"unicode", ColumnType::kText, std::string("ääkkösiä")},
      {"unicode", ColumnType::kText, std::string("ümlaut")},
      {"unicode", ColumnType::kLong, int32_t{1}},
      {"fixed", ColumnType::kText, std::string("CORE USER")},
      {"fixed", ColumnType::kText, std::string("Admin User")},
      {"fixed", ColumnType::kText, std::string("N")},
      {"fixed", ColumnType::kText, std::string("-1")},
      {"fixed", ColumnType::kLong, int32_t{2}},
      {"fixed", ColumnType::kDateTime, MakeDateTime(2009, 11, 5, 23, 41, 28)},
      {"fixed", ColumnType::kDateTime, MakeDateTime(2009, 10, 22, 3, 57, 13)},
  };
  const std::set<Bytes> unicodeKeys = LeafKeys(unicode), fixedKeys = LeafKeys(fixed);
  for (const AccessCase& c : cases) {
    const Bytes key = Key(c.type, c.value);
    const std::set<Bytes>& keys = std::string(c.file) == "unicode" ? unicodeKeys : fixedKeys;
    std::string hex;
    for (uint8_t b : key) hex += " " + std::to_string(b);
    EXPECT_TRUE(keys.count(key)) << c.file << ": no entry of Access has our key" << hex;
  }
}

// Access's entry for a text of all printable ASCII holds, between the codes
// of the characters it treats apart, the same codes as our keys.
TEST(JetIndexKeyTest, PunctuationHasTheCodesOfAccessOwnEntry) {
  const std::vector<std::string> runs = {
      " !\"#$%&", "()*+,", "./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"};
  std::vector<Bytes> entries;
  for (const Bytes& p : Pages(kw::jet::test::JetFile("access-made/testUnicodeCompV2003.mdb")))
    if (p[0] == 0x04)
      for (const Bytes& e : EntriesOf(p)) entries.push_back(e);
  for (const std::string& run : runs) {
    const Bytes key = Key(ColumnType::kText, run);
    const Bytes inner(key.begin() + 1, key.end() - 2);  // without the flag and the ends of text
    bool found = false;
    for (const Bytes& e : entries) found = found || std::search(e.begin(), e.end(), inner.begin(), inner.end()) != e.end();
    EXPECT_TRUE(found) << run;
  }
}

struct OrderCase {
  ColumnType type;
  Value lower, higher;
};

TEST(JetIndexKeyTest, KeysSortAsTheValues) {
  const Value null;
  auto s = [](const char* t) { return Value(std::string(t)); };
  const std::vector<OrderCase> cases = {
      {ColumnType::kText, null, s("")},
      {ColumnType::kText, s(""), s("0")},
      {ColumnType::kText, s("9"), s("a")},
      {ColumnType::kText, s("a"), s("ab")},
      {ColumnType::kText, s("ab"), s("B")},
      {ColumnType::kText, s("Zug"), s("Zürich")},
      {ColumnType::kText, s("Muller"), s("Müller")},
      {ColumnType::kText, s("Müller"), s("Mullers")},
      {ColumnType::kText, s("a b"), s("ab")},
      {ColumnType::kText, s("St. Gallen"), s("St.Gallen")},
      {ColumnType::kText, s("coop"), s("co-op")},
      {ColumnType::kText, s("co-op"), s("cop")},
      {ColumnType::kText, s("MeierM\u00FCller"), s("Meier-M\u00FCller")},
      {ColumnType::kText, s("Meier-M\u00FCller"), s("Meier-M\u00FCller's")},
      {ColumnType::kText, s("Biel/Bienne"), s("Biel1")},
      {ColumnType::kLong, null, int32_t{-2147483647 - 1}},
      {ColumnType::kLong, int32_t{-1}, int32_t{0}},
      {ColumnType::kLong, int32_t{255}, int32_t{256}},
      {ColumnType::kLong, int32_t{2147483646}, int32_t{2147483647}},
      {ColumnType::kInteger, int32_t{-32768}, int32_t{-1}},
      {ColumnType::kDouble, Double{-2.5}, Double{-1.5}},
      {ColumnType::kDouble, Double{-1e-300}, Double{0}},
      {ColumnType::kDouble, Double{0.5}, Double{1e10}},
      {ColumnType::kDateTime, DateTime{-1.25}, DateTime{0}},
      {ColumnType::kDateTime, MakeDateTime(2005, 3, 1), MakeDateTime(2005, 3, 1, 0, 0, 1)},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_LT(Key(cases[i].type, cases[i].lower), Key(cases[i].type, cases[i].higher)) << "case " << i;
  // Case and trailing spaces do not count.
  EXPECT_EQ(Key(ColumnType::kText, s("Zürich")), Key(ColumnType::kText, s("ZÜRICH  ")));
}

TEST(JetIndexKeyTest, RefusesWhatItCannotOrder) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"5 €", "U+20AC"}, {"Øre", "U+00D8"}, {"a\tb", "U+0009"}, {"Stra\u00DFe", "U+00DF"}};
  for (const auto& [text, named] : cases) {
    try {
      Key(ColumnType::kText, text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(Key(ColumnType::kInteger, int32_t{40000}), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kLong, std::string("1")), std::invalid_argument);
  EXPECT_THROW(Key(ColumnType::kMemo, std::string("x")), std::invalid_argument);
}

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | p[2] << 8 | p[3];
}

// An index read back from its root: the leaf entries in the order of the
// tree, the number of levels, and what is wrong with the pages' links.
struct Tree {
  std::vector<Bytes> entries;
  int levels = 0;
  std::vector<std::string> faults;
};

void Walk(const std::vector<Bytes>& pages, uint32_t n, int depth, Tree& t, std::vector<uint32_t>& leaves) {
  const Bytes& p = pages.at(n);
  t.levels = std::max(t.levels, depth + 1);
  const std::vector<Bytes> entries = EntriesOf(p);
  if (p[0] == 0x04) {
    leaves.push_back(n);
    t.entries.insert(t.entries.end(), entries.begin(), entries.end());
    return;
  }
  if (p[0] != 0x03) {
    t.faults.push_back("page " + std::to_string(n) + " is no index page");
    return;
  }
  for (const Bytes& e : entries) {
    const uint32_t child = Be32(e.data() + e.size() - 4);
    const std::vector<Bytes> below = EntriesOf(pages.at(child));
    // The entry is its child's last entry (without a child pointer of its own).
    const Bytes& last = below.back();
    const size_t keep = pages.at(child)[0] == 0x04 ? last.size() : last.size() - 4;
    if (Bytes(e.begin(), e.end() - 4) != Bytes(last.begin(), last.begin() + static_cast<long>(keep)))
      t.faults.push_back("page " + std::to_string(n) + ": an entry differs from its child's last");
    Walk(pages, child, depth + 1, t, leaves);
  }
}

// The roots of the table's indexes, as its definition page lists them.
std::vector<uint32_t> Roots(const Bytes& tdef) {
  const uint32_t ncols = Le(tdef, 45, 2), nreal = Le(tdef, 51, 4);
  size_t at = 63 + 12 * nreal + 25 * ncols;
  for (uint32_t c = 0; c < ncols; ++c) at += 2 + Le(tdef, at, 2);
  std::vector<uint32_t> roots;
  for (uint32_t r = 0; r < nreal; ++r, at += 52) roots.push_back(Le(tdef, at + 38, 4));
  return roots;
}

Tree ReadTree(const std::vector<Bytes>& pages, uint32_t root) {
  Tree t;
  std::vector<uint32_t> leaves;
  Walk(pages, root, 0, t, leaves);
  for (size_t i = 0; i < leaves.size(); ++i) {
    const Bytes& p = pages[leaves[i]];
    if (Le(p, 12, 4) != (i > 0 ? leaves[i - 1] : 0) || Le(p, 16, 4) != (i + 1 < leaves.size() ? leaves[i + 1] : 0))
      t.faults.push_back("leaf " + std::to_string(leaves[i]) + " links to the wrong neighbours");
  }
  return t;
}

ColumnDef Col(const char* name, ColumnType type, int length = 0) { return ColumnDef{name, type, length, true, false}; }

TableDef Postal() {
  TableDef def{"PLZSTM",
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

  const std::vector<Bytes> pages = Pages(file_);
  const std::vector<uint32_t> roots = Roots(pages.at(10));
  ASSERT_EQ(roots.size(), 3u);
  for (size_t r = 0; r < roots.size(); ++r) {
    const Tree t = ReadTree(pages, roots[r]);
    EXPECT_EQ(t.faults, std::vector<std::string>{}) << "index " << r;
    EXPECT_GE(t.levels, 2) << "index " << r << " fits on one leaf; the test wants more";
    ASSERT_EQ(t.entries.size(), static_cast<size_t>(rows)) << "index " << r;
    for (size_t i = 1; i < t.entries.size(); ++i) ASSERT_LT(t.entries[i - 1], t.entries[i]) << "index " << r << " entry " << i;
  }
  // The primary key's entries point at the rows in the order they were added.
  const Tree pk = ReadTree(pages, roots[0]);
  for (int i = 0; i < rows; ++i) {
    const Bytes& e = pk.entries[static_cast<size_t>(i)];
    ASSERT_EQ(Bytes(e.begin(), e.end() - 4), Key(ColumnType::kLong, int32_t{i + 1})) << "entry " << i;
  }
}

TEST_F(JetIndexFileTest, AnIndexOfOneRowOrNoneIsOneLeaf) {
  for (int rows : {0, 1}) {
    Write(rows);
    const std::vector<Bytes> pages = Pages(file_);
    for (uint32_t root : Roots(pages.at(10))) {
      EXPECT_EQ(pages.at(root)[0], 0x04) << rows << " rows";
      EXPECT_EQ(ReadTree(pages, root).entries.size(), static_cast<size_t>(rows));
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
    IndexDef index;
    std::string message;
  };
  const std::vector<DefCase> defs = {
      {{"X", {"NICHTDA"}, false}, "table PLZSTM, index X: there is no column NICHTDA"},
      {{"X", {"NOTIZ"}, false}, "table PLZSTM, index X: the column NOTIZ is of a type this writer does not index"},
      {{"plz", {"ORT"}, false}, "table PLZSTM, index plz: the name is used twice"},
      {{"X", {"ORT", "ort"}, false}, "table PLZSTM, index X: the column ort is named twice"},
      {{"X", {}, false}, "table PLZSTM, index X: an index has 1 to 10 columns"},
      {{"Zweiter", {"ORT"}, true}, "table PLZSTM, index Zweiter: a table has one primary key at most"},
  };
  {
    JetWriter w(file_, kCreated);
    for (const DefCase& c : defs) {
      TableDef def = Postal();
      def.columns.push_back(ColumnDef{"NOTIZ", ColumnType::kMemo, 0, true, false});
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
  const std::vector<Bytes> pages = Pages(file_);
  for (uint32_t root : Roots(pages.at(10))) EXPECT_EQ(ReadTree(pages, root).entries.size(), 1u);

  // A primary key without an autonumber: no nulls, no value twice.
  TableDef keyed{"T", {Col("Code", ColumnType::kText, 10)}, false};
  keyed.indexes = {{"PrimaryKey", {"Code"}, true}};
  JetWriter w(file_, kCreated);
  const size_t id = w.AddTable(keyed);
  ExpectRefused([&] { w.AddRow(id, {std::monostate{}}); }, "table T, index PrimaryKey, column Code: a primary key takes no null");
  w.AddRow(id, {std::string("ab")});
  w.AddRow(id, {std::string("AB ")});  // the same key: case and trailing spaces do not count
  ExpectRefused([&] { w.Finish(); }, "table T, index PrimaryKey: the primary key holds a value twice");
}

}  // namespace
}  // namespace kw::jetw
