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
  const uint32_t newPages = PageCount();
  const std::map<uint32_t, PageBytes> pages = std::move(pending_);
  pending_.clear();
  inGroup_ = false;

  // The original content of the changed pages that are in the file (kept
  // from their last read, or read by runs of consecutive pages), and page
  // 0, which identifies the file.
  std::vector<uint32_t> inFile;
  for (const auto& entry : pages) {
    if (entry.first < filePages_) inFile.push_back(entry.first);
  }
  std::vector<uint8_t> originals(inFile.size() * kPageSize);
  for (size_t i = 0; i < inFile.size();) {
    if (auto it = clean_.find(inFile[i]); it != clean_.end()) {
      std::memcpy(originals.data() + i * kPageSize, it->second.data(), kPageSize);
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < inFile.size() && inFile[end] == inFile[end - 1] + 1 && !clean_.count(inFile[end])) ++end;
    ReadRun(inFile[i], static_cast<uint32_t>(end - i), originals.data() + i * kPageSize);
    i = end;
  }
  PageBytes page0{};
  if (filePages_ > 0) {
    if (!inFile.empty() && inFile.front() == 0) {
      std::memcpy(page0.data(), originals.data(), kPageSize);
    } else {
      Read(0, page0);
    }
  }
  // Pages written back unchanged are left out: the file keeps every byte.
  std::vector<journal::Change> changes;
  std::vector<PageImage> before;
  std::vector<PageImage> after;
  size_t k = 0;
  for (const auto& [n, data] : pages) {
    const uint8_t* original = nullptr;
    if (n < filePages_) {
      original = originals.data() + k++ * kPageSize;
      if (std::memcmp(original, data.data(), kPageSize) == 0) continue;
      before.emplace_back(n, original);
    }
    changes.push_back({n, original, data.data()});
    after.emplace_back(n, data.data());
  }
  if (after.empty()) return;
  const uint64_t originalSize = uint64_t{filePages_} * kPageSize;

  // 1. The journal, flushed with its folder entry, before the file is touched.
  const std::vector<uint8_t> journalBytes =
      journal::Build(originalSize, filePages_ > 0 ? page0.data() : nullptr, changes);
  if (!WriteJournal(journalBytes)) {
    const std::string error = files_->LastError();
    files_->RemoveJournal();  // the file was not touched; a journal left is harmless
    Fail("the changes could not be saved, the journal " + Quoted(journalName_) +
             " cannot be written; the file is as before them",
         error);
  }
  // 2. The pages, flushed.
  if (!WritePages(after) || !files_->SyncDatabase()) {
    Undo(journalBytes, before, originalSize, files_->LastError(), true);
  }
  // 3. The journal removed, and its removal flushed.
  if (!files_->RemoveJournal()) Undo(journalBytes, before, originalSize, files_->LastError(), true);
  if (!files_->SyncFolder()) Undo(journalBytes, before, originalSize, files_->LastError(), false);
  filePages_ = newPages;
  // The file holds the group's pages now.
  for (const auto& [n, data] : pages) {
    if (auto it = clean_.find(n); it != clean_.end()) it->second = data;
  }
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
