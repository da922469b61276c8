// The files of a Jet database on Windows. The database is opened with a
// share mode that lets others read it but shuts out every writer: the
// product's own Jet opens its databases for writing, so it cannot get in,
// and a database that it has open cannot be opened here. The product's
// lock file (<base>.ldb) is judged the Windows way: a lock file that some
// process holds open shows a user; one that nobody holds was left by a
// crash and does not count (it is tried with a share mode of 0, which
// succeeds only while no one has it open). The journal, held open from one
// write group to the next, is shared for reading alike.
//
// Windows has no flush of a folder's entries for ordinary programs: NTFS
// logs them itself, and SyncFolder has nothing to do.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/jet/store_files.h"
#include "platform/win32/win32_text.h"

namespace kw::jet {
namespace {

constexpr uint32_t kPage = 4096;

bool Missing(DWORD err) {
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
         err == ERROR_BAD_NETPATH || err == ERROR_BAD_NET_NAME || err == ERROR_INVALID_DRIVE;
}

bool HeldElsewhere(DWORD err) { return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION; }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

class Win32StoreFiles : public StoreFiles {
 public:
  explicit Win32StoreFiles(const std::string& path)
      : path_(win32::AnsiPath(path)), journal_(path_ + "-journal") {
    const size_t cut = path_.find_last_of("\\/:");
    std::string base = cut == std::string::npos ? path_ : path_.substr(cut + 1);
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    lockName_ = base + ".ldb";
    lockPath_ = (cut == std::string::npos ? "" : path_.substr(0, cut + 1)) + lockName_;
  }
  ~Win32StoreFiles() override {
    CloseJournal();
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  DatabaseOpen OpenDatabase() override {
    const DWORD attributes = GetFileAttributesA(path_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return Failed(Missing(GetLastError()) ? DatabaseOpen::kNotFound : DatabaseOpen::kNoAccess);
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return DatabaseOpen::kNotAFile;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return DatabaseOpen::kReadOnly;
    file_ = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      if (Missing(err)) return Failed(DatabaseOpen::kNotFound);
      if (HeldElsewhere(err)) return Failed(DatabaseOpen::kInUse);
      return Failed(DatabaseOpen::kNoAccess);
    }
    // What was opened is what was looked at: a file on disk.
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file_) != FILE_TYPE_DISK || !GetFileInformationByHandle(file_, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return DatabaseOpen::kNotAFile;
    }
    return DatabaseOpen::kOpened;
  }

  bool LockFileShowsUser(std::string& lockFileName) override {
    err_ = 0;
    const HANDLE h = CreateFileA(lockPath_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);  // nobody holds it: left over from a crash
      return false;
    }
    const DWORD err = GetLastError();
    if (Missing(err)) return false;
    if (!HeldElsewhere(err)) return Note(false, err);  // cannot be told: the store refuses
    lockFileName = lockName_;
    return true;
  }

  bool DatabaseSize(uint64_t& size) override {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(file_, &n)) return Note(false);
    size = static_cast<uint64_t>(n.QuadPart);
    return true;
  }

  bool ReadDatabase(uint64_t offset, size_t size, uint8_t* out) override { return ReadAt(file_, offset, size, out); }

  bool WriteDatabase(const std::vector<PageImage>& pages) override {
    run_.resize(pages.size() * kPage);
    for (size_t k = 0; k < pages.size(); ++k) {
      if (pages[k].first != pages[0].first + k) return Note(false, ERROR_INVALID_PARAMETER);  // not one run
      std::memcpy(run_.data() + k * kPage, pages[k].second, kPage);
    }
    return pages.empty() || WriteAt(file_, uint64_t{pages[0].first} * kPage, run_.data(), run_.size());
  }

  bool TruncateDatabase(uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return Note(SetFileInformationByHandle(file_, FileEndOfFileInfo, &end, sizeof end) != 0);
  }

  bool SyncDatabase() override { return Note(FlushFileBuffers(file_) != 0); }

