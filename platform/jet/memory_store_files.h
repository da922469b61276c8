#pragma once
// The two files of a database in memory, for tests and the fuzz targets of
// the file page store: the database's bytes and, when there is one, the
// journal's. Nothing fails here; FailingStoreFiles adds failures.
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "platform/jet/store_files.h"

namespace kw::jet {

struct MemoryFiles {
  std::vector<uint8_t> database;
  std::optional<std::vector<uint8_t>> journal;
};

class MemoryStoreFiles : public StoreFiles {
 public:
  // `files` must outlive this object.
  explicit MemoryStoreFiles(MemoryFiles& files) : f_(files) {}

  DatabaseOpen OpenDatabase() override { return DatabaseOpen::kOpened; }
  bool LockFileShowsUser(std::string&) override { return false; }
  bool DatabaseSize(uint64_t& size) override { return size = f_.database.size(), true; }
  bool ReadDatabase(uint64_t offset, size_t size, uint8_t* out) override { return Read(f_.database, offset, size, out); }
  bool WriteDatabase(const std::vector<PageImage>& pages) override {
    for (const auto& [n, bytes] : pages) Write(f_.database, uint64_t{n} * 4096, bytes, 4096);
    return true;
  }
  bool TruncateDatabase(uint64_t size) override { return f_.database.resize(size), true; }
  bool SyncDatabase() override { return true; }

  JournalFound FindJournal(uint64_t& size) override {
    if (!f_.journal) return JournalFound::kNone;
    size = f_.journal->size();
    return JournalFound::kFile;
  }
  bool OpenJournalToRead() override { return f_.journal.has_value(); }
  bool ReadJournal(uint64_t offset, size_t size, uint8_t* out) override {
    return f_.journal && Read(*f_.journal, offset, size, out);
  }
  bool CreateJournal() override { return f_.journal.emplace(), true; }
  bool WriteJournal(uint64_t offset, const uint8_t* data, size_t size) override {
    return f_.journal && (Write(*f_.journal, offset, data, size), true);
  }
  bool TruncateJournal(uint64_t size) override { return f_.journal && (f_.journal->resize(size), true); }
  bool SyncJournal() override { return true; }
  void CloseJournal() override {}
  bool RemoveJournal() override { return f_.journal.reset(), true; }
  bool SyncFolder() override { return true; }
  bool FolderWritable() override { return true; }
  std::string LastError() const override { return ""; }

 private:
  static bool Read(const std::vector<uint8_t>& from, uint64_t offset, size_t size, uint8_t* out) {
    if (offset > from.size() || size > from.size() - offset) return false;
    std::copy_n(from.begin() + static_cast<long>(offset), size, out);
    return true;
  }
  static void Write(std::vector<uint8_t>& to, uint64_t offset, const uint8_t* data, size_t size) {
    if (to.size() < offset + size) to.resize(offset + size);
    std::copy_n(data, size, to.begin() + static_cast<long>(offset));
  }

  MemoryFiles& f_;
};

}  // namespace kw::jet
