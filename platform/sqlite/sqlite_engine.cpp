#include "platform/sqlite/sqlite_engine.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <limits>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/run_error.h"
#include "platform/sqlite/jet_text.h"

namespace kw {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kNoSlices = -1;

constexpr char kInvalidObject[] = "Object invalid or no longer set.";
constexpr char kNoCurrentRecord[] = "No current record.";
constexpr char kUpdateWithoutEdit[] = "Update or CancelUpdate without AddNew or Edit.";
constexpr char kRecordDeleted[] = "Record is deleted.";

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

std::string QuoteId(std::string_view id) {
  std::string out = "\"";
  for (char c : id) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// Names compare as SQLite compares them: ASCII letters without regard to case.
bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string CouldNotFind(std::string_view file) {
  return "Could not find file " + Quoted(file) + ".";
}
std::string Unrecognized(std::string_view file) {
  return "Unrecognized database format " + Quoted(file) + ".";
}
std::string InUse(std::string_view file) {
  return "Could not use " + Quoted(file) + "; file already in use.";
}
std::string CannotOpen(std::string_view file) {
  return "The database engine cannot open the file " + Quoted(file) +
         ". It is already opened exclusively by another user, or you need permission to view "
         "its data.";
}
std::string NeedsRepair(std::string_view file) {
  return "The database " + Quoted(file) + " needs to be repaired or isn't a database file.";
}

class Stmt {
 public:
  Stmt() = default;
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(Stmt&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
  Stmt& operator=(Stmt&& o) noexcept {
    if (this != &o) {
      sqlite3_finalize(s_);
      s_ = std::exchange(o.s_, nullptr);
    }
    return *this;
  }
  sqlite3_stmt* get() const { return s_; }
  sqlite3_stmt** out() { return &s_; }
  void Finalize() {
    sqlite3_finalize(s_);
    s_ = nullptr;
  }

 private:
  sqlite3_stmt* s_ = nullptr;
};

// Ascending row ids, handed to SQL as a pointer.
struct KeySpan {
  const sqlite3_int64* begin;
  const sqlite3_int64* end;
  const sqlite3_int64* hint;  // where the search for the next row id starts
};
constexpr char kKeySpanType[] = "kw";  // short: SQLite compares it at every call

// kw_row_in(span, rowid): whether rowid is one of the keys of the span.
// Row ids asked for in ascending order are found without a search.
void RowIn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* span = static_cast<KeySpan*>(sqlite3_value_pointer(argv[0], kKeySpanType));
  if (!span) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  const sqlite3_int64 key = sqlite3_value_int64(argv[1]);
  const sqlite3_int64* p = span->hint;
  if ((p != span->end && *p < key) || (p != span->begin && p[-1] >= key)) {
    p = std::lower_bound(span->begin, span->end, key);
  }
  const bool found = p != span->end && *p == key;
  span->hint = found ? p + 1 : p;
  sqlite3_result_int(ctx, found);
}

// --- The single-table selection form ------------------------------------

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsIdChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c >= 0x80;
}

// Skips blanks and SQL comments.
size_t SkipBlanks(std::string_view s, size_t i) {
  for (;;) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (s.substr(i, 2) == "--") {
      i = s.find('\n', i);
      if (i == std::string_view::npos) return s.size();
    } else if (s.substr(i, 2) == "/*") {
      i = s.find("*/", i + 2);
      if (i == std::string_view::npos) return s.size();
      i += 2;
    } else {
      return i;
    }
  }
}

size_t WordEnd(std::string_view s, size_t i) {
  while (i < s.size() && IsIdChar(s[i])) ++i;
  return i;
}

// Reads the keyword kw at i; returns the offset after it, or npos.
size_t Keyword(std::string_view s, size_t i, std::string_view kw) {
  const size_t end = WordEnd(s, i);
  return EqualNoCase(s.substr(i, end - i), kw) ? end : std::string_view::npos;
}

// Reads a name, bare, "quoted", `quoted` or [bracketed]; returns the offset
// after it, or npos.
size_t ReadName(std::string_view s, size_t i, std::string& name) {
  name.clear();
  if (i >= s.size()) return std::string_view::npos;
  const char open = s[i];
  if (open == '"' || open == '`') {
    for (size_t j = i + 1; j < s.size(); ++j) {
      if (s[j] != open) {
        name += s[j];
      } else if (j + 1 < s.size() && s[j + 1] == open) {
        name += open;
        ++j;
      } else {
        return name.empty() ? std::string_view::npos : j + 1;
      }
    }
    return std::string_view::npos;
  }
  if (open == '[') {
    const size_t close = s.find(']', i);
    if (close == std::string_view::npos || close == i + 1) return std::string_view::npos;
    name = s.substr(i + 1, close - i - 1);
    return close + 1;
  }
  if (open >= '0' && open <= '9') return std::string_view::npos;
  const size_t end = WordEnd(s, i);
  if (end == i) return std::string_view::npos;
  name = s.substr(i, end - i);
  return end;
}

struct SelectionForm {
  size_t star = 0;  // offset of the '*'
  std::string table;
  size_t condition = std::string_view::npos;  // offset just after WHERE
};

// Recognises "SELECT * FROM <table> [WHERE ...]"; the condition and the end
// of the statement are left to SQLite.
bool ParseSelection(std::string_view s, SelectionForm& form) {
  constexpr size_t npos = std::string_view::npos;
  size_t i = Keyword(s, SkipBlanks(s, 0), "SELECT");
  if (i == npos) return false;
  i = SkipBlanks(s, i);
  if (i >= s.size() || s[i] != '*') return false;
  form.star = i;
  i = Keyword(s, SkipBlanks(s, i + 1), "FROM");
  if (i == npos) return false;
  i = ReadName(s, SkipBlanks(s, i), form.table);
  if (i == npos) return false;
  i = SkipBlanks(s, i);
  if (i == s.size() || s[i] == ';') return true;
  form.condition = Keyword(s, i, "WHERE");
  return form.condition != npos;
}

