#include "platform/sqlite/sqlite_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/run_error.h"

namespace kw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr char kPass[] = "SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'";
constexpr char kFile[] = "D:\\Daten\\Public\\Public.mdb";

// Another program's connection to the same file.
class Peer {
 public:
  explicit Peer(const std::string& path, int busyMs = 0) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      throw std::runtime_error("cannot open " + path);
    }
    sqlite3_busy_timeout(db_, busyMs);
  }
  ~Peer() { sqlite3_close_v2(db_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  int TryExec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  void Exec(const std::string& sql) {
    if (TryExec(sql) != SQLITE_OK) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
  }
  // The first column of the first row, "NULL" for null, "" for none.
  std::string One(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    }
    std::string out;
    if (sqlite3_step(s) == SQLITE_ROW) {
      const auto* t = sqlite3_column_text(s, 0);
      out = t ? reinterpret_cast<const char*>(t) : "NULL";
    }
    sqlite3_finalize(s);
    return out;
  }
  sqlite3* db() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A Wine-like prefix whose drive D: is a temporary folder holding
// Daten\Public\Public.mdb with the postal-code table.
class SqliteEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kw_sqlite_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ + "/prefix/dosdevices");
    fs::create_directories(root_ + "/d/Daten/Public");
    fs::create_directory_symlink(root_ + "/d", root_ + "/prefix/dosdevices/d:");
    path_ = root_ + "/d/Daten/Public/Public.mdb";
    Peer p(path_);
    p.Exec(
        "CREATE TABLE PLZSTM (LAND TEXT, PLZ TEXT, ORT TEXT, TELVOR TEXT, NOTE);"
        "INSERT INTO PLZSTM VALUES"
        " ('CH', '8001', 'Zürich', '01', NULL),"       // 1: changes
        " ('CH', '8400', 'Winterthur', '052', NULL),"  // 2
        " ('CH', '8050', 'Oerlikon', '01', NULL),"     // 3: changes
        " ('DE', '10115', 'Berlin', '01', NULL),"      // 4: other country
        " ('CH', '8600', 'Dübendorf', '010', NULL),"   // 5: other code
        " ('CH', '8953', 'Dietikon', '01', NULL),"     // 6: changes
        " ('CH', '8700', 'Küsnacht', '044', NULL),"    // 7
        " ('CH', NULL, NULL, '01', 42)");              // 8: changes
  }
  void TearDown() override { fs::remove_all(root_); }

  SqliteEngineOptions Options() {
    SqliteEngineOptions o;
    o.busyTimeoutMs = 300;
    o.readColumns = {"PLZ", "ORT"};  // as the program sets it
    return o;
  }
  WinePaths Paths() { return WinePaths(root_ + "/prefix"); }

  // The replacement pass as the run makes it; returns the progress texts.
  std::vector<std::string> Pass(Database& db, const std::string& selection = kPass,
                                const std::string& column = "TELVOR") {
    std::vector<std::string> shown;
    auto rs = db.OpenRecordset(selection, 2);
    while (!rs->Eof()) {
      rs->Edit();
      rs->SetValue(column, std::string("044"));
      shown.push_back(rs->GetValue("PLZ").value_or("?") + " " + rs->GetValue("ORT").value_or("?"));
      rs->Update();
      rs->MoveNext();
    }
    rs->Close();
    return shown;
  }

  std::string Telvor(int rowid) {
    Peer p(path_);
    return p.One("SELECT TELVOR FROM PLZSTM WHERE rowid=" + std::to_string(rowid));
  }
  std::string Codes() {
    Peer p(path_);
    return p.One("SELECT group_concat(coalesce(TELVOR,'-'), ',') FROM PLZSTM");
  }
  std::string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const RunError& e) {
      return e.Description();
    }
    return "(no error)";
  }

  std::string root_;
  std::string path_;
};

// --- Opening ---------------------------------------------------------------

