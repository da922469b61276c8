#include "platform/jet/file_page_store.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "platform/jet/file_store_test_support.h"
#include "platform/jet/journal.h"
#include "platform/run_error.h"

namespace kw::jet {
namespace {

using testing::Exists;
using testing::Pattern;
using testing::PatternFile;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

constexpr char kName[] = "D:\\Daten\\Public\\Public.mdb";

std::string OpenError(const std::string& path) {
  try {
    FilePageStore::Open(path, kName);
  } catch (const RunError& e) {
    return e.Description();
  }
  return "";
}

PageBytes ReadPage(PageStore& store, uint32_t n) {
  PageBytes page;
  store.Read(n, page);
  return page;
}

std::vector<uint8_t> PageOf(const std::vector<uint8_t>& file, uint32_t n) {
  return {file.begin() + n * kPageSize, file.begin() + (n + 1) * kPageSize};
}

std::vector<uint8_t> Bytes(const PageBytes& p) { return {p.begin(), p.end()}; }

class FilePageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteAll(db, PatternFile(8)); }
  ScratchDir dir;
  std::string db = dir / "Public.mdb";
};

TEST_F(FilePageStoreTest, WritesAreHeldUntilCommitAndReadBack) {
  auto store = FilePageStore::Open(db, kName);
  EXPECT_EQ(store->Name(), kName);
  EXPECT_EQ(store->PageCount(), 8u);
  EXPECT_EQ(Bytes(ReadPage(*store, 3)), PageOf(PatternFile(8), 3));
  store->BeginGroup();
  store->Write(3, Pattern(100));
  store->Write(8, Pattern(101));  // appended
  EXPECT_EQ(store->PageCount(), 9u);
  EXPECT_EQ(ReadPage(*store, 3), Pattern(100));
  EXPECT_EQ(ReadPage(*store, 8), Pattern(101));
  EXPECT_EQ(ReadAll(db), PatternFile(8));  // nothing reached the file yet
  store->Commit();
  EXPECT_FALSE(store->InGroup());
  EXPECT_EQ(testing::JournalAt(db + "-journal"), testing::JournalLeft::kSpent);  // kept for the next group
  std::vector<uint8_t> expected = PatternFile(9);
  auto p100 = Pattern(100), p101 = Pattern(101);
  std::copy(p100.begin(), p100.end(), expected.begin() + 3 * kPageSize);
  std::copy(p101.begin(), p101.end(), expected.begin() + 8 * kPageSize);
  EXPECT_EQ(ReadAll(db), expected);
  EXPECT_EQ(ReadPage(*store, 8), Pattern(101));  // read from the file now
  store.reset();
  EXPECT_FALSE(Exists(db + "-journal"));
}

TEST_F(FilePageStoreTest, RollbackForgetsTheGroup) {
  auto store = FilePageStore::Open(db, kName);
  store->BeginGroup();
  store->Write(1, Pattern(50));
  store->Write(8, Pattern(51));
  store->Rollback();
  EXPECT_EQ(store->PageCount(), 8u);
  EXPECT_EQ(Bytes(ReadPage(*store, 1)), PageOf(PatternFile(8), 1));
  EXPECT_EQ(ReadAll(db), PatternFile(8));
}

TEST_F(FilePageStoreTest, MisuseIsAnError) {
  auto store = FilePageStore::Open(db, kName);
  PageBytes page{};
  EXPECT_THROW(store->Read(8, page), RunError);
  EXPECT_THROW(store->Write(0, page), RunError);  // outside a group
  EXPECT_THROW(store->Commit(), RunError);
  store->BeginGroup();
  EXPECT_THROW(store->BeginGroup(), RunError);
  EXPECT_THROW(store->Write(9, page), RunError);  // a gap after the end
  store->Write(8, page);
  store->Write(9, page);
  EXPECT_EQ(store->PageCount(), 10u);
}