// The selection comes from text the program puts together from the
// product's files, so it may do no more than the single-table form needs:
// one SELECT, reading the one table, with plain functions. This keeps a
// damaged or hostile name from reading elsewhere, recursing without end or
// building huge values.
class SelectionGuard {
 public:
  SelectionGuard(sqlite3* db, const std::string& table) : db_(db), table_(table) {
    sqlite3_set_authorizer(db_, Authorize, this);
  }
  ~SelectionGuard() { sqlite3_set_authorizer(db_, nullptr, nullptr); }
  SelectionGuard(const SelectionGuard&) = delete;
  SelectionGuard& operator=(const SelectionGuard&) = delete;

  // Prepares one statement under the guard.
  int Prepare(std::string_view sql, Stmt& stmt, const char** tail) {
    selects_ = 0;
    return sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), stmt.out(), tail);
  }
  // Whether the guard refused something.
  bool Refused() const { return refused_; }

 private:
  static int Authorize(void* self, int action, const char* a, const char* b, const char* db,
                       const char*) {
    auto* guard = static_cast<SelectionGuard*>(self);
    const bool allowed = Allowed(*guard, action, a, b, db);
    if (!allowed) guard->refused_ = true;
    return allowed ? SQLITE_OK : SQLITE_DENY;
  }

  static bool Allowed(SelectionGuard& guard, int action, const char* a, const char* b,
                      const char* db) {
    switch (action) {
      case SQLITE_SELECT:
        return ++guard.selects_ == 1;
      case SQLITE_READ:
        // A statement that reads no column of the table (the key set of a
        // selection without a condition) is told with no column and no database.
        if (!db) return a && b && *b == '\0' && EqualNoCase(a, guard.table_);
        return a && EqualNoCase(a, guard.table_) && std::string_view(db) == "main";
      case SQLITE_FUNCTION:
        for (const char* plain :
             {"like", "glob", "lower", "upper", "trim", "ltrim", "rtrim", "length", "substr",
              "substring", "instr", "coalesce", "ifnull", "nullif", "abs", "typeof"}) {
          if (b && EqualNoCase(b, plain)) return true;
        }
        return false;
      default:
        return false;
    }
  }

  sqlite3* db_;
  const std::string& table_;
  int selects_ = 0;
  bool refused_ = false;
};

}  // namespace

// What the connections of one engine share.
struct SqliteShared {
  size_t keptBytesLeft = 0;            // for values kept with key sets
  std::vector<std::string> lastRead;  // the columns the last record set read
  SqliteEngineStats stats;
};

// --- Connection -----------------------------------------------------------

// Rows whose Update was accepted inside the open write group but whose
// UPDATE has not run yet. A record set keeps them; the connection runs them
// before anything else runs on it.
class QueuedWrites {
 public:
  // Runs the queued updates and forgets them. Returns the error, or empty;
  // the words say how many rows were not saved.
  virtual std::string FlushWrites() = 0;

 protected:
  ~QueuedWrites() = default;
};

// One open database file, shared by the Database and its record sets. It
// owns the grouping of updates into write transactions.
class SqliteConnection {
 public:
  SqliteConnection(sqlite3* db, std::string name, const SqliteEngineOptions& options,
                   std::shared_ptr<SqliteShared> shared)
      : db_(db),
        name_(std::move(name)),
        options_(options),
        shared_(std::move(shared)),
        commitTime_(std::chrono::milliseconds(options.commitIntervalMs) / 4) {}
  ~SqliteConnection() {
    TryCommit();
    begin_.Finalize();
    commit_.Finalize();
    dataVersion_.Finalize();
    sqlite3_close_v2(db_);
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  sqlite3* db() const { return db_; }
  const std::string& Name() const { return name_; }
  const SqliteEngineOptions& Options() const { return options_; }
  SqliteShared& Shared() const { return *shared_; }

  // Sets the connection up and checks that the file is a database.
  void Configure() {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, options_.busyTimeoutMs);
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(options_.cacheKiB);
    sqlite3_exec(db_, cache.c_str(), nullptr, nullptr, nullptr);
    Stmt check;
    int rc =
        sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_schema", -1, check.out(), nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(check.get());
    if (rc != SQLITE_ROW) {
      switch (rc & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
          throw RunError(InUse(name_));
        case SQLITE_NOTADB:
          throw RunError(Unrecognized(name_));
        case SQLITE_CORRUPT:
          throw RunError(NeedsRepair(name_));
        default:
          throw RunError(CannotOpen(name_) + " (" + sqlite3_errmsg(db_) + ")");
      }
    }
    if (sqlite3_prepare_v2(db_, "BEGIN IMMEDIATE", -1, begin_.out(), nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, "COMMIT", -1, commit_.out(), nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, dataVersion_.out(), nullptr) !=
            SQLITE_OK ||
        sqlite3_create_function_v2(db_, "kw_row_in", 2, SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr,
                                   RowIn, nullptr, nullptr, nullptr) != SQLITE_OK ||
        RegisterJetCollation(db_) != SQLITE_OK) {
      throw RunError(CannotOpen(name_) + " (" + sqlite3_errmsg(db_) + ")");
    }
  }

