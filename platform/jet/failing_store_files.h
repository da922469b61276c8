#pragma once
// Files whose writes and flushes fail when a test says so (StoreIo), as
// with an I/O error; every other call goes to the files underneath.
#include <functional>
#include <memory>

#include "platform/jet/store_files.h"

namespace kw::jet {

// The kinds of system call a test may make fail.
enum class StoreIo {
  kJournalWrite,  // writing or cutting the journal
  kFileWrite,     // writing pages into the database file, or truncating it
  kSync,          // flushing the journal or the database file
  kFolderSync,    // flushing the folder (the journal created or removed)
};

// `fail` is asked before each such call; true makes the call fail.
std::unique_ptr<StoreFiles> FailingStoreFiles(std::unique_ptr<StoreFiles> files,
                                              std::function<bool(StoreIo)> fail);

}  // namespace kw::jet
