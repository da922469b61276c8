// The SQLite engine's errors carry the number that tells the run whether rows
// whose Update had gone through were lost, whichever operation reports them.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/run_error.h"
#include "platform/sqlite/sqlite_engine.h"

namespace kw {
namespace {

namespace fs = std::filesystem;

constexpr char kPass[] = "SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'";
constexpr char kFile[] = "D:\\Daten\\Public\\Public.mdb";

class RowsLostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kw_rows_lost.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ + "/prefix/dosdevices");
    fs::create_directories(root_ + "/d/Daten/Public");
    fs::create_directory_symlink(root_ + "/d", root_ + "/prefix/dosdevices/d:");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "/d/Daten/Public/Public.mdb").c_str(), &db), SQLITE_OK);
    // The second row cannot take the new code: it is held back with the
    // first and refused when the held-back rows are saved.
    const char* sql =
        "CREATE TABLE PLZSTM (LAND TEXT, PLZ TEXT, ORT TEXT, TELVOR TEXT);"
        "INSERT INTO PLZSTM VALUES ('CH', '8001', 'Zürich', '01'), ('CH', '8050', 'Oerlikon', "
        "'01'), ('CH', '8953', 'Dietikon', '01');"
        "CREATE TRIGGER keep BEFORE UPDATE OF TELVOR ON PLZSTM WHEN old.PLZ = '8050' "
        "BEGIN SELECT RAISE(ABORT, 'Oerlikon keeps its code'); END";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  void TearDown() override { fs::remove_all(root_); }

  SqliteEngineOptions Options() {
    SqliteEngineOptions o;
    o.busyTimeoutMs = 300;
    o.readColumns = {"PLZ", "ORT"};
    o.commitIntervalMs = 60000;  // nothing is committed by itself
    return o;
  }

  static int NumberOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const RunError& e) {
      return e.Number();
    }
    return -1;
  }

  std::string root_;
};

TEST_F(RowsLostTest, EveryOperationThatSavesHeldBackRowsNumbersTheirLoss) {
  const char* const ways[] = {"CommitPending", "Recordset.Close", "Database.Close"};
  bool first = true;
  for (const std::string way : ways) {
    if (!first) SetUp();  // a fresh file for each way
    first = false;
    SqliteEngine engine(WinePaths(root_ + "/prefix"), Options());
    auto db = engine.OpenDatabase(kFile, false, false);
    auto rs = db->OpenRecordset(kPass, 2);
    for (int i = 0; i < 2; ++i) {
      rs->Edit();
      rs->SetValue("TELVOR", std::string("044"));
      rs->Update();
      rs->MoveNext();
    }
    const int number = NumberOf([&] {
      if (way == "CommitPending") engine.CommitPending();
      if (way == "Recordset.Close") rs->Close();
      if (way == "Database.Close") db->Close();
    });
    EXPECT_EQ(number, kErrRowsNotSaved) << way;
    // The loss is told once: the next error of another kind is not numbered so.
    EXPECT_EQ(NumberOf([&] { db->OpenRecordset("SELECT * FROM NOSUCH", 2); }), kErrGeneral)
        << way;
    rs.reset();
    db.reset();
    if (way != ways[2]) TearDown();
  }
}

TEST_F(RowsLostTest, ErrorsThatLoseNothingAreNotNumberedAsLoss) {
  SqliteEngine engine(WinePaths(root_ + "/prefix"), Options());
  auto db = engine.OpenDatabase(kFile, false, false);
  EXPECT_EQ(NumberOf([&] { db->OpenRecordset("SELECT * FROM NOSUCH", 2); }), kErrGeneral);
  auto rs = db->OpenRecordset(kPass, 2);
  while (!rs->Eof()) rs->MoveNext();
  EXPECT_EQ(NumberOf([&] { rs->Edit(); }), kErrGeneral);
  EXPECT_EQ(NumberOf([&] { engine.CommitPending(); }), -1);  // nothing to save, no error
}

}  // namespace
}  // namespace kw
