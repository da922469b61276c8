#include "platform/jet/file_page_store.h"

#include <algorithm>
#include <climits>

#include "platform/jet/journal.h"
#include "platform/run_error.h"

namespace kw::jet {
namespace {

// Pages kept as the file holds them besides those of the open group (2 MiB),
// and pages read at a time when one is not held (128 KiB).
constexpr size_t kCleanPages = 512;
constexpr uint32_t kReadAhead = 32;

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

constexpr char kCloseEverywhere[] =
    "Close Orbica-Kontor on every workstation, then run the conversion again.";

// The name of a file beside the database as the user would write it: the
// user's name of the database with its last part replaced.
std::string Beside(const std::string& displayName, const std::string& fileName) {
  const size_t cut = displayName.find_last_of("\\/:");
  return (cut == std::string::npos ? "" : displayName.substr(0, cut + 1)) + fileName;
}

std::string LastPart(const std::string& displayName) {
  const size_t cut = displayName.find_last_of("\\/:");
  return cut == std::string::npos ? displayName : displayName.substr(cut + 1);
}

}  // namespace

std::unique_ptr<FilePageStore> FilePageStore::Open(const std::string& hostPath,
                                                   const std::string& displayName,
                                                   FilePageStoreOptions options) {
  return Open(HostStoreFiles(hostPath), displayName, std::move(options));
}

std::unique_ptr<FilePageStore> FilePageStore::Open(std::unique_ptr<StoreFiles> files,
                                                   const std::string& displayName,
                                                   FilePageStoreOptions options) {
  if (options.failIo) files = FailingStoreFiles(std::move(files), std::move(options.failIo));
  std::unique_ptr<FilePageStore> store(new FilePageStore(std::move(files), displayName));
  store->OpenFile();
  store->RefuseWhenLockFileShowsUser();
  store->RecoverJournal();
  store->CheckWholePages();
  return store;
}

FilePageStore::~FilePageStore() {
  // The last group's spent journal goes with the store; should that fail,
  // the next open finds it spent and removes it.
  if (journalKept_ && RemoveJournal()) files_->SyncFolder();
}

FilePageStore::FilePageStore(std::unique_ptr<StoreFiles> files, std::string name)
    : files_(std::move(files)), name_(std::move(name)), held_(kCleanPages, kReadAhead) {
  journalName_ = Beside(name_, LastPart(name_) + "-journal");
}

void FilePageStore::Fail(const std::string& what, const std::string& error) const {
  std::string text = Quoted(name_) + ": " + what;
  if (!error.empty()) text += " (" + error + ")";
  throw RunError(text + ".");
}

void FilePageStore::CheckUsable() const {
  if (broken_) {
    throw RunError(Quoted(name_) + ": an earlier write failed and could not be undone; the " +
                   "journal " + Quoted(journalName_) +
                   " is kept and puts the file back when it is next opened.");
  }
}

void FilePageStore::OpenFile() {
  switch (files_->OpenDatabase()) {
    case DatabaseOpen::kOpened:
      return;
    case DatabaseOpen::kNotFound:
      throw RunError("Could not find file " + Quoted(name_) + ".");
    case DatabaseOpen::kNotAFile:
      throw RunError("The database engine cannot open " + Quoted(name_) +
                     ": it is not a file but a folder, a named pipe or a device.");
    case DatabaseOpen::kReadOnly:
      throw RunError("Cannot update. Database or object is read-only. (file " + Quoted(name_) + ")");
    case DatabaseOpen::kInUse:
      throw RunError("Could not use " + Quoted(name_) + "; file already in use by another program. " +
                     kCloseEverywhere,
                     kErrFileInUse);
    case DatabaseOpen::kNoAccess:
      break;
  }
  throw RunError("The database engine cannot open the file " + Quoted(name_) +
                 ". It is already opened exclusively by another user, or you need permission "
                 "to view its data.");
}

void FilePageStore::RefuseWhenLockFileShowsUser() {
  std::string found;
  if (!files_->LockFileShowsUser(found)) {
    if (!files_->LastError().empty()) Fail("its folder cannot be read", files_->LastError());
    return;
  }
  throw RunError("Could not use " + Quoted(name_) + "; the lock file " + Quoted(Beside(name_, found)) +
                     " beside it shows that it is in use. " + kCloseEverywhere +
                     " A lock file left behind by a crash may be deleted once Orbica-Kontor is closed everywhere.",
                 kErrFileInUse);
}

void FilePageStore::RecoverJournal() {
  uint64_t size = 0;
  const JournalFound found = files_->FindJournal(size);
  if (found == JournalFound::kNone) return;
  if (found == JournalFound::kError) {
    Fail("the journal " + Quoted(journalName_) + " of an interrupted run cannot be read", files_->LastError());
  }
  const std::string cannot = "the journal " + Quoted(journalName_) +
                             " of an interrupted run cannot be rolled back, so the file is not "
                             "used; both files are left as they are";
  if (found == JournalFound::kNotAFile) Fail(cannot + ": it is not a file", "");
  // Removing the journal is the last step; make sure it can be done before
  // anything is written.
  if (!files_->FolderWritable()) Fail(cannot + ": its folder is read-only", files_->LastError());
  if (!files_->OpenJournalToRead()) Fail(cannot, files_->LastError());
  struct Closer {
    StoreFiles& files;
    ~Closer() { files.CloseJournal(); }
  } closer{*files_};

  const journal::ReadAt read = [&](uint64_t offset, size_t n, uint8_t* out) {
    return files_->ReadJournal(offset, n, out);
  };
  journal::Header header;
  switch (journal::Check(size, read, header)) {
    case journal::State::kIncomplete:
      // Cut short before it was flushed: the file itself was never touched.
      RemoveJournalOrThrow(cannot);
      return;
    case journal::State::kUnreadable:
      Fail(cannot, files_->LastError());
    case journal::State::kDamaged:
      Fail(cannot + ": it does not describe this file", "");
    case journal::State::kForeign:
      Fail(cannot + ": it was written by another version of this program, which rolls it back when it "
                    "opens the file",
           "");
    case journal::State::kComplete:
      break;
  }

  // Only onto the file it was written for, and only over pages that still
  // hold what the interrupted run left there: anything else is someone
  // else's data now.
  uint64_t fileSize = 0;
  if (!files_->DatabaseSize(fileSize)) Fail(cannot, files_->LastError());
  bool readable = true;
  const std::string misfit = journal::Misfit(
      header, read, fileSize,
      [&](uint64_t offset, size_t n, uint8_t* out) { return files_->ReadDatabase(offset, n, out); }, readable);
  if (!readable) Fail(cannot, files_->LastError());
  if (!misfit.empty()) {
    throw RunError(Quoted(name_) + " was not changed: the journal " + Quoted(journalName_) +
                   " of an interrupted run no longer fits it (" + misfit +
                   "). The file has been replaced, for example from a backup, or changed by another "
                   "program since that run, and rolling the journal back would undo that. Both files are "
                   "left as they are. Restore the file from a backup, or, once you know that the file is "
                   "sound, delete the journal; then run the conversion again.",
                   kErrJournalMisfit);
  }

  // From here on the file is being put back; a failure keeps the journal,
  // which puts it back at the next open.
  const std::string partly = "the journal " + Quoted(journalName_) +
                             " of an interrupted run could not be rolled back completely, so the "
                             "file is not used; the journal is kept and rolled back when the "
                             "file is next opened";
  const bool restored = journal::ForEachChanged(header, read, [&](uint32_t page, const uint8_t* before) {
    return files_->WriteDatabase({{page, before}});
  });
  if (!restored) Fail(partly, files_->LastError());
  if (!files_->TruncateDatabase(header.originalSize) || !files_->SyncDatabase()) Fail(partly, files_->LastError());
  files_->CloseJournal();
  RemoveJournalOrThrow(partly);
}

void FilePageStore::RemoveJournalOrThrow(const std::string& why) {
  files_->CloseJournal();
  if (!files_->RemoveJournal()) Fail(why, files_->LastError());
  if (!files_->SyncFolder()) Fail(why, files_->LastError());
}

void FilePageStore::CheckWholePages() {
  uint64_t size = 0;
  if (!files_->DatabaseSize(size)) Fail("its size cannot be read", files_->LastError());
  if (size % kPageSize != 0) {
    Fail("the file is not a whole number of pages of " + std::to_string(kPageSize) + " bytes (" +
             std::to_string(size) + " bytes); it is damaged or not a database",
         "");
  }
  if (size / kPageSize > UINT32_MAX) Fail("the file is too large", "");
  filePages_ = static_cast<uint32_t>(size / kPageSize);
}

void FilePageStore::ReadRun(uint32_t first, uint32_t count, uint8_t* out) {
  if (!files_->ReadDatabase(uint64_t{first} * kPageSize, size_t{count} * kPageSize, out)) {
    Fail("pages " + std::to_string(first) + " to " + std::to_string(first + count - 1) + " cannot be read",
         files_->LastError());
  }
}

// --- Pages and groups ----------------------------------------------------------

uint32_t FilePageStore::PageCount() const { return std::max(filePages_, held_.PendingEnd()); }

const PageBytes& FilePageStore::Clean(uint32_t n) {
  return held_.Clean(n, filePages_, [&](uint32_t first, uint32_t count, uint8_t* out) { ReadRun(first, count, out); });
}

void FilePageStore::Read(uint32_t n, PageBytes& out) { out = View(n); }

const PageBytes& FilePageStore::View(uint32_t n) {
  CheckUsable();
  if (n >= PageCount()) Fail("page " + std::to_string(n) + " is beyond the end of the file", "");
  if (const PageBytes* pending = held_.Pending(n)) return *pending;
  return Clean(n);
}

void FilePageStore::ReadPages(uint32_t first, uint32_t count, PageBytes* out) {
  CheckUsable();
  if (count == 0) return;
  if (first >= PageCount() || count > PageCount() - first)
    Fail("pages " + std::to_string(first) + " to " + std::to_string(first + count - 1) + " are beyond the end of the file", "");
  // Straight from the file (what a held clean copy holds too), without
  // keeping them; the group's own pages over them.
  const uint32_t inFile = first < filePages_ ? std::min(count, filePages_ - first) : 0;
  if (inFile > 0) ReadRun(first, inFile, out[0].data());
  for (uint32_t i = 0; i < count; ++i)
    if (const PageBytes* pending = held_.Pending(first + i)) out[i] = *pending;
}

void FilePageStore::BeginGroup() {
  CheckUsable();
  if (inGroup_) Fail("a write group is already open", "");
  inGroup_ = true;
}

void FilePageStore::Write(uint32_t n, const PageBytes& data) {
  CheckUsable();
  if (!inGroup_) Fail("page " + std::to_string(n) + " written outside a write group", "");
  if (n > PageCount() || n == UINT32_MAX) {
    Fail("page " + std::to_string(n) + " written beyond the end of the file", "");
  }
  // A page of the file keeps its content before the group for the journal.
  if (n < filePages_) Clean(n);
  held_.Write(n, data);
}

void FilePageStore::Rollback() {
  held_.DropWritten();
  inGroup_ = false;
}

}  // namespace kw::jet
