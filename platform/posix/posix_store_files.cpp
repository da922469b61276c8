// The files of a Jet database on a POSIX system. The database is held with
// an open-file-description write lock on the whole file; a lock file beside
// it that is not empty shows a user (the product empties it when its last
// user leaves). Files are opened without waiting (O_NONBLOCK) and looked at
// before they are used, so that a named pipe in a file's place is refused
// instead of blocking the run.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/jet/store_files.h"

namespace kw::jet {
namespace {

constexpr uint32_t kPage = 4096;

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

// Windows, and Wine over a POSIX file system, take a file without any write
// permission bit as read-only, for every user: so does this store.
bool ReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

class PosixStoreFiles : public StoreFiles {
 public:
  explicit PosixStoreFiles(std::string hostPath) : path_(std::move(hostPath)) {
    const size_t slash = path_.find_last_of('/');
    folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : path_.substr(0, slash));
    base_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    journal_ = path_ + "-journal";
  }
  ~PosixStoreFiles() override {
    CloseJournal();
    if (fd_ >= 0) close(fd_);  // releases the lock
    if (folderFd_ >= 0) close(folderFd_);
  }

  DatabaseOpen OpenDatabase() override {
    struct stat st;
    if (stat(path_.c_str(), &st) != 0) return Failed(errno == ENOENT || errno == ENOTDIR ? DatabaseOpen::kNotFound : DatabaseOpen::kNoAccess);
    if (!S_ISREG(st.st_mode)) return DatabaseOpen::kNotAFile;
    if (ReadOnlyMode(st.st_mode)) return DatabaseOpen::kReadOnly;
    fd_ = open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return Failed(DatabaseOpen::kNotFound);
      return Failed(errno == EROFS ? DatabaseOpen::kReadOnly : DatabaseOpen::kNoAccess);
    }
    // What was opened is what was looked at: a regular file that may be written.
    if (fstat(fd_, &st) != 0) return Failed(DatabaseOpen::kNoAccess);
    if (!S_ISREG(st.st_mode)) return DatabaseOpen::kNotAFile;
    if (ReadOnlyMode(st.st_mode)) return DatabaseOpen::kReadOnly;
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) return Failed(DatabaseOpen::kNoAccess);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however far it grows
    if (fcntl(fd_, F_OFD_SETLK, &lock) != 0) {
      return Failed(errno == EAGAIN || errno == EACCES ? DatabaseOpen::kInUse : DatabaseOpen::kNoAccess);
    }
    folderFd_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) return Failed(DatabaseOpen::kNoAccess);
    return DatabaseOpen::kOpened;
  }

  bool LockFileShowsUser(std::string& lockFileName) override {
    std::string base = base_;
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    const std::string wanted = LowerAscii(base + ".ldb");
    const int dupFd = dup(folderFd_);
    if (dupFd < 0) return Note(false);
    DIR* dir = fdopendir(dupFd);
    if (!dir) {
      const int err = errno;
      close(dupFd);
      errno = err;
      return Note(false);
    }
    rewinddir(dir);
    bool found = false;
    while (dirent* entry = readdir(dir)) {
      if (LowerAscii(entry->d_name) != wanted) continue;
      struct stat st;
      if (fstatat(folderFd_, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        lockFileName = entry->d_name;
        found = true;
        break;
      }
    }
    closedir(dir);
    return found;
  }

  bool DatabaseSize(uint64_t& size) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return Note(false);
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool ReadDatabase(uint64_t offset, size_t size, uint8_t* out) override { return ReadAt(fd_, offset, size, out); }

  bool WriteDatabase(const std::vector<PageImage>& pages) override {
    std::vector<iovec> iov;
    for (size_t k = 0; k < pages.size(); ++k) {
      if (pages[k].first != pages[0].first + k || iov.size() == IOV_MAX) {
        errno = EINVAL;  // not one run
        return Note(false);
      }
      iov.push_back({const_cast<uint8_t*>(pages[k].second), kPage});
    }
    return iov.empty() || WriteV(fd_, uint64_t{pages[0].first} * kPage, iov);
  }

  bool TruncateDatabase(uint64_t size) override { return Note(ftruncate(fd_, static_cast<off_t>(size)) == 0); }
  bool SyncDatabase() override { return Note(fdatasync(fd_) == 0); }

  JournalFound FindJournal(uint64_t& size) override {
    struct stat st;
    if (lstat(journal_.c_str(), &st) != 0) {
      if (errno == ENOENT) return JournalFound::kNone;
      Note(false);
      return JournalFound::kError;
    }
    if (!S_ISREG(st.st_mode)) return JournalFound::kNotAFile;
    size = static_cast<uint64_t>(st.st_size);
    return JournalFound::kFile;
  }

  bool OpenJournalToRead() override {
    CloseJournal();
    journalFd_ = open(journal_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (journalFd_ < 0) return Note(false);
    struct stat st;
    if (fstat(journalFd_, &st) != 0) return Note(false);
    if (!S_ISREG(st.st_mode)) {
      errno = EINVAL;
      return Note(false);
    }
    return true;
  }

  bool ReadJournal(uint64_t offset, size_t size, uint8_t* out) override { return ReadAt(journalFd_, offset, size, out); }

  bool CreateJournal() override {
    CloseJournal();
    struct stat st;
    const mode_t mode = fstat(fd_, &st) == 0 ? (st.st_mode & 0666) : 0644;
    journalFd_ = open(journal_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    if (journalFd_ < 0) return Note(false);
    if (fstat(journalFd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (errno == 0) errno = EINVAL;
      CloseJournal();
      return Note(false);
    }
    return true;
  }

  bool WriteJournal(uint64_t offset, const uint8_t* data, size_t size) override {
    std::vector<iovec> one{{const_cast<uint8_t*>(data), size}};
    return WriteV(journalFd_, offset, one);
  }

  bool TruncateJournal(uint64_t size) override {
    return Note(ftruncate(journalFd_, static_cast<off_t>(size)) == 0);
  }

  bool SyncJournal() override { return Note(fdatasync(journalFd_) == 0); }

  void CloseJournal() override {
    if (journalFd_ >= 0) close(journalFd_);
    journalFd_ = -1;
  }

  bool RemoveJournal() override {
    CloseJournal();
    return Note(unlink(journal_.c_str()) == 0 || errno == ENOENT);
  }

  bool SyncFolder() override { return Note(fsync(folderFd_) == 0); }

  bool FolderWritable() override {
    // As the files' owner would be judged: the effective user, not the real one.
    return Note(faccessat(folderFd_, ".", W_OK, AT_EACCESS) == 0);
  }

  std::string LastError() const override { return err_ == 0 ? "" : std::strerror(err_); }

 private:
  bool Note(bool ok) {
    err_ = ok ? 0 : (errno != 0 ? errno : EIO);
    return ok;
  }
  DatabaseOpen Failed(DatabaseOpen why) {
    Note(false);
    return why;
  }

  bool ReadAt(int fd, uint64_t offset, size_t size, uint8_t* out) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;  // the file ends before
        return Note(false);
      }
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Writes all of iov at offset into fd, going on after short writes.
  bool WriteV(int fd, uint64_t offset, std::vector<iovec>& iov) {
    size_t left = 0;
    for (const iovec& v : iov) left += v.iov_len;
    iovec* next = iov.data();
    int count = static_cast<int>(iov.size());
    while (left > 0) {
      const ssize_t n = pwritev(fd, next, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return Note(false);
      }
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
    return true;
  }

  std::string path_, folder_, base_, journal_;
  int fd_ = -1;
  int folderFd_ = -1;
  int journalFd_ = -1;
  int err_ = 0;
};

}  // namespace

std::unique_ptr<StoreFiles> HostStoreFiles(const std::string& hostPath) {
  return std::make_unique<PosixStoreFiles>(hostPath);
}

}  // namespace kw::jet
