#pragma once
// The page store over a database file on Windows, for this process alone.
//
// While it is open the store holds the file with a share mode that lets
// others read it but shuts out every other writer: the product's own Jet,
// which opens its databases for writing, cannot get in, and a file the
// product has open cannot be opened here. The product's lock file
// (<base>.ldb) is judged the Windows way: one that some process holds open
// shows a user and the file is refused; one that nobody holds is left over
// from a crash and does not count.
//
// Each group is made durable through a rollback journal beside the file
// ("<file name>-journal", the format of platform/jet/journal.h): the
// original content of every page the group changes, and the original size,
// go to the journal and are flushed (FlushFileBuffers) before the file is
// written; the journal is deleted once the file is flushed. A journal found
// at open (a run killed mid-commit) is rolled back first.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/jet/file_page_store.h"  // StoreIo, FilePageStoreOptions
#include "platform/jet/journal.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

class Win32PageStore : public PageStore {
 public:
  // Opens an existing file read-write (never creates one), rolls back a
  // journal left beside it and checks that it is a whole number of pages.
  // `name` is the Windows path (UTF-8), used in errors too.
  static std::unique_ptr<Win32PageStore> Open(const std::string& name,
                                              FilePageStoreOptions options = {});
  ~Win32PageStore() override;
  Win32PageStore(const Win32PageStore&) = delete;
  Win32PageStore& operator=(const Win32PageStore&) = delete;

  const std::string& Name() const override { return name_; }
  uint32_t PageCount() const override;
  void Read(uint32_t n, PageBytes& out) override;
  bool InGroup() const override { return inGroup_; }
  void BeginGroup() override;
  void Write(uint32_t n, const PageBytes& data) override;
  void Commit() override;
  void Rollback() override;

 private:
  Win32PageStore(std::string name, FilePageStoreOptions options);

  void OpenShutOutWriters();
  void RefuseWhenLockFileIsHeld();
  void RecoverJournal();
  void CheckWholePages();

  // I/O with the failure seam; each returns false with the last error set.
  bool WriteAt(HANDLE h, StoreIo kind, const uint8_t* data, size_t size, uint64_t offset);
  bool Sync(HANDLE h);
  bool Truncate(uint64_t size);
  bool RemoveJournal();

  void ReadRun(uint32_t first, uint32_t count, uint8_t* out);
  bool WritePages(const std::vector<journal::PageImage>& pages);
  bool WriteJournal(const std::vector<uint8_t>& bytes, DWORD& err);
  [[noreturn]] void Undo(const std::vector<uint8_t>& journalBytes,
                         const std::vector<journal::PageImage>& before, uint64_t originalSize,
                         DWORD err, bool journalOnDisk);

  [[noreturn]] void Fail(const std::string& what, DWORD err) const;
  void CheckUsable() const;

  std::string name_;
  std::string ansiPath_;     // the file's path for the 8-bit API
  std::string ansiJournal_;  // the journal's
  std::string journalName_;  // the journal's name as the user would write it
  FilePageStoreOptions options_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  uint32_t filePages_ = 0;
  bool inGroup_ = false;
  bool broken_ = false;  // a failed commit could not be undone: refuse everything
  std::map<uint32_t, PageBytes> pending_;
};

}  // namespace kw::jet