TEST_F(SqliteEngineTest, OpenFailuresNameTheFileAsGivenAndCreateNothing) {
  SqliteEngine engine(Paths(), Options());
  EXPECT_EQ(ErrorOf([&] { engine.OpenDatabase("D:\\Daten\\Public\\Nope.mdb", false, false); }),
            "Could not find file 'D:\\Daten\\Public\\Nope.mdb'.");
  EXPECT_FALSE(fs::exists(root_ + "/d/Daten/Public/Nope.mdb"));
  EXPECT_EQ(ErrorOf([&] { engine.OpenDatabase("Q:\\x.mdb", false, false); }),
            "Could not find file 'Q:\\x.mdb'.");

  std::ofstream(root_ + "/d/Daten/Text.mdb") << "Standard Jet DB, or so it says";
  EXPECT_EQ(ErrorOf([&] { engine.OpenDatabase("D:\\Daten\\Text.mdb", false, false); }),
            "Unrecognized database format 'D:\\Daten\\Text.mdb'.");

  std::ofstream(root_ + "/d/Daten/Empty.mdb").close();
  EXPECT_EQ(ErrorOf([&] { engine.OpenDatabase("D:\\Daten\\Empty.mdb", false, false); }),
            "Unrecognized database format 'D:\\Daten\\Empty.mdb'.");
  EXPECT_EQ(fs::file_size(root_ + "/d/Daten/Empty.mdb"), 0u);

  // A file cut short: its pages are missing when the rows are read.
  fs::copy_file(path_, root_ + "/d/Daten/Cut.mdb");
  Peer(root_ + "/d/Daten/Cut.mdb")
      .Exec(
          "CREATE TABLE BIG (X); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
          "WHERE i < 16) INSERT INTO BIG SELECT randomblob(1000) FROM n");
  fs::resize_file(root_ + "/d/Daten/Cut.mdb", 5000);
  EXPECT_THAT(ErrorOf([&] {
                auto rs = engine.OpenDatabase("D:\\Daten\\Cut.mdb", false, false)
                              ->OpenRecordset("SELECT * FROM BIG", 2);
                for (; !rs->Eof(); rs->MoveNext()) rs->GetValue("X");
              }),
              HasSubstr("'D:\\Daten\\Cut.mdb'"));

  EXPECT_THAT(ErrorOf([&] { engine.OpenDatabase("D:\\Daten", false, false); }),
              HasSubstr("cannot open the file 'D:\\Daten'"));
  EXPECT_THAT(ErrorOf([&] { engine.OpenDatabase(kFile, true, false); }),
              HasSubstr("'D:\\Daten\\Public\\Public.mdb'"));
}

TEST_F(SqliteEngineTest, FileHeldExclusivelyIsInUseWithinTheBusyTimeout) {
  Peer holder(path_);
  holder.Exec("BEGIN EXCLUSIVE");
  SqliteEngine engine(Paths(), Options());
  const auto start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { engine.OpenDatabase(kFile, false, false); }),
            "Could not use 'D:\\Daten\\Public\\Public.mdb'; file already in use.");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  holder.Exec("COMMIT");
  EXPECT_NO_THROW(engine.OpenDatabase(kFile, false, false));
}

// --- The pass --------------------------------------------------------------

TEST_F(SqliteEngineTest, PassChangesExactlyTheSwissRowsWithCode01) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  EXPECT_THAT(Pass(*db),
              ::testing::ElementsAre("8001 Zürich", "8050 Oerlikon", "8953 Dietikon", "? ?"));
  db->Close();
  EXPECT_EQ(Codes(), "044,052,044,01,010,044,044,044");
  // A second run finds nothing: the record set is at its end at once.
  // File, table and column names are matched without regard to case.
  db = engine.OpenDatabase("d:\\DATEN\\public\\PUBLIC.MDB", false, false);
  EXPECT_TRUE(Pass(*db, "select * from plzstm where Plzstm.land = 'CH' and telvor = '01'", "telvor")
                  .empty());
  EXPECT_EQ(Codes(), "044,052,044,01,010,044,044,044");
}

TEST_F(SqliteEngineTest, SelectionIsFixedAtOpenAndEachRowVisitedOnce) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  {
    Peer other(path_);
    other.Exec("UPDATE PLZSTM SET TELVOR='031' WHERE rowid=3");  // no longer matches
    other.Exec("INSERT INTO PLZSTM VALUES ('CH', '8002', 'Enge', '01', NULL)");  // matches now
  }
  std::vector<std::string> seen;
  while (!rs->Eof()) {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    rs->Update();
    seen.push_back(*rs->GetValue("TELVOR") + "/" + rs->GetValue("PLZ").value_or("-"));
    rs->MoveNext();
  }
  rs->Close();
  EXPECT_THAT(seen, ::testing::ElementsAre("044/8001", "044/8050", "044/8953", "044/-"));
  Peer p(path_);
  EXPECT_EQ(p.One("SELECT TELVOR FROM PLZSTM WHERE PLZ='8002'"), "01");
}

TEST_F(SqliteEngineTest, EditReadsTheRowAsItIsAndUpdateWritesOnlyTheChangedColumns) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  // Reading outside an edit holds no lock: the peer, which does not wait, can write after it.
  Peer other(path_);
  EXPECT_EQ(rs->GetValue("ORT"), "Zürich");
  other.Exec("UPDATE PLZSTM SET ORT='Zürich 1', NOTE='peer' WHERE rowid=1");
  rs->Edit();
  EXPECT_EQ(rs->GetValue("ORT"), "Zürich 1");
  rs->SetValue("TELVOR", std::string("044"));
  rs->Update();
  rs->MoveNext();
  // From Edit on the row is held: other writers wait until its group is committed.
  rs->Edit();
  EXPECT_EQ(other.TryExec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=3"), SQLITE_BUSY);
  rs->SetValue("NOTE", std::string("mine"));
  rs->Update();
  rs->Close();
  EXPECT_EQ(other.One("SELECT LAND||PLZ||ORT||TELVOR||NOTE FROM PLZSTM WHERE rowid=1"),
            "CH8001Zürich 1044peer");
  EXPECT_EQ(other.One("SELECT TELVOR||NOTE FROM PLZSTM WHERE rowid=3"), "01mine");
  other.Exec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=3");
}

