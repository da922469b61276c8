#include "platform/jet/file_page_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/jet/journal.h"
#include "platform/run_error.h"

namespace kw::jet {
namespace {

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

constexpr char kCloseEverywhere[] =
    "Close Orbica-Kontor on every workstation, then run the conversion again.";

// The name of `hostName` (a host file name) as the user would write it: the
// user's name of the database with its last part replaced.
std::string Beside(const std::string& displayName, const std::string& fileName) {
  const size_t cut = displayName.find_last_of("\\/:");
  return (cut == std::string::npos ? "" : displayName.substr(0, cut + 1)) + fileName;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

using PageImage = journal::PageImage;

}  // namespace

std::unique_ptr<FilePageStore> FilePageStore::Open(const std::string& hostPath,
                                                   const std::string& displayName,
                                                   FilePageStoreOptions options) {
  std::unique_ptr<FilePageStore> store(
      new FilePageStore(hostPath, displayName, std::move(options)));
  store->OpenAndLock();
  store->RefuseWhenLockFileShowsUser();
  store->RecoverJournal();
  store->CheckWholePages();
  return store;
}

FilePageStore::FilePageStore(std::string hostPath, std::string name, FilePageStoreOptions options)
    : hostPath_(std::move(hostPath)), name_(std::move(name)), options_(std::move(options)) {
  const size_t slash = hostPath_.find_last_of('/');
  folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath_.substr(0, slash));
  journalPath_ = hostPath_ + "-journal";
  const std::string base = slash == std::string::npos ? hostPath_ : hostPath_.substr(slash + 1);
  journalName_ = Beside(name_, base + "-journal");
}

FilePageStore::~FilePageStore() {
  if (fd_ >= 0) close(fd_);  // releases the lock
  if (folderFd_ >= 0) close(folderFd_);
}

void FilePageStore::Fail(const std::string& what, int err) const {
  std::string text = Quoted(name_) + ": " + what;
  if (err != 0) text += " (" + std::string(std::strerror(err)) + ")";
  throw RunError(text + ".");
}

void FilePageStore::CheckUsable() const {
  if (broken_) {
    throw RunError(Quoted(name_) + ": an earlier write failed and could not be undone; the " +
                   "journal " + Quoted(journalName_) +
                   " is kept and puts the file back when it is next opened.");
  }
}

void FilePageStore::OpenAndLock() {
  fd_ = open(hostPath_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw RunError("Could not find file " + Quoted(name_) + ".");
    throw RunError("The database engine cannot open the file " + Quoted(name_) +
                   ". It is already opened exclusively by another user, or you need permission "
                   "to view its data.");
  }
  struct stat st;
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    throw RunError("The database engine cannot open the file " + Quoted(name_) +
                   ". It is already opened exclusively by another user, or you need permission "
                   "to view its data.");
  }
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however far it grows
  if (fcntl(fd_, F_OFD_SETLK, &lock) != 0) {
    if (errno == EAGAIN || errno == EACCES) {
      throw RunError("Could not use " + Quoted(name_) +
                     "; file already in use by another program. " + kCloseEverywhere,
                     kErrFileInUse);
    }
    Fail("the file cannot be locked for the conversion", errno);
  }
  folderFd_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0) Fail("its folder cannot be opened", errno);
}

