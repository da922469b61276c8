// Commit of a write group: journal, pages, journal removed; every failure
// puts the file back as it was before the group.
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
  if (!inGroup_) Fail("commit without an open write group", "");
  inGroup_ = false;
  try {
    WriteGroup();
  } catch (...) {
    held_.DropWritten();
    throw;
  }
  held_.KeepWritten();
}

void FilePageStore::WriteGroup() {
  const uint32_t newPages = PageCount();
  // Page 0 as the file holds it identifies the file.
  PageBytes page0{};
  if (filePages_ > 0) page0 = Clean(0);
  // The pages with their content before the group (held since each was
  // first written); pages written back unchanged are left out: the file
  // keeps every byte.
  std::vector<journal::Change> changes;
  std::vector<PageImage> before;
  std::vector<PageImage> after;
  for (uint32_t n : held_.Written()) {
    const PageBytes& data = held_.PendingOfWritten(n);
    const PageBytes* original = held_.CleanOfWritten(n);
    if (original) {
      if (std::memcmp(original->data(), data.data(), kPageSize) == 0) continue;
      before.emplace_back(n, original->data());
    }
    changes.push_back({n, original ? original->data() : nullptr, data.data()});
    after.emplace_back(n, data.data());
  }
  if (after.empty()) return;
  const uint64_t originalSize = uint64_t{filePages_} * kPageSize;

  // 1. The journal, flushed (a new one with its folder entry), before the
  //    file is touched.
  journal::Build(originalSize, filePages_ > 0 ? page0.data() : nullptr, changes, journal_);
  if (!WriteJournal(journal_)) {
    const std::string error = files_->LastError();
    RemoveJournal();  // the file was not touched; a journal left is harmless
    Fail("the changes could not be saved, the journal " + Quoted(journalName_) +
             " cannot be written; the file is as before them",
         error);
  }
  // 2. The pages, flushed.
  if (!WritePages(after) || !files_->SyncDatabase()) {
    Undo(journal_, before, originalSize, files_->LastError(), true);
  }
  // 3. The journal spent, and flushed: the group is done. Should that fail,
  //    the journal may be spent already, so it is written anew to undo.
  if (!SpendJournal()) Undo(journal_, before, originalSize, files_->LastError(), false);
  filePages_ = newPages;
}

bool FilePageStore::WriteJournal(const std::vector<uint8_t>& bytes) {
  if (journalKept_) {
    // Over the spent journal of the group before: its folder entry is on
    // the disk already. Its length must be this journal's own.
    const bool ok = files_->WriteJournal(0, bytes.data(), bytes.size()) &&
                    (bytes.size() >= journalSize_ || files_->TruncateJournal(bytes.size())) && files_->SyncJournal();
    if (ok) journalSize_ = bytes.size();
    return ok;
  }
  const bool ok = files_->CreateJournal() && files_->WriteJournal(0, bytes.data(), bytes.size()) &&
                  files_->SyncJournal() && files_->SyncFolder();
  if (!ok) {
    files_->CloseJournal();
    return false;
  }
  journalKept_ = true;
  journalSize_ = bytes.size();
  return true;
}

bool FilePageStore::SpendJournal() {
  static constexpr uint8_t kCleared[journal::kMagicSize] = {};
  return files_->WriteJournal(0, kCleared, sizeof kCleared) && files_->SyncJournal();
}

bool FilePageStore::RemoveJournal() {
  journalKept_ = false;
  return files_->RemoveJournal();
}

bool FilePageStore::WritePages(const std::vector<PageImage>& pages) {
  constexpr size_t kMaxRun = 256;
  for (size_t i = 0; i < pages.size();) {
    size_t end = i + 1;
    while (end < pages.size() && end - i < kMaxRun && pages[end].first == pages[end - 1].first + 1) ++end;
    if (!files_->WriteDatabase({pages.begin() + static_cast<ptrdiff_t>(i), pages.begin() + static_cast<ptrdiff_t>(end)}))
      return false;
    i = end;
  }
  return true;
}

void FilePageStore::Undo(const std::vector<uint8_t>& journalBytes, const std::vector<PageImage>& before,
                         uint64_t originalSize, const std::string& error, bool journalOnDisk) {
  // Put back by the journal's own content, with the journal in place while
  // doing so, so that a kill in the middle still finds it.
  const bool restored = (journalOnDisk || WriteJournal(journalBytes)) && WritePages(before) &&
                        files_->TruncateDatabase(originalSize) && files_->SyncDatabase();
  if (!restored) {
    // The journal, if it could be written, stays for the next open.
    broken_ = true;
    journalKept_ = false;
    files_->CloseJournal();
    Fail("the changes could not be saved and the file could not be put back; the journal " +
             Quoted(journalName_) + ", if it could be kept, puts it back when the file is next "
             "opened",
         error);
  }
  if (RemoveJournal()) files_->SyncFolder();
  Fail("the changes could not be saved; the file is as before them", error);
}

}  // namespace kw::jet