TEST_F(SqliteEngineTest, ValuesAreTextOrNull) {
  Peer(path_).Exec(
      "UPDATE PLZSTM SET NOTE=1.5 WHERE rowid=1; UPDATE PLZSTM SET NOTE='' WHERE rowid=3");
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  EXPECT_EQ(rs->GetValue("NOTE"), "1.5");
  rs->MoveNext();
  EXPECT_EQ(rs->GetValue("NOTE"), "");
  rs->MoveNext();
  EXPECT_EQ(rs->GetValue("NOTE"), std::nullopt);
  rs->MoveNext();
  EXPECT_EQ(rs->GetValue("NOTE"), "42");
  EXPECT_EQ(rs->GetValue("PLZ"), std::nullopt);
  // Null goes back as null, and a value set is what is read while editing.
  rs->Edit();
  rs->SetValue("NOTE", std::nullopt);
  rs->SetValue("PLZ", std::string("8000"));
  EXPECT_EQ(rs->GetValue("NOTE"), std::nullopt);
  EXPECT_EQ(rs->GetValue("PLZ"), "8000");
  rs->Update();
  rs->Close();
  Peer p(path_);
  EXPECT_EQ(p.One("SELECT coalesce(NOTE,'null')||PLZ FROM PLZSTM WHERE rowid=8"), "null8000");
}

// --- Misuse and bad selections -------------------------------------------

TEST_F(SqliteEngineTest, OnlyOneReadingStatementOfTheSingleTableFormIsAccepted) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset("SELECT * FROM PLZSTM; DELETE FROM PLZSTM", 2); }),
              HasSubstr("Characters found after end of SQL statement."));
  EXPECT_THAT(ErrorOf([&] {
                db->OpenRecordset("SELECT * FROM PLZSTM WHERE LAND='CH';DROP TABLE PLZSTM;", 2);
              }),
              HasSubstr("Characters found after end of SQL statement."));
  const std::string withNul("SELECT * FROM PLZSTM WHERE LAND='CH'\0; DELETE FROM PLZSTM", 57);
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset(withNul, 2); }),
              HasSubstr("Characters found after end of SQL statement."));
  Peer p(path_);
  EXPECT_EQ(p.One("SELECT count(*) FROM PLZSTM"), "8");

  for (const char* bad :
       {"", "SELECT", "SELECT * FROM", "DELETE FROM PLZSTM", "SELECT PLZ FROM PLZSTM",
        "SELECT * FROM PLZSTM, PLZSTM", "SELECT * FROM PLZSTM ORDER BY PLZ",
        "SELECT * FROM \"PLZSTM", "SELECT * FROM [PLZSTM", "SELECT * FROM main.PLZSTM",
        "WITH x AS (SELECT 1) SELECT * FROM PLZSTM"}) {
    EXPECT_THAT(ErrorOf([&] { db->OpenRecordset(bad, 2); }), HasSubstr("Unsupported selection"))
        << bad;
  }
  // The condition reads this table's columns, nothing else, and cannot run away.
  for (const char* bad :
       {"SELECT * FROM PLZSTM WHERE EXISTS (WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL "
        "SELECT i + 1 FROM r) SELECT 1 FROM r WHERE i < 0)",
        "SELECT * FROM PLZSTM WHERE LAND IN (SELECT LAND FROM PLZSTM)",
        "SELECT * FROM PLZSTM WHERE length(zeroblob(900000000)) > 0",
        "SELECT * FROM PLZSTM WHERE LAND = (SELECT name FROM sqlite_schema)"}) {
    EXPECT_THAT(ErrorOf([&] { db->OpenRecordset(bad, 2); }),
                HasSubstr("may only compare the columns of table 'PLZSTM'"))
        << bad;
  }
  EXPECT_FALSE(db->OpenRecordset("SELECT * FROM PLZSTM WHERE upper(LAND) LIKE 'C%'", 2)->Eof());
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset("SELECT * FROM PLZSTM WHERE", 2); }),
              HasSubstr("Syntax error"));
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset("SELECT * FROM PLZSTM", 4); }),
              HasSubstr("only 2 (dynaset)"));
  EXPECT_EQ(p.One("SELECT count(*) FROM PLZSTM"), "8");

  // Blanks, comments and quoted names are fine.
  auto rs = db->OpenRecordset(
      "  select * from [PLZSTM] /* c */ where \"PLZSTM\".LAND = 'DE'; -- the end\n ", 2);
  EXPECT_EQ(rs->GetValue("ORT"), "Berlin");
}

