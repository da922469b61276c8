#pragma once
// Helpers for the end-to-end tests: a run of the real program as a child
// process on a sample installation, and whole-content views of its
// databases and files to compare before and after.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/installation.h"

namespace kw::e2e {

namespace fs = std::filesystem;

// True when the program runs under AddressSanitizer (built so, or the
// environment says so with KW_SANITIZED): the tests then use fewer rows.
inline bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  const char* env = std::getenv("KW_SANITIZED");
  return env && *env && std::string(env) != "0";
}

inline int64_t Scaled(int64_t normal, int64_t sanitized) {
  return Sanitized() ? sanitized : normal;
}

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline void SleepSeconds(double s) {
  if (s > 0) std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// A fresh folder, removed with everything in it at the end.
using TempDir = kw::testing::TempDir;

// Host paths in a sample installation (data directory D:\Daten\).
inline std::string DataPath(const std::string& prefix, const std::string& rel) {
  return prefix + "/drive_d/Daten/" + rel;
}
inline std::string PublicDb(const std::string& prefix) {
  return DataPath(prefix, "Public/Public.mdb");
}
inline std::string ClientDb(const std::string& prefix, const std::string& dir) {
  return DataPath(prefix, dir + "/NoltData.mdb");
}

inline void CopyTree(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// How often `needle` occurs in `text`.
inline size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// --- One run of the program ---------------------------------------------------

struct OutputLine {
  double at;  // seconds after the start
  std::string text;
};

// How the program is started.
struct RunOptions {
  // stdin stays open after the input (a prompt then waits for more), until
  // CloseInput or the end.
  bool keepInputOpen = false;
  // Largest file the program may write, in bytes (RLIMIT_FSIZE); writes
  // beyond it fail as on a full disk. 0: no limit.
  uint64_t fileSizeLimit = 0;
};

// kwandor_upd on a prefix, started at construction: WINEPREFIX set, no
// display (so the console front end is used), stdin a pipe holding input
// and then closed, stdout and stderr captured.
class ProgramRun {
 public:
  ProgramRun(const std::string& prefix, const std::string& input, RunOptions options = {})
      : start_(Now()), child_(Options(prefix, input, options)) {}
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  void CloseInput() { child_.CloseInput(); }
  bool Exited() const { return exited_; }
  // Ctrl-C.
  void Interrupt() { child_.Interrupt(); }

  // Collects output for up to seconds; true once the program has ended.
  bool WaitFor(double seconds) {
    const double until = Now() + seconds;
    while (!exited_) {
      std::string chunk;
      const double left = until - Now();
      const bool more = child_.ReadOutput(chunk, left > 0.01 ? 0.01 : (left > 0 ? left : 0));
      Take(chunk);
      if (child_.TryWait(more ? 0 : (left > 0 ? left : 0))) {
        end_ = Now();
        status_ = child_.Wait();  // keeps the rest of its output to be read
        for (chunk.clear(); child_.ReadOutput(chunk, 0); chunk.clear()) Take(chunk);
        err_ = child_.ErrorOutput();
        exited_ = true;
      }
      if (Now() >= until) break;
    }
    return exited_;
  }

  // Waits for the end; kills the program and fails when it takes too long.
  void Finish(double timeoutSeconds = 300) {
    if (!WaitFor(timeoutSeconds)) {
      Kill();
      throw std::runtime_error("kwandor_upd did not end within the time allowed");
    }
  }

  // SIGKILL, then collects what is left.
  void Kill() {
    if (exited_) return;
    child_.Kill();
    killed_ = true;
    WaitFor(60);
  }

  bool killed() const { return killed_; }
  // The exit status; -1 when ended by a signal.
  int status() const { return child_.TermSignal() != 0 ? -1 : status_; }
  int signal() const { return child_.TermSignal(); }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  const std::vector<OutputLine>& lines() const { return lines_; }
  double wallSeconds() const { return end_ - start_; }
  // User plus system time of the program.
  double cpuSeconds() const { return child_.CpuSeconds(); }
  // When a line beginning with text was printed, or -1.
  double LineTime(const std::string& text) const {
    for (const auto& l : lines_)
      if (l.text.rfind(text, 0) == 0) return l.at;
    return -1;
  }

 private:
  static testing::ChildOptions Options(const std::string& prefix, const std::string& input,
                                       const RunOptions& options) {
    testing::ChildOptions o;
    o.argv = {KW_BINARY_DIR "/kwandor_upd"};
    o.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    o.setEnv = {"WINEPREFIX=" + prefix};
    o.input = input;
    o.keepInputOpen = options.keepInputOpen;
    o.fileSizeLimit = options.fileSizeLimit;
    return o;
  }
  void Take(const std::string& chunk) {
    const double at = Now() - start_;
    for (char c : chunk) {
      out_ += c;
      if (c == '\n') {
        lines_.push_back({at, partial_});
        partial_.clear();
      } else {
        partial_ += c;
      }
    }
  }

  double start_ = 0;
  double end_ = 0;
  testing::ChildProcess child_;
  bool exited_ = false;
  bool killed_ = false;
  int status_ = 0;
  std::string out_, err_, partial_;
  std::vector<OutputLine> lines_;
};

// --- Whole-content views of databases and files ---------------------------

// One table: its column names and its rows by row id, each value typed
// ("N" null, "I:42", "T:text", "R:1.5", "B:bytes").
struct TableContent {
  std::vector<std::string> columns;
  std::map<int64_t, std::vector<std::string>> rows;

  int Column(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == name) return static_cast<int>(i);
    return -1;
  }
};
using DatabaseContent = std::map<std::string, TableContent>;

inline std::string TextValue(const std::string& v) { return "T:" + v; }

// Every ordinary table of a database file, read through its own connection.
inline DatabaseContent ReadDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path);
  }
  sqlite3_busy_timeout(db, 10000);
  auto fail = [&](const std::string& what) {
    const std::string msg = what + ": " + sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(msg);
  };
  std::vector<std::string> tables;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name", -1,
                         &s, nullptr) != SQLITE_OK) {
    fail("schema of " + path);
  }
  while (sqlite3_step(s) == SQLITE_ROW)
    tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  DatabaseContent content;
  for (const std::string& t : tables) {
    TableContent& tc = content[t];
    const std::string sql = "SELECT rowid, * FROM \"" + t + "\" ORDER BY rowid";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) fail(sql);
    const int n = sqlite3_column_count(s);
    for (int i = 1; i < n; ++i) tc.columns.emplace_back(sqlite3_column_name(s, i));
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 1; i < n; ++i) {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
        const std::string bytes =
            p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
        switch (sqlite3_column_type(s, i)) {
          case SQLITE_NULL:
            row.push_back("N");
            break;
          case SQLITE_INTEGER:
            row.push_back("I:" + bytes);
            break;
          case SQLITE_FLOAT:
            row.push_back("R:" + bytes);
            break;
          case SQLITE_TEXT:
            row.push_back("T:" + bytes);
            break;
          default:
            row.push_back("B:" + bytes);
            break;
        }
      }
      tc.rows.emplace(sqlite3_column_int64(s, 0), std::move(row));
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) fail("reading " + t);
  }
  sqlite3_close(db);
  return content;
}

