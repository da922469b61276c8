// Times the area-code pass through the SQLite engine against the floor: the
// same change as one UPDATE in one transaction.
//
//   engine_bench [rows [both|engine|floor|lockout [rounds]]]
//
// rows: 1000000 unless given, a third of them Swiss with "01"; rounds: 3.
// Builds a postal-code table in a temporary Wine-like prefix; each round
// copies it, runs the pass through the engine on one copy exactly as the run
// does it and the single UPDATE on the other, and checks both results. The
// best round of each side is shown; "engine" or "floor" runs one side only,
// for a profiler. "lockout" runs the pass while another connection writes a
// row the pass does not touch, again and again, and shows how long such a
// write had to wait at most: once for a writer that retries every
// millisecond, once for one that relies on SQLite's busy timeout.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/sqlite/sqlite_engine.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

void Exec(sqlite3* db, const char* sql) {
  Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
}

void Create(const std::string& path, long rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "create");
  Exec(db,
       "CREATE TABLE PLZSTM (ID INTEGER PRIMARY KEY, LAND TEXT, PLZ TEXT, ORT TEXT, "
       "TELVOR TEXT, KANTON TEXT, GEMEINDE TEXT, ZUSATZ TEXT, BFSNR TEXT);"
       "BEGIN");
  sqlite3_stmt* ins = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO PLZSTM VALUES (NULL,?1,?2,?3,?4,?5,?6,?7,?8)", -1, &ins,
                           nullptr),
        db, "prepare insert");
  static const char* const kTowns[] = {"Zürich",      "Winterthur", "Uster",  "Dübendorf",
                                       "Wetzikon ZH", "Bülach",     "Horgen", "Küsnacht ZH"};
  static const char* const kOtherCodes[] = {"031", "010", "044", "061", "1", "052"};
  for (long i = 0; i < rows; ++i) {
    const bool swiss = i % 3 != 2;
    const char* code = i % 3 == 0 ? "01" : i % 3 == 2 ? "01" : kOtherCodes[(i / 3) % 6];
    const std::string plz = std::to_string(swiss ? 8000 + i % 999 : 10000 + i % 89999);
    const std::string town = std::string(kTowns[i % 8]) + (i % 7 == 0 ? " Postfach" : "");
    const std::string bfs = std::to_string(100 + i % 9000);
    sqlite3_bind_text(ins, 1, swiss ? "CH" : "DE", -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 2, plz.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 3, town.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 4, code, -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 5, swiss ? "ZH" : "", -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 6, kTowns[(i / 8) % 8], -1, SQLITE_STATIC);
    if (i % 4 == 0) {
      sqlite3_bind_null(ins, 7);
    } else {
      sqlite3_bind_text(ins, 7, "Zustellung", -1, SQLITE_STATIC);
    }
    sqlite3_bind_text(ins, 8, bfs.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(ins), db, "insert");
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

long Count(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
  Check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, sql);
  Check(sqlite3_step(s), db, sql);
  const long n = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n;
}

// Not inlined, so that a profiler can tell the two apart.
[[gnu::noinline]] double Floor(const std::string& path) {
  const auto start = Clock::now();
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), db, "open");
  Exec(db, "BEGIN; UPDATE PLZSTM SET TELVOR='044' WHERE LAND='CH' AND TELVOR='01'; COMMIT");
  sqlite3_close(db);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[gnu::noinline]] double Engine(const std::string& prefix, long& rowsDone) {
  const auto start = Clock::now();
  kw::SqliteEngineOptions options;
  options.readColumns = {"PLZ", "ORT"};  // as the run tells its engine
  kw::SqliteEngine engine(kw::WinePaths(prefix), options);
  std::unique_ptr<kw::Database> db = engine.OpenDatabase("D:\\Public\\Engine.mdb", false, false);
  auto rs = db->OpenRecordset(
      "SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'", 2);
  std::string label;
  rowsDone = 0;
  while (!rs->Eof()) {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    const kw::FieldValue plz = rs->GetValue("PLZ");
    const kw::FieldValue ort = rs->GetValue("ORT");
    label.assign(plz.value_or("")).append(" ").append(ort.value_or(""));
    rs->Update();
    rs->MoveNext();
    ++rowsDone;
  }
  rs->Close();
  db->Close();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// Processor seconds so far: in the program, and in the kernel on its behalf.
struct Cpu {
  double user = 0;
  double system = 0;
  static Cpu Now() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return {Seconds(ru.ru_utime), Seconds(ru.ru_stime)};
  }
};

// Wall and processor seconds of one side, the round with the best wall time.
struct Times {
  double wall = 1e9;
  Cpu cpu;
  void Add(double w, const Cpu& before) {
    if (w >= wall) return;
    const Cpu after = Cpu::Now();
    wall = w;
    cpu = {after.user - before.user, after.system - before.system};
  }
  void Print(const char* what) const {
    std::printf("%-15s %.3f s  (processor: %.3f s user, %.3f s system)\n", what, wall, cpu.user,
                cpu.system);
  }
};

// What another writer met while the pass ran.
struct Lockout {
  long writes = 0;
  long failed = 0;
  long over100Ms = 0;
  double longestMs = 0;
  void Add(const Lockout& o) {
    writes += o.writes;
    failed += o.failed;
    over100Ms += o.over100Ms;
    longestMs = std::max(longestMs, o.longestMs);
  }
};