TEST_F(SqliteEngineTest, OddTableAndColumnNamesWork) {
  Peer(path_).Exec(
      "CREATE TABLE \"Plz \"\"Stamm\"\"\" (ID INTEGER PRIMARY KEY, rowid TEXT, \"TEL VOR\" TEXT,"
      " LAND TEXT, PLZ TEXT, ORT TEXT);"
      "INSERT INTO \"Plz \"\"Stamm\"\"\" VALUES (7, 'r', '01', 'CH', '8001', 'Zürich'),"
      " (9, 's', '01', 'DE', '1', 'x')");
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  EXPECT_THAT(
      Pass(*db, "SELECT * FROM \"Plz \"\"Stamm\"\"\" WHERE LAND = 'CH' AND [TEL VOR] = '01'",
           "tel vor"),
      ::testing::ElementsAre("8001 Zürich"));
  Peer p(path_);
  EXPECT_EQ(
      p.One("SELECT group_concat(ID || rowid || \"TEL VOR\", ',') FROM \"Plz \"\"Stamm\"\"\""),
      "7r044,9s01");
}

TEST_F(SqliteEngineTest, ErrorsNameTheTableAndTheColumn) {
  Peer(path_).Exec(
      "CREATE TABLE NOROWID (K TEXT PRIMARY KEY, LAND TEXT) WITHOUT ROWID;"
      "CREATE VIEW PLZVIEW AS SELECT * FROM PLZSTM");
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset("SELECT * FROM ADRSTM", 2); }),
              HasSubstr("cannot find the input table or query 'ADRSTM'"));
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset("SELECT * FROM NOROWID", 2); }),
              HasSubstr("'NOROWID'"));
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset("SELECT * FROM PLZVIEW", 2); }),
              HasSubstr("'PLZVIEW'"));
  EXPECT_THAT(
      ErrorOf([&] { db->OpenRecordset("SELECT * FROM PLZSTM WHERE PLZSTM.TELX = '01'", 2); }),
      HasSubstr("'PLZSTM.TELX'"));
  auto rs = db->OpenRecordset(kPass, 2);
  EXPECT_EQ(ErrorOf([&] { rs->GetValue("TELX"); }), "Field 'TELX' not found in table 'PLZSTM'.");
  EXPECT_THAT(ErrorOf([&] { rs->Update(); }), HasSubstr("without AddNew or Edit"));
  EXPECT_THAT(ErrorOf([&] { rs->SetValue("TELVOR", std::string("044")); }),
              HasSubstr("without AddNew or Edit"));
  for (int i = 0; i < 4; ++i) rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_THAT(ErrorOf([&] { rs->Edit(); }), HasSubstr("No current record"));
  EXPECT_THAT(ErrorOf([&] { rs->MoveNext(); }), HasSubstr("No current record"));
  rs->Close();
  EXPECT_THAT(ErrorOf([&] { rs->Close(); }), HasSubstr("no longer set"));
  EXPECT_THAT(ErrorOf([&] { rs->Eof(); }), HasSubstr("no longer set"));
}

TEST_F(SqliteEngineTest, ReadOnlyDatabaseRefusesEdits) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, true);
  auto rs = db->OpenRecordset(kPass, 2);
  EXPECT_EQ(rs->GetValue("PLZ"), "8001");
  EXPECT_THAT(ErrorOf([&] { rs->Edit(); }), HasSubstr("read-only"));
  EXPECT_THAT(ErrorOf([&] { rs->SetValue("TELVOR", std::string("044")); }),
              HasSubstr("without AddNew or Edit"));
  EXPECT_THAT(ErrorOf([&] { rs->Update(); }), HasSubstr("without AddNew or Edit"));
  EXPECT_EQ(Telvor(1), "01");
}

// --- Saving ----------------------------------------------------------------

TEST_F(SqliteEngineTest, RowsSavedBeforeAnErrorStaySavedAndVisible) {
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 60000;  // only the error may commit
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  Peer(path_).Exec("DELETE FROM PLZSTM WHERE rowid=6");
  std::string error;
  int number = kErrGeneral;
  int saved = 0;
  bool editing = false;
  try {
    while (!rs->Eof()) {
      editing = true;
      rs->Edit();
      editing = false;
      rs->SetValue("TELVOR", std::string("044"));
      rs->Update();
      ++saved;
      rs->MoveNext();
    }
  } catch (const RunError& e) {
    error = e.Description();
    number = e.Number();
  }
  EXPECT_EQ(saved, 2);
  EXPECT_TRUE(editing) << "a row deleted by someone else fails at Edit";
  EXPECT_EQ(error, "Record is deleted. Table 'PLZSTM' in 'D:\\Daten\\Public\\Public.mdb'.");
  EXPECT_EQ(number, kErrRecordDeleted);
  // Seen by another connection while everything is still open.
  EXPECT_EQ(Telvor(1), "044");
  EXPECT_EQ(Telvor(3), "044");
  EXPECT_EQ(Telvor(8), "01");
}