TEST_F(FilePageStoreTest, PagesWrittenBackUnchangedTouchNothing) {
  int calls = 0;
  FilePageStoreOptions options;
  options.failIo = [&](StoreIo) { return ++calls, false; };
  auto store = FilePageStore::Open(db, kName, options);
  store->BeginGroup();
  store->Write(2, ReadPage(*store, 2));
  store->Commit();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(ReadAll(db), PatternFile(8));
}

// Each commit flushes its journal, the file, and its journal spent; the
// folder is flushed when the journal is made and when it is removed with
// the store, not for each group.
TEST_F(FilePageStoreTest, CommitOfManyPagesFlushesThriceAndTheFolderOnlyForTheJournalsFile) {
  WriteAll(db, PatternFile(300));
  std::map<StoreIo, int> calls;
  FilePageStoreOptions options;
  options.failIo = [&](StoreIo io) { return ++calls[io], false; };
  auto store = FilePageStore::Open(db, kName, options);
  store->BeginGroup();
  for (uint32_t n = 100; n < 200; ++n) store->Write(n, Pattern(n + 1000));
  store->Commit();
  EXPECT_EQ(calls[StoreIo::kSync], 3);
  EXPECT_EQ(calls[StoreIo::kFolderSync], 1);
  EXPECT_EQ(calls[StoreIo::kJournalWrite], 2);  // the journal, then its mark as spent
  EXPECT_EQ(calls[StoreIo::kFileWrite], 1);     // one run of consecutive pages
  EXPECT_EQ(ReadPage(*store, 150), Pattern(1150));
  calls.clear();
  // A smaller group after it: its journal over the spent one, cut to its own length.
  store->BeginGroup();
  store->Write(7, Pattern(7000));
  store->Commit();
  EXPECT_EQ(calls[StoreIo::kSync], 3);
  EXPECT_EQ(calls[StoreIo::kFolderSync], 0);
  EXPECT_EQ(calls[StoreIo::kJournalWrite], 3);  // written, cut, spent
  EXPECT_EQ(ReadAll(db + "-journal").size(),
            journal::kHeaderSize + journal::kChangedRecordSize + journal::kTrailerSize);
  EXPECT_EQ(testing::JournalAt(db + "-journal"), testing::JournalLeft::kSpent);
  calls.clear();
  store.reset();
  EXPECT_EQ(calls[StoreIo::kFolderSync], 1);
  EXPECT_FALSE(Exists(db + "-journal"));
}