void FilePageStore::RefuseWhenLockFileShowsUser() {
  const size_t slash = hostPath_.find_last_of('/');
  std::string base = slash == std::string::npos ? hostPath_ : hostPath_.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  const std::string wanted = LowerAscii(base + ".ldb");

  const int dupFd = dup(folderFd_);
  if (dupFd < 0) Fail("its folder cannot be read", errno);
  DIR* dir = fdopendir(dupFd);
  if (!dir) {
    close(dupFd);
    Fail("its folder cannot be read", errno);
  }
  rewinddir(dir);
  std::string found;
  while (dirent* entry = readdir(dir)) {
    if (LowerAscii(entry->d_name) != wanted) continue;
    struct stat st;
    if (fstatat(folderFd_, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  if (!found.empty()) {
    throw RunError("Could not use " + Quoted(name_) + "; the lock file " +
                   Quoted(Beside(name_, found)) + " beside it shows that it is in use. " +
                   kCloseEverywhere + " A lock file left behind by a crash may be deleted once "
                   "Orbica-Kontor is closed everywhere.",
                   kErrFileInUse);
  }
}

void FilePageStore::RecoverJournal() {
  struct stat st;
  if (lstat(journalPath_.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    Fail("the journal " + Quoted(journalName_) + " of an interrupted run cannot be read", errno);
  }
  const std::string cannot = "the journal " + Quoted(journalName_) +
                             " of an interrupted run cannot be rolled back, so the file is not "
                             "used; both files are left as they are";
  // Removing the journal is the last step; make sure it can be done before
  // anything is written.
  if (faccessat(folderFd_, ".", W_OK, AT_EACCESS) != 0) Fail(cannot + ": its folder is read-only", errno);
  const int jfd = open(journalPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (jfd < 0) Fail(cannot, errno);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{jfd};
  if (fstat(jfd, &st) != 0) Fail(cannot, errno);
  if (!S_ISREG(st.st_mode)) Fail(cannot + ": it is not a file", 0);

  int readErr = 0;
  const journal::ReadAt read = [&](uint64_t offset, size_t size, uint8_t* out) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = pread(jfd, out + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        readErr = n < 0 ? errno : EIO;
        return false;
      }
      done += static_cast<size_t>(n);
    }
    return true;
  };
  journal::Header header;
  switch (journal::Check(static_cast<uint64_t>(st.st_size), read, header)) {
    case journal::State::kIncomplete:
      // Cut short before it was flushed: the file itself was never touched.
      RemoveJournalOrThrow(cannot);
      return;
    case journal::State::kUnreadable:
      Fail(cannot, readErr);
    case journal::State::kDamaged:
      Fail(cannot + ": it does not describe this file", 0);
    case journal::State::kComplete:
      break;
  }
  // From here on the file is being put back; a failure keeps the journal,
  // which puts it back at the next open.
  const std::string partly = "the journal " + Quoted(journalName_) +
                             " of an interrupted run could not be rolled back completely, so the "
                             "file is not used; the journal is kept and rolled back when the "
                             "file is next opened";
  int writeErr = 0;
  const bool restored = journal::ForEachRecord(header, read, [&](uint32_t page, const uint8_t* b) {
    if (WriteAt(fd_, StoreIo::kFileWrite, b, kPageSize, uint64_t{page} * kPageSize)) return true;
    writeErr = errno;
    return false;
  });
  if (!restored) Fail(partly, writeErr ? writeErr : readErr);
  if (!Truncate(header.originalSize) || !Sync(fd_, StoreIo::kSync)) Fail(partly, errno);
  RemoveJournalOrThrow(partly);
}

void FilePageStore::RemoveJournalOrThrow(const std::string& why) {
  if (unlink(journalPath_.c_str()) != 0 && errno != ENOENT) Fail(why, errno);
  if (!Sync(folderFd_, StoreIo::kFolderSync)) Fail(why, errno);
}

void FilePageStore::CheckWholePages() {
  struct stat st;
  if (fstat(fd_, &st) != 0) Fail("its size cannot be read", errno);
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size % kPageSize != 0) {
    Fail("the file is not a whole number of pages of " + std::to_string(kPageSize) +
             " bytes (" + std::to_string(size) + " bytes); it is damaged or not a database",
         0);
  }
  if (size / kPageSize > UINT32_MAX) Fail("the file is too large", 0);
  filePages_ = static_cast<uint32_t>(size / kPageSize);
}

// --- I/O through the failure seam ---------------------------------------------

bool FilePageStore::WriteAt(int fd, StoreIo kind, const uint8_t* data, size_t size,
                            uint64_t offset) {
  if (options_.failIo && options_.failIo(kind)) {
    errno = EIO;
    return false;
  }
  for (size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FilePageStore::Sync(int fd, StoreIo kind) {
  if (options_.failIo && options_.failIo(kind)) {
    errno = EIO;
    return false;
  }
  const int rc = kind == StoreIo::kFolderSync ? fsync(fd) : fdatasync(fd);
  return rc == 0;
}

bool FilePageStore::Truncate(uint64_t size) {
  if (options_.failIo && options_.failIo(StoreIo::kFileWrite)) {
    errno = EIO;
    return false;
  }
  return ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

void FilePageStore::ReadRun(uint32_t first, uint32_t count, uint8_t* out) {
  const size_t size = size_t{count} * kPageSize;
  const uint64_t offset = uint64_t{first} * kPageSize;
  for (size_t done = 0; done < size;) {
    const ssize_t n = pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("page " + std::to_string(first + done / kPageSize) + " cannot be read", errno);
    if (n == 0) Fail("the file ends before page " + std::to_string(first + done / kPageSize), 0);
    done += static_cast<size_t>(n);
  }
}

bool FilePageStore::WritePages(const std::vector<PageImage>& pages) {
  // Runs of consecutive pages go out with one call each.
  constexpr size_t kMaxRun = IOV_MAX < 256 ? IOV_MAX : 256;
  std::vector<iovec> iov;
  for (size_t i = 0; i < pages.size();) {
    size_t end = i + 1;
    while (end < pages.size() && end - i < kMaxRun && pages[end].first == pages[end - 1].first + 1) ++end;
    if (options_.failIo && options_.failIo(StoreIo::kFileWrite)) {
      errno = EIO;
      return false;
    }
    iov.clear();
    for (size_t k = i; k < end; ++k) iov.push_back({const_cast<uint8_t*>(pages[k].second), kPageSize});
    uint64_t offset = uint64_t{pages[i].first} * kPageSize;
    size_t left = (end - i) * kPageSize;
    iovec* next = iov.data();
    int count = static_cast<int>(iov.size());
    while (left > 0) {
      const ssize_t n = pwritev(fd_, next, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return false;
      }
      // A short write: go on after what was written.
      auto written = static_cast<size_t>(n);
      offset += written;
      left -= written;
      while (count > 0 && written >= next->iov_len) {
        written -= next->iov_len;
        ++next;
        --count;
      }
      if (count > 0) {
        next->iov_base = static_cast<uint8_t*>(next->iov_base) + written;
        next->iov_len -= written;
      }
    }
    i = end;
  }
  return true;
}

// --- Pages and groups ----------------------------------------------------------

uint32_t FilePageStore::PageCount() const {
  if (pending_.empty()) return filePages_;
  return std::max(filePages_, pending_.rbegin()->first + 1);
}

void FilePageStore::Read(uint32_t n, PageBytes& out) {
  CheckUsable();
  if (n >= PageCount()) Fail("page " + std::to_string(n) + " is beyond the end of the file", 0);
  if (auto it = pending_.find(n); it != pending_.end()) {
    out = it->second;
    return;
  }
  ReadRun(n, 1, out.data());
}

void FilePageStore::BeginGroup() {
  CheckUsable();
  if (inGroup_) Fail("a write group is already open", 0);
  inGroup_ = true;
}

void FilePageStore::Write(uint32_t n, const PageBytes& data) {
  CheckUsable();
  if (!inGroup_) Fail("page " + std::to_string(n) + " written outside a write group", 0);
  if (n > PageCount() || n == UINT32_MAX) {
    Fail("page " + std::to_string(n) + " written beyond the end of the file", 0);
  }
  pending_[n] = data;
}

void FilePageStore::Rollback() {
  pending_.clear();
  inGroup_ = false;
}

}  // namespace kw::jet
