// Writes a PLZSTM of N rows (default 1,000,000) as a new Jet 4 file, and the
// same rows as an SQLite file for comparison; prints time, rows per second,
// file size and peak memory.
//   jet_writer_bench [ROWS] [DIR]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/sample/installation.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void Run(const char* label, const std::string& path, long long rows, kw::sample::DbFormat format) {
  auto start = std::chrono::steady_clock::now();
  kw::sample::WritePostalCodes(path, rows, 1, format);
  double s = Seconds(start);
  std::printf("%-7s %9lld rows  %7.2f s  %10.0f rows/s  %7.1f MiB file  peak %6.1f MiB\n", label, rows, s,
              static_cast<double>(rows) / s, static_cast<double>(std::filesystem::file_size(path)) / 1048576.0,
              static_cast<double>(PeakKiB()) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  if (rows <= 0) {
    std::fprintf(stderr, "usage: jet_writer_bench [ROWS] [DIR]\n");
    return 2;
  }
  const std::string jet = dir + "/jet_writer_bench.mdb";
  const std::string sqlite = dir + "/jet_writer_bench.sqlite";
  Run("jet", jet, rows, kw::sample::DbFormat::kJet);
  Run("sqlite", sqlite, rows, kw::sample::DbFormat::kSqlite);
  std::filesystem::remove(jet);
  std::filesystem::remove(sqlite);
  return 0;
}
