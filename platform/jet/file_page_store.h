#pragma once
// The page store over a real database file, for this process alone.
//
// While it is open the store holds an open-file-description write lock on
// the whole file; a file that another process locks, or beside which the
// product's lock file (<base>.ldb) shows a user, is refused. Each group is
// made durable through a rollback journal beside the file
// ("<file name>-journal"): the original content of every page the group
// changes, and the original size, go to the journal and are flushed before
// the file is written; the journal is removed once the file is flushed. A
// journal found at open (a run killed mid-commit) is rolled back first.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/jet/page_store.h"

namespace kw::jet {

// The kinds of system call a test may make fail.
enum class StoreIo {
  kJournalWrite,  // writing the journal
  kFileWrite,     // writing pages into the database file, or truncating it
  kSync,          // flushing the journal or the database file
  kFolderSync,    // flushing the folder (the journal created or removed)
};

struct FilePageStoreOptions {
  // Called before each such call; returning true makes the call fail as
  // with an I/O error. For tests of failures; empty in the program.
  std::function<bool(StoreIo)> failIo;
};

class FilePageStore : public PageStore {
 public:
  // Opens an existing file read-write (never creates one), locks it, rolls
  // back a journal left beside it and checks that it is a whole number of
  // pages. `displayName` is the name as the user gave it, used in errors.
  static std::unique_ptr<FilePageStore> Open(const std::string& hostPath,
                                             const std::string& displayName,
                                             FilePageStoreOptions options = {});
  ~FilePageStore() override;
  FilePageStore(const FilePageStore&) = delete;
  FilePageStore& operator=(const FilePageStore&) = delete;

  const std::string& Name() const override { return name_; }
  uint32_t PageCount() const override;
  void Read(uint32_t n, PageBytes& out) override;
  bool InGroup() const override { return inGroup_; }
  void BeginGroup() override;
  void Write(uint32_t n, const PageBytes& data) override;
  void Commit() override;
  void Rollback() override;

 private:
  FilePageStore(std::string hostPath, std::string name, FilePageStoreOptions options);

  void OpenAndLock();
  void RefuseWhenLockFileShowsUser();
  void RecoverJournal();
  void CheckWholePages();

  // I/O with the failure seam; each returns false with errno set.
  bool WriteAt(int fd, StoreIo kind, const uint8_t* data, size_t size, uint64_t offset);
  bool Sync(int fd, StoreIo kind);
  bool Truncate(uint64_t size);

  // Reads the pages [first, first + count) of the file into `out`.
  void ReadRun(uint32_t first, uint32_t count, uint8_t* out);
  // Writes page images into the file, contiguous pages with one call.
  bool WritePages(const std::vector<std::pair<uint32_t, const uint8_t*>>& pages);
  // Writes and flushes the journal with its folder entry; false with `err`.
  bool WriteJournal(const std::vector<uint8_t>& bytes, int& err);
  // After a failed commit: puts back the original pages and size, removes
  // the journal and throws.
  [[noreturn]] void Undo(const std::vector<uint8_t>& journalBytes,
                         const std::vector<std::pair<uint32_t, const uint8_t*>>& before,
                         uint64_t originalSize, int err, bool journalOnDisk);
  void RemoveJournalOrThrow(const std::string& why);

  [[noreturn]] void Fail(const std::string& what, int err) const;
  void CheckUsable() const;

  std::string hostPath_;
  std::string name_;
  std::string folder_;        // host folder of the file
  std::string journalPath_;   // host path of the journal
  std::string journalName_;   // the journal's name as the user would write it
  FilePageStoreOptions options_;
  int fd_ = -1;
  int folderFd_ = -1;
  uint32_t filePages_ = 0;  // pages in the file itself
  bool inGroup_ = false;
  bool broken_ = false;  // a failed commit could not be undone: refuse everything
  std::map<uint32_t, PageBytes> pending_;
};

}  // namespace kw::jet
