#include "platform/ini/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/cp1252.h"
#include "platform/ini/file_rewrite.h"
#include "platform/ini/ini_text.h"
#include "platform/posix/whole_file.h"

namespace kw {
namespace {

using ReadStatus = WholeFileStatus;

ReadStatus ReadProfileFile(const std::string& path, std::string& out, struct stat& st) {
  return ReadWholeFile(path, IniProfileFiles::kMaxFileSize, out, st);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

IniProfileFiles::IniProfileFiles(const WinePaths& paths) : paths_(paths) {}

std::string IniProfileFiles::HostPath(const std::string& fileName) const {
  const std::string name = Cp1252ToUtf8(fileName.substr(0, fileName.find('\0')));
  if (name.empty()) return {};
  // Only a name without any directory, not even a drive, is in the Windows
  // directory.
  const bool drive = name.size() >= 2 && name[1] == ':';
  if (drive || name.find_first_of("\\/") != std::string::npos) return paths_.ToHost(name);
  const std::string windows = paths_.WindowsDir();
  if (windows.empty()) return {};
  const std::string found = FindNameNoCase(windows, name);
  return windows + "/" + (found.empty() ? name : found);
}

uint32_t IniProfileFiles::GetPrivateProfileStringA(const std::optional<std::string>& section,
                                                   const std::optional<std::string>& key,
                                                   const std::optional<std::string>& defaultValue,
                                                   char* buffer, uint32_t size,
                                                   const std::string& fileName) {
  const std::string path = HostPath(fileName);
  std::string bytes;
  struct stat st;
  const bool have = !path.empty() && ReadProfileFile(path, bytes, st) == ReadStatus::kOk;
  return ini::GetString(have ? std::optional<std::string_view>(bytes) : std::nullopt, section, key,
                        defaultValue, buffer, size);
}

bool IniProfileFiles::WritePrivateProfileStringA(const std::string& section,
                                                 const std::optional<std::string>& key,
                                                 const std::optional<std::string>& value,
                                                 const std::string& fileName) {
  std::string path = HostPath(fileName);
  if (path.empty()) return false;
  // Through a symbolic link, replace the file it points to, not the link.
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) return false;
    path = real;
  }
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && !IsDirectory(slash == 0 ? "/" : path.substr(0, slash))) {
    return false;
  }

  std::string bytes;
  const ReadStatus status = ReadProfileFile(path, bytes, st);
  if (status == ReadStatus::kError) return false;
  const bool exists = status == ReadStatus::kOk;
  // A file without any write permission is read-only, as Wine reports it.
  if (exists && ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0)) return false;

  const ini::EditResult edit = ini::SetString(
      exists ? std::optional<std::string_view>(bytes) : std::nullopt, section, key, value);
  switch (edit.status) {
    case ini::EditStatus::kUnchanged:
      return true;
    case ini::EditStatus::kFailed:
      return false;
    case ini::EditStatus::kChanged:
      break;
  }
  return RewriteFile(path, edit.bytes, exists ? std::optional<struct stat>(st) : std::nullopt);
}

}  // namespace kw
