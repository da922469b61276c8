// Commit of a write group: journal, pages, journal removed; every failure
// puts the file back as it was before the group.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/jet/file_page_store.h"
#include "platform/jet/journal.h"
#include "platform/run_error.h"

namespace kw::jet {
namespace {

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

void FilePageStore::Commit() {
  CheckUsable();
  if (!inGroup_) Fail("commit without an open write group", 0);
  const uint32_t newPages = PageCount();
  const std::map<uint32_t, PageBytes> pages = std::move(pending_);
  pending_.clear();
  inGroup_ = false;

  // The original content of the changed pages that are in the file, read
  // by runs of consecutive pages.
  std::vector<uint32_t> inFile;
  for (const auto& entry : pages) {
    if (entry.first < filePages_) inFile.push_back(entry.first);
  }
  std::vector<uint8_t> originals(inFile.size() * kPageSize);
  for (size_t i = 0; i < inFile.size();) {
    size_t end = i + 1;
    while (end < inFile.size() && inFile[end] == inFile[end - 1] + 1) ++end;
    ReadRun(inFile[i], static_cast<uint32_t>(end - i), originals.data() + i * kPageSize);
    i = end;
  }
  // Pages written back unchanged are left out: the file keeps every byte.
  std::vector<journal::PageImage> before;
  std::vector<journal::PageImage> after;
  size_t k = 0;
  for (const auto& [n, data] : pages) {
    if (n < filePages_) {
      const uint8_t* original = originals.data() + k++ * kPageSize;
      if (std::memcmp(original, data.data(), kPageSize) == 0) continue;
      before.emplace_back(n, original);
    }
    after.emplace_back(n, data.data());
  }
  if (after.empty()) return;
  const uint64_t originalSize = uint64_t{filePages_} * kPageSize;

  // 1. The journal, flushed with its folder entry, before the file is touched.
  const std::vector<uint8_t> journalBytes = journal::Build(originalSize, before);
  int err = 0;
  if (!WriteJournal(journalBytes, err)) {
    unlink(journalPath_.c_str());  // the file was not touched; a journal left is harmless
    Fail("the changes could not be saved, the journal " + Quoted(journalName_) +
             " cannot be written; the file is as before them",
         err);
  }
  // 2. The pages, flushed.
  if (!WritePages(after) || !Sync(fd_, StoreIo::kSync)) {
    Undo(journalBytes, before, originalSize, errno, true);
  }
  // 3. The journal removed, and its removal flushed.
  if (unlink(journalPath_.c_str()) != 0) Undo(journalBytes, before, originalSize, errno, true);
  if (!Sync(folderFd_, StoreIo::kFolderSync)) {
    Undo(journalBytes, before, originalSize, errno, false);
  }
  filePages_ = newPages;
}

bool FilePageStore::WriteJournal(const std::vector<uint8_t>& bytes, int& err) {
  struct stat st;
  const mode_t mode = fstat(fd_, &st) == 0 ? (st.st_mode & 0666) : 0644;
  const int jfd =
      open(journalPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
  if (jfd < 0) {
    err = errno;
    return false;
  }
  bool ok = WriteAt(jfd, StoreIo::kJournalWrite, bytes.data(), bytes.size(), 0) &&
            Sync(jfd, StoreIo::kSync);
  err = ok ? 0 : errno;
  close(jfd);
  if (ok && !Sync(folderFd_, StoreIo::kFolderSync)) {
    ok = false;
    err = errno;
  }
  return ok;
}

void FilePageStore::Undo(const std::vector<uint8_t>& journalBytes,
                         const std::vector<journal::PageImage>& before, uint64_t originalSize,
                         int err, bool journalOnDisk) {
  // Put back by the journal's own content, with the journal in place while
  // doing so, so that a kill in the middle still finds it.
  int ignored = 0;
  const bool restored = (journalOnDisk || WriteJournal(journalBytes, ignored)) &&
                        WritePages(before) && Truncate(originalSize) && Sync(fd_, StoreIo::kSync);
  if (!restored) {
    broken_ = true;
    Fail("the changes could not be saved and the file could not be put back; the journal " +
             Quoted(journalName_) + ", if it could be kept, puts it back when the file is next "
             "opened",
         err);
  }
  if (unlink(journalPath_.c_str()) == 0) Sync(folderFd_, StoreIo::kFolderSync);
  Fail("the changes could not be saved; the file is as before them", err);
}

}  // namespace kw::jet
