#include "platform/posix/posix_filesystem.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "platform/fakes/fake_window.h"
#include "tests/support/refusing_platform.h"
#include "hostdata/shared_file.h"
#include "platform/steady_clock.h"

namespace kw {
namespace {

namespace fs = std::filesystem;

constexpr int kSkip = 77;  // exit code of a child that cannot set up its test

// Runs fn in a child process and returns its exit code (or 128 + signal).
int InChild(const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Another process that holds a lock on a file until released or until
// holdSeconds have passed.
class LockHolder {
 public:
  enum Kind { kOpenFileLock, kProcessLock };

  LockHolder(const std::string& hostPath, Kind kind, double holdSeconds) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int fd = open(hostPath.c_str(), O_RDWR);
      struct flock lock;
      std::memset(&lock, 0, sizeof lock);
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      if (fd < 0 || fcntl(fd, kind == kOpenFileLock ? F_OFD_SETLK : F_SETLK, &lock) != 0) _exit(1);
      if (write(ready[1], "r", 1) != 1) _exit(1);
      pollfd wait{release[0], POLLIN, 0};
      poll(&wait, 1, static_cast<int>(holdSeconds * 1000));
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd_ = release[1];
    pollfd wait{ready[0], POLLIN, 0};
    char c = 0;
    held_ = poll(&wait, 1, 5000) == 1 && read(ready[0], &c, 1) == 1;
    close(ready[0]);
  }
  ~LockHolder() { Release(); }

  bool held() const { return held_; }
  void Release() {
    if (releaseFd_ >= 0) close(releaseFd_);
    releaseFd_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
  bool held_ = false;
};

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kw-posixfs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    prefix_ = tmpl;
    fs::create_directories(prefix_ + "/drive_c/Daten/Public");
    fs::create_directories(prefix_ + "/dosdevices");
    fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:");
    paths_ = std::make_unique<WinePaths>(prefix_);
    files_ = std::make_unique<PosixFileSystem>(*paths_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(prefix_, ec);
  }

  std::string Host(const std::string& relative) const { return prefix_ + "/drive_c/" + relative; }
  void Write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(Host(relative), std::ios::binary) << bytes;
  }
  static std::string ReadAll(OpenFile& f) {
    std::string s(static_cast<size_t>(f.Size()), '\0');
    if (f.ReadAt(0, s.data(), s.size()) != static_cast<int64_t>(s.size())) return "<short>";
    return s;
  }

  std::string prefix_;
  std::unique_ptr<WinePaths> paths_;
  std::unique_ptr<PosixFileSystem> files_;
};

TEST_F(PosixFileSystemTest, OpensExistingFilesAndCreatesMissingOnesEmpty) {
  Write("Daten/Public/public.pro", "0123456789");
  auto f = files_->OpenExclusive("C:\\Daten\\Public\\public.pro");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(*f), "0123456789");
  char buf[8];
  EXPECT_EQ(f->ReadAt(7, buf, sizeof buf), 3);  // short at the end
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(f->ReadAt(100, buf, sizeof buf), 0);

  // Names are found without regard to case, as Wine finds them.
  EXPECT_EQ(files_->OpenExclusive("c:\\DATEN\\public\\PUBLIC.PRO"), nullptr);  // still held
  f.reset();
  EXPECT_NE(files_->OpenExclusive("c:\\DATEN\\public\\PUBLIC.PRO"), nullptr);

  auto created = files_->OpenExclusive("C:\\Daten\\Public\\neu.pro");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Size(), 0);
  EXPECT_TRUE(fs::is_regular_file(Host("Daten/Public/neu.pro")));
}

TEST_F(PosixFileSystemTest, FailsForMissingDirectoriesDirectoriesAndUnmappablePaths) {
  EXPECT_EQ(files_->OpenExclusive("C:\\Fehlt\\public.pro"), nullptr);
  EXPECT_FALSE(fs::exists(Host("Fehlt")));
  EXPECT_EQ(files_->OpenExclusive("C:\\Daten"), nullptr);
  EXPECT_EQ(files_->OpenExclusive("Q:\\x.pro"), nullptr);  // no such drive
  EXPECT_EQ(files_->OpenExclusive("\\\\server\\share\\x.pro"), nullptr);
  ASSERT_EQ(mkfifo(Host("Daten/fifo").c_str(), 0600), 0);
  EXPECT_EQ(files_->OpenExclusive("C:\\Daten\\fifo"), nullptr);  // and does not wait
}