int RetryEveryMillisecond(void*, int tries) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return tries < 5000;
}

// Writes row 3 (not Swiss, so not the pass's) every 5 ms until stop, each
// write timed from its first try to its end.
Lockout Writer(const std::string& path, bool eager, const std::atomic<bool>& stop) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), db, "open writer");
  if (eager) {
    sqlite3_busy_handler(db, RetryEveryMillisecond, nullptr);
  } else {
    sqlite3_busy_timeout(db, 3000);
  }
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v2(db, "UPDATE PLZSTM SET ZUSATZ = 'peer' WHERE ID = 3", -1, &s, nullptr),
        db, "prepare writer");
  Lockout l;
  while (!stop) {
    const auto start = Clock::now();
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    l.longestMs = std::max(l.longestMs, ms);
    if (ms > 100) ++l.over100Ms;
    ++(rc == SQLITE_DONE ? l.writes : l.failed);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return l;
}

long PeakKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string only = argc > 2 ? argv[2] : "both";
  const int reps = argc > 3 ? std::atoi(argv[3]) : 3;
  if (rows <= 0 || reps <= 0 ||
      (only != "both" && only != "engine" && only != "floor" && only != "lockout")) {
    std::fprintf(stderr, "usage: engine_bench [rows [both|engine|floor|lockout [repetitions]]]\n");
    return 2;
  }
  char tmpl[] = "/tmp/engine_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string prefix = tmpl;
  fs::create_directories(prefix + "/dosdevices");
  fs::create_directories(prefix + "/data/Public");
  fs::create_directory_symlink(prefix + "/data", prefix + "/dosdevices/d:");
  const std::string baseFile = prefix + "/data/Public/Base.mdb";
  const std::string engineFile = prefix + "/data/Public/Engine.mdb";
  const std::string floorFile = prefix + "/data/Public/Floor.mdb";

  // In the program the engine is the first to use SQLite, which lets it set
  // process-wide options; the same here, before the table is made.
  { kw::SqliteEngine first{kw::WinePaths(prefix)}; }
  std::printf("creating %ld rows...\n", rows);
  Create(baseFile, rows);
  std::printf("database: %.1f MiB, peak memory so far %ld KiB\n",
              static_cast<double>(fs::file_size(baseFile)) / (1 << 20), PeakKiB());

  // Best of a few rounds: the machine may be shared.
  Times engineBest, floorBest;
  long done = 0, peak = 0;
  bool alike = true;
  const char* changed = "SELECT count(*) FROM PLZSTM WHERE LAND='CH' AND TELVOR='044'";
  const char* left = "SELECT count(*) FROM PLZSTM WHERE LAND='CH' AND TELVOR='01'";
  Lockout lockouts[2];  // eager, then SQLite's busy timeout
  for (int r = 0; r < reps; ++r) {
    for (int kind = 0; kind < (only == "lockout" ? 2 : 1) && only != "floor"; ++kind) {
      fs::copy_file(baseFile, engineFile, fs::copy_options::overwrite_existing);
      std::atomic<bool> stop{false};
      Lockout seen;
      std::thread writer;
      if (only == "lockout") {
        writer = std::thread([&] { seen = Writer(engineFile, kind == 0, stop); });
      }
      try {
        const Cpu before = Cpu::Now();
        engineBest.Add(Engine(prefix, done), before);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "engine pass failed: %s\n", e.what());
        return 1;
      }
      stop = true;
      if (writer.joinable()) writer.join();
      lockouts[kind].Add(seen);
      peak = PeakKiB();
      alike = alike && Count(engineFile, left) == 0 &&
              Count(engineFile, changed) == Count(baseFile, changed) + done;
    }
    if (only == "both" || only == "floor") {
      fs::copy_file(baseFile, floorFile, fs::copy_options::overwrite_existing);
      const Cpu before = Cpu::Now();
      floorBest.Add(Floor(floorFile), before);
      alike = alike && Count(floorFile, left) == 0;
    }
  }
  if (only != "floor") {
    engineBest.Print("engine pass:");
    std::printf("rows changed:   %ld, %.0f rows/s\n", done,
                static_cast<double>(done) / engineBest.wall);
    std::printf("peak memory:    %ld KiB after the engine pass\n", peak);
  }
  if (only == "lockout") {
    const char* kinds[] = {"retrying every 1 ms", "with a 3 s busy timeout"};
    for (int kind = 0; kind < 2; ++kind) {
      const Lockout& l = lockouts[kind];
      std::printf(
          "other writer %-24s %ld writes, %ld failed, %ld waited over 100 ms, longest %.1f ms\n",
          kinds[kind], l.writes, l.failed, l.over100Ms, l.longestMs);
    }
  }
  if (only == "both" || only == "floor") {
    floorBest.Print("single UPDATE:");
  }
  if (only == "both") {
    std::printf("ratio:          %.2f\n", engineBest.wall / floorBest.wall);
  }
  std::printf("results right:  %s\n", alike ? "yes" : "NO");
  fs::remove_all(prefix);
  return alike ? 0 : 1;
}