inline std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK) {
      result.clear();
      while (sqlite3_step(s) == SQLITE_ROW) {
        if (!result.empty()) result += "\n";
        result += reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
      }
      sqlite3_finalize(s);
    }
  }
  sqlite3_close(db);
  return result;
}

// The first differences between two databases, described; empty when equal.
inline std::string Differences(const DatabaseContent& expected, const DatabaseContent& actual,
                               size_t limit = 5) {
  std::string out;
  size_t found = 0;
  auto note = [&](const std::string& s) {
    if (found++ < limit) out += s + "\n";
  };
  auto rowText = [](const std::vector<std::string>& r) {
    std::string s;
    for (const auto& v : r) s += (s.empty() ? "" : " | ") + v;
    return s;
  };
  for (const auto& [name, t] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      note("table " + name + " missing");
      continue;
    }
    const TableContent& a = it->second;
    if (a.columns != t.columns) note("table " + name + ": other columns");
    for (const auto& [id, row] : t.rows) {
      auto r = a.rows.find(id);
      if (r == a.rows.end()) {
        note(name + " row " + std::to_string(id) + " missing: " + rowText(row));
      } else if (r->second != row) {
        note(name + " row " + std::to_string(id) + "\n  expected " + rowText(row) +
             "\n  actual   " + rowText(r->second));
      }
    }
    for (const auto& [id, row] : a.rows) {
      if (!t.rows.count(id)) note(name + " row " + std::to_string(id) + " added: " + rowText(row));
    }
  }
  for (const auto& [name, t] : actual) {
    if (!expected.count(name)) note("table " + name + " added");
  }
  if (found > limit) out += std::to_string(found - limit) + " more differences\n";
  return out;
}

