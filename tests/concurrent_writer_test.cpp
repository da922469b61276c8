// Another user writes to the general database while the program converts
// it: neither loses a write, and the other writer never waits long.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "tests/e2e_support.h"

namespace kw::e2e {
namespace {

// What the other writer did, to be found in the database afterwards.
struct WriterLog {
  std::map<int64_t, std::string> changed;  // row id -> its last GEAENDERT
  std::map<int64_t, std::vector<std::string>> inserted;
  std::vector<int64_t> deleted;
  std::vector<double> latencies;  // seconds per statement, waits included
  int busy = 0;                   // attempts that found the database locked
  std::string error;
};

// How the other user waits for a locked database.
enum class Waiting {
  Impatient,  // a 2 ms busy timeout, and at once a new try
  Patient,    // SQLite's own busy wait (up to 5 s), no retries of its own
};

// The other user, on a thread of the test process with its own connection.
// Each statement is its own write transaction; its latency runs from the
// first try to the commit. Between statements it pauses for a millisecond
// or two, as a user's program does other work between writes (a writer that
// never lets go of the lock starves the run: the run's busy waits fail and
// it ends). It changes GEAENDERT and KANTON of rows the program converts,
// inserts rows the selection does not take, and deletes rows from deletable
// (up to maxDeletes).
class OtherWriter {
 public:
  OtherWriter(std::string path, std::vector<int64_t> targets, std::vector<int64_t> deletable,
              size_t maxDeletes, uint32_t seed, Waiting waiting)
      : waiting_(waiting),
        path_(std::move(path)),
        targets_(std::move(targets)),
        deletable_(std::move(deletable)),
        maxDeletes_(maxDeletes),
        rng_(seed) {}

  void Start() {
    thread_ = std::thread([this] { Loop(); });
  }
  // Waits until the first statement is through, so that the writer is busy
  // before the program starts.
  void WaitUntilWriting() {
    while (statements_ == 0 && !stop_) SleepSeconds(0.001);
  }
  const WriterLog& Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return log_;
  }
  ~OtherWriter() { Stop(); }
  const std::atomic<int>& Statements() const { return statements_; }

 private:
  // Runs sql (with its values bound by bind) as one write transaction.
  template <class Bind>
  bool Write(const char* sql, Bind&& bind) {
    const double start = Now();
    auto step = [&](sqlite3_stmt* s) {
      for (;;) {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if ((rc & 0xff) != SQLITE_BUSY || waiting_ == Waiting::Patient) return rc;
        ++log_.busy;
        if (Now() - start > 30) return rc;
      }
    };
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
    bind(s);
    int rc = step(begin_);
    if (rc == SQLITE_DONE) rc = step(s);
    if (rc == SQLITE_DONE) {
      rc = step(commit_);
    } else {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) {
      log_.error = std::string(sql) + ": " + sqlite3_errstr(rc);
      return false;
    }
    log_.latencies.push_back(Now() - start);
    ++statements_;
    return true;
  }

  void Loop() {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      log_.error = "cannot open " + path_;
      stop_ = true;
      return;
    }
    sqlite3_busy_timeout(db_, waiting_ == Waiting::Impatient ? 2 : 5000);
    // Durability against power loss is not what is tested; locking is the same.
    sqlite3_exec(db_, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "BEGIN IMMEDIATE", -1, &begin_, nullptr);
    sqlite3_prepare_v2(db_, "COMMIT", -1, &commit_, nullptr);
    auto text = [](sqlite3_stmt* s, int i, const std::string& v) {
      sqlite3_bind_text(s, i, v.c_str(), -1, SQLITE_TRANSIENT);
    };
    for (int n = 0; !stop_ && log_.error.empty(); ++n) {
      if (n > 0) SleepSeconds(0.001 + 0.001 * static_cast<double>(rng_() % 2));
      if (n % 4 == 3) {
        // Rows the selection does not take: another country, or another code.
        const std::vector<std::string> row =
            n % 8 == 3 ? std::vector<std::string>{"D",  "80331", "München",
                                                  "01", "",      "W" + std::to_string(n)}
                       : std::vector<std::string>{"CH",  "3011", "Bern",
                                                  "031", "BE",   "W" + std::to_string(n)};
        const bool ok = Write(
            "INSERT INTO PLZSTM (LAND, PLZ, ORT, TELVOR, KANTON, GEAENDERT) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
            [&](sqlite3_stmt* s) {
              for (int i = 0; i < 6; ++i) text(s, i + 1, row[i]);
            });
        if (ok) log_.inserted[sqlite3_last_insert_rowid(db_)] = row;
      } else if (n % 4 == 1 && log_.deleted.size() < maxDeletes_ && !deletable_.empty()) {
        const int64_t id = deletable_.back();
        deletable_.pop_back();
        if (Write("DELETE FROM PLZSTM WHERE rowid = ?1",
                  [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, id); })) {
          log_.deleted.push_back(id);
        }
      } else {
        const int64_t id = targets_[rng_() % targets_.size()];
        const std::string value = "W" + std::to_string(n);
        if (Write("UPDATE PLZSTM SET GEAENDERT = ?1, KANTON = 'W' WHERE rowid = ?2",
                  [&](sqlite3_stmt* s) {
                    text(s, 1, value);
                    sqlite3_bind_int64(s, 2, id);
                  })) {
          log_.changed[id] = value;
        }
      }
    }
    sqlite3_finalize(begin_);
    sqlite3_finalize(commit_);
    sqlite3_close(db_);
  }

  Waiting waiting_;
  std::string path_;
  std::vector<int64_t> targets_, deletable_;
  size_t maxDeletes_;
  std::mt19937 rng_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<int> statements_{0};
  WriterLog log_;
  std::thread thread_;
};

