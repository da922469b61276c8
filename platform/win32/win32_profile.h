#pragma once
// The profile files of the Windows build: kernel32's own
// GetPrivateProfileStringA and WritePrivateProfileStringA. A file name
// without a directory is the Windows directory's file, as the API resolves
// it; texts pass in the system's 8-bit code page.
#include "platform/profile.h"

namespace kw {

class Win32ProfileFiles : public ProfileFiles {
 public:
  uint32_t GetPrivateProfileStringA(const std::optional<std::string>& section,
                                    const std::optional<std::string>& key,
                                    const std::optional<std::string>& defaultValue, char* buffer,
                                    uint32_t size, const std::string& fileName) override;
  bool WritePrivateProfileStringA(const std::string& section, const std::optional<std::string>& key,
                                  const std::optional<std::string>& value,
                                  const std::string& fileName) override;
};

}  // namespace kw
