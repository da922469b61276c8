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

  // 1. The journal, flushed with its folder entry, before the file is touched.
  journal::Build(originalSize, filePages_ > 0 ? page0.data() : nullptr, changes, journal_);
  if (!WriteJournal(journal_)) {
    const std::string error = files_->LastError();
    files_->RemoveJournal();  // the file was not touched; a journal left is harmless
    Fail("the changes could not be saved, the journal " + Quoted(journalName_) +
             " cannot be written; the file is as before them",
         error);
  }
  // 2. The pages, flushed.
  if (!WritePages(after) || !files_->SyncDatabase()) {
    Undo(journal_, before, originalSize, files_->LastError(), true);
  }
  // 3. The journal removed, and its removal flushed.
  if (!files_->RemoveJournal()) Undo(journal_, before, originalSize, files_->LastError(), true);
  if (!files_->SyncFolder()) Undo(journal_, before, originalSize, files_->LastError(), false);
  filePages_ = newPages;
}

bool FilePageStore::WriteJournal(const std::vector<uint8_t>& bytes) {
  const bool ok = files_->CreateJournal() && files_->WriteJournal(0, bytes.data(), bytes.size()) &&
                  files_->SyncJournal();
  files_->CloseJournal();
  return ok && files_->SyncFolder();
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
    broken_ = true;
    Fail("the changes could not be saved and the file could not be put back; the journal " +
             Quoted(journalName_) + ", if it could be kept, puts it back when the file is next "
             "opened",
         error);
  }
  if (files_->RemoveJournal()) files_->SyncFolder();
  Fail("the changes could not be saved; the file is as before them", error);
}

}  // namespace kw::jet
