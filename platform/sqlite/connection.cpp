#include "platform/sqlite/connection.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/sqlite/errors.h"
#include "platform/sqlite/jet_text.h"

namespace kw {
namespace {

using sqlite::Quoted;

// Rows updated alike are saved together by one statement, at most this many.
constexpr size_t kBatchRows = 256;
// That statement walks the row ids from the first held row to the last,
// no more than this many for each held row.
constexpr uint64_t kRowIdsPerRow = 16;

}  // namespace

SqliteConnection::SqliteConnection(sqlite3* db, std::string name,
                                   const SqliteEngineOptions& options,
                                   std::shared_ptr<SqliteShared> shared)
    : db_(db),
      name_(std::move(name)),
      options_(options),
      shared_(std::move(shared)),
      clock_(*shared_->clock),
      commitTime_(options.commitIntervalMs / 4000.0) {}

SqliteConnection::~SqliteConnection() {
  TryCommit();
  // Deletes the journal kept between the groups; should another writer hold
  // the lock just now, that writer's own commit deletes it.
  if (journalKept_) sqlite3_exec(db_, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  begin_.Finalize();
  commit_.Finalize();
  dataVersion_.Finalize();
  updates_.clear();
  sqlite3_close_v2(db_);
}

void SqliteConnection::Configure() {
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_handler(db_, BusyWait, this);
  const std::string cache = "PRAGMA cache_size=-" + std::to_string(options_.cacheKiB);
  sqlite3_exec(db_, cache.c_str(), nullptr, nullptr, nullptr);
  sqlite::Stmt check;
  int rc = sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_schema", -1, check.out(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(check.get());
  if (rc != SQLITE_ROW) {
    switch (rc & 0xff) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        throw RunError(sqlite::InUse(name_));
      case SQLITE_NOTADB:
        throw RunError(sqlite::Unrecognized(name_));
      case SQLITE_CORRUPT:
        throw RunError(sqlite::NeedsRepair(name_));
      default:
        throw RunError(sqlite::CannotOpen(name_) + " (" + sqlite3_errmsg(db_) + ")");
    }
  }
  check.Finalize();
  if (sqlite3_db_readonly(db_, "main") == 0) KeepJournal();
  if (sqlite3_prepare_v2(db_, "BEGIN IMMEDIATE", -1, begin_.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, "COMMIT", -1, commit_.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, dataVersion_.out(), nullptr) !=
          SQLITE_OK ||
      sqlite::RegisterRowIn(db_) != SQLITE_OK || RegisterJetCollation(db_) != SQLITE_OK) {
    throw RunError(sqlite::CannotOpen(name_) + " (" + sqlite3_errmsg(db_) + ")");
  }
}

// A rollback journal made and deleted for every group costs the file
// system more than the group's own writes: the journal is kept from one
// group to the next instead, its header zeroed at each commit (SQLite's
// "persist" mode, as safe as deleting it and understood by every other
// connection). Only the mode of this connection changes, and only from the
// usual "delete"; a file in WAL mode, or a connection made otherwise, stays
// as it is.
void SqliteConnection::KeepJournal() {
  sqlite::Stmt mode;
  if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode", -1, mode.out(), nullptr) != SQLITE_OK ||
      sqlite3_step(mode.get()) != SQLITE_ROW) {
    return;
  }
  const auto* now = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
  if (!now || std::string_view(now) != "delete") return;
  mode.Finalize();
  if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=PERSIST", -1, mode.out(), nullptr) ==
          SQLITE_OK &&
      sqlite3_step(mode.get()) == SQLITE_ROW) {
    const auto* set = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
    journalKept_ = set && std::string_view(set) == "persist";
  }
}

int SqliteConnection::BusyWait(void* self, int count) {
  auto* c = static_cast<SqliteConnection*>(self);
  const double now = c->clock_.Seconds();
  if (count == 0) c->busySince_ = now;
  if ((now - c->busySince_) * 1000 >= c->options_.busyTimeoutMs) return 0;
  c->clock_.Pause(1);
  return 1;
}

std::string SqliteConnection::Describe(int rc, std::string_view table, bool writing) const {
  return sqlite::Describe(db_, rc, name_, table, writing);
}

uint64_t SqliteConnection::LookForOthers() {
  const int rc = sqlite3_step(dataVersion_.get());
  const sqlite3_int64 version = rc == SQLITE_ROW ? sqlite3_column_int64(dataVersion_.get(), 0) : -1;
  sqlite3_reset(dataVersion_.get());
  if (version < 0 || version != dataVersionSeen_) ++keptEra_;
  dataVersionSeen_ = version;
  return keptEra_;
}

