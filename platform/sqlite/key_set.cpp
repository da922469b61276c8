#include "platform/sqlite/key_set.h"

#include <algorithm>
#include <limits>

#include "platform/sqlite/errors.h"

namespace kw::sqlite {
namespace {

constexpr int kNoSlices = -1;

// The keys of a selection as they are read, with the values kept.
class Reader {
 public:
  Reader(SqliteShared& shared, std::vector<size_t> columns)
      : shared_(shared), columns_(std::move(columns)) {
    Restart();
  }
  // Forgets what was read.
  void Restart() {
    set.keys.clear();
    set.kept.reset();
    if (!columns_.empty() && shared_.keptBytesLeft > 0) {
      set.kept = std::make_unique<KeptValues>(columns_, shared_.keptBytesLeft);
    }
  }
  // ", " and the kept columns, for the key statement.
  std::string ColumnList(const std::vector<std::string>& names) const {
    std::string list;
    if (set.kept) {
      for (size_t i : columns_) list += ", " + QuoteId(names[i]);
    }
    return list;
  }
  // Steps a key statement into the key set until it is done (true) or the
  // deadline has passed (false, the statement stays where it is).
  bool Read(sqlite3_stmt* st, Clock& clock, double deadline) {
    for (size_t n = 1;; ++n) {
      const int rc = sqlite3_step(st);
      if (rc != SQLITE_ROW) return true;  // done, or failed: sqlite3_errcode tells
      set.keys.push_back(sqlite3_column_int64(st, 0));
      if (set.kept) set.kept->Add(st, 1);
      if (n % 256 == 0 && clock.Seconds() > deadline) return false;
    }
  }

  KeySet set;

 private:
  SqliteShared& shared_;
  std::vector<size_t> columns_;
};

// The columns whose values are kept with the key set: those the record
// set before read, as far as this one has them.
std::vector<size_t> KeptColumns(const SqliteShared& shared, const std::vector<std::string>& names) {
  std::vector<size_t> columns;
  for (const std::string& read : shared.lastRead) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (EqualNoCase(names[i], read) &&
          std::find(columns.begin(), columns.end(), i) == columns.end()) {
        columns.push_back(i);
      }
    }
  }
  return columns;
}

// The key set read in ascending row ids, a slice at a time; between slices
// the read ends, so that other writers can commit. Returns SQLite's code,
// or kNoSlices when the selection cannot be read that way.
int ScanBySlices(SqliteConnection& c, std::string_view text, const SelectionForm& form,
                 const std::string& rowid, const std::string& columns, size_t end, Reader& reader,
                 sqlite3_int64 from) {
  std::string condition;
  if (form.condition != std::string_view::npos) {
    condition = text.substr(form.condition, end - form.condition);
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
  const double slice = c.Options().scanSliceMs / 1000.0;
  for (;;) {
    sqlite3_bind_int64(st.get(), 1, from);
    const bool done = reader.Read(st.get(), c.GetClock(), c.GetClock().Seconds() + slice);
    rc = sqlite3_errcode(c.db());
    sqlite3_reset(st.get());
    if (done || reader.set.keys.back() == std::numeric_limits<sqlite3_int64>::max()) return rc;
    from = reader.set.keys.back() + 1;
  }
}

// Whether SQLite reads the selection sql as one plain walk over its table
// in row id order, so that rows read so far are all those up to the last.
bool WalksInRowIdOrder(sqlite3* db, const std::string& sql) {
  Stmt plan;
  if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, plan.out(), nullptr) !=
      SQLITE_OK) {
    return false;
  }
  int steps = 0;
  bool plain = false;
  while (sqlite3_step(plan.get()) == SQLITE_ROW) {
    const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3));
    const std::string_view d = detail ? detail : "";
    plain = d.substr(0, 5) == "SCAN " && d.find(' ', 5) == std::string_view::npos;
    ++steps;
  }
  return steps == 1 && plain;
}

}  // namespace

KeySet ReadKeySet(SqliteConnection& c, std::string_view source, std::string_view text,
                  const SelectionForm& form, size_t end, const std::string& rowid,
                  const std::vector<std::string>& names) {
  // The same statement with the row id, and the columns whose values are
  // kept, in place of '*'.
  Reader reader(c.Shared(), KeptColumns(c.Shared(), names));
  std::string keySql(text.substr(0, form.star));
  keySql += rowid + reader.ColumnList(names);
  keySql += text.substr(form.star + 1, end - form.star - 1);
  Stmt keyStmt;
  std::string error;
  {
    SelectionGuard guard(c.db(), form.table);
    const int rc = guard.Prepare(keySql, keyStmt, nullptr);
    if (rc != SQLITE_OK) {
      error = SelectionError(c.db(), rc, source, c.Name(), form.table, guard.Refused());
    }
  }
  if (!error.empty()) c.Fail(error);
  // Kept values are the file's as long as nobody else commits from here on.
  const uint64_t era = c.LookForOthers();
  const uint64_t saves = c.Saves();
  // A read keeps other writers from committing, so a scan that takes
  // longer than a moment goes again by slices of row ids, each its own read.
  Clock& clock = c.GetClock();
  const bool whole =
      reader.Read(keyStmt.get(), clock, clock.Seconds() + c.Options().scanSliceMs / 1000.0);
  int rc = sqlite3_errcode(c.db());
  if (!whole) {
    sqlite3_reset(keyStmt.get());
    // A plain walk in row id order goes on from where it stopped; any other
    // read begins again.
    sqlite3_int64 from = std::numeric_limits<sqlite3_int64>::min();
    if (!reader.set.keys.empty() && WalksInRowIdOrder(c.db(), keySql) &&
        std::is_sorted(reader.set.keys.begin(), reader.set.keys.end()) &&
        reader.set.keys.back() < std::numeric_limits<sqlite3_int64>::max()) {
      from = reader.set.keys.back() + 1;
    } else {
      reader.Restart();
    }
    rc = ScanBySlices(c, text, form, rowid, reader.ColumnList(names), end, reader, from);
    if (rc == kNoSlices) {
      // A condition that does not fit the sliced form is read in one go.
      reader.Restart();
      reader.Read(keyStmt.get(), clock, std::numeric_limits<double>::infinity());
      rc = sqlite3_errcode(c.db());
    }
  }
  keyStmt.Finalize();
  if (rc != SQLITE_DONE) c.Fail(c.Describe(rc, form.table, false));
  KeySet set = std::move(reader.set);
  set.keys.shrink_to_fit();
  // The order of the rows is the engine's; ascending keys let one statement
  // read them walking forward. Values kept in another order are let go.
  if (!std::is_sorted(set.keys.begin(), set.keys.end())) {
    std::sort(set.keys.begin(), set.keys.end());
    set.kept.reset();
  }
  if (set.kept) set.kept->Finish();
  if (set.kept && set.kept->Rows() == 0) set.kept.reset();
  set.keptEra = era;
  set.keptSaves = saves;
  return set;
}

}  // namespace kw::sqlite
