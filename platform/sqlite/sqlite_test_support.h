#pragma once
// What the tests of the SQLite engine share: another program's connection
// to the file, and a Wine-like prefix holding the postal-code table.
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

#include "platform/fakes/fake_clock.h"
#include "platform/run_error.h"
#include "platform/sqlite/sqlite_engine.h"

namespace kw::sqlite_test {

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

}  // namespace kw::sqlite_test
