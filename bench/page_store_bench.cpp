// Times the Jet engine's file page store alone: write groups committed
// through the journal, single-page reads, and the rollback of a journal
// left by an interrupted run.
//
//   page_store_bench [pages [group [groups]]]
//
// pages: pages of the file, 25000 (about 100 MB) unless given; group: pages
// changed per group, 100; groups: 50. Each group changes `group` pages
// scattered over the file (every page its own run) and appends one. Shown:
// pages committed per second, milliseconds per group, flushes of the file
// and of the folder per group, reads per second, and the rollback time.
// The file lives in a temporary folder of the build directory (a real disk,
// not a memory file system, so that the flushes cost what they cost).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/jet/file_page_store.h"
#include "platform/run_error.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kw::jet::kPageSize;
using kw::jet::PageBytes;
using kw::jet::StoreIo;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

PageBytes Filled(uint32_t seed) {
  PageBytes page;
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(seed * 31 + i);
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t pages = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 25000;
  const uint32_t group = argc > 2 ? static_cast<uint32_t>(std::atol(argv[2])) : 100;
  const int groups = argc > 3 ? std::atoi(argv[3]) : 50;
  if (pages < 2 || group == 0 || group >= pages || groups <= 0) {
    std::fprintf(stderr, "usage: page_store_bench [pages [group [groups]]]\n");
    return 2;
  }
  const fs::path dir = fs::path(KW_BINARY_DIR) / ("page_store_bench." + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string db = (dir / "Public.mdb").string();
  {
    std::ofstream out(db, std::ios::binary);
    for (uint32_t n = 0; n < pages; ++n) {
      const PageBytes p = Filled(n);
      out.write(reinterpret_cast<const char*>(p.data()), kPageSize);
    }
  }
  std::map<StoreIo, long> calls;
  kw::jet::FilePageStoreOptions options;
  options.failIo = [&](StoreIo io) { return ++calls[io], false; };
  try {
    auto store = kw::jet::FilePageStore::Open(db, "D:\\Public.mdb", options);
    std::mt19937 random(1);
    std::uniform_int_distribution<uint32_t> anyPage(1, pages - 1);

    // Commits.
    const auto start = Clock::now();
    for (int g = 0; g < groups; ++g) {
      store->BeginGroup();
      for (uint32_t k = 0; k < group; ++k) store->Write(anyPage(random), Filled(g * 7919u + k));
      store->Write(store->PageCount(), Filled(g));
      store->Commit();
    }
    const double commitSeconds = Seconds(start);
    const double perGroup = static_cast<double>(groups);
    const std::map<StoreIo, long> commitCalls = calls;
    const auto per = [&](StoreIo io) {
      const auto it = commitCalls.find(io);
      return it == commitCalls.end() ? 0.0 : static_cast<double>(it->second) / perGroup;
    };

    // Reads.
    PageBytes page;
    const uint32_t reads = 200000;
    const auto readStart = Clock::now();
    for (uint32_t i = 0; i < reads; ++i) store->Read(anyPage(random), page);
    const double readSeconds = Seconds(readStart);

    // Rollback of a journal at open: a group whose journal is kept, as if
    // the run had been killed before removing it.
    fs::copy_file(db, dir / "copy.mdb");
    store.reset();
    kw::jet::FilePageStoreOptions keep;
    int folderSyncs = 0;
    // The journal is copied aside once it is whole (at the first folder
    // flush) and put back after the commit.
    keep.failIo = [&](StoreIo io) {
      if (io == StoreIo::kFolderSync && ++folderSyncs == 1) {
        fs::copy_file(db + "-journal", dir / "kept-journal");
      }
      return false;
    };
    {
      auto second = kw::jet::FilePageStore::Open(db, "D:\\Public.mdb", keep);
      second->BeginGroup();
      for (uint32_t k = 0; k < group; ++k) second->Write(anyPage(random), Filled(k + 5));
      second->Commit();
    }
    fs::rename(dir / "kept-journal", db + "-journal");
    const auto rollbackStart = Clock::now();
    kw::jet::FilePageStore::Open(db, "D:\\Public.mdb").reset();
    const double rollbackSeconds = Seconds(rollbackStart);
    const bool restored = [&] {
      std::ifstream a(db, std::ios::binary), b(dir / "copy.mdb", std::ios::binary);
      return std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                        std::istreambuf_iterator<char>(b), std::istreambuf_iterator<char>());
    }();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("file: %u pages (%.0f MiB), %d groups of %u scattered pages + 1 appended\n",
                pages, pages * 4096.0 / (1 << 20), groups, group);
    std::printf("commit: %.0f pages/s, %.2f ms per group\n",
                groups * (group + 1.0) / commitSeconds, commitSeconds * 1000 / perGroup);
    std::printf("per group: %.2f file/journal flushes, %.2f folder flushes, %.2f journal writes, "
                "%.2f page writes\n",
                per(StoreIo::kSync), per(StoreIo::kFolderSync), per(StoreIo::kJournalWrite),
                per(StoreIo::kFileWrite));
    std::printf("reads: %.0f single pages/s\n", reads / readSeconds);
    std::printf("rollback at open of a %u-page journal: %.2f ms, file %s\n", group,
                rollbackSeconds * 1000, restored ? "as before the group" : "NOT RESTORED");
    std::printf("peak memory: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    fs::remove_all(dir);
    return restored ? 0 : 1;
  } catch (const kw::RunError& e) {
    std::fprintf(stderr, "page_store_bench: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
}
