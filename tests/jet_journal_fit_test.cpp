// A run killed in the middle of a write group leaves its journal beside the
// file. The next open rolls it back only onto that file, and only while
// every page it covers holds what the killed run left there: a file
// restored from a backup since, or changed by another program, is refused
// and left as it is, journal and all.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/jet/journal.h"
#include "tests/e2e_support.h"
#include "tests/jet_test_support.h"
#include "tools/sample/installation.h"

namespace kw::jet::test {
namespace {

using e2e::ProgramRun;

// Converts PLZSTM of the file at `path` in write groups of four pages, and
// is killed just before the file of its `group`-th group is flushed: that
// group's pages are written and its journal lies beside the file.
void KillInGroup(const std::string& path, int group) {
  int pipes[2];
  ASSERT_EQ(pipe(pipes), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipes[0]);
    int syncs = 0;
    FilePageStoreOptions options;
    options.failIo = [&](StoreIo io) {
      // Each group flushes its journal, then the file, then its journal
      // spent.
      if (io == StoreIo::kSync && ++syncs == 3 * group - 1) {
        if (write(pipes[1], "s", 1) != 1) _exit(3);
        for (;;) pause();
      }
      return false;
    };
    FakeClock clock;
    JetEngine engine([&](std::string_view name) { return FilePageStore::Open(path, std::string(name), options); },
                     clock, JetEngineOptions{80, 4});
    try {
      ConvertPass(engine, "PLZSTM", "TELVOR");
    } catch (...) {
    }
    _exit(2);  // the pass ended without reaching that group
  }
  close(pipes[1]);
  char c = 0;
  const bool stopped = read(pipes[0], &c, 1) == 1;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipes[0]);
  ASSERT_TRUE(stopped);
  ASSERT_TRUE(jet::testing::Exists(path + "-journal"));
}

// The first page the journal beside `path` restores.
uint32_t FirstCoveredPage(const std::string& path) {
  const std::vector<uint8_t> j = ReadBytes(path + "-journal");
  journal::Header header;
  const auto read = [&](uint64_t at, size_t n, uint8_t* out) {
    std::copy_n(j.begin() + static_cast<long>(at), n, out);
    return true;
  };
  EXPECT_EQ(journal::Check(j.size(), read, header), journal::State::kComplete);
  uint32_t first = 0;
  journal::ForEachChanged(header, read, [&](uint32_t page, const uint8_t*) { return first = page, false; });
  return first;
}

std::string OpenError(const std::string& path) {
  FakeClock clock;
  JetEngine engine([&](std::string_view name) { return FilePageStore::Open(path, std::string(name)); }, clock);
  try {
    ConvertPass(engine, "PLZSTM", "TELVOR");
  } catch (const RunError& e) {
    return e.Description();
  }
  return "";
}

TEST(JetJournalFit, AKilledRunIsRolledBackOnlyOntoTheFileItLeft) {
  const std::string original = JetFile("product/Public.mdb");
  const struct {
    const char* what;
    std::function<void(const std::string& path)> since;
    bool refused;
  } cases[] = {
      {"left as it was", [](const std::string&) {}, false},
      {"restored from a backup", [&](const std::string& path) { WriteBytes(path, ReadBytes(original)); }, true},
      {"a row changed by another program on a page the journal covers",
       [](const std::string& path) {
         std::vector<uint8_t> bytes = ReadBytes(path);
         bytes[(FirstCoveredPage(path) + 1) * kPageSize - 3] ^= 0x01;  // in the page's last row
         WriteBytes(path, bytes);
       },
       true},
      {"rows added by another program at the end",
       [](const std::string& path) {
         std::vector<uint8_t> bytes = ReadBytes(path);
         bytes.resize(bytes.size() + 2 * kPageSize, 0x5A);
         WriteBytes(path, bytes);
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    jet::testing::ScratchDir dir;
    const std::string path = dir / "Public.mdb";
    WriteBytes(path, ReadBytes(original));
    KillInGroup(path, 3);
    c.since(path);
    const std::vector<uint8_t> file = ReadBytes(path), journalBytes = ReadBytes(path + "-journal");
    const std::string error = OpenError(path);
    if (!c.refused) {
      EXPECT_EQ(error, "");
      long n = 0;
      EXPECT_EQ(Export(path, "PLZSTM"), Expected(Export(original, "PLZSTM"), "TELVOR", "01", "044", &n));
      EXPECT_FALSE(jet::testing::Exists(path + "-journal"));
      continue;
    }
    EXPECT_NE(error.find("of an interrupted run no longer fits it"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(path), file);
    EXPECT_EQ(ReadBytes(path + "-journal"), journalBytes);
    EXPECT_EQ(OpenError(path), error);  // and again, the same
  }
}

TEST(JetJournalFit, TheProgramRefusesARestoredFileAndEndsAfterItsMessage) {
  e2e::TempDir dir;
  sample::SampleInstallation setup;
  setup.prefix = dir.Path("prefix");
  setup.plzRows = 3000;
  setup.clients = {};
  setup.format = sample::DbFormat::kJet;
  sample::WriteInstallation(setup);
  const std::string db = e2e::PublicDb(setup.prefix);
  const std::vector<uint8_t> backup = ReadBytes(db);
  KillInGroup(db, 2);
  WriteBytes(db, backup);  // the administrator restores the file
  const std::vector<uint8_t> journalBytes = ReadBytes(db + "-journal");

  ProgramRun run(setup.prefix, "j\n\n\n\n");
  run.Finish();
  EXPECT_EQ(run.status(), 1) << run.out();
  // Shown once: the user has something to do before the run can go on.
  EXPECT_EQ(e2e::Occurrences(run.out(), "no longer fits it"), 1u) << run.out();
  EXPECT_EQ(ReadBytes(db), backup);
  EXPECT_EQ(ReadBytes(db + "-journal"), journalBytes);
}

}  // namespace
}  // namespace kw::jet::test