  // The words for a failed SQLite call concerning table; read at once after the call.
  std::string Describe(int rc, std::string_view table, bool writing) const {
    const std::string where = " Table " + Quoted(table) + " in " + Quoted(name_) + ".";
    switch (rc & 0xff) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        return std::string(writing ? "Could not update" : "Could not read") +
               "; currently locked by another user." + where;
      case SQLITE_READONLY:
        return "Cannot update. Database or object is read-only." + where;
      case SQLITE_NOTADB:
        return Unrecognized(name_);
      case SQLITE_CORRUPT:
        return NeedsRepair(name_);
      default:
        return std::string(sqlite3_errmsg(db_)) + "." + where;
    }
  }

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
  void RowsChangedAside() { ++keptEra_; }
  // Looks whether another connection has committed since the last look
  // (our own commits leave SQLite's data version as it is); returns KeptEra().
  uint64_t LookForOthers() {
    const int rc = sqlite3_step(dataVersion_.get());
    const sqlite3_int64 version =
        rc == SQLITE_ROW ? sqlite3_column_int64(dataVersion_.get(), 0) : -1;
    sqlite3_reset(dataVersion_.get());
    if (version < 0 || version != dataVersionSeen_) ++keptEra_;
    dataVersionSeen_ = version;
    return keptEra_;
  }

  // Makes sure a write group is open for a row about to be edited: commits
  // the open one first if it has been open long enough, and before a new
  // one leaves other writers their turn since the last commit.
  void BeginGroup(std::string_view table) {
    if (OpenGroup()) {
      if (!GroupDue()) return;
      const std::string error = TryCommit();
      if (!error.empty()) throw RunError(error);
    }
    // BEGIN IMMEDIATE succeeds on a file opened read-only; the updates would not.
    if (sqlite3_db_readonly(db_, "main") == 1) {
      throw RunError(Describe(SQLITE_READONLY, table, true));
    }
    if (options_.writerGapMs > 0 && committedOnce_) {
      const auto until = lastCommit_ + std::chrono::milliseconds(options_.writerGapMs);
      if (Clock::now() < until) std::this_thread::sleep_until(until);
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
    groupStart_ = Clock::now();
  }

  // Counts a row saved or queued; commits the group once it has been open long enough.
  void RowSaved() {
    ++groupRows_;
    ++saves_;
    if (GroupDue()) {
      const std::string error = TryCommit();
      if (!error.empty()) throw RunError(error);
    }
  }
  // Takes back rows counted as saved that a flush could not save.
  void RowsNotSaved(long rows) { groupRows_ -= rows; }

  // The record set whose queued rows run before anything else on the connection.
  QueuedWrites* Writer() const { return writer_; }
  void SetWriter(QueuedWrites* w) { writer_ = w; }
  void Forget(QueuedWrites* w) {
    if (writer_ == w) writer_ = nullptr;
  }
  // Runs the queued rows, if any. Returns the error, or empty.
  std::string Flush() {
    QueuedWrites* w = std::exchange(writer_, nullptr);
    return w ? w->FlushWrites() : std::string();
  }
  void FlushOrFail() {
    std::string error = Flush();
    if (!error.empty()) Fail(std::move(error));
  }

  // Runs the queued rows and commits the open group, if any. Returns the
  // error, or empty. SQLite itself rolls a transaction back after some
  // failures (disk full, I/O error); such a loss is told as an error too.
  std::string TryCommit() {
    if (!db_) return {};
    const auto start = Clock::now();
    std::string error = Flush();
    const auto add = [&error](const std::string& more) {
      error += (error.empty() ? "" : " ") + more;
    };
    if (sqlite3_get_autocommit(db_)) {
      if (groupOpen_ && groupRows_ > 0) {
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
              : "Could not save the changes to " + Quoted(name_) + ": " + sqlite3_errmsg(db_) +
                    ".");
    }
    sqlite3_reset(commit_.get());
    if (rc == SQLITE_DONE) {
      groupOpen_ = false;
      committedOnce_ = true;
      lastCommit_ = Clock::now();
      commitTime_ = lastCommit_ - start;
    }
    return error;
  }

  // Whether the open group should be committed: it keeps other writers out
  // until its commit is through, which takes about as long as the last one.
  // However slow the commits, a group gets half the time for its rows.
  bool GroupDue() const {
    const Clock::duration interval = std::chrono::milliseconds(options_.commitIntervalMs);
    return Clock::now() - groupStart_ + std::min(commitTime_, interval / 2) >= interval;
  }

  // Commits what is pending, then throws description with its number.
  [[noreturn]] void Fail(std::string description, int number = kErrGeneral) {
    const std::string error = TryCommit();
    if (!error.empty()) description += " " + error;
    throw RunError(description, number);
  }

 private:
  sqlite3* db_;
  std::string name_;
  SqliteEngineOptions options_;
  std::shared_ptr<SqliteShared> shared_;
  Stmt begin_;
  Stmt commit_;
  Stmt dataVersion_;
  sqlite3_int64 dataVersionSeen_ = -1;
  uint64_t keptEra_ = 0;
  uint64_t saves_ = 0;
  QueuedWrites* writer_ = nullptr;
  uint64_t group_ = 0;
  uint64_t readEpoch_ = 0;
  bool groupOpen_ = false;
  long groupRows_ = 0;
  Clock::time_point groupStart_;
  bool committedOnce_ = false;
  Clock::time_point lastCommit_;
  Clock::duration commitTime_;  // of the last commit; a guess before the first
};

namespace {

// --- Record set -------------------------------------------------------------

struct Cell {
  std::string text;
  bool null = true;
  bool operator==(const Cell& o) const { return null == o.null && (null || text == o.text); }
};

// Values of some columns of the first rows of a key set, kept as it is
// read, as long as the engine's budget lasts. Rows lie in blocks, so that
// growing never copies much; the bytes go back to the budget with them.
class KeptValues {
 public:
  KeptValues(std::vector<size_t> columns, size_t& budget)
      : columns_(std::move(columns)), budget_(budget), values_(columns_.size()) {}
  ~KeptValues() { budget_ += bytes_; }
  KeptValues(const KeptValues&) = delete;
  KeptValues& operator=(const KeptValues&) = delete;

  size_t Rows() const { return rows_; }
  // The place of a column among the kept ones, or -1.
  int Slot(size_t column) const {
    for (size_t k = 0; k < columns_.size(); ++k) {
      if (columns_[k] == column) return static_cast<int>(k);
    }
    return -1;
  }

