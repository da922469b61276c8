#pragma once
// Small helpers for SQLite statements and names.
#include <sqlite3.h>

#include <string>
#include <string_view>
#include <utility>

namespace kw::sqlite {

// A prepared statement, finalized when it goes.
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

// A value as the engine holds it: text or null.
struct Cell {
  std::string text;
  bool null = true;
  bool operator==(const Cell& o) const { return null == o.null && (null || text == o.text); }
};

// A name in double quotes, as SQL takes any name.
std::string QuoteId(std::string_view id);

// Names compare as SQLite compares them: ASCII letters without regard to case.
bool EqualNoCase(std::string_view a, std::string_view b);

// Ascending row ids, handed to SQL as a pointer: kw_row_in(span, rowid)
// tells whether rowid is one of them.
struct KeySpan {
  const sqlite3_int64* begin;
  const sqlite3_int64* end;
  const sqlite3_int64* hint;  // where the search for the next row id starts
};
constexpr char kKeySpanType[] = "kw";  // short: SQLite compares it at every call

// Registers kw_row_in on db; SQLite's result code.
int RegisterRowIn(sqlite3* db);

}  // namespace kw::sqlite
