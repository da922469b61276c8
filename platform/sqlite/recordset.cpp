#include "platform/sqlite/recordset.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>

#include "platform/run_error.h"
#include "platform/sqlite/errors.h"

namespace kw::sqlite {
namespace {

// The reading statement steps forward to the next key when it is at most
// this many row ids ahead, and seeks it otherwise: passing over a row that
// is not a key costs about a sixth of a seek.
constexpr uint64_t kStepRowIds = 6;

class SqliteRecordset : public Recordset {
 public:
  SqliteRecordset(std::shared_ptr<SqliteConnection> conn, std::string table, std::string rowid,
                  std::vector<std::string> names, KeySet set)
      : conn_(std::move(conn)),
        table_(std::move(table)),
        rowid_(std::move(rowid)),
        names_(std::move(names)),
        keys_(std::move(set.keys)),
        kept_(std::move(set.kept)),
        keptEra_(set.keptEra),
        keptSaves_(set.keptSaves) {
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
  // update is held back and runs with others of the same kind. Otherwise it
  // runs at once.
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
      sqlite3_stmt* u = Statement();
      if (editGroup_ != 0 && editGroup_ == c.OpenGroup()) {
        c.Hold(u, table_, edit_, changedList_, keys_[pos_]);
      } else {
        std::vector<Cell> values;
        for (size_t i : changedList_) values.push_back(edit_[i]);
        c.SaveNow(u, table_, values, keys_[pos_]);
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
    const std::shared_ptr<SqliteConnection> conn = conn_;
    const std::string error = Release();
    if (!error.empty()) throw RunError(error, conn->TakeErrorNumber());
  }

 private:
  // The statement that saves one set of changed columns in the rows of a
  // span of keys: the new values, the first and the last key, the span.
  struct ColumnUpdate {
    std::vector<size_t> columns;  // ascending
    sqlite3_stmt* stmt;           // the connection's
  };

  SqliteConnection& Connection() {
    if (!conn_) throw RunError(kInvalidObject);
    return *conn_;
  }

  // Finalizes the statements and lets go of the connection, committing first.
  std::string Release() {
    std::string error = conn_->TryCommit();
    if (!wantedList_.empty()) {
      auto& read = conn_->Shared().lastRead;
      read.clear();
      for (size_t i : wantedList_) read.push_back(names_[i]);
    }
    kept_.reset();
    read_.Finalize();
    updates_.clear();
    conn_.reset();
    return error;
  }

  // The index of a column; names seen before are found by exact comparison.
  // Callers ask for the same fields in the same order row after row, so the
  // search starts after the name found last.
  size_t Column(std::string_view field) {
    const size_t n = lookups_.size();
    for (size_t k = 0, at = lookupNext_; k < n; ++k, at = at + 1 == n ? 0 : at + 1) {
      if (lookups_[at].first != field) continue;
      lookupNext_ = at + 1 == n ? 0 : at + 1;
      return lookups_[at].second;
    }
    for (size_t i = 0; i < names_.size(); ++i) {
      if (!EqualNoCase(names_[i], field)) continue;
      if (lookups_.size() < 2 * names_.size()) lookups_.emplace_back(field, i);
      lookupNext_ = 0;
      return i;
    }
    conn_->Fail(FieldNotFound(field, table_));
  }

  void ClearChanges() {
    for (size_t i : changedList_) changed_[i] = 0;
    changedList_.clear();
  }

  // Adds a column to those read for every row; the reading statement is made anew.
  void Want(size_t column) {
    wanted_[column] = 1;
    wantedList_.push_back(column);
    keptWanted_.clear();
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
    // Rows held back go first, unless all lie before this one in this table.
    c.Gate(table_, key);
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
      error = RecordDeleted(table_, c.Name());
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
    if (keptWanted_.size() != wantedList_.size()) {
      // The wanted columns changed: their places among the kept ones.
      keptWanted_.clear();
      for (size_t i : wantedList_) {
        const int slot = kept_->Slot(i);
        if (slot < 0) return false;
        keptWanted_.emplace_back(i, slot);
      }
    }
    for (const auto& [i, slot] : keptWanted_) kept_->Get(pos_, slot, row_[i]);
    ++c.Shared().stats.rowsKept;
    fetched_ = true;
    return true;
  }

  // The statement for the changed columns, made once per set of columns.
  sqlite3_stmt* Statement() {
    for (const ColumnUpdate& u : updates_) {
      if (u.columns == changedList_) return u.stmt;
    }
    std::string sql = "UPDATE " + QuoteId(table_) + " SET ";
    int p = 1;
    for (size_t i : changedList_) {
      if (p > 1) sql += ", ";
      sql += QuoteId(names_[i]) + "=?" + std::to_string(p++);
    }
    sql += " WHERE " + rowid_ + " BETWEEN ?" + std::to_string(p) + " AND ?" +
           std::to_string(p + 1) + " AND kw_row_in(?" + std::to_string(p + 2) + ", " + rowid_ + ")";
    sqlite3_stmt* stmt = conn_->UpdateStatement(sql, table_);
    updates_.push_back({changedList_, stmt});
    return stmt;
  }

  // Declared first, so that the statements are finalized before it goes.
  std::shared_ptr<SqliteConnection> conn_;
  std::string table_;
  std::string rowid_;
  std::vector<std::string> names_;
  std::vector<std::pair<std::string, size_t>> lookups_;
  size_t lookupNext_ = 0;  // where the next search in lookups_ begins
  std::vector<sqlite3_int64> keys_;  // ascending
  size_t pos_ = 0;
  std::unique_ptr<KeptValues> kept_;  // of the first keys, or null
  std::vector<std::pair<size_t, int>> keptWanted_;  // wantedList_'s columns, their kept slots
  uint64_t keptEra_;
  uint64_t keptSaves_;  // Saves() of the connection while kept_ is the file's
  bool saved_ = false;  // the current row has been saved
  Stmt read_;            // reads the wanted columns of the keys from a row id on
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
};

}  // namespace

std::unique_ptr<Recordset> MakeRecordset(std::shared_ptr<SqliteConnection> conn, std::string table,
                                         std::string rowid, std::vector<std::string> names,
                                         KeySet set) {
  return std::make_unique<SqliteRecordset>(std::move(conn), std::move(table), std::move(rowid),
                                           std::move(names), std::move(set));
}

}  // namespace kw::sqlite
