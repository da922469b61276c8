#pragma once
// The page store over a real database file, for this process alone.
//
// While it is open the store holds the file so that no other process writes
// it; a file that another process holds, or beside which the product's lock
// file (<base>.ldb) shows a user, is refused, and so is a file that may not
// be written or that is not a regular file. Each group is made durable
// through a rollback journal beside the file ("<file name>-journal", laid
// out in journal.h): the original content of every page the group changes,
// checksums of what it writes, and the original size go to the journal and
// are flushed before the file is written; once the file is flushed, the
// journal is marked spent and flushed. The spent journal is kept, open, for
// the next group to write over (its folder entry needs no further flush);
// the store removes it when it is destroyed. A journal found at open (a run killed mid-commit) is
// rolled back first, but only onto the file it was written for and only
// while every page it covers holds what the interrupted group left there;
// otherwise the file is refused and both files are kept as they are.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/jet/failing_store_files.h"
#include "platform/jet/held_pages.h"
#include "platform/jet/page_store.h"
#include "platform/jet/store_files.h"

namespace kw::jet {

struct FilePageStoreOptions {
  // Called before each such call; returning true makes the call fail as
  // with an I/O error. For tests of failures; empty in the program.
  std::function<bool(StoreIo)> failIo;
};

class FilePageStore : public PageStore {
 public:
  // Opens an existing file read-write (never creates one), holds it, rolls
  // back a journal left beside it and checks that it is a whole number of
  // pages. `displayName` is the name as the user gave it, used in errors.
  static std::unique_ptr<FilePageStore> Open(const std::string& hostPath,
                                             const std::string& displayName,
                                             FilePageStoreOptions options = {});
  // The same over files given by the caller.
  static std::unique_ptr<FilePageStore> Open(std::unique_ptr<StoreFiles> files,
                                             const std::string& displayName,
                                             FilePageStoreOptions options = {});
  ~FilePageStore() override;
  FilePageStore(const FilePageStore&) = delete;
  FilePageStore& operator=(const FilePageStore&) = delete;

  const std::string& Name() const override { return name_; }
  uint32_t PageCount() const override;
  void Read(uint32_t n, PageBytes& out) override;
  const PageBytes& View(uint32_t n) override;
  void ReadPages(uint32_t first, uint32_t count, PageBytes* out) override;
  bool InGroup() const override { return inGroup_; }
  void BeginGroup() override;
  void Write(uint32_t n, const PageBytes& data) override;
  void Commit() override;
  void Rollback() override;

 private:
  FilePageStore(std::unique_ptr<StoreFiles> files, std::string name);

  void OpenFile();
  void RefuseWhenLockFileShowsUser();
  void RecoverJournal();
  void CheckWholePages();

  // Writes and flushes the journal: over the spent one kept open, or in a
  // new file flushed with its folder entry. False with the files' LastError().
  bool WriteJournal(const std::vector<uint8_t>& bytes);
  // Marks the journal spent and flushes it: the group is done.
  bool SpendJournal();
  // Removes the journal (false with LastError() when that fails).
  bool RemoveJournal();
  // Writes the pages into the file, one call per run of consecutive pages.
  bool WritePages(const std::vector<PageImage>& pages);

  // Reads the pages [first, first + count) of the file into `out`.
  void ReadRun(uint32_t first, uint32_t count, uint8_t* out);
  // The clean copy of page n of the file, read if it is not held.
  const PageBytes& Clean(uint32_t n);
  // The group's journal, its pages and their flushes; filePages_ follows.
  void WriteGroup();
  // After a failed commit: puts back the original pages and size, removes
  // the journal and throws.
  [[noreturn]] void Undo(const std::vector<uint8_t>& journalBytes, const std::vector<PageImage>& before,
                         uint64_t originalSize, const std::string& error, bool journalOnDisk);
  void RemoveJournalOrThrow(const std::string& why);

  [[noreturn]] void Fail(const std::string& what, const std::string& error) const;
  void CheckUsable() const;

  std::unique_ptr<StoreFiles> files_;
  std::string name_;
  std::string journalName_;  // the journal's name as the user would write it
  uint32_t filePages_ = 0;   // pages in the file itself
  bool inGroup_ = false;
  bool broken_ = false;  // a failed commit could not be undone: refuse everything
  // The journal file is there, spent between groups, its folder entry on
  // the disk, and open for writing; `journalSize_` bytes long.
  bool journalKept_ = false;
  uint64_t journalSize_ = 0;
  // The pages as the file holds them and as the open group wrote them: a
  // page is read once for its rows, its change and its journal record, and
  // kept while the group holds it. The file is this store's alone while it
  // is open, so the clean copies stay true.
  HeldPages held_;
  std::vector<uint8_t> journal_;  // the group's journal, its room kept from group to group
};

}  // namespace kw::jet