  JournalFound FindJournal(uint64_t& size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(journal_.c_str(), GetFileExInfoStandard, &data)) {
      if (Missing(GetLastError())) return JournalFound::kNone;
      Note(false);
      return JournalFound::kError;
    }
    constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((data.dwFileAttributes & kNotAFile) != 0) return JournalFound::kNotAFile;
    size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return JournalFound::kFile;
  }

  bool OpenJournalToRead() override {
    CloseJournal();
    journalHandle_ = CreateFileA(journal_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (journalHandle_ == INVALID_HANDLE_VALUE) return Note(false);
    if (GetFileType(journalHandle_) != FILE_TYPE_DISK) return Note(false, ERROR_INVALID_PARAMETER);
    return true;
  }

  bool ReadJournal(uint64_t offset, size_t size, uint8_t* out) override {
    return ReadAt(journalHandle_, offset, size, out);
  }

  bool CreateJournal() override {
    CloseJournal();
    journalHandle_ = CreateFileA(journal_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (journalHandle_ == INVALID_HANDLE_VALUE) return Note(false);
    if (GetFileType(journalHandle_) != FILE_TYPE_DISK) {
      CloseJournal();
      return Note(false, ERROR_INVALID_PARAMETER);
    }
    return true;
  }

  bool WriteJournal(uint64_t offset, const uint8_t* data, size_t size) override {
    return WriteAt(journalHandle_, offset, data, size);
  }

  bool TruncateJournal(uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return Note(SetFileInformationByHandle(journalHandle_, FileEndOfFileInfo, &end, sizeof end) != 0);
  }

  bool SyncJournal() override { return Note(FlushFileBuffers(journalHandle_) != 0); }

  void CloseJournal() override {
    if (journalHandle_ != INVALID_HANDLE_VALUE) CloseHandle(journalHandle_);
    journalHandle_ = INVALID_HANDLE_VALUE;
  }

  bool RemoveJournal() override {
    CloseJournal();
    return Note(DeleteFileA(journal_.c_str()) != 0 || Missing(GetLastError()));
  }

  bool SyncFolder() override { return Note(true); }

  bool FolderWritable() override {
    // What the rollback needs in the end: that the journal may be deleted.
    // A read-only journal may not; one that cannot be opened for deleting
    // may not either.
    const DWORD attributes = GetFileAttributesA(journal_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Note(false, ERROR_ACCESS_DENIED);
    }
    const HANDLE h = CreateFileA(journal_.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Note(false);
    CloseHandle(h);
    return Note(true);
  }

  std::string LastError() const override { return err_ == 0 ? "" : win32::ErrorText(err_); }

 private:
  bool Note(bool ok, DWORD err) {
    err_ = ok ? 0 : (err != 0 ? err : ERROR_GEN_FAILURE);
    return ok;
  }
  bool Note(bool ok) { return Note(ok, ok ? 0 : GetLastError()); }
  DatabaseOpen Failed(DatabaseOpen why) {
    Note(false);
    return why;
  }

  bool ReadAt(HANDLE h, uint64_t offset, size_t size, uint8_t* out) {
    for (size_t done = 0; done < size;) {
      OVERLAPPED at = At(offset + done);
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
      if (!ReadFile(h, out + done, want, &got, &at)) return Note(false);
      if (got == 0) return Note(false, ERROR_HANDLE_EOF);  // the file ends before
      done += got;
    }
    return true;
  }

  bool WriteAt(HANDLE h, uint64_t offset, const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
      OVERLAPPED at = At(offset + done);
      DWORD wrote = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
      if (!WriteFile(h, data + done, want, &wrote, &at)) return Note(false);
      if (wrote == 0) return Note(false, ERROR_WRITE_FAULT);
      done += wrote;
    }
    return true;
  }

  std::string path_, journal_, lockName_, lockPath_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE journalHandle_ = INVALID_HANDLE_VALUE;
  std::vector<uint8_t> run_;
  DWORD err_ = 0;
};

}  // namespace

std::unique_ptr<StoreFiles> HostStoreFiles(const std::string& hostPath) {
  return std::make_unique<Win32StoreFiles>(hostPath);
}

}  // namespace kw::jet
