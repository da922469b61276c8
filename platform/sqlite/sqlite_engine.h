#pragma once
// The database engine over SQLite files. The product's databases are SQLite
// files under their usual names (.mdb); this engine gives them the meaning
// DAO gives its operations:
// - a database is opened shared and read-write and never created;
// - a dynaset over "SELECT * FROM <table> [WHERE <condition>]" selects its
//   rows once, at open, as a list of row ids; MoveNext visits exactly those.
//   The selection is one statement that reads that table only, with plain
//   functions and no subqueries; anything more is refused before it runs.
//   Text compares in it as in Jet: without regard to case;
// - Edit reads the current row as it is now, inside a write transaction
//   that holds the file against other writers until it is committed (the
//   row is locked from Edit to Update, and a little beyond);
// - Update writes only the changed columns of the current row.
//
// For speed, rows are edited and saved in groups, each one short write
// transaction. A group begins at the first Edit and is committed once it
// has kept other writers out for about `commitIntervalMs` (checked at every
// Edit and Update), before any error leaves the engine, on CommitPending,
// and when a record set, a database or the engine closes or is released.
// Between groups the write lock is left free for `writerGapMs`, so that
// other writers get in. Inside a group no one else can change a row, so
// the engine reads rows with one statement walking forward and holds
// updates back to save those made alike together; anything else that runs
// on the database, and every commit, saves them first. A held-back row that
// cannot be saved after all is told in an error, with the number of such
// rows. The file's own settings (journal mode and the like) are left as
// they are; a connection in the usual rollback mode keeps its journal from
// one group to the next (zeroed, SQLite's "persist") and deletes it when it
// closes.
//
// The read of the key set also keeps the values of the selected rows, of
// the columns the caller said it will read (Database::WillRead), else those
// the record set before read (for the first: `readColumns`), up
// to `keptValuesKiB` for all record sets together. While no other
// connection has committed since that read (SQLite's data version, looked
// at as every group begins) and no other record set of the connection has
// saved a row, Edit takes the row from them instead of reading it.
//
// The objects of one engine are meant for one thread at a time.
//
// The parts, one file each: the selection form and its guard (selection),
// Jet's text comparison (jet_text), the connection with its write groups,
// the one gate of every write (connection), the key set with its kept
// values (key_set, kept_values), the record set (recordset), the error
// texts (errors), and here the database and the engine.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/wine/wine_paths.h"

namespace kw {

struct SqliteEngineOptions {
  // How long a statement waits for another connection's lock before failing.
  int busyTimeoutMs = 3000;
  // Longest time a group of updates keeps other writers out, its commit
  // included (taken to last as long as the one before).
  int commitIntervalMs = 80;
  // Pause before the next group after a commit, in which other writers get the lock.
  int writerGapMs = 5;
  // Longest time one read of a key set keeps other writers from committing;
  // a longer selection is read in slices of row ids.
  int scanSliceMs = 20;
  // Page cache of one connection; large enough that a group never spills.
  int cacheKiB = 16 * 1024;
  // Values of selected rows kept from the key set's read, for all record
  // sets of the engine together; 0 keeps none.
  int keptValuesKiB = 16 * 1024;
  // The columns the first record set is expected to read, unless the caller
  // says otherwise; later ones are expected to read what the one before
  // read. Only their values are kept.
  std::vector<std::string> readColumns;
};

// How the rows that Edit made editable were had, since the engine was made.
struct SqliteEngineStats {
  long rowsKept = 0;  // taken from the values kept with the key set
  long rowsRead = 0;  // read from the file
};

class SqliteConnection;
struct SqliteShared;

class SqliteEngine : public DatabaseEngine {
 public:
  // Times the write groups and the pauses between them by clock (not owned).
  SqliteEngine(const WinePaths& paths, Clock& clock, SqliteEngineOptions options = {});
  // The same on the steady clock of the machine.
  explicit SqliteEngine(const WinePaths& paths, SqliteEngineOptions options = {});
  // Commits what is pending on every connection still open.
  ~SqliteEngine() override;
  SqliteEngine(const SqliteEngine&) = delete;
  SqliteEngine& operator=(const SqliteEngine&) = delete;

  // exclusive: other connections can neither read nor write while it is open.
  std::unique_ptr<Database> OpenDatabase(std::string_view name, bool exclusive,
                                         bool readOnly) override;
  // Throws RunError, naming the file, when pending changes cannot be committed.
  void CommitPending() override;

  SqliteEngineStats Stats() const;

 private:
  void Init();

  WinePaths paths_;
  SqliteEngineOptions options_;
  std::shared_ptr<SqliteShared> shared_;
  std::vector<std::weak_ptr<SqliteConnection>> connections_;
};

}  // namespace kw