void SqliteConnection::BeginGroup(std::string_view table) {
  if (OpenGroup()) {
    if (!GroupDue()) return;
    const std::string error = TryCommit();
    if (!error.empty()) throw RunError(error, TakeErrorNumber());
  }
  // BEGIN IMMEDIATE succeeds on a file opened read-only; the updates would not.
  if (sqlite3_db_readonly(db_, "main") == 1) {
    throw RunError(Describe(SQLITE_READONLY, table, true));
  }
  if (options_.writerGapMs > 0 && committedOnce_) {
    const double left = lastCommit_ + options_.writerGapMs / 1000.0 - clock_.Seconds();
    // Whole milliseconds, not one more for the rounding of the seconds.
    if (left > 0) clock_.Pause(static_cast<int>(std::ceil(left * 1000 - 1e-6)));
  }
  const int rc = sqlite3_step(begin_.get());
  const std::string error = rc == SQLITE_DONE ? "" : Describe(rc, table, true);
  sqlite3_reset(begin_.get());
  if (!error.empty()) throw RunError(error);
  ++group_;
  ++readEpoch_;
  LookForOthers();
  groupOpen_ = true;
  groupRows_ = 0;
  groupStart_ = clock_.Seconds();
}

void SqliteConnection::RowSaved() {
  ++groupRows_;
  ++saves_;
  if (GroupDue()) {
    const std::string error = TryCommit();
    if (!error.empty()) throw RunError(error, TakeErrorNumber());
  }
}

// The open group is due when it has kept other writers out for the
// interval, counting its commit as long as the last one took. However slow
// the commits, a group gets half the interval for its rows.
bool SqliteConnection::GroupDue() const {
  const double interval = options_.commitIntervalMs / 1000.0;
  return clock_.Seconds() - groupStart_ + std::min(commitTime_, interval / 2) >= interval;
}

sqlite3_stmt* SqliteConnection::UpdateStatement(const std::string& sql, std::string_view table) {
  auto it = updates_.find(sql);
  if (it != updates_.end()) return it->second.get();
  sqlite::Stmt stmt;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, stmt.out(), nullptr);
  if (rc != SQLITE_OK) Fail(Describe(rc, table, true));
  return updates_.emplace(sql, std::move(stmt)).first->second.get();
}

void SqliteConnection::Hold(sqlite3_stmt* stmt, std::string_view table,
                            const std::vector<sqlite::Cell>& edit, const std::vector<size_t>& changed,
                            sqlite3_int64 key) {
  if (!held_.keys.empty()) {
    // Keys ascend among the held rows, and the rows they span stay few.
    bool alike = held_.stmt == stmt && held_.keys.size() < kBatchRows && key > held_.keys.back() &&
                 static_cast<uint64_t>(key) - static_cast<uint64_t>(held_.keys[0]) <
                     kRowIdsPerRow * (held_.keys.size() + 1);
    for (size_t k = 0; alike && k < changed.size(); ++k) {
      alike = held_.values[k] == edit[changed[k]];
    }
    if (!alike) {
      std::string error = SaveHeld();
      if (!error.empty()) Fail(std::move(error));
    }
  }
  if (held_.keys.empty()) {
    held_.stmt = stmt;
    held_.table = table;
    held_.values.clear();
    for (size_t i : changed) held_.values.push_back(edit[i]);
  }
  held_.keys.push_back(key);
}

void SqliteConnection::SaveNow(sqlite3_stmt* stmt, std::string_view table,
                               const std::vector<sqlite::Cell>& values, sqlite3_int64 key) {
  Gate();
  BeginGroup(table);
  int rc = SQLITE_OK;
  const std::string error = Save(stmt, table, values, &key, 1, rc);
  if (!error.empty()) Fail(error);
  if (sqlite3_changes(db_) == 0) Fail(sqlite::RecordDeleted(table, name_), kErrRecordDeleted);
}

void SqliteConnection::Gate(std::string_view table, sqlite3_int64 from) {
  if (held_.keys.empty()) return;
  if (!table.empty() && sqlite::EqualNoCase(table, held_.table) && from > held_.keys.back()) return;
  std::string error = SaveHeld();
  if (!error.empty()) Fail(std::move(error));
}

