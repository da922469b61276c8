// Converts TELVOR '01' to '044' for the Swiss rows of a PLZSTM Jet file
// (written by the sample writer) through the Jet engine over the real file
// store, as the replacement pass does it: per table size, the time against
// one plain copy of the file (read, write, fsync), rows per second, rows
// changed and the conversion's peak memory (it runs in a process of its own).
// Each size is converted three times: as the sample writes PLZSTM (its
// postal codes indexed), with TELVOR indexed too, and with TELVOR indexed
// alone and with LAND (two indexes change with every row); the indexed
// times are also given as multiples of the first.
//   jet_bench [ROWS] [DIR]      (default 1,000,000 rows, and 200,000 rows)
//   jet_bench --convert FILE    (the conversion alone; prints seconds, CPU seconds, rows, KiB)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/jet/file_page_store.h"
#include "platform/jet/jet_engine.h"
#include "platform/run_error.h"
#include "platform/steady_clock.h"
#include "tools/sample/installation.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One plain copy of the file: read, write, fsync.
double CopySeconds(const std::string& from, const std::string& to) {
  const auto start = std::chrono::steady_clock::now();
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) {
    std::perror("copy");
    std::exit(1);
  }
  std::vector<char> buf(1 << 20);
  for (ssize_t n; (n = read(in, buf.data(), buf.size())) > 0;)
    if (write(out, buf.data(), static_cast<size_t>(n)) != n) {
      std::perror("copy");
      std::exit(1);
    }
  fsync(out);
  close(in);
  close(out);
  return Seconds(start);
}

int Convert(const std::string& path) {
  kw::SteadyClock clock;
  kw::jet::JetEngine engine(
      [&](std::string_view name) { return kw::jet::FilePageStore::Open(path, std::string(name)); }, clock);
  const auto start = std::chrono::steady_clock::now();
  long changed = 0;
  try {
    auto db = engine.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false);
    auto rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'", 2);
    const kw::FieldValue code = std::string("044");
    while (!rs->Eof()) {
      rs->Edit();
      rs->GetValue("LAND");
      rs->GetValue("TELVOR");
      rs->SetValue("TELVOR", code);
      rs->GetValue("PLZ");
      rs->GetValue("ORT");
      rs->Update();
      rs->MoveNext();
      ++changed;
    }
    rs->Close();
    db->Close();
  } catch (const kw::RunError& e) {
    std::fprintf(stderr, "%s\n", e.Description().c_str());
    return 1;
  }
  const double s = Seconds(start);
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const double cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                     static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  std::printf("%f %f %ld %ld\n", s, cpu, changed, u.ru_maxrss);
  return 0;
}

// Runs the conversion in a process of its own; false when it failed.
bool ConvertApart(const std::string& path, double& seconds, double& cpu, long& changed, long& kib) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFd[1], 1);
    close(pipeFd[0]);
    execl("/proc/self/exe", "jet_bench", "--convert", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFd[1]);
  char text[256] = {};
  size_t got = 0;
  for (ssize_t n; got + 1 < sizeof text && (n = read(pipeFd[0], text + got, sizeof text - 1 - got)) > 0;)
    got += static_cast<size_t>(n);
  close(pipeFd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
         std::sscanf(text, "%lf %lf %ld %ld", &seconds, &cpu, &changed, &kib) == 4;
}

// The conversion's seconds, or 0 when it failed.
double Run(long long rows, const std::string& dir, kw::sample::AreaCodeIndexes indexes) {
  const std::string path = dir + "/jet_bench.mdb";
  const std::string copy = dir + "/jet_bench_copy.mdb";
  kw::sample::WritePostalCodes(path, rows, 1, kw::sample::DbFormat::kJet, kw::sample::PostalCodesIndexing(indexes));
  const double size = static_cast<double>(std::filesystem::file_size(path));
  const double copySeconds = CopySeconds(path, copy);
  std::filesystem::remove(copy);
  double s = 0, cpu = 0;
  long changed = 0, kib = 0;
  const bool ok = ConvertApart(path, s, cpu, changed, kib);
  if (ok)
    std::printf("%-9s %9lld rows  %6.1f MiB  convert %6.3f s (cpu %6.3f s)  %9.0f rows/s  %7ld changed  copy %6.3f s"
                "  = %5.1f copies  peak %5.1f MiB\n",
                indexes == kw::sample::AreaCodeIndexes::kNone ? "plain" : indexes == kw::sample::AreaCodeIndexes::kAlone ? "TELVOR" : "2 indexes", rows, size / 1048576.0, s, cpu, static_cast<double>(rows) / s, changed, copySeconds,
                s / copySeconds, static_cast<double>(kib) / 1024.0);
  std::filesystem::remove(path);
  return ok ? s : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--convert") return Convert(argv[2]);
  const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  if (rows <= 0) {
    std::fprintf(stderr, "usage: jet_bench [ROWS] [DIR] | jet_bench --convert FILE\n");
    return 2;
  }
  bool ok = true;
  for (long long n : {rows / 5, rows}) {
    using kw::sample::AreaCodeIndexes;
    const double plain = Run(n, dir, AreaCodeIndexes::kNone), alone = Run(n, dir, AreaCodeIndexes::kAlone),
                 two = Run(n, dir, AreaCodeIndexes::kAloneAndWithOthers);
    ok = ok && plain > 0 && alone > 0 && two > 0;
    if (ok)
      std::printf("%9lld rows: TELVOR indexed takes %.2f times as long, two indexes of it %.2f times\n", n,
                  alone / plain, two / plain);
  }
  return ok ? 0 : 1;
}