TEST_F(SqliteEngineTest, GroupedRowsAreCommittedOnRequestCloseAndRelease) {
  // The record set outlives its database and the engine.
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 60000;
  auto engine = std::make_unique<SqliteEngine>(Paths(), o);
  auto db = engine->OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  auto saveOne = [&] {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    rs->Update();
    rs->MoveNext();
  };
  saveOne();
  EXPECT_EQ(Telvor(1), "01");  // held back for speed
  engine->CommitPending();
  EXPECT_EQ(Telvor(1), "044");

  saveOne();
  db->Close();  // closing the database commits; the record set goes on
  EXPECT_EQ(Telvor(3), "044");
  EXPECT_EQ(ErrorOf([&] { db->Close(); }), "Object invalid or no longer set.");
  EXPECT_THAT(ErrorOf([&] { db->OpenRecordset(kPass, 2); }), HasSubstr("no longer set"));
  saveOne();
  engine.reset();  // so does releasing the engine
  EXPECT_EQ(Telvor(6), "044");
  saveOne();
  rs.reset();  // and releasing the record set
  EXPECT_EQ(Codes(), "044,052,044,01,010,044,044,044");
}

// --- Rows held back for speed ---------------------------------------------

TEST_F(SqliteEngineTest, AGroupIsCommittedOnceItHasKeptOthersOutLongEnough) {
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 200;
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  rs->Update();
  rs->MoveNext();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  rs->Edit();  // commits the group of the row before first
  EXPECT_EQ(Telvor(1), "044");
  rs->SetValue("TELVOR", std::string("044"));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  rs->Update();  // and this one commits its own
  EXPECT_EQ(Telvor(3), "044");
  EXPECT_EQ(Peer(path_).TryExec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=2"), SQLITE_OK);
  rs->Close();
}

TEST_F(SqliteEngineTest, HeldBackRowsAreInTheTableBeforeAnythingElseReadsIt) {
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 60000;  // nothing is committed unless asked
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto all = db->OpenRecordset("SELECT * FROM PLZSTM", 2);
  auto pass = db->OpenRecordset(kPass, 2);
  const auto saveOne = [](Recordset& rs, const char* column, const std::string& value) {
    rs.Edit();
    rs.SetValue(column, value);
    rs.Update();
    rs.MoveNext();
  };
  saveOne(*pass, "TELVOR", "044");
  saveOne(*pass, "TELVOR", "044");
  // Another record set reads them, row by row and in its key set.
  EXPECT_EQ(all->GetValue("TELVOR"), "044");
  std::vector<std::string> seen;
  auto changed = db->OpenRecordset("SELECT * FROM PLZSTM WHERE TELVOR = '044'", 2);
  for (; !changed->Eof(); changed->MoveNext()) seen.push_back(*changed->GetValue("PLZ"));
  EXPECT_THAT(seen, ::testing::ElementsAre("8001", "8050", "8700"));
  // And the other way round.
  for (int row = 1; row <= 5; ++row) saveOne(*all, "NOTE", "all " + std::to_string(row));
  all->Edit();
  all->SetValue("NOTE", std::string("all 6"));
  all->Update();
  pass->Edit();
  EXPECT_EQ(pass->GetValue("NOTE"), "all 6");
  pass->SetValue("TELVOR", std::string("044"));
  pass->Update();

  EXPECT_EQ(Telvor(1), "01");  // still held back
  engine.CommitPending();
  Peer p(path_);
  EXPECT_EQ(p.One("SELECT group_concat(TELVOR || ':' || coalesce(NOTE, '-'), ',') FROM PLZSTM"),
            "044:all 1,052:all 2,044:all 3,01:all 4,010:all 5,044:all 6,044:-,01:42");
}

TEST_F(SqliteEngineTest, HeldBackRowsThatCannotBeSavedAreReportedAndCounted) {
  Peer(path_).Exec(
      "CREATE TRIGGER keep BEFORE UPDATE OF TELVOR ON PLZSTM WHEN old.PLZ = '8050' "
      "BEGIN SELECT RAISE(ABORT, 'Oerlikon keeps its code'); END");
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 60000;
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  const auto saveOne = [&] {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    rs->Update();
    rs->MoveNext();
  };
  saveOne();
  saveOne();  // held back, so the trigger has not run yet
  EXPECT_EQ(ErrorOf([&] { engine.CommitPending(); }),
            "Oerlikon keeps its code. Table 'PLZSTM' in 'D:\\Daten\\Public\\Public.mdb'. 1 "
            "updated row was not saved.");
  // The others of its batch are saved, and the pass goes on.
  EXPECT_EQ(Telvor(1), "044");
  EXPECT_EQ(Telvor(3), "01");
  saveOne();
  saveOne();
  rs->Close();
  EXPECT_EQ(Codes(), "044,052,01,01,010,044,044,044");
}

TEST_F(SqliteEngineTest, AnUpdateAfterItsGroupIsCommittedLooksForTheRowAgain) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  Peer other(path_);
  // The run commits before it deals with an error, possibly between Edit and Update.
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  engine.CommitPending();
  other.Exec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=1");
  rs->Update();
  rs->MoveNext();
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  engine.CommitPending();
  other.Exec("DELETE FROM PLZSTM WHERE rowid=3");
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }),
            "Record is deleted. Table 'PLZSTM' in 'D:\\Daten\\Public\\Public.mdb'.");
  rs->Close();
  EXPECT_EQ(other.One("SELECT TELVOR || NOTE FROM PLZSTM WHERE rowid=1"), "044peer");
}

