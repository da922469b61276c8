// Files made by the writer, read back by two independent readers.
#include "tools/jet/jet_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/jet/file_kind.h"
#include "platform/jet/format/definition_page.h"
#include "tests/jet_readers.h"
#include "tools/jet/jet_header.h"
#include "tools/jet/jet_pages.h"

namespace kw::jetw {
namespace {

namespace jr = kw::jet_readers;
using jr::Row;

class JetWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing = jr::MissingReaders();
    ASSERT_TRUE(missing.empty()) << "missing: " << missing;
    char tmpl[] = "/tmp/kw_jetwriter_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string File(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

const DateTime kCreated = MakeDateTime(2024, 5, 1, 12, 30, 0);

ColumnSchema Col(const char* name, ColumnType type, int length = 0, bool compressed = false) {
  return ColumnSchema{name, type, length, compressed, false};
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Every column type the writer offers, each value with the text that both
// readers must give for it.
struct TypedCase {
  RowValues values;
  Row expected;
};

TableSchema EveryType() {
  TableSchema t{"Alles", {}, false};
  t.columns = {{"Nr", ColumnType::kLong, 0, false, true},
               Col("Kurz", ColumnType::kText, 10, true),
               Col("Plain", ColumnType::kText, 50, false),
               Col("Zahl", ColumnType::kLong),
               Col("Klein", ColumnType::kInteger),
               Col("Byte", ColumnType::kByte),
               Col("Datum", ColumnType::kDateTime),
               Col("Betrag", ColumnType::kCurrency),
               Col("Wert", ColumnType::kDouble),
               Col("Aktiv", ColumnType::kBoolean),
               Col("Notiz", ColumnType::kMemo, 0, false),
               Col("NotizC", ColumnType::kMemo, 0, true)};
  return t;
}

std::vector<TypedCase> EveryTypeCases() {
  const std::string umlauts = "Zürich Genève Überlingen";
  const std::string euro = "Preis 5 € «netto»";
  const std::string odd = "a\"b\\c,d\ne\tf'g";
  const std::string memo1000 = Repeat("Bemerkung ", 100);        // one long-value page
  const std::string memo20k = Repeat("lang und länger ", 1300);  // a chain of pages
  const std::string memoEuro = Repeat("€", 3000);
  auto v = [](const std::string& s) { return Value(s); };
  auto t = [](const std::string& s) { return jr::Value(s); };
  const jr::Value null;
  return {
      {{std::monostate{}, v("8000"), v("01"), int32_t{0}, int32_t{-32768}, int32_t{0},
        MakeDateTime(2001, 2, 3, 4, 5, 6), Currency{-500}, Double{2.5}, true, v("kurz"), v("kurz")},
       {t("1"), t("8000"), t("01"), t("0"), t("-32768"), t("0"), t("2001-02-03 04:05:06"), t("-0.0500"),
        t("2.5"), t("1"), t("kurz"), t("kurz")}},
      {{std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
        std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, false, std::monostate{},
        std::monostate{}},
       {t("2"), null, null, null, null, null, null, null, null, t("0"), null, null}},
      {{std::monostate{}, v("€uro"), v(umlauts), int32_t{2147483647}, int32_t{32767}, int32_t{255},
        MakeDateTime(1900, 1, 1), Currency{9223372036854775807LL}, Double{-1e-3}, true, v(memo1000),
        v(memo1000)},
       {t("3"), t("€uro"), t(umlauts), t("2147483647"), t("32767"), t("255"), t("1900-01-01 00:00:00"),
        t("922337203685477.5807"), t("-0.001"), t("1"), t(memo1000), t(memo1000)}},
      {{int32_t{10}, v("0123456789"), v(euro), int32_t{-2147483647 - 1}, int32_t{1}, int32_t{1},
        MakeDateTime(2099, 12, 31, 23, 59, 59), Currency{123400}, Double{444.555}, false, v(memo20k),
        v(memoEuro)},
       {t("10"), t("0123456789"), t(euro), t("-2147483648"), t("1"), t("1"), t("2099-12-31 23:59:59"),
        t("12.3400"), t("444.555"), t("0"), t(memo20k), t(memoEuro)}},
      {{std::monostate{}, v(""), v(odd), int32_t{7}, int32_t{7}, int32_t{7}, MakeDateTime(2024, 2, 29, 12),
        Currency{1}, Double{0}, true, v(""), v(Repeat("ab", 600))},
       {t("11"), t(""), t(odd), t("7"), t("7"), t("7"), t("2024-02-29 12:00:00"), t("0.0001"), t("0"),
        t("1"), t(""), t(Repeat("ab", 600))}},
  };
}

TEST_F(JetWriterTest, EveryColumnTypeReadsBackInBothReaders) {
  const std::string file = File("types.mdb");
  auto cases = EveryTypeCases();
  {
    JetWriter w(file, kCreated);
    size_t id = w.AddTable(EveryType());
    for (const auto& c : cases) w.AddRow(id, c.values);
    w.Finish();
  }
  std::vector<Row> expected;
  for (const auto& c : cases) expected.push_back(c.expected);

  auto node = jr::NodeRead(file);
  ASSERT_EQ(node.size(), 1u);
  EXPECT_EQ(node[0].name, "Alles");
  ASSERT_EQ(node[0].rows.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) EXPECT_EQ(jr::FirstDifference(node[0].rows[r], expected[r]), "") << "mdb-reader row " << r;

  auto mdb = jr::MdbExport(file, "Alles");
  auto expectedMdb = jr::EmptyTextAsNull(expected);
  ASSERT_EQ(mdb.rows.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) EXPECT_EQ(jr::FirstDifference(mdb.rows[r], expectedMdb[r]), "") << "mdb-export row " << r;
}

TEST_F(JetWriterTest, ToolsSeeAJet4FileWithItsTablesAndColumns) {
  const std::string file = File("schema.mdb");
  {
    JetWriter w(file, kCreated);
    w.AddTable(EveryType());
    TableSchema second{"Zweite", {Col("Name", ColumnType::kText, 255, true)}, false};
    w.AddRow(w.AddTable(second), {std::string("x")});
    w.Finish();
  }
  EXPECT_EQ(jr::MdbVersion(file), "JET4");
  EXPECT_EQ(jr::MdbTables(file), (std::vector<std::string>{"Alles", "Zweite"}));
  EXPECT_EQ(jr::MdbTables(file, true), (std::vector<std::string>{"MSysObjects", "MSysACEs", "MSysQueries",
                                                                 "MSysRelationships", "Alles", "Zweite"}));
  auto schema = jr::MdbSchema(file);
  ASSERT_EQ(schema.size(), 2u);
  std::vector<std::string> types;
  for (const auto& c : schema[0].columns) types.push_back(c.name + " " + c.type);
  EXPECT_EQ(types, (std::vector<std::string>{"Nr Long Integer", "Kurz Text (10)", "Plain Text (50)",
                                             "Zahl Long Integer", "Klein Integer", "Byte Byte",
                                             "Datum DateTime", "Betrag Currency", "Wert Double",
                                             "Aktiv Boolean NOT NULL", "Notiz Memo/Hyperlink (255)",
                                             "NotizC Memo/Hyperlink (255)"}));
  EXPECT_TRUE(schema[0].indexes.empty());
  EXPECT_EQ(schema[1].columns[0].type, "Text (255)");

  auto node = jr::NodeRead(file);
  ASSERT_EQ(node.size(), 2u);
  std::vector<std::string> nodeTypes;
  for (const auto& c : node[0].columns) nodeTypes.push_back(c.type + "/" + std::to_string(c.size));
  EXPECT_EQ(nodeTypes, (std::vector<std::string>{"long/4", "text/20", "text/100", "long/4", "integer/2",
                                                 "byte/1", "datetime/8", "currency/8", "double/8",
                                                 "boolean/0", "memo/0", "memo/0"}));
  EXPECT_TRUE(node[0].rows.empty());
}

// The pages of a table as they lie in the file: free space and rows of each
// data page owned by the table definition at `owner`.
std::vector<std::pair<int, int>> DataPages(const std::string& file, uint32_t owner) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::pair<int, int>> pages;
  kw::jet::PageBytes page;
  while (in.read(reinterpret_cast<char*>(page.data()), static_cast<long>(page.size()))) {
    if (page[kw::jet::kPageTypeAt] == kw::jet::kDataPageType && kw::jet::OwnerOf(page) == owner)
      pages.emplace_back(kw::jet::Get16(&page[kw::jet::data_page::kFreeSpace]), kw::jet::RowCountOf(page));
  }
  return pages;
}

TEST_F(JetWriterTest, ManyPagesArePackedFullAndReadInOrder) {
  const std::string file = File("many.mdb");
  TableSchema def{"PLZSTM",
               {{"PLZNR", ColumnType::kLong, 0, false, true}, Col("PLZ", ColumnType::kText, 10, true),
                Col("ORT", ColumnType::kText, 40, true), Col("TELVOR", ColumnType::kText, 5, true),
                Col("BEMERKUNG", ColumnType::kMemo)},
               false};
  const int rows = 6000;
  std::vector<Row> expected;
  {
    JetWriter w(file, kCreated);
    size_t id = w.AddTable(def);
    for (int i = 0; i < rows; ++i) {
      std::string ort = Repeat("Ort", static_cast<size_t>(i % 13));
      // Every tenth row has a memo of its own page, so the table's pages
      // spread over more than one slice of the inline usage map.
      Value memo = i % 10 == 0 ? Value(Repeat("m", 2500)) : Value();
      w.AddRow(id, {std::monostate{}, std::to_string(1000 + i), ort, std::string(i % 2 ? "01" : "044"), memo});
      expected.push_back({std::to_string(i + 1), std::to_string(1000 + i), ort.empty() ? jr::Value("") : ort,
                          i % 2 ? "01" : "044", i % 10 == 0 ? jr::Value(Repeat("m", 2500)) : jr::Value()});
    }
    w.Finish();
  }
  // The table's definition is the first page after the system tables' pairs.
  auto pages = DataPages(file, 10);
  ASSERT_GT(pages.size(), 50u);
  int counted = 0;
  for (size_t p = 0; p < pages.size(); ++p) {
    counted += pages[p].second;
    // A row here takes at most 2 + 2 + 4 + (2 + 10 * 1) + (2 + 38) + (2 + 4) + 2 + 12 + 2 + 1 bytes.
    if (p + 1 < pages.size()) {
      EXPECT_LT(pages[p].first, 90) << "page " << p << " left half empty";
    }
  }
  EXPECT_EQ(counted, rows);

  auto node = jr::NodeRead(file);
  ASSERT_EQ(node[0].rows.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) ASSERT_EQ(jr::FirstDifference(node[0].rows[r], expected[r]), "") << "mdb-reader row " << r;
  auto mdb = jr::MdbExport(file, "PLZSTM");
  auto expectedMdb = jr::EmptyTextAsNull(expected);
  ASSERT_EQ(mdb.rows.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) ASSERT_EQ(jr::FirstDifference(mdb.rows[r], expectedMdb[r]), "") << "mdb-export row " << r;
}

TEST(JetWriterHeaderTest, DefinitionPageUnmasksToJet4WithoutPassword) {
  namespace dp = kw::jet::definition_page;
  Bytes page = DatabaseDefinitionPage(kCreated);
  // As the engine reads a file's first page.
  EXPECT_EQ(kw::jet::KindOf(page), kw::jet::FileKind::kJet4);
  EXPECT_EQ(kw::jet::LockedReason(page), "");
  kw::jet::ToggleDefinitionMask(page);
  EXPECT_EQ(kw::jet::Get16(&page[dp::kCodePage]), 1252);
  EXPECT_EQ(kw::jet::Get16(&page[dp::kSortOrder]), kw::jet::kGeneralSortOrder);
  EXPECT_EQ(kw::jet::Get32(&page[dp::kEncodingKey]), 0u);
  double date;
  std::memcpy(&date, page.data() + dp::kCreated, 8);
  EXPECT_EQ(date, kCreated.days);
  // The password field holds the date's mask alone: an empty password.
  const auto days = static_cast<uint32_t>(static_cast<int32_t>(kCreated.days));
  for (size_t off = 0; off < dp::kPasswordLength; off += 4)
    EXPECT_EQ(kw::jet::Get32(&page[dp::kPassword + off]), days);
}

TEST(JetWriterErrorsTest, BadValuesAndDefinitionsNameTableAndColumn) {
  const std::string file = "/tmp/kw_jetwriter_errors_" + std::to_string(getpid()) + ".mdb";
  struct Case {
    RowValues values;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{std::monostate{}, std::string("12345678901")}, "table T, column Kurz: the text has 11 characters"},
      {{std::monostate{}, int32_t{5}}, "table T, column Kurz: expects text"},
      {{std::string("x"), std::monostate{}}, "table T, column Nr: expects a whole number"},
      {{std::monostate{}, std::string("\xC3")}, "table T, column Kurz: malformed UTF-8"},
      {{std::monostate{}}, "table T: a row has 2 values, not 1"},
  };
  {
    JetWriter w(file, kCreated);
    size_t id = w.AddTable({"T", {{"Nr", ColumnType::kLong, 0, false, true}, Col("Kurz", ColumnType::kText, 10)}});
    for (const auto& c : cases) {
      try {
        w.AddRow(id, c.values);
        ADD_FAILURE() << "accepted: " << c.message;
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      }
    }
    w.AddRow(id, {int32_t{5}, std::monostate{}});
    EXPECT_THROW(w.AddRow(id, {int32_t{5}, std::monostate{}}), std::invalid_argument);  // autonumbers grow
    EXPECT_THROW(w.AddTable({"t", {Col("A", ColumnType::kLong)}}), std::invalid_argument);
    EXPECT_THROW(w.AddTable({"U", {Col("A", ColumnType::kText, 256)}}), std::invalid_argument);
    EXPECT_THROW(w.AddTable({"V", {Col("A", ColumnType::kLong), Col("a", ColumnType::kLong)}}),
                 std::invalid_argument);
    EXPECT_TRUE(std::filesystem::exists(file));
  }
  EXPECT_FALSE(std::filesystem::exists(file)) << "an unfinished file stays behind";
  EXPECT_THROW(JetWriter("/nonexistent-dir/x.mdb", kCreated), std::runtime_error);
}

}  // namespace
}  // namespace kw::jetw