TEST_F(PosixFileSystemTest, LocksShutOutOtherProcessesBothWays) {
  Write("Daten/x.def", "abc");
  for (auto kind : {LockHolder::kOpenFileLock, LockHolder::kProcessLock}) {
    LockHolder other(Host("Daten/x.def"), kind, 30);
    ASSERT_TRUE(other.held());
    EXPECT_EQ(files_->OpenExclusive("C:\\Daten\\x.def"), nullptr) << kind;
    other.Release();
    EXPECT_NE(files_->OpenExclusive("C:\\Daten\\x.def"), nullptr) << kind;
  }
  auto mine = files_->OpenExclusive("C:\\Daten\\x.def");
  ASSERT_NE(mine, nullptr);
  auto tryInChild = [&] {
    return InChild([&] { return files_->OpenExclusive("C:\\Daten\\x.def") ? 1 : 0; });
  };
  EXPECT_EQ(tryInChild(), 0);
  EXPECT_FALSE(LockHolder(Host("Daten/x.def"), LockHolder::kProcessLock, 1).held());
  mine.reset();
  EXPECT_EQ(tryInChild(), 1);
}

TEST_F(PosixFileSystemTest, RetryWithTheRealClockWaitsUntilTheOtherProcessLetsGo) {
  Write("Daten/Public/public.pro", "x");
  SteadyClock clock;
  FakeWindow window;
  kw::testing::RefusingPlatform host{*files_, clock, window};
  FileTable table;
  LockHolder other(Host("Daten/Public/public.pro"), LockHolder::kOpenFileLock, 1.0);
  ASSERT_TRUE(other.held());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FileOpenRetry(host.Get(), table, "C:\\Daten\\Public\\public.pro", true), 1);
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(waited, 0.8);
  EXPECT_LT(waited, 5.0);
}

TEST_F(PosixFileSystemTest, ReadOnlyFileIsOpenedForReading) {
  Write("Daten/ro.def", "lesen");
  ASSERT_EQ(chmod(Host("Daten/ro.def").c_str(), 0444), 0);
  // Permission bits do not stop root: the check runs as an ordinary user.
  for (const std::string& dir : {prefix_, Host("")}) chmod(dir.c_str(), 0755);
  chmod(Host("Daten").c_str(), 0555);
  const int code = InChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return kSkip;
    auto f = files_->OpenExclusive("C:\\Daten\\ro.def");
    if (!f) return 1;
    std::string s(5, '\0');
    if (f->ReadAt(0, s.data(), 5) != 5 || s != "lesen") return 2;
    // A file that cannot be created is no file.
    if (files_->OpenExclusive("C:\\Daten\\ro-neu.def")) return 3;
    return 0;
  });
  chmod(Host("Daten").c_str(), 0755);
  if (code == kSkip) GTEST_SKIP() << "cannot switch to an ordinary user";
  EXPECT_EQ(code, 0);
}

TEST_F(PosixFileSystemTest, ReadOnlyFileSystemGivesAReadLockThatStillShutsOutWriters) {
  Write("Daten/x.def", "abc");
  fs::create_directories(Host("Nur-Lesen"));
  const std::string data = Host("Daten"), ro = Host("Nur-Lesen");
  const int code = InChild([&] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount(data.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) ||
        mount(nullptr, ro.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr)) {
      return kSkip;
    }
    auto reader = files_->OpenExclusive("C:\\Nur-Lesen\\x.def");
    if (!reader) return 1;
    if (files_->OpenExclusive("C:\\Daten\\x.def")) return 2;  // a writer is shut out
    if (files_->OpenExclusive("C:\\Nur-Lesen\\neu.def")) return 3;
    reader.reset();
    if (!files_->OpenExclusive("C:\\Daten\\x.def")) return 4;
    return 0;
  });
  if (code == kSkip) GTEST_SKIP() << "no private mount namespace for a read-only bind";
  EXPECT_EQ(code, 0);
}

TEST_F(PosixFileSystemTest, NormalFilesAreRegularVisibleFiles) {
  Write("Daten/NoltData.mdb", "");
  Write("Daten/.versteckt", "");
  fs::create_directories(Host("Daten/Mand01"));
  fs::create_symlink("NoltData.mdb", Host("Daten/link.mdb"));
  fs::create_symlink("Mand01", Host("Daten/link-dir"));
  fs::create_symlink("fehlt", Host("Daten/dangling"));
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\NoltData.mdb"));
  EXPECT_TRUE(files_->IsNormalFile("c:\\daten\\noltdata.MDB"));
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\link.mdb"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\.versteckt"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\Mand01"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\link-dir"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\dangling"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\fehlt.mdb"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Fehlt\\NoltData.mdb"));
  EXPECT_FALSE(files_->IsNormalFile("Q:\\NoltData.mdb"));
  EXPECT_FALSE(files_->IsNormalFile(""));

  Write("Daten/ro.mdb", "");
  ASSERT_EQ(chmod(Host("Daten/ro.mdb").c_str(), 0444), 0);
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\ro.mdb"));
}