TEST_F(SqliteEngineTest, RowsChangedUnalikeOrFarApartAreAllSaved) {
  Peer p(path_);
  p.Exec(
      "INSERT INTO PLZSTM (rowid, LAND, PLZ, ORT, TELVOR) VALUES"
      " (-9223372036854775808, 'CH', '1000', 'Lausanne', '01'),"
      " (9223372036854775807, 'CH', '9999', 'Ende', '01'),"
      " (4000000, 'CH', '4000', 'Basel', '01');"
      "CREATE INDEX PLZSTM_PLZ ON PLZSTM (PLZ)");
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 60000;
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  // Through the index the rows come in the order of their postal codes.
  auto rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE PLZ >= '1000' AND TELVOR = '01'", 2);
  std::vector<std::string> seen;
  for (; !rs->Eof(); rs->MoveNext()) {
    rs->Edit();
    const std::string plz = rs->GetValue("PLZ").value_or("-");
    seen.push_back(plz);
    rs->SetValue("TELVOR", "0" + plz);
    if (plz == "8953") rs->SetValue("NOTE", std::string("x"));
    rs->Update();
  }
  rs->Close();
  EXPECT_THAT(seen, ::testing::UnorderedElementsAre("1000", "8001", "8050", "10115", "8953", "4000",
                                                    "9999"));
  // All rows alike: they are saved together where they lie close.
  rs = db->OpenRecordset("SELECT * FROM PLZSTM", 2);
  for (; !rs->Eof(); rs->MoveNext()) {
    rs->Edit();
    rs->SetValue("ORT", std::string("Z"));
    rs->Update();
  }
  rs->Close();
  EXPECT_EQ(p.One("SELECT group_concat(PLZ || '=' || TELVOR || ORT || coalesce(NOTE, ''), ',') "
                  "FROM (SELECT * FROM PLZSTM ORDER BY rowid)"),
            "1000=01000Z,8001=08001Z,8400=052Z,8050=08050Z,10115=010115Z,8600=010Z,8953=08953Zx,"
            "8700=044Z,4000=04000Z,9999=09999Z");
  EXPECT_EQ(p.One("SELECT count(*) FROM PLZSTM WHERE ORT = 'Z'"), "11");
}

TEST_F(SqliteEngineTest, JournalModeOfTheFileIsKept) {
  Peer(path_).Exec("PRAGMA journal_mode=WAL");
  {
    SqliteEngine engine(Paths(), Options());
    auto db = engine.OpenDatabase(kFile, false, false);
    Pass(*db);
  }
  Peer p(path_);
  EXPECT_EQ(p.One("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(p.One("SELECT group_concat(TELVOR, ',') FROM PLZSTM"),
            "044,052,044,01,010,044,044,044");
}

// --- Sharing the file ------------------------------------------------------

TEST_F(SqliteEngineTest, LockedRowsFailAtEditWithinTheBusyTimeoutAfterSavingEarlierOnes) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  rs->Update();
  rs->MoveNext();
  engine.CommitPending();
  Peer holder(path_);
  holder.Exec("BEGIN IMMEDIATE; UPDATE PLZSTM SET NOTE='held' WHERE rowid=2");
  const auto start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { rs->Edit(); }),
            "Could not update; currently locked by another user. Table 'PLZSTM' in "
            "'D:\\Daten\\Public\\Public.mdb'.");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_THAT(ErrorOf([&] { rs->Update(); }), HasSubstr("without AddNew or Edit"));
  holder.Exec("COMMIT");
  // The same row, edited again once the lock is gone, goes through.
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  rs->Update();
  rs->Close();
  EXPECT_EQ(Telvor(1), "044");
  EXPECT_EQ(Telvor(3), "044");
}

