#pragma once
// Profile file seam: GetPrivateProfileStringA / WritePrivateProfileStringA.
// All texts are bytes in code page 1252; the file name is a Windows path (a
// name without a directory means the Windows directory).
#include <cstdint>
#include <optional>
#include <string>

namespace kw {

class ProfileFiles {
 public:
  virtual ~ProfileFiles() = default;
  // Copies the value (or the default) into buffer, at most size - 1 bytes
  // plus a NUL, and returns the count without the NUL. nullopt section or key
  // enumerates names as the API does.
  virtual uint32_t GetPrivateProfileStringA(const std::optional<std::string>& section,
                                            const std::optional<std::string>& key,
                                            const std::optional<std::string>& defaultValue,
                                            char* buffer, uint32_t size,
                                            const std::string& fileName) = 0;
  // Creates file, section and key as needed; nullopt value deletes the key,
  // nullopt key the section. False when nothing could be written.
  virtual bool WritePrivateProfileStringA(const std::string& section,
                                          const std::optional<std::string>& key,
                                          const std::optional<std::string>& value,
                                          const std::string& fileName) = 0;
};

}  // namespace kw