  // Keeps the kept columns of the row on which s stands, found from its
  // result column `first` on; takes no more rows once one does not fit.
  void Add(sqlite3_stmt* s, int first) {
    if (full_) return;
    const size_t n = columns_.size();
    size_t size = 0;
    for (size_t k = 0; k < n; ++k) {
      const int col = first + static_cast<int>(k);
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
      if (!text && sqlite3_column_type(s, col) != SQLITE_NULL) {
        full_ = true;  // out of memory
        return;
      }
      values_[k] = text ? std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(s, col)))
                        : std::string_view();
      size += values_[k].size();
    }
    if (rows_ % kBlockRows == 0) {
      if (!blocks_.empty()) Trim(blocks_.back());
      if (!Take(kBlockRows * n * sizeof(uint32_t))) return;
      blocks_.emplace_back().ends.reserve(kBlockRows * n);
    }
    Block& b = blocks_.back();
    if (b.text.size() + size > b.text.capacity()) {
      const size_t want = std::max(b.text.size() + size, 2 * b.text.capacity());
      if (want >= kNull || !Take(want - b.text.capacity())) {
        full_ = true;
        return;
      }
      b.text.reserve(want);
    }
    for (const std::string_view value : values_) {
      b.text.append(value);
      b.ends.push_back(static_cast<uint32_t>(b.text.size()) | (value.data() ? 0 : kNull));
    }
    ++rows_;
  }

  // Gives back what the last block holds in reserve.
  void Finish() {
    if (!blocks_.empty()) Trim(blocks_.back());
  }

  // The value of row r in slot k.
  void Get(size_t r, int slot, Cell& cell) const {
    const Block& b = blocks_[r / kBlockRows];
    const size_t i = (r % kBlockRows) * columns_.size() + static_cast<size_t>(slot);
    const size_t start = i == 0 ? 0 : b.ends[i - 1] & ~kNull;
    cell.null = (b.ends[i] & kNull) != 0;
    if (!cell.null) cell.text.assign(b.text, start, (b.ends[i] & ~kNull) - start);
  }

 private:
  static constexpr size_t kBlockRows = 1024;
  static constexpr uint32_t kNull = 0x80000000u;  // in an end: the value is null
  struct Block {
    std::vector<uint32_t> ends;  // where each value ends in text, row by row
    std::string text;
  };

  bool Take(size_t bytes) {
    if (bytes > budget_) {
      full_ = true;
      return false;
    }
    budget_ -= bytes;
    bytes_ += bytes;
    return true;
  }
  void Trim(Block& b) {
    const size_t before = b.ends.capacity() * sizeof(uint32_t) + b.text.capacity();
    b.ends.shrink_to_fit();
    b.text.shrink_to_fit();
    const size_t after = b.ends.capacity() * sizeof(uint32_t) + b.text.capacity();
    if (after < before) {
      budget_ += before - after;
      bytes_ -= before - after;
    }
  }

  std::vector<size_t> columns_;
  size_t& budget_;
  std::vector<std::string_view> values_;  // of the row being kept; no data when null
  size_t bytes_ = 0;  // taken from the budget
  size_t rows_ = 0;
  bool full_ = false;
  std::vector<Block> blocks_;
};

// Rows updated alike are saved together by one statement, at most this many.
constexpr size_t kBatchRows = 256;
// That statement walks the row ids from the first queued row to the last,
// no more than this many for each queued row.
constexpr uint64_t kRowIdsPerRow = 16;
// The reading statement steps forward to the next key when it is at most
// this many row ids ahead, and seeks it otherwise: passing over a row that
// is not a key costs about a sixth of a seek.
constexpr uint64_t kStepRowIds = 6;

class SqliteRecordset : public Recordset, private QueuedWrites {
 public:
  // kept: values read with the key set when KeptEra() and Saves() of the
  // connection were keptEra and keptSaves; may be null.
  SqliteRecordset(std::shared_ptr<SqliteConnection> conn, std::string table, std::string rowid,
                  std::vector<std::string> names, std::vector<sqlite3_int64> keys,
                  std::unique_ptr<KeptValues> kept, uint64_t keptEra, uint64_t keptSaves)
      : conn_(std::move(conn)),
        table_(std::move(table)),
        rowid_(std::move(rowid)),
        names_(std::move(names)),
        keys_(std::move(keys)),
        kept_(std::move(kept)),
        keptEra_(keptEra),
        keptSaves_(keptSaves) {
    row_.resize(names_.size());
    edit_.resize(names_.size());
    wanted_.assign(names_.size(), 0);
    changed_.assign(names_.size(), 0);
  }

  ~SqliteRecordset() override {
    if (conn_) Release();
  }

  bool Eof() override {
    Connection();
    return pos_ >= keys_.size();
  }

  // The row is read inside the write group that will save it, so that no
  // one else can change it between Edit and Update.
  void Edit() override {
    SqliteConnection& c = Connection();
    if (pos_ >= keys_.size()) c.Fail(kNoCurrentRecord);
    editing_ = false;
    ClearChanges();
    c.BeginGroup(table_);
    Fetch();
    editGroup_ = c.OpenGroup();
    editing_ = true;
  }

  FieldValue GetValue(std::string_view field) override {
    SqliteConnection& c = Connection();
    const size_t i = Column(field);
    if (pos_ >= keys_.size()) c.Fail(kNoCurrentRecord);
    const Cell* cell = &row_[i];
    if (editing_ && changed_[i]) {
      cell = &edit_[i];
    } else {
      if (!wanted_[i]) Want(i);
      if (!fetched_) Fetch();
    }
    if (cell->null) return std::nullopt;
    return cell->text;
  }

  void SetValue(std::string_view field, const FieldValue& value) override {
    SqliteConnection& c = Connection();
    const size_t i = Column(field);
    if (!editing_) c.Fail(kUpdateWithoutEdit);
    edit_[i].null = !value.has_value();
    if (value) edit_[i].text.assign(*value);
    if (!changed_[i]) {
      changed_[i] = 1;
      changedList_.insert(std::upper_bound(changedList_.begin(), changedList_.end(), i), i);
    }
  }

