// Another user of the product holds the client list locked: the program
// waits for it for up to ten seconds, quietly, without spinning a core.
#include <gtest/gtest.h>

#include "tests/e2e_support.h"

namespace kw::e2e {
namespace {

// A process that holds path with the lock the product's exclusive open
// takes (an open-file-description write lock on the whole file) for a while.
class LockHolder {
 public:
  LockHolder(const std::string& path, double seconds) {
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      close(ready[0]);
      const int fd = open(path.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      const char ok = fd >= 0 && fcntl(fd, F_OFD_SETLK, &lock) == 0 ? '1' : '0';
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      timespec t{
          static_cast<time_t>(seconds),
          static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
      while (nanosleep(&t, &t) != 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    char ok = '0';
    if (read(ready[0], &ok, 1) != 1) ok = '0';
    close(ready[0]);
    locked_ = ok == '1';
    since_ = Now();
  }
  ~LockHolder() { Release(); }

  bool locked() const { return locked_; }
  double since() const { return since_; }
  bool Holding() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  void Release() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool locked_ = false;
  double since_ = 0;
};

struct Installation {
  TempDir dir;
  std::string prefix = dir.Path("prefix");
  Installation() {
    sample::SampleInstallation setup;
    setup.prefix = prefix;
    setup.plzRows = Scaled(2000, 1000);
    setup.clients = sample::DefaultClients(5, 300);
    sample::WriteInstallation(setup);
  }
  std::string ClientList() const { return DataPath(prefix, "Public/public.pro"); }
};

TEST(HeldClientList, IsReadOnceTheOtherUserLetsGo) {
  Installation inst;
  const DatabaseContent client = ReadDatabase(ClientDb(inst.prefix, "Mand01"));
  LockHolder holder(inst.ClientList(), 3);
  ASSERT_TRUE(holder.locked());
  ProgramRun run(inst.prefix, "j\n");
  const double startedAfter = Now() - holder.since();
  run.Finish();
  EXPECT_EQ(run.status(), 0) << run.out();

  // The first client's line comes once the lock is gone, three seconds after
  // it was taken.
  const double clientsAt = run.LineTime("Mandant 01") + startedAfter;
  EXPECT_GE(clientsAt, 2.95);
  EXPECT_LT(clientsAt, Sanitized() ? 5.0 : 4.0);
  EXPECT_NE(run.out().find("Mandant 05"), std::string::npos);
  EXPECT_EQ(Differences(Converted(client, "ADRSTM", {"TELVOR", "FAXVOR"}),
                        ReadDatabase(ClientDb(inst.prefix, "Mand01"))),
            "");
  std::printf("list read %.2f s after the lock was taken; run %.2f s wall, %.3f s CPU\n", clientsAt,
              run.wallSeconds(), run.cpuSeconds());
  EXPECT_LT(run.cpuSeconds(), 0.1 * run.wallSeconds());
}

TEST(HeldClientList, HeldLongerThanTenSecondsTheRunEndsWithoutClients) {
  Installation inst;
  std::map<std::string, std::string> clientFiles;
  for (const std::string& rel : DatabaseFiles(inst.prefix)) {
    if (rel.find("Public") == std::string::npos)
      clientFiles[rel] = ReadFile(inst.prefix + "/" + rel);
  }
  ASSERT_EQ(clientFiles.size(), 4u);
  const DatabaseContent general = ReadDatabase(PublicDb(inst.prefix));
  LockHolder holder(inst.ClientList(), 12);
  ASSERT_TRUE(holder.locked());
  ProgramRun run(inst.prefix, "j\n");
  run.Finish();
  const bool stillHeld = holder.Holding();
  holder.Release();

  EXPECT_EQ(run.status(), 0) << run.out();
  EXPECT_TRUE(stillHeld) << "the run waited until the lock was gone";
  // Nothing is said about the list; the run just ends.
  const std::string tail = "Allgemeine Datenbank\nPostleitzahlenstamm\nLese Mandanten ein\n";
  ASSERT_GE(run.out().size(), tail.size());
  EXPECT_EQ(run.out().substr(run.out().size() - tail.size()), tail);
  const double waited = run.wallSeconds() - run.LineTime("Lese Mandanten ein");
  EXPECT_GE(waited, 9.9);
  EXPECT_LT(waited, Sanitized() ? 12.0 : 11.0);

  EXPECT_EQ(
      Differences(Converted(general, "PLZSTM", {"TELVOR"}), ReadDatabase(PublicDb(inst.prefix))),
      "");
  for (const auto& [rel, bytes] : clientFiles) {
    EXPECT_TRUE(ReadFile(inst.prefix + "/" + rel) == bytes) << rel << " changed";
  }
  std::printf("gave up on the list after %.2f s; run %.2f s wall, %.3f s CPU\n", waited,
              run.wallSeconds(), run.cpuSeconds());
  EXPECT_LT(run.cpuSeconds(), 0.1 * run.wallSeconds());
}

}  // namespace
}  // namespace kw::e2e
