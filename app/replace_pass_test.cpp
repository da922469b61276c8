// The replacement pass over a real SQLite database while another user's
// connection changes and deletes rows that the pass has not reached yet.
#include "app/replace_pass.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/fakes/fake_platform.h"
#include "platform/sqlite/sqlite_engine.h"

namespace kw {
namespace {

namespace fs = std::filesystem;

constexpr char kFile[] = "D:\\Public.mdb";
constexpr char kSelection[] =
    "SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'";

// Another program's connection to the file.
class OtherUser {
 public:
  explicit OtherUser(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error(path);
    sqlite3_busy_timeout(db_, 2000);
  }
  ~OtherUser() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    }
  }
  // LAND and TELVOR of every row by row id, "-" for a gone one: "1 CH 044|2 ...".
  std::string Rows() {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db_, "SELECT rowid, LAND, TELVOR FROM PLZSTM ORDER BY rowid", -1, &s,
                       nullptr);
    std::string out;
    while (sqlite3_step(s) == SQLITE_ROW) {
      if (!out.empty()) out += '|';
      out += std::to_string(sqlite3_column_int64(s, 0)) + " " +
             reinterpret_cast<const char*>(sqlite3_column_text(s, 1)) + " " +
             reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
    }
    sqlite3_finalize(s);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

// A window whose event processing at a chosen row lets the other user in.
class WindowWithOtherUser : public FakeWindow {
 public:
  bool ProcessEvents() override {
    const bool go_on = FakeWindow::ProcessEvents();
    if (eventRounds == atRound && whileOpen) whileOpen();
    return go_on;
  }
  int atRound = 1;
  std::function<void()> whileOpen;
};

class ReplacePassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kw_replace_pass.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ + "/prefix/dosdevices");
    fs::create_directories(root_ + "/d");
    fs::create_directory_symlink(root_ + "/d", root_ + "/prefix/dosdevices/d:");
    path_ = root_ + "/d/Public.mdb";
    OtherUser(path_).Exec(
        "CREATE TABLE PLZSTM (LAND TEXT, PLZ TEXT, ORT TEXT, TELVOR TEXT);"
        "INSERT INTO PLZSTM VALUES ('CH', '8001', 'Zürich', '01'), ('CH', '8050', 'Oerlikon', '01'),"
        " ('CH', '8400', 'Winterthur', '052'), ('CH', '8953', 'Dietikon', '01'),"
        " ('CH', '8610', 'Uster', '01'), ('CH', '8302', 'Kloten', '01')");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Runs the pass under the general handler; the other user's changes are
  // made while the first converted row is being shown, with what the pass
  // holds committed (as it is before any message box).
  void RunPass(const std::string& otherUsersChanges) {
    SqliteEngineOptions options;
    options.readColumns = {"LAND", "TELVOR", "PLZ", "ORT"};
    SqliteEngine engine(WinePaths(root_ + "/prefix"), options);
    FakePlatform fakes;
    Platform p{engine, fakes.registry, fakes.profiles, fakes.files, fakes.clock, window_};
    window_.whileOpen = [&] {
      engine.CommitPending();
      OtherUser(path_).Exec(otherUsersChanges);
    };
    RunState s;
    StepRunner r(p);
    ReplacePass(p, s, r, kFile, kSelection, "TELVOR");
  }

  std::string Rows() { return OtherUser(path_).Rows(); }

  WindowWithOtherUser window_;
  std::string root_, path_;
};

TEST_F(ReplacePassTest, ARowWhoseCodeAnotherUserChangedKeepsThatUsersCode) {
  RunPass("UPDATE PLZSTM SET TELVOR = '031' WHERE rowid IN (2, 5)");
  EXPECT_EQ(Rows(), "1 CH 044|2 CH 031|3 CH 052|4 CH 044|5 CH 031|6 CH 044");
  EXPECT_TRUE(window_.boxes.empty());
  EXPECT_EQ(window_.labels[3], "8302 Kloten");
}

TEST_F(ReplacePassTest, ARowThatAnotherUserMovedToAnotherCountryKeepsItsCode) {
  RunPass("UPDATE PLZSTM SET LAND = 'DE' WHERE rowid = 4");
  EXPECT_EQ(Rows(), "1 CH 044|2 CH 044|3 CH 052|4 DE 01|5 CH 044|6 CH 044");
  EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(ReplacePassTest, ARowStillSelectedInAnotherCaseIsConverted) {
  // The selection's comparison does not regard case; neither does the check.
  RunPass("UPDATE PLZSTM SET LAND = 'ch' WHERE rowid = 4");
  EXPECT_EQ(Rows(), "1 CH 044|2 CH 044|3 CH 052|4 ch 044|5 CH 044|6 CH 044");
}

TEST_F(ReplacePassTest, RowsAnotherUserDeletedArePassedOverWithoutAMessage) {
  RunPass("DELETE FROM PLZSTM WHERE rowid IN (2, 6)");
  EXPECT_EQ(Rows(), "1 CH 044|3 CH 052|4 CH 044|5 CH 044");
  EXPECT_TRUE(window_.boxes.empty());
  EXPECT_EQ(window_.labels[3], "8610 Uster");
}

// Any other failure of Edit still goes to the handler in force.
TEST(ReplacePass, AnotherFailureOfEditIsShownAndTheStepRepeated) {
  FakePlatform f;
  auto& t = f.db.AddTable("D:\\Public.mdb", "PLZSTM");
  FakeDatabaseEngine::AddRow(t, {{"LAND", "CH"}, {"PLZ", "8001"}, {"ORT", "Zürich"},
                                 {"TELVOR", "01"}});
  f.db.faults.push_back({"Edit", 0, 1, "Could not update; currently locked by another user."});
  RunState s;
  StepRunner r(f.p);
  ReplacePass(f.p, s, r, kFile, kSelection, "TELVOR");
  ASSERT_EQ(f.window.boxes.size(), 1u);
  EXPECT_EQ(f.window.boxes[0].text, "Could not update; currently locked by another user.");
  EXPECT_EQ(t.rows[0]->at("TELVOR"), "044");
}

}  // namespace
}  // namespace kw