std::string SqliteConnection::Save(sqlite3_stmt* s, std::string_view table,
                                   const std::vector<sqlite::Cell>& values, const sqlite3_int64* keys,
                                   size_t count, int& rc) {
  int p = 1;
  for (const sqlite::Cell& cell : values) {
    if (cell.null) {
      sqlite3_bind_null(s, p++);
    } else {
      sqlite3_bind_text(s, p++, cell.text.data(), static_cast<int>(cell.text.size()),
                        SQLITE_STATIC);
    }
  }
  sqlite::KeySpan span{keys, keys + count, keys};
  sqlite3_bind_int64(s, p, keys[0]);
  sqlite3_bind_int64(s, p + 1, keys[count - 1]);
  sqlite3_bind_pointer(s, p + 2, &span, sqlite::kKeySpanType, nullptr);
  const sqlite3_int64 before = sqlite3_total_changes64(db_);
  rc = sqlite3_step(s);
  // Rows changed besides those saved (by triggers) may be kept ones.
  if (rc != SQLITE_DONE || sqlite3_total_changes64(db_) - before != sqlite3_changes64(db_)) {
    ++keptEra_;
  }
  std::string error = rc == SQLITE_DONE ? "" : Describe(rc, table, true);
  sqlite3_reset(s);
  sqlite3_bind_null(s, p + 2);
  return error;
}

// Runs the held rows as one statement. Should a row make it fail (a
// constraint), or be missing, the rows run one by one, so that every row
// that can be saved is. Rows of a group that SQLite rolled back are lost
// with it; the commit says so.
std::string SqliteConnection::SaveHeld() {
  if (held_.keys.empty()) return {};
  const size_t n = held_.keys.size();
  std::string error;
  if (!sqlite3_get_autocommit(db_)) {
    int rc = SQLITE_OK;
    error = Save(held_.stmt, held_.table, held_.values, held_.keys.data(), n, rc);
    if (rc == SQLITE_DONE && sqlite3_changes(db_) == static_cast<int>(n)) {
      error.clear();
    } else if (!sqlite3_get_autocommit(db_)) {
      error = rc == SQLITE_DONE || (rc & 0xff) == SQLITE_CONSTRAINT
                  ? SaveHeldOneByOne()
                  : RowsNotSaved(error, static_cast<long>(n));
    }
  }
  held_.keys.clear();
  return error;
}

std::string SqliteConnection::SaveHeldOneByOne() {
  std::string first;
  long failed = 0;
  for (size_t k = 0; k < held_.keys.size(); ++k) {
    int rc = SQLITE_OK;
    const std::string error = Save(held_.stmt, held_.table, held_.values, &held_.keys[k], 1, rc);
    if (rc == SQLITE_DONE && sqlite3_changes(db_) == 1) continue;
    ++failed;
    if (first.empty()) first = rc == SQLITE_DONE ? sqlite::RecordDeleted(held_.table, name_) : error;
    if (sqlite3_get_autocommit(db_)) break;
    // Only a row's own fault (a constraint) leaves the rows after it a chance.
    if (rc != SQLITE_DONE && (rc & 0xff) != SQLITE_CONSTRAINT) {
      failed += static_cast<long>(held_.keys.size() - k - 1);
      break;
    }
  }
  return failed == 0 ? std::string() : RowsNotSaved(first, failed);
}

// Rows that could not be saved no longer count as saved.
std::string SqliteConnection::RowsNotSaved(const std::string& why, long rows) {
  groupRows_ -= rows;
  rowsLost_ = true;
  return sqlite::NotSaved(why, rows);
}

std::string SqliteConnection::TryCommit() {
  if (!db_) return {};
  const double start = clock_.Seconds();
  std::string error = SaveHeld();
  const auto add = [&error](const std::string& more) {
    error += (error.empty() ? "" : " ") + more;
  };
  if (sqlite3_get_autocommit(db_)) {
    if (groupOpen_ && groupRows_ > 0) {
      rowsLost_ = true;
      add("The changes to the last " + std::to_string(groupRows_) + " updated rows of " +
          Quoted(name_) + " were lost.");
    }
    groupOpen_ = false;
    return error;
  }
  // A read statement left under way would keep its lock on the file past the commit.
  ++readEpoch_;
  for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s)) {
    if (sqlite3_stmt_busy(s)) sqlite3_reset(s);
  }
  const int rc = sqlite3_step(commit_.get());
  if (rc != SQLITE_DONE) {
    add((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED
            ? "Could not save; currently locked by another user. File " + Quoted(name_) + "."
            : "Could not save the changes to " + Quoted(name_) + ": " + sqlite3_errmsg(db_) + ".");
  }
  sqlite3_reset(commit_.get());
  if (rc == SQLITE_DONE) {
    groupOpen_ = false;
    committedOnce_ = true;
    lastCommit_ = clock_.Seconds();
    commitTime_ = lastCommit_ - start;
  }
  return error;
}

void SqliteConnection::Fail(std::string description, int number) {
  const std::string error = TryCommit();
  if (!error.empty()) description += " " + error;
  // Rows lost on the way weigh more than what the error was about.
  const int lost = TakeErrorNumber();
  throw RunError(description, lost == kErrRowsNotSaved ? lost : number);
}

}  // namespace kw