#ifndef _WIN32
// POSIX only, from here to the journal's cases: named pipes, permission
// bits, advisory locks and the lock file's size are how POSIX files show
// what these cases are about. The Windows files' own cases (share modes,
// lock files held open, the read-only attribute) are in
// platform/win32/win32_store_files_test.cpp.
TEST_F(FilePageStoreTest, RefusesWhatIsNotAWholeWritableDatabaseFile) {
  const std::string pipe = dir / "Pipe.mdb";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
  const std::string readOnly = dir / "ReadOnly.mdb";
  WriteAll(readOnly, PatternFile(2));
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  WriteAll(readOnly + "-journal", {1, 2, 3});  // not even looked at
  std::vector<uint8_t> partial = PatternFile(2);
  partial.resize(partial.size() + 100);
  WriteAll(db, partial);
  const std::string notAFile =
      "The database engine cannot open 'D:\\Daten\\Public\\Public.mdb': it is not a file but a folder, a "
      "named pipe or a device.";
  const struct {
    std::string path, error;
  } cases[] = {
      {dir / "Missing.mdb", "Could not find file 'D:\\Daten\\Public\\Public.mdb'."},
      {dir.Path(), notAFile},
      {pipe, notAFile},  // refused at once: opening it would wait for a writer
      {"/dev/null", notAFile},
      // Read-only for everyone, the superuser included, as Windows has it.
      {readOnly,
       "Cannot update. Database or object is read-only. (file 'D:\\Daten\\Public\\Public.mdb')"},
      {db, "'D:\\Daten\\Public\\Public.mdb': the file is not a whole number of pages of 4096 bytes (8292 "
           "bytes); it is damaged or not a database."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(OpenError(c.path), c.error);
  }
  EXPECT_EQ(ReadAll(db), partial);
  EXPECT_FALSE(Exists(db + "-journal"));
  EXPECT_EQ(ReadAll(readOnly), PatternFile(2));
  EXPECT_EQ(ReadAll(readOnly + "-journal"), (std::vector<uint8_t>{1, 2, 3}));
}

// Another process (or open file) holding a lock of the given kind.
enum class Holder { kOfdWrite, kOfdRead, kPosixWriteInChild, kPosixReadRangeInChild };

TEST_F(FilePageStoreTest, RefusesAFileThatAnotherHolderLocks) {
  for (Holder holder : {Holder::kOfdWrite, Holder::kOfdRead, Holder::kPosixWriteInChild,
                        Holder::kPosixReadRangeInChild}) {
    SCOPED_TRACE(static_cast<int>(holder));
    const int fd = open(db.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    lock.l_type = holder == Holder::kOfdWrite || holder == Holder::kPosixWriteInChild ? F_WRLCK
                                                                                     : F_RDLCK;
    pid_t child = -1;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    if (holder == Holder::kOfdWrite || holder == Holder::kOfdRead) {
      ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
    } else {
      if (holder == Holder::kPosixReadRangeInChild) {
        lock.l_start = 0x10000000;  // a byte range far beyond the end, as shared users take
        lock.l_len = 1;
      }
      child = fork();
      if (child == 0) {
        if (fcntl(fd, F_SETLK, &lock) != 0) _exit(1);
        char c = 'x';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        pause();
        _exit(0);
      }
      char c;
      ASSERT_EQ(read(ready[0], &c, 1), 1);
    }
    WriteAll(db + "-journal", {1, 2, 3});  // left as it is: nothing is touched
    EXPECT_EQ(OpenError(db),
              "Could not use 'D:\\Daten\\Public\\Public.mdb'; file already in use by another "
              "program. Close Orbica-Kontor on every workstation, then run the conversion again.");
    EXPECT_EQ(ReadAll(db + "-journal"), (std::vector<uint8_t>{1, 2, 3}));
    if (child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    close(ready[0]);
    close(ready[1]);
    close(fd);
    unlink((db + "-journal").c_str());
    EXPECT_NO_THROW(FilePageStore::Open(db, kName));  // free again
  }
}

TEST_F(FilePageStoreTest, HoldsTheWholeFileWhileOpen) {
  auto store = FilePageStore::Open(db, kName);
  const int fd = open(db.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0x7fffffff;
  lock.l_len = 1;
  EXPECT_NE(fcntl(fd, F_OFD_SETLK, &lock), 0);
  EXPECT_NE(OpenError(db).find("file already in use"), std::string::npos);
  store.reset();
  EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  close(fd);
}

TEST_F(FilePageStoreTest, RefusesAFileBesideALockFileThatShowsAUser) {
  struct Case {
    const char* lockFile;
    std::vector<uint8_t> content;
    bool refused;
  } cases[] = {
      {"Public.ldb", {'P', 'C', '1'}, true},
      {"PUBLIC.LDB", {'P'}, true},
      {"public.Ldb", {}, false},  // left empty: no one
      {"Public.mdb.ldb", {'P'}, false},
      {"Other.ldb", {'P'}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lockFile);
    WriteAll(dir / c.lockFile, c.content);
    const std::string error = OpenError(db);
    if (c.refused) {
      EXPECT_EQ(error, "Could not use 'D:\\Daten\\Public\\Public.mdb'; the lock file "
                       "'D:\\Daten\\Public\\" + std::string(c.lockFile) +
                           "' beside it shows that it is in use. Close Orbica-Kontor on every "
                           "workstation, then run the conversion again. A lock file left behind "
                           "by a crash may be deleted once Orbica-Kontor is closed everywhere.");
    } else {
      EXPECT_EQ(error, "");
    }
    unlink((dir / c.lockFile).c_str());
  }
}

#endif  // _WIN32

// --- A journal left by an interrupted run ------------------------------------

class JournalAtOpenTest : public FilePageStoreTest {
 protected:
  // The journal of a group that changed pages 2 and 5 and appended pages 8
  // and 9, and the file as that group left it half-written: page 2 and the
  // appended pages written, page 5 not yet.
  void LeaveInterruptedGroup() {
    const std::vector<uint8_t> original = PatternFile(8);
    const auto p2 = PageOf(original, 2), p5 = PageOf(original, 5);
    journalBytes = journal::Build(8 * kPageSize, original.data(),
                                  {{2, p2.data(), after2.data()},
                                   {5, p5.data(), after5.data()},
                                   {8, nullptr, after8.data()},
                                   {9, nullptr, after9.data()}});
    half = PatternFile(8);
    for (const auto& [n, page] : {std::pair{2u, &after2}, {8u, &after8}, {9u, &after9}}) {
      half.resize(std::max<size_t>(half.size(), (n + 1) * kPageSize));
      std::copy(page->begin(), page->end(), half.begin() + n * kPageSize);
    }
    WriteAll(db, half);
  }
  void Put(std::vector<uint8_t>& file, uint32_t n, const PageBytes& page, size_t from = 0, size_t to = kPageSize) {
    std::copy(page.begin() + from, page.begin() + to, file.begin() + n * kPageSize + from);
  }
  const PageBytes after2 = Pattern(77), after5 = Pattern(78), after8 = Pattern(79), after9 = Pattern(80);
  std::string journalPath = db + "-journal";
  std::vector<uint8_t> journalBytes, half;
};

TEST_F(JournalAtOpenTest, AJournalThatFitsPutsTheFileBack) {
  LeaveInterruptedGroup();
  // What an interruption may leave: any page written or not, a page written
  // in part (sector by sector), the file grown with its new pages not yet
  // written (zeros) or not grown at all, a page it does not cover changed.
  const std::vector<std::pair<std::string, std::function<void(std::vector<uint8_t>&)>>> states = {
      {"as left", [](std::vector<uint8_t>&) {}},
      {"every page written", [&](std::vector<uint8_t>& f) { Put(f, 5, after5); }},
      {"nothing written", [&](std::vector<uint8_t>& f) { f = PatternFile(8); }},
      {"a page torn", [&](std::vector<uint8_t>& f) { Put(f, 5, after5, 1024, 2560); }},
      {"grown by zeros", [&](std::vector<uint8_t>& f) { std::fill(f.begin() + 8 * kPageSize, f.end(), 0); }},
      {"grown in part", [&](std::vector<uint8_t>& f) { f.resize(9 * kPageSize + 100); }},
      {"another page changed", [&](std::vector<uint8_t>& f) { Put(f, 3, Pattern(500)); }},
  };
  for (const auto& [what, change] : states) {
    SCOPED_TRACE(what);
    std::vector<uint8_t> file = half;
    change(file);
    WriteAll(db, file);
    WriteAll(journalPath, journalBytes);
    auto store = FilePageStore::Open(db, kName);
    EXPECT_EQ(store->PageCount(), 8u);
    std::vector<uint8_t> expected = PatternFile(8);
    std::copy_n(file.begin() + 3 * kPageSize, kPageSize, expected.begin() + 3 * kPageSize);
    EXPECT_EQ(ReadAll(db), expected);
    EXPECT_FALSE(Exists(journalPath));
  }
}

TEST_F(JournalAtOpenTest, AJournalThatNoLongerFitsItsFileIsKeptAndTheFileRefusedUnwritten) {
  LeaveInterruptedGroup();
  std::vector<uint8_t> otherDatabase = PatternFile(8);
  Put(otherDatabase, 0, Pattern(900));
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    const char* misfit;
  } cases[] = {
      // Restored from a backup taken before the run: page 2 holds what an
      // earlier group of the run had not yet written.
      {"restored", [&] { auto f = PatternFile(8); Put(f, 2, Pattern(600)); return f; }(),
       "page 2 holds neither what it held before the interrupted change nor what that change wrote"},
      {"a covered page changed since",
       [&] { auto f = half; f[5 * kPageSize + 4000] ^= 0x20; return f; }(),
       "page 5 holds neither"},
      {"a page of the group changed after it was written",
       [&] { auto f = half; f[2 * kPageSize + 17] ^= 1; return f; }(), "page 2 holds neither"},
      {"an appended page changed", [&] { auto f = half; Put(f, 9, Pattern(7)); return f; }(), "page 9 holds neither"},
      {"grown beyond the group", [&] { auto f = half; f.resize(11 * kPageSize); return f; }(),
       "the file has 45056 bytes, the interrupted change left between 32768 and 40960"},
      {"cut below its size before", PatternFile(7), "the file has 28672 bytes"},
      {"another database", otherDatabase, "its first page is not the one of the file the journal was written for"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(db, c.file);
    WriteAll(journalPath, journalBytes);
    const std::string error = OpenError(db);
    EXPECT_EQ(error.rfind("'D:\\Daten\\Public\\Public.mdb' was not changed: the journal "
                          "'D:\\Daten\\Public\\Public.mdb-journal' of an interrupted run no longer fits it (",
                          0),
              0u)
        << error;
    EXPECT_NE(error.find(c.misfit), std::string::npos) << error;
    EXPECT_NE(error.find("Restore the file from a backup, or, once you know that the file is sound, delete "
                         "the journal; then run the conversion again."),
              std::string::npos)
        << error;
    EXPECT_EQ(ReadAll(db), c.file);
    EXPECT_EQ(ReadAll(journalPath), journalBytes);
  }
}

TEST_F(JournalAtOpenTest, ARollbackThatFailsMidwayKeepsTheJournalForTheNextOpen) {
  LeaveInterruptedGroup();
  WriteAll(journalPath, journalBytes);
  for (StoreIo failing : {StoreIo::kFileWrite, StoreIo::kSync, StoreIo::kFolderSync}) {
    SCOPED_TRACE(static_cast<int>(failing));
    FilePageStoreOptions options;
    options.failIo = [&](StoreIo io) { return io == failing; };
    try {
      FilePageStore::Open(db, kName, options);
      ADD_FAILURE() << "opened";
    } catch (const RunError& e) {
      EXPECT_NE(e.Description().find("could not be rolled back completely"), std::string::npos)
          << e.Description();
    }
    if (failing != StoreIo::kFolderSync) {
      EXPECT_EQ(ReadAll(journalPath), journalBytes);
    }
  }
  // The folder flush failed after the journal was removed: the file is back.
  EXPECT_NO_THROW(FilePageStore::Open(db, kName));
  EXPECT_EQ(ReadAll(db), PatternFile(8));
}

TEST_F(JournalAtOpenTest, AJournalCutShortIsRemovedAndTheFileKept) {
  LeaveInterruptedGroup();
  std::vector<uint8_t> flipped = journalBytes;
  flipped[journal::kHeaderSize + 100] ^= 1;
  std::vector<uint8_t> spent = journalBytes;  // as a store leaves it once its group is done
  std::fill_n(spent.begin(), journal::kMagicSize, 0);
  const std::vector<std::vector<uint8_t>> journals = {
      spent,
      {},
      {journalBytes.begin(), journalBytes.begin() + 20},
      {journalBytes.begin(), journalBytes.end() - 1},
      {journalBytes.begin(), journalBytes.begin() + journal::kHeaderSize + journal::kChangedRecordSize},
      flipped,
      std::vector<uint8_t>(journalBytes.size(), 0),
  };
  for (size_t i = 0; i < journals.size(); ++i) {
    SCOPED_TRACE(i);
    WriteAll(db, half);
    WriteAll(journalPath, journals[i]);
    EXPECT_NO_THROW(FilePageStore::Open(db, kName));
    EXPECT_EQ(ReadAll(db), half);
    EXPECT_FALSE(Exists(journalPath));
  }
}

TEST_F(JournalAtOpenTest, AJournalThatCannotBeRolledBackRefusesTheOpen) {
  LeaveInterruptedGroup();
  const std::vector<uint8_t> file = ReadAll(db);
  ASSERT_TRUE(std::filesystem::create_directory(journalPath));  // unreadable as a journal
  const std::string error = OpenError(db);
  EXPECT_NE(error.find("'D:\\Daten\\Public\\Public.mdb': the journal "
                       "'D:\\Daten\\Public\\Public.mdb-journal' of an interrupted run cannot be "
                       "rolled back"),
            std::string::npos)
      << error;
  EXPECT_TRUE(Exists(journalPath));
  EXPECT_EQ(ReadAll(db), file);
  std::filesystem::remove(journalPath);
#ifndef _WIN32  // named pipes are POSIX's
  ASSERT_EQ(mkfifo(journalPath.c_str(), 0666), 0);  // refused without waiting for a writer
  EXPECT_NE(OpenError(db).find("cannot be rolled back, so the file is not used; both files are left as they "
                               "are: it is not a file."),
            std::string::npos);
  unlink(journalPath.c_str());
#endif

  // Whole, but about pages the file never had before the group.
  std::vector<uint8_t> stray = PageOf(file, 0);
  WriteAll(journalPath, journal::Build(2 * kPageSize, stray.data(), {{5, stray.data(), stray.data()}}));
  EXPECT_NE(OpenError(db).find("does not describe this file"), std::string::npos);
  EXPECT_EQ(ReadAll(db), file);
  // Written by another version of the program.
  std::vector<uint8_t> other = journalBytes;
  other[8] = 1;
  WriteAll(journalPath, other);
  EXPECT_NE(OpenError(db).find("it was written by another version of this program"), std::string::npos);
  EXPECT_EQ(ReadAll(db), file);
  EXPECT_EQ(ReadAll(journalPath), other);
}

#ifndef _WIN32  // POSIX only: a folder's permission bits, judged for another user
TEST_F(JournalAtOpenTest, AReadOnlyFolderRefusesTheOpenAndKeepsBoth) {
  LeaveInterruptedGroup();
  const std::vector<uint8_t> file = ReadAll(db);
  WriteAll(journalPath, journalBytes);
  ASSERT_EQ(chmod(db.c_str(), 0666), 0);
  ASSERT_EQ(chmod(journalPath.c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
  // The superuser writes into read-only folders: the open is tried as
  // another user then, in a child.
  int pipes[2];
  ASSERT_EQ(pipe(pipes), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
    const std::string error = OpenError(db);
    if (write(pipes[1], error.data(), error.size()) < 0) _exit(1);
    _exit(0);
  }
  close(pipes[1]);
  std::string error;
  char buf[256];
  for (ssize_t n; (n = read(pipes[0], buf, sizeof buf)) > 0;) error.append(buf, static_cast<size_t>(n));
  close(pipes[0]);
  int status = 0;
  waitpid(child, &status, 0);
  chmod(dir.Path().c_str(), 0700);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(error.find("cannot be rolled back, so the file is not used; both files are left as "
                       "they are: its folder is read-only"),
            std::string::npos)
      << error;
  EXPECT_EQ(ReadAll(db), file);
  EXPECT_EQ(ReadAll(journalPath), journalBytes);
}

#endif  // _WIN32

}  // namespace
}  // namespace kw::jet
