#pragma once
// One open database file, shared by the Database and its record sets. It
// groups the edits of rows into short write transactions and is the one
// gate through which every write passes. Its states:
// - idle: no transaction open. BeginGroup (at Edit, or at an Update whose
//   Edit's group is over) waits out the writer gap, if one is running, and
//   opens a group;
// - in a group: one write transaction keeps other writers out, so a row
//   read inside it stays as read; Update holds rows back here (Hold) to
//   save those changed alike by one statement. Commit leaves the group:
//   BeginGroup and RowSaved commit once the group has kept other writers
//   out for about `commitIntervalMs` (its commit included), and so do every
//   error that leaves the engine (Fail), CommitPending and the closing of a
//   record set, the database or the engine;
// - between groups: committed; for `writerGapMs` other writers may take the
//   lock before BeginGroup opens the next group.
// Held-back rows are saved before anything else runs: Gate saves them
// unless the statement to run reads only rows of their table beyond them,
// and every commit saves them first.
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/run_error.h"
#include "platform/sqlite/sqlite_engine.h"
#include "platform/sqlite/statement.h"

namespace kw {

// What the connections of one engine share.
struct SqliteShared {
  Clock* clock = nullptr;
  std::unique_ptr<Clock> ownClock;     // when the engine was given none
  size_t keptBytesLeft = 0;            // for values kept with key sets
  std::vector<std::string> lastRead;  // the columns the last record set read
  SqliteEngineStats stats;
};

class SqliteConnection {
 public:
  // db is owned from here on, also when Configure fails.
  SqliteConnection(sqlite3* db, std::string name, const SqliteEngineOptions& options,
                   std::shared_ptr<SqliteShared> shared);
  ~SqliteConnection();
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  sqlite3* db() const { return db_; }
  const std::string& Name() const { return name_; }
  const SqliteEngineOptions& Options() const { return options_; }
  SqliteShared& Shared() const { return *shared_; }
  Clock& GetClock() const { return clock_; }

  // Sets the connection up and checks that the file is a database.
  void Configure();

  // The words for a failed SQLite call concerning table; read at once after the call.
  std::string Describe(int rc, std::string_view table, bool writing) const;

  // The number of the write group now open, 0 when none is. Each group
  // gets a new number.
  uint64_t OpenGroup() const { return sqlite3_get_autocommit(db_) ? 0 : group_; }
  // Changes whenever the connection's read statements may have been reset.
  uint64_t ReadEpoch() const { return readEpoch_; }

  // Values kept from an earlier read are still the file's while KeptEra()
  // and Saves() are as they were then. KeptEra() changes when another
  // connection is found to have committed, or when a save changed more rows
  // than its own (triggers); Saves() counts the rows saved through this one.
  uint64_t KeptEra() const { return keptEra_; }
  uint64_t Saves() const { return saves_; }
  // Looks whether another connection has committed since the last look
  // (our own commits leave SQLite's data version as it is); returns KeptEra().
  uint64_t LookForOthers();

  // Makes sure a write group is open for a row about to be edited.
  void BeginGroup(std::string_view table);
  // Counts a row saved or held back; commits the group once it is due.
  void RowSaved();

  // The statement "UPDATE ... WHERE rowid BETWEEN ? AND ? AND kw_row_in(?, rowid)"
  // given as sql, prepared once per connection.
  sqlite3_stmt* UpdateStatement(const std::string& sql, std::string_view table);
  // Holds back the update of row key of table by stmt to the values
  // edit[changed[k]], inside the open group; rows held before that were
  // changed otherwise are saved first.
  void Hold(sqlite3_stmt* stmt, std::string_view table, const std::vector<sqlite::Cell>& edit,
            const std::vector<size_t>& changed, sqlite3_int64 key);
  // Saves row key at once in a group of its own making; fails when it is gone.
  void SaveNow(sqlite3_stmt* stmt, std::string_view table, const std::vector<sqlite::Cell>& values,
               sqlite3_int64 key);
  // To be passed before a statement runs that reads table from row id
  // `from` on (no table: any other statement): saves the held-back rows
  // unless they all lie before it.
  void Gate(std::string_view table = {}, sqlite3_int64 from = 0);

  // Saves the held-back rows and commits the open group, if any. Returns
  // the error, or empty. SQLite itself rolls a transaction back after some
  // failures (disk full, I/O error); such a loss is told as an error too.
  std::string TryCommit();
  // Commits what is pending, then throws description with its number.
  [[noreturn]] void Fail(std::string description, int number = kErrGeneral);
  // The number for the error about to be thrown: kErrRowsNotSaved when rows
  // that counted as saved were lost since the last error was told.
  int TakeErrorNumber() { return std::exchange(rowsLost_, false) ? kErrRowsNotSaved : kErrGeneral; }

 private:
  struct Held {
    sqlite3_stmt* stmt = nullptr;
    std::string table;
    std::vector<sqlite::Cell> values;
    std::vector<sqlite3_int64> keys;  // ascending
  };

  // SQLite's busy handler: waits for another connection's lock by the
  // clock, trying again every millisecond, up to `busyTimeoutMs`.
  static int BusyWait(void* self, int count);
  void KeepJournal();
  bool GroupDue() const;
  std::string SaveHeld();
  std::string SaveHeldOneByOne();
  std::string RowsNotSaved(const std::string& why, long rows);
  // Runs stmt for count ascending keys; returns the error, or empty, and in
  // rc SQLite's result.
  std::string Save(sqlite3_stmt* stmt, std::string_view table, const std::vector<sqlite::Cell>& values,
                   const sqlite3_int64* keys, size_t count, int& rc);

  sqlite3* db_;
  std::string name_;
  SqliteEngineOptions options_;
  std::shared_ptr<SqliteShared> shared_;
  Clock& clock_;
  sqlite::Stmt begin_;
  sqlite::Stmt commit_;
  sqlite::Stmt dataVersion_;
  std::map<std::string, sqlite::Stmt> updates_;  // by their text
  Held held_;
  bool journalKept_ = false;  // this connection keeps its journal between groups
  bool rowsLost_ = false;
  sqlite3_int64 dataVersionSeen_ = -1;
  uint64_t keptEra_ = 0;
  uint64_t saves_ = 0;
  uint64_t group_ = 0;
  uint64_t readEpoch_ = 0;
  bool groupOpen_ = false;
  long groupRows_ = 0;
  double groupStart_ = 0;
  double busySince_ = 0;
  bool committedOnce_ = false;
  double lastCommit_ = 0;
  double commitTime_;  // seconds the last commit took; a guess before the first
};

}  // namespace kw
