// Commit of a write group on Windows: journal, pages, journal deleted;
// every failure puts the file back as it was before the group.
#include <algorithm>
#include <cstring>

#include "platform/jet/jet_errors.h"
#include "platform/run_error.h"
#include "platform/win32/win32_page_store.h"

namespace kw::jet {

void Win32PageStore::Commit() {
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

  // 1. The journal, flushed, before the file is touched.
  const std::vector<uint8_t> journalBytes = journal::Build(originalSize, before);
  DWORD err = 0;
  if (!WriteJournal(journalBytes, err)) {
    DeleteFileA(ansiJournal_.c_str());  // the file was not touched; a journal left is harmless
    Fail("the changes could not be saved, the journal " + Quoted(journalName_) +
             " cannot be written; the file is as before them",
         err);
  }
  // 2. The pages, flushed.
  if (!WritePages(after) || !Sync(file_)) Undo(journalBytes, before, originalSize, GetLastError(), true);
  // 3. The journal deleted.
  if (!RemoveJournal()) Undo(journalBytes, before, originalSize, GetLastError(), true);
  filePages_ = newPages;
}

bool Win32PageStore::WriteJournal(const std::vector<uint8_t>& bytes, DWORD& err) {
  const HANDLE j = CreateFileA(ansiJournal_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (j == INVALID_HANDLE_VALUE) {
    err = GetLastError();
    return false;
  }
  const bool ok = WriteAt(j, StoreIo::kJournalWrite, bytes.data(), bytes.size(), 0) && Sync(j);
  err = ok ? 0 : GetLastError();
  CloseHandle(j);
  return ok;
}

void Win32PageStore::Undo(const std::vector<uint8_t>& journalBytes,
                          const std::vector<journal::PageImage>& before, uint64_t originalSize,
                          DWORD err, bool journalOnDisk) {
  // Put back by the journal's own content, with the journal in place while
  // doing so, so that a kill in the middle still finds it.
  DWORD ignored = 0;
  const bool restored = (journalOnDisk || WriteJournal(journalBytes, ignored)) &&
                        WritePages(before) && Truncate(originalSize) && Sync(file_);
  if (!restored) {
    broken_ = true;
    Fail("the changes could not be saved and the file could not be put back; the journal " +
             Quoted(journalName_) + ", if it could be kept, puts it back when the file is next "
             "opened",
         err);
  }
  DeleteFileA(ansiJournal_.c_str());
  Fail("the changes could not be saved; the file is as before them", err);
}

// --- I/O through the failure seam ---------------------------------------------

bool Win32PageStore::WriteAt(HANDLE h, StoreIo kind, const uint8_t* data, size_t size, uint64_t offset) {
  if (options_.failIo && options_.failIo(kind)) {
    SetLastError(ERROR_IO_DEVICE);
    return false;
  }
  for (size_t done = 0; done < size;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(h, data + done, want, &wrote, &at)) return false;
    if (wrote == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += wrote;
  }
  return true;
}

bool Win32PageStore::Sync(HANDLE h) {
  if (options_.failIo && options_.failIo(StoreIo::kSync)) {
    SetLastError(ERROR_IO_DEVICE);
    return false;
  }
  return FlushFileBuffers(h) != 0;
}

bool Win32PageStore::Truncate(uint64_t size) {
  if (options_.failIo && options_.failIo(StoreIo::kFileWrite)) {
    SetLastError(ERROR_IO_DEVICE);
    return false;
  }
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file_, FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool Win32PageStore::RemoveJournal() {
  if (DeleteFileA(ansiJournal_.c_str())) return true;
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

void Win32PageStore::ReadRun(uint32_t first, uint32_t count, uint8_t* out) {
  const size_t size = size_t{count} * kPageSize;
  const uint64_t offset = uint64_t{first} * kPageSize;
  for (size_t done = 0; done < size;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file_, out + done, want, &got, &at)) {
      const DWORD err = GetLastError();
      if (err != ERROR_HANDLE_EOF) {
        Fail("page " + std::to_string(first + done / kPageSize) + " cannot be read", err);
      }
    }
    if (got == 0) Fail("the file ends before page " + std::to_string(first + done / kPageSize), 0);
    done += got;
  }
}

bool Win32PageStore::WritePages(const std::vector<journal::PageImage>& pages) {
  // Runs of consecutive pages go out with one call each, through a buffer
  // of at most 256 pages.
  constexpr size_t kMaxRun = 256;
  std::vector<uint8_t> run;
  for (size_t i = 0; i < pages.size();) {
    size_t end = i + 1;
    while (end < pages.size() && end - i < kMaxRun && pages[end].first == pages[end - 1].first + 1) ++end;
    run.resize((end - i) * kPageSize);
    for (size_t k = i; k < end; ++k) std::memcpy(run.data() + (k - i) * kPageSize, pages[k].second, kPageSize);
    if (!WriteAt(file_, StoreIo::kFileWrite, run.data(), run.size(), uint64_t{pages[i].first} * kPageSize)) {
      return false;
    }
    i = end;
  }
  return true;
}

}  // namespace kw::jet
