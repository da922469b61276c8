// The independent readers themselves, on Jet files made elsewhere: both
// must be there, and both must read the same thing.
#include "tests/jet_readers.h"

#include <gtest/gtest.h>

namespace kw::jet_readers {
namespace {

fs::path Data(const char* name) { return fs::path(KW_TEST_DATA) / "jet" / name; }

class JetReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing = MissingReaders();
    ASSERT_TRUE(missing.empty()) << "missing: " << missing;
  }
};

TEST(JetReadersParseTest, ExportFieldsTellTextNumbersAndNullApart) {
  struct Case {
    std::string text;
    size_t columns;
    std::vector<Row> rows;
  };
  const std::vector<Case> cases = {
      {"1,\"a\",\n", 3, {{"1", "a", std::nullopt}}},
      {"\"\",2\n", 2, {{"", "2"}}},
      {"\"x\"\"y\",\"b\\\\s\"\n", 2, {{"x\"y", "b\\s"}}},
      {"\"l1\\nl2\\tt\\r\"\n\"2\"\n", 1, {{"l1\nl2\tt\r"}, {"2"}}},
      {"\"a,b\",-3.5000\n", 2, {{"a,b", "-3.5000"}}},
      {"", 2, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseExport(c.text, c.columns), c.rows) << c.text;
}

TEST(JetReadersParseTest, ExportOutputOfAnotherShapeIsAnError) {
  for (const char* text : {"1\n", "\"open\n", "\"a\"b\n", "1,2,3\n", "1,"})
    EXPECT_THROW(ParseExport(text, 2), std::runtime_error) << text;
}

TEST_F(JetReadersTest, VersionAndTablesOfJackcessFiles) {
  EXPECT_EQ(MdbVersion(Data("Public.mdb")), "JET4");
  EXPECT_EQ(MdbVersion(Data("NoltData.mdb")), "JET4");
  EXPECT_EQ(MdbTables(Data("Public.mdb")), std::vector<std::string>{"PLZSTM"});
  EXPECT_EQ(MdbTables(Data("NoltData.mdb")), std::vector<std::string>{"ADRSTM"});
  auto system = MdbTables(Data("Public.mdb"), true);
  EXPECT_NE(std::find(system.begin(), system.end(), "MSysObjects"), system.end());
}

TEST_F(JetReadersTest, SchemaNamesColumnsTypesAndIndexes) {
  auto tables = MdbSchema(Data("Public.mdb"));
  ASSERT_EQ(tables.size(), 1u);
  const Schema& s = tables[0];
  EXPECT_EQ(s.name, "PLZSTM");
  std::vector<std::pair<std::string, std::string>> columns;
  for (const auto& c : s.columns) columns.emplace_back(c.name, c.type);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"PLZNR", "Long Integer"}, {"PLZ", "Text (10)"},   {"ORT", "Text (40)"},
      {"LAND", "Text (3)"},      {"TELVOR", "Text (5)"}, {"KANTON", "Text (2)"},
      {"EINWOHNER", "Long Integer"}, {"BEMERKUNG", "Memo/Hyperlink (255)"}};
  EXPECT_EQ(columns, expected);
  EXPECT_EQ(s.columns[1].size, 10);
  ASSERT_EQ(s.indexes.size(), 2u);
  EXPECT_EQ(s.indexes[0].name, "PRIMARY KEY");
  EXPECT_EQ(s.indexes[0].columns, std::vector<std::string>{"PLZNR"});
  EXPECT_EQ(s.indexes[1].name, "PLZ");
  EXPECT_EQ(s.indexes[1].columns, std::vector<std::string>{"PLZ"});

  auto nolt = MdbSchema(Data("NoltData.mdb"));
  ASSERT_EQ(nolt.size(), 1u);
  ASSERT_EQ(nolt[0].indexes.size(), 2u);
  EXPECT_EQ(nolt[0].indexes[1].columns, (std::vector<std::string>{"NAME", "VORNAME"}));
}

TEST_F(JetReadersTest, BothReadersReadEveryRowAlike) {
  for (const char* name : {"Public.mdb", "NoltData.mdb"}) {
    auto node = NodeRead(Data(name));
    ASSERT_EQ(node.size(), 1u) << name;
    Table mdb = MdbExport(Data(name), node[0].name);
    ASSERT_EQ(node[0].rows.size(), 3000u) << name;
    ASSERT_EQ(mdb.columns.size(), node[0].columns.size()) << name;
    for (size_t c = 0; c < mdb.columns.size(); ++c) EXPECT_EQ(mdb.columns[c].name, node[0].columns[c].name);
    ASSERT_EQ(mdb.rows.size(), node[0].rows.size()) << name;
    auto expected = EmptyTextAsNull(node[0].rows);
    for (size_t r = 0; r < mdb.rows.size(); ++r) ASSERT_EQ(FirstDifference(mdb.rows[r], expected[r]), "") << name << " row " << r;
  }
}

TEST_F(JetReadersTest, ValuesComeAsTextInOneForm) {
  auto node = NodeRead(Data("Public.mdb"));
  const Row first = {"1", "1111", "L'Abbaye", "CH", "01", "ZH", "122787", std::nullopt};
  EXPECT_EQ(node[0].rows[0], first);
  EXPECT_EQ(MdbExport(Data("Public.mdb"), "PLZSTM").rows[0], first);
  bool euro = false;
  size_t longest_memo = 0;
  for (const auto& r : node[0].rows) {
    if (r[2] && r[2]->find("\xE2\x82\xAC") != std::string::npos) euro = true;
    if (r[7]) longest_memo = std::max(longest_memo, r[7]->size());
  }
  EXPECT_TRUE(euro);
  EXPECT_GT(longest_memo, 2000u);

  auto adr = NodeRead(Data("NoltData.mdb"))[0];
  ASSERT_EQ(adr.columns[13].name, "EINTRITT");
  ASSERT_TRUE(adr.rows[0][13].has_value());
  EXPECT_EQ(adr.rows[0][13]->size(), 19u);  // YYYY-MM-DD HH:MM:SS
  EXPECT_EQ(adr.rows[0][14]->find('.') + 5, adr.rows[0][14]->size());  // currency: four decimals
  EXPECT_TRUE(*adr.rows[0][15] == "0" || *adr.rows[0][15] == "1");
}

}  // namespace
}  // namespace kw::jet_readers
