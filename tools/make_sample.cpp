// make_sample: writes a sample installation of the host product into a
// Wine-style prefix, for trying kwandor_upd out and for tests.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "tools/sample/installation.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: make_sample PREFIX [--plz-rows N] [--clients N] [--rows-per-client N]\n"
               "                          [--seed N] [--no-data-dir] [--format sqlite|jet]\n"
               "                          [--indexed-area-codes]\n"
               "Writes a Wine-style prefix with the registry value NoltDataDir = D:\\Daten\\,\n"
               "the general database Public.mdb (PLZSTM of N rows, default 5000) and N clients\n"
               "(default 6) of N addresses each (default 1000). The databases are Jet 4\n"
               "(Access 2000) files, as the product's own (default), or SQLite files. With\n"
               "--indexed-area-codes, the area codes are indexed too (TELVOR, and with other columns).\n");
}

bool Number(const char* s, long long& out) {
  char* end = nullptr;
  out = std::strtoll(s, &end, 10);
  return end && *end == '\0' && out >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    Usage();
    return 2;
  }
  kw::sample::SampleInstallation setup;
  setup.prefix = argv[1];
  setup.format = kw::sample::DbFormat::kJet;
  long long clients = 6, rowsPerClient = 1000;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    long long n = 0;
    if (a == "--no-data-dir") {
      setup.dataDir.clear();
    } else if (a == "--indexed-area-codes") {
      setup.areaCodeIndexes = kw::sample::AreaCodeIndexes::kAloneAndWithOthers;
    } else if (a == "--format" && i + 1 < argc &&
               (std::string(argv[i + 1]) == "sqlite" || std::string(argv[i + 1]) == "jet")) {
      setup.format = std::string(argv[++i]) == "jet" ? kw::sample::DbFormat::kJet : kw::sample::DbFormat::kSqlite;
    } else if (i + 1 < argc && Number(argv[i + 1], n) &&
               (a == "--plz-rows" || a == "--clients" || a == "--rows-per-client" || a == "--seed")) {
      ++i;
      if (a == "--plz-rows") setup.plzRows = n;
      if (a == "--clients") clients = n;
      if (a == "--rows-per-client") rowsPerClient = n;
      if (a == "--seed") setup.seed = static_cast<uint32_t>(n);
    } else {
      Usage();
      return 2;
    }
  }
  if (clients > 32767) {
    std::fprintf(stderr, "make_sample: at most 32767 clients\n");
    return 2;
  }
  setup.clients = kw::sample::DefaultClients(static_cast<int>(clients), rowsPerClient);
  try {
    kw::sample::WriteInstallation(setup);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample: %s\n", e.what());
    return 1;
  }
  std::printf("Sample installation written to %s (WINEPREFIX)\n", setup.prefix.c_str());
  return 0;
}