TEST_F(PosixFileSystemTest, DosAttributesHideHiddenAndSystemFiles) {
  auto mark = [&](const std::string& name, const std::string& value) {
    Write("Daten/" + name, "");
    return setxattr(Host("Daten/" + name).c_str(), "user.DOSATTRIB", value.data(), value.size(),
                    0) == 0;
  };
  if (!mark("hidden.mdb", "0x2")) GTEST_SKIP() << "no user attributes here: " << strerror(errno);
  std::string v4(16, '\0');  // Samba 4: empty text, version 4, level 4, flags, attributes
  v4[2] = 4;
  v4[4] = 4;
  v4[8] = 0x11;
  ASSERT_TRUE(mark("system.mdb", "0x24"));
  ASSERT_TRUE(mark("archive.mdb", "0x20"));
  ASSERT_TRUE(mark("readonly.mdb", "0x21"));
  ASSERT_TRUE(mark("junk.mdb", "hidden"));
  v4[12] = 0x22;
  ASSERT_TRUE(mark("hidden4.mdb", v4));
  v4[12] = 0x20;
  ASSERT_TRUE(mark("archive4.mdb", v4));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\hidden.mdb"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\system.mdb"));
  EXPECT_FALSE(files_->IsNormalFile("C:\\Daten\\hidden4.mdb"));
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\archive.mdb"));
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\readonly.mdb"));
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\archive4.mdb"));
  EXPECT_TRUE(files_->IsNormalFile("C:\\Daten\\junk.mdb"));
}

std::string Blob(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(ParseDosAttrib, ReadsTheTextForm) {
  EXPECT_EQ(ParseDosAttrib("0x2").attributes, 0x2u);
  EXPECT_EQ(ParseDosAttrib("0X26").attributes, 0x26u);
  EXPECT_EQ(ParseDosAttrib(std::string("0x20\0", 5)).attributes, 0x20u);  // with its NUL
  EXPECT_EQ(ParseDosAttrib("22").attributes, 0x22u);
  EXPECT_TRUE(ParseDosAttrib("0x0").ok);
  for (const char* bad : {"", "0x", "0x2g", "zz", "0x123456789", " 0x2"}) {
    EXPECT_FALSE(ParseDosAttrib(bad).ok) << bad;
  }
}

TEST(ParseDosAttrib, ReadsEveryVersionOfTheBinaryForm) {
  // Version 4 as Samba writes it: "" NUL, pad, version 4, level 4, pad,
  // flags 0x51, attributes 0x20, then times.
  EXPECT_EQ(ParseDosAttrib(Blob({0, 0, 4, 0, 4, 0, 0, 0, 0x51, 0, 0, 0, 0x20, 0, 0, 0, 1, 0x0f,
                                 0x77, 0x8d, 0x7e, 0x25, 0, 0}))
                .attributes,
            0x20u);
  // Version 3 after the text "0x6" (4 bytes with its NUL): flags, attributes.
  EXPECT_EQ(ParseDosAttrib(Blob({'0', 'x', '6', 0, 3, 0, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0})).attributes,
            0x6u);
  // Version 1 after "0x24": 5 bytes, pad to 6, version, level, pad to 12,
  // then the attributes come first.
  EXPECT_EQ(ParseDosAttrib(Blob({'0', 'x', '2', '4', 0, 0, 1, 0, 1, 0, 0, 0, 0x24, 0, 0, 0}))
                .attributes,
            0x24u);
  EXPECT_EQ(ParseDosAttrib(Blob({0, 0, 5, 0, 5, 0, 0, 0, 0x11, 0, 0, 0, 0x22, 0, 0, 0})).attributes,
            0x22u);
  // Cut short, or a version nobody writes.
  EXPECT_FALSE(ParseDosAttrib(Blob({0, 0, 4})).ok);
  EXPECT_FALSE(ParseDosAttrib(Blob({0, 0, 4, 0, 4, 0, 0, 0, 0x51, 0, 0, 0, 0x22, 0})).ok);
  for (int version : {0, 6, 0xFF}) {
    EXPECT_FALSE(
        ParseDosAttrib(Blob({0, 0, version, version, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0})).ok)
        << version;
  }
}

}  // namespace
}  // namespace kw
