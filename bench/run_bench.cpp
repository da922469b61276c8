// Times whole kwandor_upd runs against the floor. For SQLite files the
// floor is the same changes made by one UPDATE per table and column, each in
// one transaction, through sqlite3; for Jet 4 files, which nothing else here
// writes, it is one plain copy of every database the run changes (read,
// written and flushed).
//
//   run_bench [--format sqlite|jet] [--rows N[,N...]] [--clients N]
//             [--rows-per-client N] [--rounds N]
//             [--program PATH]   (another build of kwandor_upd instead of this one)
//             [--against PATH]   (another build measured beside it in the same rounds)
//
// Defaults: postal-code tables of 10 000, 100 000 and 1 000 000 rows (about
// a third Swiss with "01"), 20 clients of 50 000 addresses with two marked
// columns, 5 rounds. Each round works on fresh copies of one generated
// installation: the program with the console front end (output not a
// terminal, answers from a pipe) on one, the floor on the other; both results
// are compared. Medians are printed, with rows per second, the processor
// time of both (steadier than wall time on a busy machine) and the
// program's peak resident memory. With --against, the other build runs in
// every round too, on a copy of its own, the two taking turns at going
// first; its line follows, with how many times as long it took. The
// machine's load averages are printed before and after.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fakes/fake_clock.h"
#include "platform/jet/file_page_store.h"
#include "platform/jet/jet_engine.h"
#include "tools/sample/installation.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::vector<long> rows = {10000, 100000, 1000000};
  int clients = 20;
  long rowsPerClient = 50000;
  int rounds = 5;
  std::string program;  // the build's kwandor_upd when empty
  std::string against;  // another build measured beside it, if any
  kw::sample::DbFormat format = kw::sample::DbFormat::kSqlite;
};

void Die(const std::string& what) {
  std::fprintf(stderr, "run_bench: %s\n", what.c_str());
  std::exit(1);
}

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK)
    Die(sql + ": " + (err ? err : "?"));
}