// The row ids of the rows the general pass selects, in row id order, and of
// some others.
void RowIds(const TableContent& t, std::vector<int64_t>& selected, std::vector<int64_t>& others) {
  const int land = t.Column("LAND"), telvor = t.Column("TELVOR");
  for (const auto& [id, row] : t.rows) {
    (row[land] == "T:CH" && row[telvor] == "T:01" ? selected : others).push_back(id);
  }
}

// The general database as it must be: converted, then the writer's changes.
DatabaseContent Expected(const DatabaseContent& original, const WriterLog& log) {
  DatabaseContent c = Converted(original, "PLZSTM", {"TELVOR"});
  TableContent& t = c.at("PLZSTM");
  for (const auto& [id, value] : log.changed) {
    t.rows.at(id)[t.Column("GEAENDERT")] = "T:" + value;
    t.rows.at(id)[t.Column("KANTON")] = "T:W";
  }
  for (int64_t id : log.deleted) t.rows.erase(id);
  for (const auto& [id, v] : log.inserted) {
    t.rows[id] = {"I:" + std::to_string(id),
                  "T:" + v[0],
                  "T:" + v[1],
                  "T:" + v[2],
                  "T:" + v[3],
                  "T:" + v[4],
                  "T:" + v[5]};
  }
  return c;
}