// A busy handler that retries every millisecond, as an eager peer does.
int RetryEveryMillisecond(void* limitMs, int count) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return count < *static_cast<int*>(limitMs);
}

TEST_F(SqliteEngineTest, AFastPassLeavesOtherWritersTheirTurnBetweenGroups) {
  Peer(path_).Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150000) "
      "INSERT INTO PLZSTM SELECT 'CH', '8000', 'Z', '01', i FROM n");
  std::atomic<bool> passDone{false};
  std::atomic<bool> peerDone{false};
  std::string passError;
  std::thread pass([&] {
    try {
      SqliteEngineOptions o = Options();
      o.writerGapMs = 10;  // wide enough for a peer slowed down by a busy machine
      SqliteEngine engine(Paths(), o);
      auto db = engine.OpenDatabase(kFile, false, false);
      auto rs = db->OpenRecordset(kPass, 2);
      // Goes round again until the peer is through, so that the pass is
      // under way all the time the peer writes.
      while (!peerDone) {
        rs->Edit();
        rs->SetValue("TELVOR", std::string(rs->GetValue("TELVOR") == "01" ? "044" : "01"));
        rs->Update();
        rs->MoveNext();
        if (rs->Eof()) rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE NOTE > 0", 2);
      }
      rs->Close();
    } catch (const RunError& e) {
      passError = e.Description();
    }
    passDone = true;
  });
  Peer peer(path_);
  int limitMs = 2000;
  sqlite3_busy_handler(peer.db(), RetryEveryMillisecond, &limitMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (int i = 0; i < 3 && !passDone; ++i) {
    EXPECT_EQ(peer.TryExec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=2"), SQLITE_OK)
        << sqlite3_errmsg(peer.db());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  peerDone = true;
  pass.join();
  EXPECT_EQ(passError, "");
  EXPECT_EQ(peer.One("SELECT NOTE FROM PLZSTM WHERE rowid=2"), "peer");
}

TEST_F(SqliteEngineTest, ValuesKeptWithTheSelectionStandInForReadsOnlyWhileNobodyElseWrote) {
  Peer(path_).Exec("INSERT INTO PLZSTM VALUES ('CH', '', 'Zürich ' || hex(zeroblob(300)), '01', 1)");
  const std::vector<std::string> all = {"8001 Zürich", "8050 Oerlikon", "8953 Dietikon", "? ?",
                                        " Zürich " + std::string(600, '0')};
  struct Case {
    const char* name;
    std::function<void()> beforeFirstEdit;
    int keptValuesKiB;
    std::vector<std::string> shown;
    bool kept;  // every row from the kept values, else none
  };
  const std::vector<Case> cases = {
      {"nobody else writes", [] {}, 16 * 1024, all, true},
      {"another program writes first",
       [&] { Peer(path_).Exec("UPDATE PLZSTM SET ORT = 'Örlikon', NOTE = 1 WHERE rowid = 3"); },
       16 * 1024,
       {"8001 Zürich", "8050 Örlikon", "8953 Dietikon", "? ?", all[4]},
       false},
      {"no budget", [] {}, 0, all, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Peer(path_).Exec("UPDATE PLZSTM SET TELVOR = '01' WHERE TELVOR = '044' AND rowid <> 7;"
                     "UPDATE PLZSTM SET ORT = 'Oerlikon' WHERE rowid = 3");
    SqliteEngineOptions o = Options();
    o.keptValuesKiB = c.keptValuesKiB;
    SqliteEngine engine(Paths(), o);
    auto db = engine.OpenDatabase(kFile, false, false);
    auto rs = db->OpenRecordset(kPass, 2);
    c.beforeFirstEdit();
    std::vector<std::string> shown;
    for (; !rs->Eof(); rs->MoveNext()) {
      rs->Edit();
      rs->SetValue("TELVOR", std::string("044"));
      shown.push_back(rs->GetValue("PLZ").value_or("?") + " " + rs->GetValue("ORT").value_or("?"));
      rs->Update();
    }
    rs->Close();
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(engine.Stats().rowsKept > 0, c.kept);
    EXPECT_EQ(engine.Stats().rowsRead > 0, !c.kept);
    // A later selection after another program's writes reads them.
    Peer(path_).Exec("UPDATE PLZSTM SET TELVOR = '01' WHERE rowid IN (1, 3)");
    rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE TELVOR = '01' AND LAND = 'CH'", 2);
    shown.clear();
    for (; !rs->Eof(); rs->MoveNext()) {
      rs->Edit();
      shown.push_back(*rs->GetValue("ORT"));
      rs->SetValue("ORT", std::string("x"));
      rs->Update();
    }
    rs->Close();
    EXPECT_EQ(shown, (std::vector<std::string>{"Zürich", c.shown[1].substr(5)}));
    EXPECT_EQ(Peer(path_).One("SELECT group_concat(ORT) FROM PLZSTM WHERE rowid IN (1, 3)"),
              "x,x");
    Peer(path_).Exec("UPDATE PLZSTM SET ORT = 'Zürich' WHERE rowid = 1");
  }
}

TEST_F(SqliteEngineTest, ValuesKeptWithTheSelectionGiveWayToSavesOfTheSameProgram) {
  SqliteEngine engine(Paths(), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  Pass(*db);
  // The next selection keeps what the one before read.
  const char* kSwiss = "SELECT * FROM PLZSTM WHERE LAND = 'CH' AND PLZ > '8'";
  auto first = db->OpenRecordset(kSwiss, 2);
  auto second = db->OpenRecordset(kSwiss, 2);
  first->Edit();
  EXPECT_EQ(first->GetValue("ORT"), "Zürich");
  first->SetValue("ORT", std::string("Zürich 1"));
  first->Update();
  // A row saved through another record set is read again, not taken from
  // the values kept when the selection was made.
  second->Edit();
  EXPECT_EQ(second->GetValue("ORT"), "Zürich 1");
  second->SetValue("NOTE", std::string("2"));
  second->Update();
  first->Close();
  second->Close();
  EXPECT_EQ(Peer(path_).One("SELECT ORT || NOTE FROM PLZSTM WHERE rowid = 1"), "Zürich 12");
  EXPECT_GT(engine.Stats().rowsKept, 0);
}

TEST_F(SqliteEngineTest, ALongSelectionIsReadInSlicesWithTheSameRows) {
  Peer(path_).Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
      "INSERT INTO PLZSTM SELECT CASE i % 3 WHEN 0 THEN 'DE' ELSE 'CH' END, '8000', 'Z', "
      "CASE i % 2 WHEN 0 THEN '01' ELSE '031' END, i FROM n;"
      "CREATE INDEX PLZSTM_LAND ON PLZSTM (LAND)");
  const std::string expected =
      Peer(path_).One("SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR IN ('01', '044')");
  SqliteEngineOptions o = Options();
  o.scanSliceMs = 0;  // every few hundred rows a slice of its own
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  // A trailing comment and semicolon, and an index the selection could use,
  // do not change what is selected.
  for (const std::string& selection :
       {std::string(kPass), std::string(kPass) + " -- Zürich;", std::string(kPass) + ";"}) {
    SCOPED_TRACE(selection);
    Peer(path_).Exec("UPDATE PLZSTM SET TELVOR = '01' WHERE TELVOR = '044'");
    EXPECT_EQ(std::to_string(Pass(*db, selection).size()), expected);
    EXPECT_EQ(Peer(path_).One("SELECT count(*) FROM PLZSTM WHERE TELVOR = '01' AND LAND = 'CH'"),
              "0");
  }
  // Without a condition every row is selected, once.
  auto all = db->OpenRecordset("SELECT * FROM PLZSTM", 2);
  int rows = 0;
  for (; !all->Eof(); all->MoveNext()) ++rows;
  EXPECT_EQ(std::to_string(rows), Peer(path_).One("SELECT count(*) FROM PLZSTM"));
}

TEST_F(SqliteEngineTest, OtherWritersCommitWhileALongSelectionIsRead) {
  Peer(path_).Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600000) "
      "INSERT INTO PLZSTM SELECT 'CH', '8000', 'Z', '01', i FROM n");
  SqliteEngineOptions o = Options();
  o.scanSliceMs = 1;
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  std::atomic<bool> started{false};
  Clock::time_point opened;
  std::unique_ptr<Recordset> rs;
  std::thread open([&] {
    started = true;
    rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE PLZSTM.TELVOR = '01' AND PLZSTM.NOTE > 0", 2);
    opened = Clock::now();
  });
  while (!started) std::this_thread::yield();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Peer peer(path_);
  int limitMs = 5000;
  sqlite3_busy_handler(peer.db(), RetryEveryMillisecond, &limitMs);
  EXPECT_EQ(peer.TryExec("UPDATE PLZSTM SET NOTE = NOTE + 1 WHERE rowid = 9"), SQLITE_OK);
  const auto written = Clock::now();
  open.join();
  // Read in one go, the selection would hold the peer's commit back to its end.
  const double scan = std::chrono::duration<double>(opened - start).count();
  EXPECT_LT(std::chrono::duration<double>(written - start).count(), scan / 2)
      << "the selection took " << scan << " s";
  int rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) ++rows;
  EXPECT_EQ(rows, 600000 + 1);  // with the fixture's row 8
}

}  // namespace
}  // namespace kw
