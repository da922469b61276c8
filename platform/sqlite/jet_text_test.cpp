#include "platform/sqlite/jet_text.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/run_error.h"
#include "platform/sqlite/sqlite_engine.h"

namespace kw {
namespace {

namespace fs = std::filesystem;

TEST(CompareTextAsJet, EveryTextLiteralAndNothingElseComparesAsJet) {
  const struct {
    const char* condition;
    const char* expected;
  } cases[] = {
      {"PLZSTM.LAND = 'CH'", "PLZSTM.LAND = 'CH' COLLATE kw_jet"},
      {"LAND='CH'AND TELVOR='01'", "LAND='CH' COLLATE kw_jet AND TELVOR='01' COLLATE kw_jet"},
      {"ORT = 'l''Abbaye'", "ORT = 'l''Abbaye' COLLATE kw_jet"},
      {"'CH' = LAND", "'CH' COLLATE kw_jet = LAND"},
      // Names, comments and blobs stay as they are.
      {"\"it's\" = 1 AND [a'b] = `c'd`", "\"it's\" = 1 AND [a'b] = `c'd`"},
      {"A = 1 -- it's\n", "A = 1 -- it's\n"},
      {"A = 1 /* 'x' */", "A = 1 /* 'x' */"},
      {"B = x'41' OR B = X'42'", "B = x'41' OR B = X'42'"},
      {"max'a'", "max'a' COLLATE kw_jet"},
      // A collation the user names stays the user's.
      {"A = B COLLATE 'NOCASE'", "A = B COLLATE 'NOCASE'"},
      {"A = B collate /* c */ 'rtrim'", "A = B collate /* c */ 'rtrim'"},
      // An unclosed literal is left for SQLite to refuse.
      {"A = 'open", "A = 'open"},
      {"A = 'open''", "A = 'open''"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareTextAsJet(c.condition), c.expected) << c.condition;
  }
}

// A database with one table whose LAND column holds the given texts, and
// the row ids the engine selects with a condition.
class JetComparisonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kw_jet_text.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ + "/prefix/dosdevices");
    fs::create_directories(root_ + "/d");
    fs::create_directory_symlink(root_ + "/d", root_ + "/prefix/dosdevices/d:");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "/d/Public.mdb").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE PLZSTM (LAND TEXT, ORT TEXT, TELVOR TEXT);"
                           "CREATE INDEX land ON PLZSTM (LAND);"
                           "INSERT INTO PLZSTM VALUES ('CH', 'Zürich', '01'), ('ch', 'ZÜRICH', '01'),"
                           " ('Ch', 'zürich', '01'), ('CH ', 'ZURICH', '01'), (' CH', 'Zuerich', '01'),"
                           " ('DE', 'ŠTÚROVO', '01'), (NULL, 'œuvre', '01'), ('cH', 'Zürich', '1')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Selected(const std::string& condition) {
    SqliteEngine engine(WinePaths(root_ + "/prefix"));
    auto db = engine.OpenDatabase("D:\\Public.mdb", false, false);
    auto rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE " + condition, 2);
    std::string out;
    while (!rs->Eof()) {
      out += (out.empty() ? "" : ",") + rs->GetValue("ORT").value_or("NULL");
      rs->MoveNext();
    }
    rs->Close();
    return out;
  }

  std::string root_;
};

TEST_F(JetComparisonTest, CaseIsNotRegardedButBlanksAre) {
  EXPECT_EQ(Selected("PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'"), "Zürich,ZÜRICH,zürich");
  EXPECT_EQ(Selected("LAND = 'ch'"), "Zürich,ZÜRICH,zürich,Zürich");
  EXPECT_EQ(Selected("'cH' = LAND AND TELVOR = '1'"), "Zürich");
  EXPECT_EQ(Selected("LAND <> 'CH'"), "ZURICH,Zuerich,ŠTÚROVO");
}

TEST_F(JetComparisonTest, TheLettersOfWindows1252FoldToo) {
  EXPECT_EQ(Selected("ORT = 'zürich'"), "Zürich,ZÜRICH,zürich,Zürich");
  EXPECT_EQ(Selected("ORT = 'štúrovo'"), "ŠTÚROVO");
  EXPECT_EQ(Selected("ORT = 'ŒUVRE'"), "œuvre");
  EXPECT_EQ(Selected("ORT = 'zurich'"), "ZURICH");
}

TEST_F(JetComparisonTest, NamesInQuotesAndCollationsOfTheUserAreKept) {
  EXPECT_EQ(Selected("\"LAND\" = 'ch' AND [TELVOR] = '1'"), "Zürich");
  EXPECT_EQ(Selected("LAND = 'ch' COLLATE BINARY"), "ZÜRICH");
}

TEST_F(JetComparisonTest, TheGuardStillRefusesWhatItRefused) {
  for (const char* condition :
       {"LAND IN (SELECT name FROM sqlite_schema)", "LAND = 'CH' COLLATE kw_jet; DELETE FROM PLZSTM",
        "LAND = hex(randomblob(9))"}) {
    EXPECT_THROW(Selected(condition), RunError) << condition;
  }
}

}  // namespace
}  // namespace kw
