#pragma once
// The file system of the Windows build. The exclusive open is a share mode
// of 0: while the file is open, no other process (and no other handle of
// this one) may open it, for reading or writing.
#include <memory>
#include <string_view>

#include "platform/filesystem.h"
#include "platform/jet/engine_choice.h"

namespace kw {

class Win32FileSystem : public FileSystem {
 public:
  // A file on disk that is neither a directory nor hidden nor system.
  bool IsNormalFile(std::string_view path) override;
  // Read and write access, a missing file created; a file that may only be
  // read (read-only attribute or share) is opened for reading alone. Never
  // a device or a pipe.
  std::unique_ptr<OpenFile> OpenExclusive(std::string_view path) override;
};

// The first page of a database file, read shared (as far as the file's
// holders allow), for the choice of its engine.
jet::FirstBytes ReadFirstBytes(std::string_view name);

}  // namespace kw