  // Inside the group of its Edit the row cannot have changed or gone, so its
  // update is queued and runs with others of the same kind. Otherwise it runs
  // at once.
  void Update() override {
    SqliteConnection& c = Connection();
    if (!editing_) c.Fail(kUpdateWithoutEdit);
    if (!changedList_.empty()) {
      for (size_t i : changedList_) {
        if (!edit_[i].null && edit_[i].text.size() > INT_MAX) {
          c.Fail("Value too long for field " + Quoted(names_[i]) + " of table " + Quoted(table_) +
                 ".");
        }
      }
      const size_t u = Statements();
      if (editGroup_ != 0 && editGroup_ == c.OpenGroup()) {
        Queue(u);
      } else {
        c.FlushOrFail();
        c.BeginGroup(table_);
        std::vector<Cell> values;
        for (size_t i : changedList_) values.push_back(edit_[i]);
        int rc = SQLITE_OK;
        const std::string error = Save(u, values, &keys_[pos_], 1, rc);
        if (!error.empty()) c.Fail(error);
        if (sqlite3_changes(c.db()) == 0) c.Fail(RecordDeleted(), kErrRecordDeleted);
      }
      ++keptSaves_;
      saved_ = true;
      c.RowSaved();
    }
    editing_ = false;
    fetched_ = false;
    ClearChanges();
  }

  void MoveNext() override {
    SqliteConnection& c = Connection();
    if (pos_ >= keys_.size()) c.Fail(kNoCurrentRecord);
    ++pos_;
    editing_ = false;
    fetched_ = false;
    saved_ = false;
    ClearChanges();
  }

  void Close() override {
    if (!conn_) throw RunError(kInvalidObject);
    const std::string error = Release();
    if (!error.empty()) throw RunError(error);
  }

 private:
  // The statement that saves one set of changed columns in the rows of a
  // span of keys: the new values, the first and the last key, the span.
  struct ColumnUpdate {
    std::vector<size_t> columns;  // ascending
    Stmt stmt;
  };

  SqliteConnection& Connection() {
    if (!conn_) throw RunError(kInvalidObject);
    return *conn_;
  }

  std::string RecordDeleted() const {
    return std::string(kRecordDeleted) + " Table " + Quoted(table_) + " in " +
           Quoted(conn_->Name()) + ".";
  }

  // Finalizes the statements and lets go of the connection, committing first.
  std::string Release() {
    std::string error = conn_->TryCommit();
    conn_->Forget(this);
    if (!wantedList_.empty()) {
      auto& read = conn_->Shared().lastRead;
      read.clear();
      for (size_t i : wantedList_) read.push_back(names_[i]);
    }
    kept_.reset();
    queueKeys_.clear();
    read_.Finalize();
    updates_.clear();
    conn_.reset();
    return error;
  }

  // The index of a column; names seen before are found by exact comparison.
  size_t Column(std::string_view field) {
    for (const auto& [name, index] : lookups_) {
      if (name == field) return index;
    }
    for (size_t i = 0; i < names_.size(); ++i) {
      if (!EqualNoCase(names_[i], field)) continue;
      if (lookups_.size() < 2 * names_.size()) lookups_.emplace_back(field, i);
      return i;
    }
    conn_->Fail("Field " + Quoted(field) + " not found in table " + Quoted(table_) + ".");
  }

  void ClearChanges() {
    for (size_t i : changedList_) changed_[i] = 0;
    changedList_.clear();
  }

  // Adds a column to those read for every row; the reading statement is made anew.
  void Want(size_t column) {
    wanted_[column] = 1;
    wantedList_.push_back(column);
    read_.Finalize();
    fetched_ = false;
  }

