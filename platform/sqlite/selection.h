#pragma once
// The one form of selection a record set takes, "SELECT * FROM <table>
// [WHERE <condition>]", and the guard under which it is prepared.
#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/sqlite/statement.h"

namespace kw::sqlite {

// Skips blanks and SQL comments from i; returns the offset after them.
size_t SkipBlanks(std::string_view s, size_t i);

struct SelectionForm {
  size_t star = 0;  // offset of the '*'
  std::string table;
  size_t condition = std::string_view::npos;  // offset just after WHERE
};

// Recognises "SELECT * FROM <table> [WHERE ...]"; the condition and the end
// of the statement are left to SQLite.
bool ParseSelection(std::string_view s, SelectionForm& form);

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

}  // namespace kw::sqlite
