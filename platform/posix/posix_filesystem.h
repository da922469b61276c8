#pragma once
// The file system of a POSIX host. Windows path texts are mapped into a Wine
// prefix; the exclusive open is an advisory whole-file lock on the open file
// description (F_OFD_SETLK), which every process that takes such locks
// honours, this one included.
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/filesystem.h"
#include "platform/wine/wine_paths.h"

namespace kw {

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const WinePaths& paths) : paths_(paths) {}

  // A regular file (symbolic links followed) that is neither hidden nor
  // system: a name that starts with a dot is hidden, as Wine shows it, and
  // so is a file whose user.DOSATTRIB attribute (Samba's and Wine's store of
  // the DOS attributes) has the hidden or the system bit.
  bool IsNormalFile(std::string_view path) override;
  std::unique_ptr<OpenFile> OpenExclusive(std::string_view path) override;

 private:
  WinePaths paths_;
};

// The DOS attribute bits held in a user.DOSATTRIB value: the text form
// "0x20" that Wine and old Samba write, or Samba's versioned binary form (a
// NUL-terminated hex text, then version, level and the info record). ok is
// false when the value is in neither form.
struct DosAttrib {
  bool ok = false;
  uint32_t attributes = 0;
};
DosAttrib ParseDosAttrib(std::string_view value);

constexpr uint32_t kDosHidden = 0x2;
constexpr uint32_t kDosSystem = 0x4;

}  // namespace kw