double Max(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// The run converts the general database while the other user writes to it.
// Returns the other user's longest statement in seconds.
double ConvertBesideOtherWriter(Waiting waiting, int minStatementsDuringRun) {
  double maxWait = 0;
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::SampleInstallation setup;
  setup.prefix = prefix;
  setup.plzRows = Scaled(400000, 60000);
  setup.clients = sample::DefaultClients(1, 100);
  sample::WriteInstallation(setup);
  const DatabaseContent original = ReadDatabase(PublicDb(prefix));
  std::vector<int64_t> selected, others;
  RowIds(original.at("PLZSTM"), selected, others);
  std::shuffle(others.begin(), others.end(), std::mt19937(7));

  OtherWriter writer(PublicDb(prefix), selected, others, 3, 11, waiting);
  writer.Start();
  writer.WaitUntilWriting();
  const int before = writer.Statements();
  ProgramRun run(prefix, "j\n");
  run.Finish();
  const int during = writer.Statements() - before;
  const WriterLog& log = writer.Stop();

  EXPECT_EQ(log.error, "");
  EXPECT_EQ(run.status(), 0) << run.out();
  EXPECT_EQ(run.out().find("Fehler"), std::string::npos) << run.out();
  EXPECT_EQ(log.deleted.size(), 3u);
  EXPECT_EQ(IntegrityCheck(PublicDb(prefix)), "ok");
  EXPECT_EQ(Differences(Expected(original, log), ReadDatabase(PublicDb(prefix))), "");

  maxWait = Max(log.latencies);
  std::vector<double> sorted = log.latencies;
  std::sort(sorted.begin(), sorted.end());
  std::printf(
      "%s other writer: %zu statements (%d during the run of %.2f s), %d locked tries, "
      "statement time median %.1f ms, longest %.1f ms\n",
      waiting == Waiting::Impatient ? "impatient" : "patient", sorted.size(), during,
      run.wallSeconds(), log.busy, sorted.empty() ? 0 : sorted[sorted.size() / 2] * 1000,
      maxWait * 1000);
  // The writer must really have competed with the run.
  EXPECT_GE(during, minStatementsDuringRun);
  return maxWait;
}

TEST(ConcurrentWriter, NoWriteIsLostAndAnImpatientWriterNeverWaitsLong) {
  const double maxWait = ConvertBesideOtherWriter(Waiting::Impatient, 10);
  // About one write transaction of the run (80 ms, its commit included),
  // with room for a loaded machine.
  EXPECT_LT(maxWait, Sanitized() ? 0.5 : 0.25);
}

// SQLite's own busy wait polls ever more rarely and mostly misses the short
// gaps between the run's write transactions: such a writer waits longer,
// but none of its statements fails and none of its writes is lost.
TEST(ConcurrentWriter, NoWriteIsLostBesideAWriterThatUsesSqlitesBusyWait) {
  ConvertBesideOtherWriter(Waiting::Patient, 1);
}

// Rows deleted by another user after the program selected them are passed
// over without a message; every other selected row is converted and the run
// ends as usual (status 0).
TEST(ConcurrentWriter, RowsDeletedUnderTheRunArePassedOverAndTheRestConverted) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::SampleInstallation setup;
  setup.prefix = prefix;
  // Large enough that the run's first write transaction (80 ms) covers
  // only part of the selection.
  setup.plzRows = Scaled(600000, 40000);
  setup.clients = sample::DefaultClients(1, 100);
  sample::WriteInstallation(setup);
  const DatabaseContent original = ReadDatabase(PublicDb(prefix));
  std::vector<int64_t> selected, others;
  RowIds(original.at("PLZSTM"), selected, others);
  // Rows near the end of the selection, which the run reaches last.
  const std::vector<int64_t> doomed = {selected[selected.size() * 9 / 10],
                                       selected[selected.size() * 19 / 20]};

  const std::string count044 = "SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '044'";
  const int64_t already044 = CountRows(PublicDb(prefix), count044);
  ProgramRun run(prefix, "j\n");
  // The first write transaction (its rollback journal appears) comes after
  // the selection has been made.
  const std::string journal = PublicDb(prefix) + "-journal";
  while (!fs::exists(journal) && !run.WaitFor(0.0002)) {
  }
  ASSERT_FALSE(run.Exited()) << "the run ended before rows could be deleted";
  {
    // An impatient writer (see OtherWriter): a plain busy timeout would
    // mostly miss the short gaps between the run's write transactions.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PublicDb(prefix).c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 2);
    int rc;
    while ((rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr)) == SQLITE_BUSY) {
    }
    ASSERT_EQ(rc, SQLITE_OK);
    for (int64_t id : doomed) {
      const std::string sql = "DELETE FROM PLZSTM WHERE rowid = " + std::to_string(id);
      ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    while ((rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr)) == SQLITE_BUSY) {
    }
    ASSERT_EQ(rc, SQLITE_OK);
    sqlite3_close(db);
  }
  const int64_t convertedAtDelete = CountRows(PublicDb(prefix), count044) - already044;
  run.Finish();
  ASSERT_LT(convertedAtDelete, static_cast<int64_t>(selected.size()) * 9 / 10)
      << "the run was past the deleted rows already";

  EXPECT_EQ(run.status(), 0) << run.out();
  EXPECT_EQ(run.out().find("Record is deleted"), std::string::npos) << run.out();
  EXPECT_EQ(run.out().find("Fehler"), std::string::npos) << run.out();
  EXPECT_EQ(IntegrityCheck(PublicDb(prefix)), "ok");
  EXPECT_TRUE(Journals(prefix).empty());

  DatabaseContent expected = Converted(original, "PLZSTM", {"TELVOR"});
  for (int64_t id : doomed) expected.at("PLZSTM").rows.erase(id);
  EXPECT_EQ(Differences(expected, ReadDatabase(PublicDb(prefix))), "");

  ProgramRun next(prefix, "j\n");
  next.Finish();
  EXPECT_EQ(next.status(), 0) << next.out();
  EXPECT_EQ(Differences(expected, ReadDatabase(PublicDb(prefix))), "");
}

}  // namespace
}  // namespace kw::e2e
