// Other programs writing to the same file while the engine works on it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/sqlite/sqlite_test_support.h"

namespace kw::sqlite_test {
namespace {

// --- Sharing the file ------------------------------------------------------

TEST_F(SqliteEngineTest, LockedRowsFailAtEditWithinTheBusyTimeoutAfterSavingEarlierOnes) {
  FakeClock clock;
  SqliteEngine engine(Paths(), clock, Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  auto rs = db->OpenRecordset(kPass, 2);
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  rs->Update();
  rs->MoveNext();
  engine.CommitPending();
  Peer holder(path_);
  holder.Exec("BEGIN IMMEDIATE; UPDATE PLZSTM SET NOTE='held' WHERE rowid=2");
  const double start = clock.now;
  EXPECT_EQ(ErrorOf([&] { rs->Edit(); }),
            "Could not update; currently locked by another user. Table 'PLZSTM' in "
            "'D:\\Daten\\Public\\Public.mdb'.");
  // The writer gap after the commit (5 ms), then the busy timeout (300 ms).
  EXPECT_NEAR(clock.now - start, 0.305, 0.0015);
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

// A clock that moves a millisecond each time it is read, and lets another
// writer try to commit at that moment, no waiting allowed.
class TickingClock : public FakeClock {
 public:
  double Seconds() override {
    now += 0.001;
    if (peer && commits < 20 && peer->TryExec("UPDATE PLZSTM SET NOTE = NOTE + 1 WHERE rowid = 9") ==
                                    SQLITE_OK) {
      ++commits;
    }
    return now;
  }
  Peer* peer = nullptr;
  int commits = 0;
};

TEST_F(SqliteEngineTest, OtherWritersCommitWhileALongSelectionIsRead) {
  Peer(path_).Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
      "INSERT INTO PLZSTM SELECT 'CH', '8000', 'Z', '01', i FROM n");
  TickingClock clock;
  SqliteEngineOptions o = Options();
  o.scanSliceMs = 3;
  SqliteEngine engine(Paths(), clock, o);
  auto db = engine.OpenDatabase(kFile, false, false);
  Peer peer(path_);
  clock.peer = &peer;
  auto rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE PLZSTM.TELVOR = '01' AND PLZSTM.NOTE > 0", 2);
  clock.peer = nullptr;
  // Read in one go, the selection would hold every commit back to its end:
  // at most the moment before it began would let one through.
  EXPECT_EQ(clock.commits, 20);
  int rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) ++rows;
  EXPECT_EQ(rows, 60000 + 1);  // with the fixture's row 8
  EXPECT_EQ(peer.One("SELECT NOTE FROM PLZSTM WHERE rowid = 9"), "21");
}

}  // namespace
}  // namespace kw::sqlite_test
