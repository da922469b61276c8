// Saving rows: at once, held back for speed, and in write groups.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/sqlite/sqlite_test_support.h"

namespace kw::sqlite_test {
namespace {

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
  FakeClock clock;
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 200;
  SqliteEngine engine(Paths(), clock, o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  rs->Update();
  rs->MoveNext();
  clock.now += 0.25;
  rs->Edit();  // commits the group of the row before first
  EXPECT_EQ(Telvor(1), "044");
  rs->SetValue("TELVOR", std::string("044"));
  clock.now += 0.25;
  rs->Update();  // and this one commits its own
  EXPECT_EQ(Telvor(3), "044");
  EXPECT_EQ(Peer(path_).TryExec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=2"), SQLITE_OK);
  rs->Close();
}

// Before its first commit a connection takes a commit to last a quarter of
// the interval; afterwards as long as the last one took (no time on this
// clock). After each commit the next group waits out the writer gap.
TEST_F(SqliteEngineTest, GroupsLastTheIntervalWithTheirCommitAndAreSeparatedByTheGap) {
  FakeClock clock;
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 80;
  o.writerGapMs = 5;
  SqliteEngine engine(Paths(), clock, o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  Peer peer(path_);
  const auto editAndSave = [&] {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    rs->Update();
    rs->MoveNext();
  };
  const auto othersMayWrite = [&] {
    return peer.TryExec("UPDATE PLZSTM SET NOTE='peer' WHERE rowid=2") == SQLITE_OK;
  };
  editAndSave();  // row 1 opens the first group
  clock.now += 0.059;
  editAndSave();  // row 3 joins it: 59 ms + 20 ms are not yet 80 ms; 61 ms would be
  EXPECT_FALSE(othersMayWrite());
  EXPECT_EQ(clock.pauses, 0);
  clock.now += 0.002;
  const double committed = clock.now;
  editAndSave();  // row 6: the first group is committed, the gap waited out
  EXPECT_EQ(Telvor(3), "044");
  EXPECT_EQ(clock.pauses, 1);
  EXPECT_DOUBLE_EQ(clock.now, committed + 0.005);
  clock.now += 0.079;
  editAndSave();  // row 8 joins the second group: its commits take no time
  EXPECT_FALSE(othersMayWrite());
  engine.CommitPending();
  EXPECT_TRUE(othersMayWrite());
  EXPECT_EQ(Codes(), "044,052,044,01,010,044,044,044");
  // Once the gap has passed by itself, the next group does not wait.
  clock.now += 0.005;
  rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE TELVOR = '052'", 2);
  editAndSave();
  EXPECT_EQ(clock.pauses, 1);
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

TEST_F(SqliteEngineTest, TheJournalKeptBetweenGroupsIsNeverTakenForAHotOne) {
  SqliteEngineOptions o = Options();
  o.commitIntervalMs = 60000;
  SqliteEngine engine(Paths(), o);
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  const std::string journal = path_ + "-journal";
  auto saveOne = [&] {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    rs->Update();
    rs->MoveNext();
    engine.CommitPending();
  };
  saveOne();
  ASSERT_TRUE(fs::exists(journal)) << "kept from one group to the next";
  // Other connections see the commit, the kept journal rolls nothing back,
  // and one that deletes its journals writes between the groups.
  EXPECT_EQ(Telvor(1), "044");
  Peer(path_).Exec("UPDATE PLZSTM SET NOTE = 'x' WHERE rowid = 2");
  saveOne();
  EXPECT_EQ(Telvor(3), "044");
  rs->Close();
  db->Close();
  EXPECT_FALSE(fs::exists(journal)) << "deleted as the connection closes";
  Peer p(path_);
  EXPECT_EQ(p.One("PRAGMA journal_mode"), "delete");
  EXPECT_EQ(p.One("SELECT group_concat(coalesce(NOTE, '-'), ',') FROM PLZSTM"), "-,x,-,-,-,-,-,42");
  EXPECT_EQ(Codes(), "044,052,044,01,010,01,044,01");
}

}  // namespace
}  // namespace kw::sqlite_test
