#include "platform/sqlite/sqlite_engine.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <utility>

#include "platform/run_error.h"
#include "platform/steady_clock.h"
#include "platform/sqlite/connection.h"
#include "platform/sqlite/errors.h"
#include "platform/sqlite/jet_text.h"
#include "platform/sqlite/key_set.h"
#include "platform/sqlite/recordset.h"
#include "platform/sqlite/selection.h"

namespace kw {
namespace {

using namespace sqlite;

class SqliteDatabase : public Database {
 public:
  explicit SqliteDatabase(std::shared_ptr<SqliteConnection> conn) : conn_(std::move(conn)) {}
  ~SqliteDatabase() override {
    if (conn_) conn_->TryCommit();
  }

  void WillRead(const std::vector<std::string>& columns) override {
    if (!conn_) throw RunError(kInvalidObject);
    conn_->Shared().lastRead = columns;
  }

  std::unique_ptr<Recordset> OpenRecordset(std::string_view source, int type) override {
    if (!conn_) throw RunError(kInvalidObject);
    SqliteConnection& c = *conn_;
    c.Gate();
    if (type != 2) {
      c.Fail("Invalid argument: record set type " + std::to_string(type) +
             " is not supported; only 2 (dynaset).");
    }
    SelectionForm form;
    if (source.size() > INT_MAX || !ParseSelection(source, form)) {
      c.Fail("Unsupported selection " + Quoted(source) +
             "; expected SELECT * FROM <table> [WHERE <condition>].");
    }
    CheckTable(form.table);
    // Text in the condition compares as Jet compares it; the rest of the
    // selection stays as given.
    std::string jet(source);
    if (form.condition != std::string_view::npos) {
      jet = std::string(source.substr(0, form.condition)) +
            CompareTextAsJet(source.substr(form.condition));
    }
    if (jet.size() > INT_MAX) {
      c.Fail("Unsupported selection " + Quoted(source) + "; it is too long.");
    }
    const std::string_view text = jet;

    // The selection: one read-only statement, its names known.
    Stmt given;
    const char* tail = nullptr;
    int rc = SQLITE_OK;
    std::string error;
    {
      SelectionGuard guard(c.db(), form.table);
      rc = guard.Prepare(text, given, &tail);
      if (rc != SQLITE_OK) {
        error = SelectionError(c.db(), rc, source, c.Name(), form.table, guard.Refused());
      }
    }
    if (!error.empty()) c.Fail(error);
    const size_t end = static_cast<size_t>(tail - text.data());
    if (SkipBlanks(text, end) != text.size()) {
      c.Fail("Characters found after end of SQL statement. (" + Quoted(source) + ")");
    }
    if (!given.get() || !sqlite3_stmt_readonly(given.get())) {
      c.Fail("Unsupported selection " + Quoted(source) + "; it must only read.");
    }
    const std::string rowid = RowidName(given.get(), form.table);
    std::vector<std::string> names;
    for (int i = 0; i < sqlite3_column_count(given.get()); ++i) {
      names.emplace_back(sqlite3_column_name(given.get(), i));
    }
    given.Finalize();
    KeySet set = ReadKeySet(c, source, text, form, end, rowid, names);
    return MakeRecordset(conn_, form.table, rowid, std::move(names), std::move(set));
  }

  void Close() override {
    if (!conn_) throw RunError(kInvalidObject);
    const std::string error = conn_->TryCommit();
    const int number = conn_->TakeErrorNumber();
    conn_.reset();
    if (!error.empty()) throw RunError(error, number);
  }

