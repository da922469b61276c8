#pragma once
// The profile functions over INI files in a Wine prefix. A file name without
// '\' or '/' lies in the Windows directory, a relative one below the current
// directory. Writes change only the line concerned and replace the file
// atomically: a failed or interrupted write leaves the old file whole.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/profile.h"
#include "platform/wine/wine_paths.h"

namespace kw {

class IniProfileFiles : public ProfileFiles {
 public:
  explicit IniProfileFiles(const WinePaths& paths);

  // A missing or unreadable file reads as an empty one.
  uint32_t GetPrivateProfileStringA(const std::optional<std::string>& section,
                                    const std::optional<std::string>& key,
                                    const std::optional<std::string>& defaultValue, char* buffer,
                                    uint32_t size, const std::string& fileName) override;
  // False, with nothing changed, when the directory is missing, the file is
  // read-only or not a normal file, or the new file cannot be written whole.
  bool WritePrivateProfileStringA(const std::string& section, const std::optional<std::string>& key,
                                  const std::optional<std::string>& value,
                                  const std::string& fileName) override;

  // Host path of a profile file name (code page 1252); empty when it cannot
  // be mapped.
  std::string HostPath(const std::string& fileName) const;

  // Larger files are taken as unreadable: profile files are a few kilobytes.
  static constexpr size_t kMaxFileSize = 8u << 20;

 private:
  WinePaths paths_;
};

}  // namespace kw