  // Reads the wanted columns of the current row as it is now; fails when
  // the row is gone. The keys ascend, so inside a write group one statement
  // walks forward from key to key; outside a group it is reset after every
  // row, as a statement under way keeps other writers from committing.
  void Fetch() {
    SqliteConnection& c = *conn_;
    const sqlite3_int64 key = keys_[pos_];
    // Queued rows go first: another record set's, and this row if it is queued.
    if (c.Writer() && (c.Writer() != this || (!queueKeys_.empty() && queueKeys_.back() == key))) {
      c.FlushOrFail();
    }
    if (kept_ && FromKept()) return;
    ++c.Shared().stats.rowsRead;
    if (!read_.get()) {
      std::string sql = "SELECT " + rowid_;
      for (size_t i : wantedList_) sql += ", " + QuoteId(names_[i]);
      sql += " FROM " + QuoteId(table_) + " WHERE " + rowid_ + ">=?1 AND kw_row_in(?2, " + rowid_ +
             ")";
      const int rc = sqlite3_prepare_v2(c.db(), sql.c_str(), -1, read_.out(), nullptr);
      if (rc != SQLITE_OK) c.Fail(c.Describe(rc, table_, false));
      walking_ = false;
    }
    sqlite3_stmt* s = read_.get();
    const bool inGroup = c.OpenGroup() != 0;
    int rc = SQLITE_ROW;
    bool placed = false;
    // The statement passes over rows that are not keys from the current one on.
    if (inGroup && walking_ && walkEpoch_ == c.ReadEpoch() && walkKey_ < key &&
        static_cast<uint64_t>(key) - static_cast<uint64_t>(walkKey_) <= kStepRowIds) {
      while (rc == SQLITE_ROW && walkKey_ < key) {
        rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) walkKey_ = sqlite3_column_int64(s, 0);
      }
      placed = true;
    }
    if (!placed) {
      sqlite3_reset(s);
      walkSpan_ = {&keys_[pos_], keys_.data() + keys_.size(), &keys_[pos_]};
      sqlite3_bind_int64(s, 1, key);
      sqlite3_bind_pointer(s, 2, &walkSpan_, kKeySpanType, nullptr);
      rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) walkKey_ = sqlite3_column_int64(s, 0);
    }
    std::string error;
    int number = kErrGeneral;
    if (rc == SQLITE_ROW && walkKey_ == key) {
      for (size_t k = 0; k < wantedList_.size(); ++k) {
        const int col = static_cast<int>(k + 1);
        Cell& cell = row_[wantedList_[k]];
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
        cell.null = !text;
        if (text) {
          cell.text.assign(text, static_cast<size_t>(sqlite3_column_bytes(s, col)));
        } else if (sqlite3_column_type(s, col) != SQLITE_NULL) {
          error = c.Describe(sqlite3_errcode(c.db()), table_, false);  // out of memory
          break;
        }
      }
    } else if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
      error = RecordDeleted();
      number = kErrRecordDeleted;
    } else {
      error = c.Describe(rc, table_, false);
    }
    walking_ = inGroup && rc == SQLITE_ROW && error.empty();
    walkEpoch_ = c.ReadEpoch();
    if (!walking_) sqlite3_reset(s);
    if (!error.empty()) c.Fail(error, number);
    fetched_ = true;
  }

  // Takes the wanted columns of the current row from the values kept with
  // the key set, while they are still the file's: inside a write group,
  // with no one else having committed or saved a row since they were read,
  // and the row not saved since. Kept values found out of date go for good.
  bool FromKept() {
    SqliteConnection& c = *conn_;
    if (c.KeptEra() != keptEra_ || c.Saves() != keptSaves_ || pos_ >= kept_->Rows()) {
      kept_.reset();
      return false;
    }
    if (!c.OpenGroup() || saved_) return false;
    for (size_t i : wantedList_) {
      if (kept_->Slot(i) < 0) return false;
    }
    for (size_t i : wantedList_) kept_->Get(pos_, kept_->Slot(i), row_[i]);
    ++c.Shared().stats.rowsKept;
    fetched_ = true;
    return true;
  }

  // The statement for the changed columns, prepared once per set of columns.
  size_t Statements() {
    for (size_t u = 0; u < updates_.size(); ++u) {
      if (updates_[u].columns == changedList_) return u;
    }
    std::string sql = "UPDATE " + QuoteId(table_) + " SET ";
    int p = 1;
    for (size_t i : changedList_) {
      if (p > 1) sql += ", ";
      sql += QuoteId(names_[i]) + "=?" + std::to_string(p++);
    }
    sql += " WHERE " + rowid_ + " BETWEEN ?" + std::to_string(p) + " AND ?" +
           std::to_string(p + 1) + " AND kw_row_in(?" + std::to_string(p + 2) + ", " + rowid_ + ")";
    ColumnUpdate u{changedList_, {}};
    const int rc = sqlite3_prepare_v2(conn_->db(), sql.c_str(), -1, u.stmt.out(), nullptr);
    if (rc != SQLITE_OK) conn_->Fail(conn_->Describe(rc, table_, true));
    updates_.push_back(std::move(u));
    return updates_.size() - 1;
  }

  // Saves the rows of count ascending keys; returns the error, or empty,
  // and in rc SQLite's result.
  std::string Save(size_t u, const std::vector<Cell>& values, const sqlite3_int64* keys,
                   size_t count, int& rc) {
    sqlite3_stmt* s = updates_[u].stmt.get();
    int p = 1;
    for (const Cell& cell : values) {
      if (cell.null) {
        sqlite3_bind_null(s, p++);
      } else {
        sqlite3_bind_text(s, p++, cell.text.data(), static_cast<int>(cell.text.size()),
                          SQLITE_STATIC);
      }
    }
    KeySpan span{keys, keys + count, keys};
    sqlite3_bind_int64(s, p, keys[0]);
    sqlite3_bind_int64(s, p + 1, keys[count - 1]);
    sqlite3_bind_pointer(s, p + 2, &span, kKeySpanType, nullptr);
    const sqlite3_int64 before = sqlite3_total_changes64(conn_->db());
    rc = sqlite3_step(s);
    // Rows changed besides those saved (by triggers) may be kept ones.
    if (rc != SQLITE_DONE ||
        sqlite3_total_changes64(conn_->db()) - before != sqlite3_changes64(conn_->db())) {
      conn_->RowsChangedAside();
    }
    std::string error = rc == SQLITE_DONE ? "" : conn_->Describe(rc, table_, true);
    sqlite3_reset(s);
    sqlite3_bind_null(s, p + 2);
    return error;
  }

  // Queues the current row; rows queued before it run first when they were
  // changed otherwise, or when the batch is full.
  void Queue(size_t u) {
    SqliteConnection& c = *conn_;
    if (c.Writer() && c.Writer() != this) c.FlushOrFail();
    if (!queueKeys_.empty()) {
      // Keys ascend in the queue, and the rows they span stay few.
      const sqlite3_int64 key = keys_[pos_];
      bool alike = queueUpdate_ == u && queueKeys_.size() < kBatchRows && key > queueKeys_.back() &&
                   static_cast<uint64_t>(key) - static_cast<uint64_t>(queueKeys_[0]) <
                       kRowIdsPerRow * (queueKeys_.size() + 1);
      for (size_t k = 0; alike && k < changedList_.size(); ++k) {
        alike = queueValues_[k] == edit_[changedList_[k]];
      }
      if (!alike) {
        c.SetWriter(nullptr);
        std::string error = FlushWrites();
        if (!error.empty()) c.Fail(std::move(error));
      }
    }
    if (queueKeys_.empty()) {
      queueUpdate_ = u;
      queueValues_.clear();
      for (size_t i : changedList_) queueValues_.push_back(edit_[i]);
      c.SetWriter(this);
    }
    queueKeys_.push_back(keys_[pos_]);
  }

  // Runs the queued rows as one statement. Should a row make it fail (a
  // constraint), or be missing, the rows run one by one, so that every row
  // that can be saved is. Rows of a group that SQLite rolled back are lost
  // with it; the commit says so.
  std::string FlushWrites() override {
    if (queueKeys_.empty()) return {};
    SqliteConnection& c = *conn_;
    const size_t n = queueKeys_.size();
    std::string error;
    if (!sqlite3_get_autocommit(c.db())) {
      int rc = SQLITE_OK;
      error = Save(queueUpdate_, queueValues_, queueKeys_.data(), n, rc);
      if (rc == SQLITE_DONE && sqlite3_changes(c.db()) == static_cast<int>(n)) {
        error.clear();
      } else if (!sqlite3_get_autocommit(c.db())) {
        error = rc == SQLITE_DONE || (rc & 0xff) == SQLITE_CONSTRAINT
                    ? FlushOneByOne()
                    : NotSaved(error, static_cast<long>(n));
      }
    }
    queueKeys_.clear();
    return error;
  }

  // Words for rows that could not be saved, which no longer count as saved.
  std::string NotSaved(const std::string& why, long rows) {
    conn_->RowsNotSaved(rows);
    return why + " " + std::to_string(rows) +
           (rows == 1 ? " updated row was" : " updated rows were") + " not saved.";
  }

  std::string FlushOneByOne() {
    SqliteConnection& c = *conn_;
    std::string first;
    long failed = 0;
    for (size_t k = 0; k < queueKeys_.size(); ++k) {
      int rc = SQLITE_OK;
      const std::string error = Save(queueUpdate_, queueValues_, &queueKeys_[k], 1, rc);
      if (rc == SQLITE_DONE && sqlite3_changes(c.db()) == 1) continue;
      ++failed;
      if (first.empty()) first = rc == SQLITE_DONE ? RecordDeleted() : error;
      if (sqlite3_get_autocommit(c.db())) break;
      // Only a row's own fault (a constraint) leaves the rows after it a chance.
      if (rc != SQLITE_DONE && (rc & 0xff) != SQLITE_CONSTRAINT) {
        failed += static_cast<long>(queueKeys_.size() - k - 1);
        break;
      }
    }
    return failed == 0 ? std::string() : NotSaved(first, failed);
  }

  // Declared first, so that the statements are finalized before it goes.
  std::shared_ptr<SqliteConnection> conn_;
  std::string table_;
  std::string rowid_;
  std::vector<std::string> names_;
  std::vector<std::pair<std::string, size_t>> lookups_;
  std::vector<sqlite3_int64> keys_;  // ascending
  size_t pos_ = 0;
  std::unique_ptr<KeptValues> kept_;  // of the first keys, or null
  uint64_t keptEra_;
  uint64_t keptSaves_;  // Saves() of the connection while kept_ is the file's
  bool saved_ = false;  // the current row has been saved
  Stmt read_;             // reads the wanted columns of the keys from a row id on
  KeySpan walkSpan_{};    // the keys read_ is given
  bool walking_ = false;  // read_ stands on row walkKey_, read in epoch walkEpoch_
  sqlite3_int64 walkKey_ = 0;
  uint64_t walkEpoch_ = 0;
  std::vector<char> wanted_;  // columns asked for so far
  std::vector<size_t> wantedList_;
  std::vector<Cell> row_;  // the current row, wanted columns only
  bool fetched_ = false;
  bool editing_ = false;
  uint64_t editGroup_ = 0;  // the write group in which Edit read the row
  std::vector<Cell> edit_;
  std::vector<char> changed_;
  std::vector<size_t> changedList_;  // ascending
  std::vector<ColumnUpdate> updates_;
  // Rows updated inside the open group and not yet saved: all with the
  // same statement and the same values.
  size_t queueUpdate_ = 0;
  std::vector<Cell> queueValues_;
  std::vector<sqlite3_int64> queueKeys_;
};