 private:
  // Only ordinary tables with row ids can be walked by row id.
  void CheckTable(const std::string& table) {
    SqliteConnection& c = *conn_;
    Stmt s;
    int rc = sqlite3_prepare_v2(c.db(), "SELECT type, wr FROM pragma_table_list(?1)", -1, s.out(),
                                nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(s.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
      rc = sqlite3_step(s.get());
    }
    if (rc == SQLITE_DONE) {
      c.Fail("The database engine cannot find the input table or query " + Quoted(table) +
             ". Make sure it exists and that its name is spelled correctly.");
    }
    if (rc != SQLITE_ROW) {
      const std::string error = c.Describe(rc, table, false);
      s.Finalize();
      c.Fail(error);
    }
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    const bool withoutRowid = sqlite3_column_int(s.get(), 1) != 0;
    const bool ordinary = type && std::string_view(type) == "table";
    s.Finalize();
    if (!ordinary) {
      c.Fail("Cannot update " + Quoted(table) + ": it is not an ordinary table.");
    }
    if (withoutRowid) {
      c.Fail("Cannot open table " + Quoted(table) + " as a dynaset: it is a WITHOUT ROWID table.");
    }
  }

  // The first of SQLite's names for the row id that no column hides.
  std::string RowidName(sqlite3_stmt* s, const std::string& table) {
    for (const char* name : {"rowid", "_rowid_", "oid"}) {
      bool hidden = false;
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        if (EqualNoCase(sqlite3_column_name(s, i), name)) hidden = true;
      }
      if (!hidden) return name;
    }
    conn_->Fail("Cannot open table " + Quoted(table) +
                " as a dynaset: its columns hide the row id.");
  }

  std::shared_ptr<SqliteConnection> conn_;
};

}  // namespace

// --- Engine -----------------------------------------------------------------

SqliteEngine::SqliteEngine(const WinePaths& paths, Clock& clock, SqliteEngineOptions options)
    : paths_(paths), options_(std::move(options)), shared_(std::make_shared<SqliteShared>()) {
  shared_->clock = &clock;
  Init();
}

SqliteEngine::SqliteEngine(const WinePaths& paths, SqliteEngineOptions options)
    : paths_(paths), options_(std::move(options)), shared_(std::make_shared<SqliteShared>()) {
  // The connections may outlive the engine; the clock lives as long as they do.
  shared_->ownClock = std::make_unique<SteadyClock>();
  shared_->clock = shared_->ownClock.get();
  Init();
}

void SqliteEngine::Init() {
  shared_->keptBytesLeft = static_cast<size_t>(std::max(options_.keptValuesKiB, 0)) * 1024;
  shared_->lastRead = options_.readColumns;
  // Memory statistics take a global mutex on every allocation, and nothing
  // here reads them. Only possible before SQLite's first use; later it is a no-op.
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

SqliteEngine::~SqliteEngine() {
  for (auto& weak : connections_) {
    if (auto conn = weak.lock()) conn->TryCommit();
  }
}

std::unique_ptr<Database> SqliteEngine::OpenDatabase(std::string_view name, bool exclusive,
                                                     bool readOnly) {
  const std::string given(name);
  if (exclusive) {
    throw RunError("Cannot open " + Quoted(given) +
                   " exclusively: this engine opens databases shared only.");
  }
  const std::string host = paths_.ToHost(name);
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) throw RunError(CouldNotFind(given));
  if (!S_ISREG(st.st_mode)) throw RunError(CannotOpen(given));
  // SQLite would take an empty file for an empty database and write to it.
  if (st.st_size == 0) throw RunError(Unrecognized(given));

  sqlite3* db = nullptr;
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(host.c_str(), &db, flags, nullptr);
  auto conn = std::make_shared<SqliteConnection>(db, given, options_, shared_);
  if (rc != SQLITE_OK) throw RunError(CannotOpen(given));
  conn->Configure();

  std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
  connections_.push_back(conn);
  return std::make_unique<SqliteDatabase>(std::move(conn));
}

SqliteEngineStats SqliteEngine::Stats() const { return shared_->stats; }

void SqliteEngine::CommitPending() {
  std::string errors;
  int number = kErrGeneral;
  for (auto& weak : connections_) {
    auto conn = weak.lock();
    if (!conn) continue;
    const std::string error = conn->TryCommit();
    if (conn->TakeErrorNumber() == kErrRowsNotSaved) number = kErrRowsNotSaved;
    if (!error.empty()) errors += (errors.empty() ? "" : " ") + error;
  }
  if (!errors.empty()) throw RunError(errors, number);
}

}  // namespace kw
