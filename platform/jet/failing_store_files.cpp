#include "platform/jet/failing_store_files.h"

namespace kw::jet {
namespace {

class Failing : public StoreFiles {
 public:
  Failing(std::unique_ptr<StoreFiles> files, std::function<bool(StoreIo)> fail)
      : files_(std::move(files)), fail_(std::move(fail)) {}

  DatabaseOpen OpenDatabase() override { return Pass(files_->OpenDatabase()); }
  bool LockFileShowsUser(std::string& name) override { return Pass(files_->LockFileShowsUser(name)); }
  bool DatabaseSize(uint64_t& size) override { return Pass(files_->DatabaseSize(size)); }
  bool ReadDatabase(uint64_t offset, size_t size, uint8_t* out) override {
    return Pass(files_->ReadDatabase(offset, size, out));
  }
  bool WriteDatabase(const std::vector<PageImage>& pages) override {
    return !Fails(StoreIo::kFileWrite) && files_->WriteDatabase(pages);
  }
  bool TruncateDatabase(uint64_t size) override {
    return !Fails(StoreIo::kFileWrite) && files_->TruncateDatabase(size);
  }
  bool SyncDatabase() override { return !Fails(StoreIo::kSync) && files_->SyncDatabase(); }
  JournalFound FindJournal(uint64_t& size) override { return Pass(files_->FindJournal(size)); }
  bool OpenJournalToRead() override { return Pass(files_->OpenJournalToRead()); }
  bool ReadJournal(uint64_t offset, size_t size, uint8_t* out) override {
    return Pass(files_->ReadJournal(offset, size, out));
  }
  bool CreateJournal() override { return Pass(files_->CreateJournal()); }
  bool WriteJournal(uint64_t offset, const uint8_t* data, size_t size) override {
    return !Fails(StoreIo::kJournalWrite) && files_->WriteJournal(offset, data, size);
  }
  bool TruncateJournal(uint64_t size) override {
    return !Fails(StoreIo::kJournalWrite) && files_->TruncateJournal(size);
  }
  bool SyncJournal() override { return !Fails(StoreIo::kSync) && files_->SyncJournal(); }
  void CloseJournal() override { files_->CloseJournal(); }
  bool RemoveJournal() override { return Pass(files_->RemoveJournal()); }
  bool SyncFolder() override { return !Fails(StoreIo::kFolderSync) && files_->SyncFolder(); }
  bool FolderWritable() override { return Pass(files_->FolderWritable()); }
  std::string LastError() const override { return injected_ ? "Input/output error" : files_->LastError(); }

 private:
  template <typename T>
  T Pass(T result) {
    injected_ = false;
    return result;
  }
  bool Fails(StoreIo kind) {
    injected_ = fail_(kind);
    return injected_;
  }

  std::unique_ptr<StoreFiles> files_;
  std::function<bool(StoreIo)> fail_;
  bool injected_ = false;
};

}  // namespace

std::unique_ptr<StoreFiles> FailingStoreFiles(std::unique_ptr<StoreFiles> files,
                                              std::function<bool(StoreIo)> fail) {
  return std::make_unique<Failing>(std::move(files), std::move(fail));
}

}  // namespace kw::jet