long Count(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    Die("cannot open " + file);
  sqlite3_stmt* st = nullptr;
  long n = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// The databases a run changes, with the columns changed in each.
struct Target {
  std::string file;
  std::string table;
  std::vector<std::string> columns;
};

std::vector<Target> Targets(const std::string& prefix, const std::vector<kw::sample::SampleClient>& cs) {
  std::vector<Target> out = {
      {kw::sample::HostPath(prefix, "D:\\Daten\\Public\\Public.mdb"), "PLZSTM", {"TELVOR"}}};
  for (const auto& c : cs) {
    const bool named = c.name.find_first_not_of(' ') != std::string::npos;
    if (!named || !c.withDatabase || !c.withDefinition) continue;
    if (std::strtod(c.version.c_str(), nullptr) < 6.4) continue;
    out.push_back({kw::sample::HostPath(prefix, "D:\\Daten\\" + c.directory + "\\NoltData.mdb"),
                   "ADRSTM",
                   {"TELVOR", "FAXVOR"}});
  }
  return out;
}

// Rows of a Jet file that the selection finds, through the Jet engine.
long CountJet(const std::string& file, const std::string& sql) {
  kw::FakeClock clock;
  kw::jet::JetEngine engine([&](std::string_view name) { return kw::jet::FilePageStore::Open(file, std::string(name)); },
                            clock);
  auto db = engine.OpenDatabase(file, false, false);
  auto rs = db->OpenRecordset(sql, 2);
  long n = 0;
  for (; !rs->Eof(); rs->MoveNext()) ++n;
  rs->Close();
  db->Close();
  return n;
}

long Remaining(const std::vector<Target>& ts, kw::sample::DbFormat format) {
  long n = 0;
  for (const auto& t : ts)
    for (const auto& c : t.columns) {
      const std::string where = " WHERE LAND='CH' AND " + c + "='01'";
      n += format == kw::sample::DbFormat::kJet ? CountJet(t.file, "SELECT * FROM " + t.table + where)
                                                : Count(t.file, "SELECT count(*) FROM " + t.table + where);
    }
  return n;
}

// One UPDATE per table and column, each database in one transaction.
// The processor time this process has used, in seconds.
double OwnCpu() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Seconds of wall time; cpu receives the processor time it took.
double Floor(const std::vector<Target>& ts, double& cpu) {
  const double cpuStart = OwnCpu();
  const auto start = Clock::now();
  for (const auto& t : ts) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(t.file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      Die("cannot open " + t.file);
    Exec(db, "BEGIN IMMEDIATE");
    for (const auto& c : t.columns)
      Exec(db, "UPDATE " + t.table + " SET " + c + " = '044' WHERE LAND = 'CH' AND " + c + " = '01'");
    Exec(db, "COMMIT");
    sqlite3_close(db);
  }
  cpu = OwnCpu() - cpuStart;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One plain copy of every database: read whole, written to a new file and
// flushed.
double CopyFloor(const std::vector<Target>& ts, double& cpu) {
  const double cpuStart = OwnCpu();
  const auto start = Clock::now();
  std::vector<char> buf(1 << 20);
  for (const auto& t : ts) {
    const int in = open(t.file.c_str(), O_RDONLY);
    const int out = open((t.file + ".copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) Die("cannot copy " + t.file);
    for (ssize_t n; (n = read(in, buf.data(), buf.size())) > 0;)
      if (write(out, buf.data(), static_cast<size_t>(n)) != n) Die("cannot copy " + t.file);
    if (fsync(out) != 0) Die("cannot flush the copy of " + t.file);
    close(in);
    close(out);
  }
  cpu = OwnCpu() - cpuStart;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const auto& t : ts) fs::remove(t.file + ".copy");
  return seconds;
}

struct RunResult {
  double seconds = 0;
  double cpu = 0;
  long maxRssKiB = 0;
};

// The program on the prefix, with the console front end; every question is
// answered with Yes (and every OK box goes on).
RunResult Program(const std::string& binary, const std::string& prefix) {
  int in[2];
  if (pipe(in) != 0) Die("pipe");
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("WINEPREFIX", prefix.c_str(), 1);
    execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  const std::string answers(64, '\n');
  const std::string yes = "j\n" + answers;
  if (write(in[1], yes.data(), yes.size()) < 0) Die("write");
  close(in[1]);
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Die("the program failed");
  RunResult r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.maxRssKiB = ru.ru_maxrss;
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--format") {
      if (std::string(v) != "sqlite" && std::string(v) != "jet") Die("--format is sqlite or jet");
      o.format = std::string(v) == "jet" ? kw::sample::DbFormat::kJet : kw::sample::DbFormat::kSqlite;
    } else if (a == "--rows") {
      o.rows.clear();
      for (const char* p = v; *p;) {
        char* end = nullptr;
        o.rows.push_back(std::strtol(p, &end, 10));
        p = *end == ',' ? end + 1 : end;
        if (end == p && *p) Die("bad --rows");
      }
    } else if (a == "--clients") {
      o.clients = std::atoi(v);
    } else if (a == "--rows-per-client") {
      o.rowsPerClient = std::atol(v);
    } else if (a == "--program") {
      o.program = v;
    } else if (a == "--against") {
      o.against = v;
    } else if (a == "--rounds") {
      o.rounds = std::max(1, std::atoi(v));
    } else {
      Die("unknown option " + a);
    }
  }
  if (argc % 2 == 0) Die("options come in pairs");
  return o;
}

// The machine's load averages over 1, 5 and 15 minutes, as uptime shows them.
std::string Load() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f, %.2f, %.2f", load[0], load[1], load[2]);
  return text;
}

// The rounds of one build.
struct Runs {
  std::vector<double> seconds, cpu;
  long rss = 0;
  void Add(const RunResult& r) {
    seconds.push_back(r.seconds);
    cpu.push_back(r.cpu);
    rss = std::max(rss, r.maxRssKiB);
  }
};

