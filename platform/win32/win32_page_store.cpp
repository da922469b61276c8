#include "platform/win32/win32_page_store.h"

#include <algorithm>
#include <climits>

#include "platform/jet/jet_errors.h"
#include "platform/run_error.h"
#include "platform/win32/win32_text.h"

namespace kw::jet {
namespace {

constexpr char kCloseEverywhere[] =
    "Close Orbica-Kontor on every workstation, then run the conversion again.";

// The product's lock file of a database: its name with the extension
// replaced by ".ldb".
std::string LockFileOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/:");
  const size_t dot = path.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (cut == std::string::npos || dot > cut + 1);
  return (hasExtension ? path.substr(0, dot) : path) + ".ldb";
}

bool Missing(DWORD err) {
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
         err == ERROR_BAD_NETPATH || err == ERROR_BAD_NET_NAME || err == ERROR_INVALID_DRIVE;
}

}  // namespace

std::unique_ptr<Win32PageStore> Win32PageStore::Open(const std::string& name,
                                                     FilePageStoreOptions options) {
  std::unique_ptr<Win32PageStore> store(new Win32PageStore(name, std::move(options)));
  store->OpenShutOutWriters();
  store->RefuseWhenLockFileIsHeld();
  store->RecoverJournal();
  store->CheckWholePages();
  return store;
}

Win32PageStore::Win32PageStore(std::string name, FilePageStoreOptions options)
    : name_(std::move(name)),
      ansiPath_(win32::AnsiPath(name_)),
      ansiJournal_(ansiPath_ + "-journal"),
      journalName_(name_ + "-journal"),
      options_(std::move(options)) {}

Win32PageStore::~Win32PageStore() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void Win32PageStore::Fail(const std::string& what, DWORD err) const {
  std::string text = Quoted(name_) + ": " + what;
  if (err != 0) text += " (" + win32::ErrorText(err) + ")";
  throw RunError(text + ".");
}

void Win32PageStore::CheckUsable() const {
  if (broken_) {
    throw RunError(Quoted(name_) + ": an earlier write failed and could not be undone; the " +
                   "journal " + Quoted(journalName_) +
                   " is kept and puts the file back when it is next opened.");
  }
}

void Win32PageStore::OpenShutOutWriters() {
  const std::string cannotOpen =
      "The database engine cannot open the file " + Quoted(name_) +
      ". It is already opened exclusively by another user, or you need permission to view its "
      "data.";
  if (ansiPath_.empty()) throw RunError("Could not find file " + Quoted(name_) + ".");
  file_ = CreateFileA(ansiPath_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (Missing(err)) throw RunError("Could not find file " + Quoted(name_) + ".");
    if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) {
      throw RunError("Could not use " + Quoted(name_) +
                     "; file already in use by another program. " + kCloseEverywhere);
    }
    throw RunError(cannotOpen);
  }
  if (GetFileType(file_) != FILE_TYPE_DISK) throw RunError(cannotOpen);
}

void Win32PageStore::RefuseWhenLockFileIsHeld() {
  const std::string lockName = LockFileOf(name_);
  const std::string ansiLock = win32::AnsiPath(lockName);
  // Nobody may hold the lock file while it is opened with a share mode of
  // 0: it opens only when no process has it open.
  const HANDLE h = CreateFileA(ansiLock.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return;
  }
  const DWORD err = GetLastError();
  if (Missing(err)) return;
  if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) {
    throw RunError("Could not use " + Quoted(name_) + "; the lock file " + Quoted(lockName) +
                   " beside it is held open, so the database is in use. " + kCloseEverywhere);
  }
  throw RunError("Could not use " + Quoted(name_) + "; the lock file " + Quoted(lockName) +
                 " beside it cannot be checked (" + win32::ErrorText(err) + "), so the database "
                 "may be in use. " + kCloseEverywhere);
}