// The content a correct conversion gives: in table, every row with LAND
// "CH" gets "044" in each of columns that held exactly "01"; nothing else changes.
inline DatabaseContent Converted(DatabaseContent content, const std::string& table,
                                 const std::vector<std::string>& columns) {
  TableContent& t = content.at(table);
  const int land = t.Column("LAND");
  if (land < 0) throw std::runtime_error(table + " has no column LAND");
  for (auto& [id, row] : t.rows) {
    if (row[land] != TextValue("CH")) continue;
    for (const std::string& c : columns) {
      const int i = t.Column(c);
      if (i < 0) throw std::runtime_error(table + " has no column " + c);
      if (row[i] == TextValue("01")) row[i] = TextValue("044");
    }
  }
  return content;
}

// The same comparison as Differences, done by SQLite over two files (fast
// for big tables): tables, columns, and every row with its row id, values
// compared with their types. Returns the first differences, or empty.
inline std::string FileDifferences(const std::string& expectedPath, const std::string& actualPath,
                                   int limit = 5) {
  sqlite3* db = nullptr;
  std::string out;
  auto exec = [&](const std::string& sql, auto&& onRow) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      out += "cannot run " + sql + ": " + sqlite3_errmsg(db) + "\n";
      return;
    }
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) onRow(s);
    if (rc != SQLITE_DONE) out += sql + ": " + sqlite3_errmsg(db) + "\n";
    sqlite3_finalize(s);
  };
  if (sqlite3_open_v2(actualPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open " + actualPath;
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* a = nullptr;
  sqlite3_prepare_v2(db, "ATTACH ?1 AS x", -1, &a, nullptr);
  sqlite3_bind_text(a, 1, expectedPath.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(a) != SQLITE_DONE) out += "cannot attach " + expectedPath + "\n";
  sqlite3_finalize(a);
  auto text = [](sqlite3_stmt* s, int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return std::string(p ? p : "NULL");
  };
  std::vector<std::string> tables;
  exec(
      "SELECT name FROM x.sqlite_schema WHERE type='table' EXCEPT "
      "SELECT name FROM main.sqlite_schema WHERE type='table'",
      [&](sqlite3_stmt* s) { out += "table " + text(s, 0) + " missing\n"; });
  exec("SELECT name FROM x.sqlite_schema WHERE type='table' ORDER BY name",
       [&](sqlite3_stmt* s) { tables.push_back(text(s, 0)); });
  for (const std::string& t : tables) {
    if (!out.empty()) break;
    const std::string q = "\"" + t + "\"";
    std::string cols;
    exec("SELECT group_concat(name, ',') FROM (SELECT name FROM x.pragma_table_info('" + t +
             "') ORDER BY cid)",
         [&](sqlite3_stmt* s) { cols = text(s, 0); });
    exec("SELECT group_concat(name, ',') FROM (SELECT name FROM main.pragma_table_info('" + t +
             "') ORDER BY cid)",
         [&](sqlite3_stmt* s) {
           if (text(s, 0) != cols) out += "table " + t + ": other columns\n";
         });
    if (!out.empty()) break;
    int n = 0;
    auto row = [&](const char* what) {
      return [&, what](sqlite3_stmt* s) {
        if (n++ >= limit) return;
        out += t + " " + what + ":";
        for (int i = 0; i < sqlite3_column_count(s); ++i) out += " " + text(s, i);
        out += "\n";
      };
    };
    exec("SELECT rowid, * FROM x." + q + " EXCEPT SELECT rowid, * FROM main." + q,
         row("row expected"));
    exec("SELECT rowid, * FROM main." + q + " EXCEPT SELECT rowid, * FROM x." + q,
         row("row found"));
    if (n > limit) out += std::to_string(n - limit) + " more rows differ\n";
  }
  sqlite3_close(db);
  return out;
}

inline int64_t CountRows(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int64_t n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      n = sqlite3_column_int64(s, 0);
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return n;
}

// Every regular file below root by its path relative to root, with its bytes.
// Database files are left out (compare them with ReadDatabase), and so are
// hidden files when skipHidden.
inline std::map<std::string, std::string> ReadFiles(const std::string& root,
                                                    bool skipHidden = true) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.is_symlink()) continue;
    const std::string name = e.path().filename().string();
    if (skipHidden && name[0] == '.') continue;
    if (e.path().extension() == ".mdb") continue;
    files[fs::relative(e.path(), root).string()] = ReadFile(e.path().string());
  }
  return files;
}

// Host paths of every database file below root.
inline std::vector<std::string> DatabaseFiles(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file() && !e.is_symlink() && e.path().extension() == ".mdb")
      out.push_back(fs::relative(e.path(), root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Files left beside a database by an interrupted write (rollback journals).
inline std::vector<std::string> Journals(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name.size() > 8 && name.compare(name.size() - 8, 8, "-journal") == 0)
      out.push_back(e.path().string());
  }
  return out;
}

}  // namespace kw::e2e