// --- Database ---------------------------------------------------------------

class SqliteDatabase : public Database {
 public:
  explicit SqliteDatabase(std::shared_ptr<SqliteConnection> conn) : conn_(std::move(conn)) {}
  ~SqliteDatabase() override {
    if (conn_) conn_->TryCommit();
  }

  std::unique_ptr<Recordset> OpenRecordset(std::string_view source, int type) override {
    if (!conn_) throw RunError(kInvalidObject);
    SqliteConnection& c = *conn_;
    c.FlushOrFail();
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
    Stmt keyStmt;
    const char* tail = nullptr;
    int rc = SQLITE_OK;
    std::string error;
    {
      SelectionGuard guard(c.db(), form.table);
      rc = guard.Prepare(text, given, &tail);
      if (rc != SQLITE_OK) error = SelectionError(rc, source, form.table, guard.Refused());
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

    // The key set: the same statement with the row id, and the columns
    // whose values are kept, in place of '*'.
    KeySet set(c.Shared(), KeptColumns(names));
    std::string keySql(text.substr(0, form.star));
    keySql += rowid + set.ColumnList(names);
    keySql += text.substr(form.star + 1, end - form.star - 1);
    {
      SelectionGuard guard(c.db(), form.table);
      rc = guard.Prepare(keySql, keyStmt, nullptr);
      if (rc != SQLITE_OK) error = SelectionError(rc, source, form.table, guard.Refused());
    }
    if (!error.empty()) c.Fail(error);
    // Kept values are the file's as long as nobody else commits from here on.
    const uint64_t era = c.LookForOthers();
    const uint64_t saves = c.Saves();
    // A read keeps other writers from committing, so a scan that takes
    // longer than a moment goes again by slices of row ids, each its own read.
    const auto slice = std::chrono::milliseconds(c.Options().scanSliceMs);
    const bool whole = ReadKeys(keyStmt.get(), set, Clock::now() + slice);
    rc = sqlite3_errcode(c.db());
    if (!whole) {
      sqlite3_reset(keyStmt.get());
      set.Restart();
      rc = ScanBySlices(text, form, rowid, set.ColumnList(names), end, slice, set);
      if (rc == kNoSlices) {
        // A condition that does not fit the sliced form is read in one go.
        set.Restart();
        ReadKeys(keyStmt.get(), set, Clock::time_point::max());
        rc = sqlite3_errcode(c.db());
      }
    }
    keyStmt.Finalize();
    if (rc != SQLITE_DONE) c.Fail(c.Describe(rc, form.table, false));
    std::vector<sqlite3_int64>& keys = set.keys;
    keys.shrink_to_fit();
    // The order of the rows is the engine's; ascending keys let one statement
    // read them walking forward. Values kept in another order are let go.
    if (!std::is_sorted(keys.begin(), keys.end())) {
      std::sort(keys.begin(), keys.end());
      set.kept.reset();
    }
    if (set.kept) set.kept->Finish();
    if (set.kept && set.kept->Rows() == 0) set.kept.reset();
    return std::make_unique<SqliteRecordset>(conn_, form.table, rowid, std::move(names),
                                             std::move(keys), std::move(set.kept), era, saves);
  }

  // The keys of a selection as they are read, with the values kept.
  struct KeySet {
    KeySet(SqliteShared& shared, std::vector<size_t> columns)
        : shared_(shared), columns_(std::move(columns)) {
      Restart();
    }
    // Forgets what was read.
    void Restart() {
      keys.clear();
      kept.reset();
      if (!columns_.empty() && shared_.keptBytesLeft > 0) {
        kept = std::make_unique<KeptValues>(columns_, shared_.keptBytesLeft);
      }
    }
    // ", " and the kept columns, for the key statement.
    std::string ColumnList(const std::vector<std::string>& names) const {
      std::string list;
      if (kept) {
        for (size_t i : columns_) list += ", " + QuoteId(names[i]);
      }
      return list;
    }

    std::vector<sqlite3_int64> keys;
    std::unique_ptr<KeptValues> kept;

   private:
    SqliteShared& shared_;
    std::vector<size_t> columns_;
  };

  // The columns whose values are kept with the key set: those the record
  // set before read, as far as this one has them.
  std::vector<size_t> KeptColumns(const std::vector<std::string>& names) const {
    std::vector<size_t> columns;
    for (const std::string& read : conn_->Shared().lastRead) {
      for (size_t i = 0; i < names.size(); ++i) {
        if (EqualNoCase(names[i], read) &&
            std::find(columns.begin(), columns.end(), i) == columns.end()) {
          columns.push_back(i);
        }
      }
    }
    return columns;
  }

  // Steps a key statement into the key set until it is done (true) or the
  // deadline has passed (false, the statement stays where it is).
  static bool ReadKeys(sqlite3_stmt* st, KeySet& set, Clock::time_point deadline) {
    for (size_t n = 1;; ++n) {
      const int rc = sqlite3_step(st);
      if (rc != SQLITE_ROW) return true;  // done, or failed: sqlite3_errcode tells
      set.keys.push_back(sqlite3_column_int64(st, 0));
      if (set.kept) set.kept->Add(st, 1);
      if (n % 256 == 0 && Clock::now() > deadline) return false;
    }
  }

  // The key set read in ascending row ids, a slice at a time; between slices
  // the read ends, so that other writers can commit. Returns SQLite's code,
  // or kNoSlices when the selection cannot be read that way.
  int ScanBySlices(std::string_view source, const SelectionForm& form, const std::string& rowid,
                   const std::string& columns, size_t end, std::chrono::milliseconds slice,
                   KeySet& set) {
    SqliteConnection& c = *conn_;
    std::string condition;
    if (form.condition != std::string_view::npos) {
      condition = source.substr(form.condition, end - form.condition);
      if (!condition.empty() && condition.back() == ';') condition.pop_back();
      // The line end closes a trailing "--" comment.
      condition = " AND (" + condition + "\n)";
    }
    const std::string sql = "SELECT " + rowid + columns + " FROM " + QuoteId(form.table) +
                            " NOT INDEXED WHERE " + rowid + " >= ?1" + condition + " ORDER BY " +
                            rowid;
    Stmt st;
    int rc;
    {
      SelectionGuard guard(c.db(), form.table);
      rc = guard.Prepare(sql, st, nullptr);
    }
    if (rc != SQLITE_OK) return kNoSlices;
    sqlite3_int64 from = std::numeric_limits<sqlite3_int64>::min();
    for (;;) {
      sqlite3_bind_int64(st.get(), 1, from);
      const bool done = ReadKeys(st.get(), set, Clock::now() + slice);
      rc = sqlite3_errcode(c.db());
      sqlite3_reset(st.get());
      if (done || set.keys.back() == std::numeric_limits<sqlite3_int64>::max()) return rc;
      from = set.keys.back() + 1;
    }
  }

  void Close() override {
    if (!conn_) throw RunError(kInvalidObject);
    const std::string error = conn_->TryCommit();
    conn_.reset();
    if (!error.empty()) throw RunError(error);
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

  std::string SelectionError(int rc, std::string_view source, const std::string& table,
                             bool refused) {
    const std::string message = sqlite3_errmsg(conn_->db());
    const std::string noColumn = "no such column: ";
    if (message.rfind(noColumn, 0) == 0) {
      return "Field " + Quoted(message.substr(noColumn.size())) + " not found in table " +
             Quoted(table) + ".";
    }
    if (refused) {
      return "Unsupported selection " + Quoted(source) + "; its condition may only compare " +
             "the columns of table " + Quoted(table) + ".";
    }
    if ((rc & 0xff) == SQLITE_ERROR) {
      return "Syntax error in query " + Quoted(source) + ": " + message + ".";
    }
    return conn_->Describe(rc, table, false);
  }

  std::shared_ptr<SqliteConnection> conn_;
};

}  // namespace

// --- Engine -----------------------------------------------------------------

SqliteEngine::SqliteEngine(const WinePaths& paths, SqliteEngineOptions options)
    : paths_(paths), options_(options), shared_(std::make_shared<SqliteShared>()) {
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
  for (auto& weak : connections_) {
    auto conn = weak.lock();
    if (!conn) continue;
    const std::string error = conn->TryCommit();
    if (!error.empty()) errors += (errors.empty() ? "" : " ") + error;
  }
  if (!errors.empty()) throw RunError(errors);
}

}  // namespace kw