void Win32PageStore::RecoverJournal() {
  if (GetFileAttributesA(ansiJournal_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = GetLastError();
    if (Missing(err)) return;
    Fail("the journal " + Quoted(journalName_) + " of an interrupted run cannot be read", err);
  }
  const std::string cannot = "the journal " + Quoted(journalName_) +
                             " of an interrupted run cannot be rolled back, so the file is not "
                             "used; both files are left as they are";
  // Deleting the journal is the last step: asking for that right now makes
  // sure it can be done before anything is written.
  const HANDLE j = CreateFileA(ansiJournal_.c_str(), GENERIC_READ | DELETE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (j == INVALID_HANDLE_VALUE) Fail(cannot, GetLastError());
  struct Closer {
    HANDLE h;
    ~Closer() {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  } closer{j};
  LARGE_INTEGER size;
  if (GetFileType(j) != FILE_TYPE_DISK) Fail(cannot + ": it is not a file", 0);
  if (!GetFileSizeEx(j, &size)) Fail(cannot, GetLastError());

  DWORD readErr = 0;
  const journal::ReadAt read = [&](uint64_t offset, size_t n, uint8_t* out) {
    for (size_t done = 0; done < n;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset + done);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
      if (!ReadFile(j, out + done, want, &got, &at) || got == 0) {
        readErr = got == 0 && GetLastError() == 0 ? ERROR_HANDLE_EOF : GetLastError();
        return false;
      }
      done += got;
    }
    return true;
  };
  journal::Header header;
  switch (journal::Check(static_cast<uint64_t>(size.QuadPart), read, header)) {
    case journal::State::kIncomplete:
      // Cut short before it was flushed: the file itself was never touched.
      CloseHandle(j);
      closer.h = INVALID_HANDLE_VALUE;
      if (!RemoveJournal()) Fail(cannot, GetLastError());
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
  DWORD writeErr = 0;
  const bool restored = journal::ForEachRecord(header, read, [&](uint32_t page, const uint8_t* b) {
    if (WriteAt(file_, StoreIo::kFileWrite, b, kPageSize, uint64_t{page} * kPageSize)) return true;
    writeErr = GetLastError();
    return false;
  });
  if (!restored) Fail(partly, writeErr ? writeErr : readErr);
  if (!Truncate(header.originalSize) || !Sync(file_)) Fail(partly, GetLastError());
  CloseHandle(j);
  closer.h = INVALID_HANDLE_VALUE;
  if (!RemoveJournal()) Fail(partly, GetLastError());
}

void Win32PageStore::CheckWholePages() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_, &size)) Fail("its size cannot be read", GetLastError());
  const auto bytes = static_cast<uint64_t>(size.QuadPart);
  if (bytes % kPageSize != 0) {
    Fail("the file is not a whole number of pages of " + std::to_string(kPageSize) + " bytes (" +
             std::to_string(bytes) + " bytes); it is damaged or not a database",
         0);
  }
  if (bytes / kPageSize > UINT32_MAX) Fail("the file is too large", 0);
  filePages_ = static_cast<uint32_t>(bytes / kPageSize);
}

// --- Pages and groups ----------------------------------------------------------

uint32_t Win32PageStore::PageCount() const {
  if (pending_.empty()) return filePages_;
  return std::max(filePages_, pending_.rbegin()->first + 1);
}

void Win32PageStore::Read(uint32_t n, PageBytes& out) {
  CheckUsable();
  if (n >= PageCount()) Fail("page " + std::to_string(n) + " is beyond the end of the file", 0);
  if (auto it = pending_.find(n); it != pending_.end()) {
    out = it->second;
    return;
  }
  ReadRun(n, 1, out.data());
}

void Win32PageStore::BeginGroup() {
  CheckUsable();
  if (inGroup_) Fail("a write group is already open", 0);
  inGroup_ = true;
}

void Win32PageStore::Write(uint32_t n, const PageBytes& data) {
  CheckUsable();
  if (!inGroup_) Fail("page " + std::to_string(n) + " written outside a write group", 0);
  if (n > PageCount() || n == UINT32_MAX) {
    Fail("page " + std::to_string(n) + " written beyond the end of the file", 0);
  }
  pending_[n] = data;
}

void Win32PageStore::Rollback() {
  pending_.clear();
  inGroup_ = false;
}

}  // namespace kw::jet
