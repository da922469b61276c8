#include "platform/sqlite/sqlite_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/sqlite/sqlite_test_support.h"

namespace kw::sqlite_test {
namespace {

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
  FakeClock clock;
  SqliteEngine engine(Paths(), clock, Options());
  const double start = clock.now;
  EXPECT_EQ(ErrorOf([&] { engine.OpenDatabase(kFile, false, false); }),
            "Could not use 'D:\\Daten\\Public\\Public.mdb'; file already in use.");
  // Waited by the clock, a millisecond at a time: each of the two reads of
  // the file that opening makes waits the busy timeout (300 ms).
  EXPECT_NEAR(clock.now - start, 0.6, 0.003);
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

}  // namespace
}  // namespace kw::sqlite_test