void PrintLine(const char* label, long changed, const Runs& runs, double f, double fc) {
  const double p = Median(runs.seconds), c = Median(runs.cpu);
  std::printf("%-10s %8ld %8.3fs %8.3fs %7.2f %11.0f %8.3fs %8.3fs %9.2f %9.1f\n", label, changed, p, f, p / f,
              static_cast<double>(changed) / p, c, fc, fc > 0 ? c / fc : 0.0, static_cast<double>(runs.rss) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  const std::string binary =
      o.program.empty() ? std::string(KW_BINARY_DIR) + "/kwandor_upd" : o.program;
  char tmpl[] = "/tmp/kw_run_bench_XXXXXX";
  const fs::path root = mkdtemp(tmpl);
  std::printf("%s files; floor: %s\n", o.format == kw::sample::DbFormat::kJet ? "Jet 4" : "SQLite",
              o.format == kw::sample::DbFormat::kJet ? "one plain copy of each database" : "one UPDATE per column");
  std::printf("program: %s\n", binary.c_str());
  if (!o.against.empty()) std::printf("against: %s\n", o.against.c_str());
  std::printf("load average before: %s\n", Load().c_str());
  std::printf("%-10s %8s %9s %9s %7s %11s %9s %9s %9s %9s\n", "PLZSTM", "changed", "program",
              "floor", "ratio", "rows/s", "cpu", "floor cpu", "cpu ratio", "peak MiB");
  double time100k = 0, time1m = 0;
  for (long rows : o.rows) {
    kw::sample::SampleInstallation setup;
    setup.prefix = (root / "master").string();
    setup.plzRows = rows;
    setup.clients = kw::sample::DefaultClients(o.clients, o.rowsPerClient);
    setup.format = o.format;
    kw::sample::WriteInstallation(setup);
    const bool jet = o.format == kw::sample::DbFormat::kJet;
    const long changed = Remaining(Targets(setup.prefix, setup.clients), o.format);
    std::vector<double> floor, floorCpu;
    Runs mine, other;
    for (int round = 0; round < o.rounds; ++round) {
      const fs::path a = root / "a", b = root / "b", c = root / "c";
      for (const fs::path& p : {a, b, c}) {
        fs::remove_all(p);
        if (p != c || !o.against.empty())
          fs::copy(setup.prefix, p, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
      }
      sync();
      if (!o.against.empty() && round % 2 == 1) other.Add(Program(o.against, c.string()));
      mine.Add(Program(binary, a.string()));
      if (!o.against.empty() && round % 2 == 0) other.Add(Program(o.against, c.string()));
      double fc = 0;
      floor.push_back(jet ? CopyFloor(Targets(b.string(), setup.clients), fc)
                          : Floor(Targets(b.string(), setup.clients), fc));
      floorCpu.push_back(fc);
      if (Remaining(Targets(a.string(), setup.clients), o.format) != 0 ||
          (!o.against.empty() && Remaining(Targets(c.string(), setup.clients), o.format) != 0) ||
          (!jet && Remaining(Targets(b.string(), setup.clients), o.format) != 0))
        Die("rows were left unchanged");
    }
    const double p = Median(mine.seconds), f = Median(floor), fc = Median(floorCpu);
    if (rows == 100000) time100k = p;
    if (rows == 1000000) time1m = p;
    PrintLine(std::to_string(rows).c_str(), changed, mine, f, fc);
    if (!o.against.empty()) {
      PrintLine("  against", changed, other, f, fc);
      std::printf("%-10s it took %.2f times as long (processor time %.2f times)\n", "", Median(other.seconds) / p,
                  Median(other.cpu) / Median(mine.cpu));
    }
    std::fflush(stdout);
    fs::remove_all(setup.prefix);
  }
  // Growth says something only about the general database alone.
  if (o.clients == 0 && time100k > 0 && time1m > 0)
    std::printf("growth: 1 000 000 rows took %.2f times ten times the 100 000-row time\n",
                time1m / (10 * time100k));
  std::printf("load average after: %s\n", Load().c_str());
  fs::remove_all(root);
  return 0;
}
