#pragma once
// The two files of one database as the file page store uses them: the
// database itself, held by this process while it is open, and the rollback
// journal beside it ("<file name>-journal"). The store's logic (groups,
// journal, recovery) is the same on every system; this is what differs.
//
// Every call that can fail returns false and keeps the system's words for
// the failure, which LastError() gives ("Input/output error"). Nothing here
// throws, and nothing waits: a file that is not a regular file (a folder, a
// named pipe, a device) is never opened.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kw::jet {

// A page number and that page's 4096 bytes.
using PageImage = std::pair<uint32_t, const uint8_t*>;

enum class DatabaseOpen {
  kOpened,
  kNotFound,   // no such file or folder
  kNotAFile,   // a folder, a named pipe, a device or a socket
  kReadOnly,   // the file may not be written (no write permission, read-only attribute)
  kInUse,      // another process holds the file
  kNoAccess,   // the system refused the open
};

enum class JournalFound {
  kNone,
  kFile,      // a regular file; JournalSize() tells its size
  kNotAFile,  // something else has the journal's name
  kError,     // it could not be looked at
};

class StoreFiles {
 public:
  virtual ~StoreFiles() = default;

  // The database, opened for reading and writing and held so that no other
  // process writes it (or opens it for writing) while this one has it.
  virtual DatabaseOpen OpenDatabase() = 0;
  // True, with the lock file's own file name, when the product's lock file
  // beside the database shows that someone uses the database.
  virtual bool LockFileShowsUser(std::string& lockFileName) = 0;
  virtual bool DatabaseSize(uint64_t& size) = 0;
  // Reads exactly `size` bytes; a file that ends before is a failure.
  virtual bool ReadDatabase(uint64_t offset, size_t size, uint8_t* out) = 0;
  // Writes a run of consecutive whole pages (at most a few hundred).
  virtual bool WriteDatabase(const std::vector<PageImage>& pages) = 0;
  virtual bool TruncateDatabase(uint64_t size) = 0;
  virtual bool SyncDatabase() = 0;

  virtual JournalFound FindJournal(uint64_t& size) = 0;
  // Opens the journal found for reading; only a regular file is opened.
  virtual bool OpenJournalToRead() = 0;
  virtual bool ReadJournal(uint64_t offset, size_t size, uint8_t* out) = 0;
  // Creates the journal, or empties the one there, for writing.
  virtual bool CreateJournal() = 0;
  virtual bool WriteJournal(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Cuts the journal open for writing to `size` bytes.
  virtual bool TruncateJournal(uint64_t size) = 0;
  virtual bool SyncJournal() = 0;
  virtual void CloseJournal() = 0;
  // Removes the journal; one that is already gone counts as removed.
  virtual bool RemoveJournal() = 0;
  // Makes the folder's entries (the journal created or removed) durable.
  virtual bool SyncFolder() = 0;
  // Whether this process may create and remove files in the folder.
  virtual bool FolderWritable() = 0;

  virtual std::string LastError() const = 0;
};

// The files of the database at `hostPath` on this system.
std::unique_ptr<StoreFiles> HostStoreFiles(const std::string& hostPath);

}  // namespace kw::jet
